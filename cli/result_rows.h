// The result rows that dedupe and shuffle work on: reading them (jsonl rows
// {"n","length","text"} as generate writes them, or one text per line with
// --lines), writing them back in the same form, and the sink that collects
// what a result-set job decides while it draws the progress bar.
//
//   CRowList list;
//   if (const int code = ReadRows(input, lines, list)) return code;
//   CGenerationRun runner;
//   CProgressBar bar;
//   CRowJobSink sink(runner, bar);
//   runner.StartDeleteIdentical(list, deleting, sink);
//   runner.Wait();
//   ... apply sink.deleted to list.rows ...
//   return WriteRows(output, lines, list.rows, [&](std::size_t i) -> const std::u16string& { ... });
//
// Rows without "n" are numbered by their place among the rows read; blank
// lines are skipped. A defect in a row is reported with its line number.
// Thread safety: the list must stay unchanged while a job reads it; the
// sink's callbacks run on the job's worker, its fields are read after Wait.
#pragma once

#include "cli_io.h"
#include "postprocess/result_jobs.h"
#include "run/generation_run.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kRowsHelp = "result rows: jsonl as generate writes them, or one per line with --lines "
                                         "(\"-\" or none: standard input)";

struct ResultRow {
    int64_t n = 0;
    std::u16string text;
};

class CRowList final : public CResultRows {
public:
    std::vector<ResultRow> rows;
    std::size_t RowCount() const override { return rows.size(); }
    std::u16string_view RowText(std::size_t row) const override { return rows[row].text; }
};

// Reads the rows from input ("-" or empty: standard input) into list; 0, or
// the exit code after a message (1 for a defective row, 2 for I/O).
int ReadRows(const std::string& input, bool lines, CRowList& list);

// Writes rows[i].n with textAt(i) for every row to output ("-" or empty:
// standard output; a file appears whole or not at all); 0, or 2 after a message.
int WriteRows(const std::string& output, bool lines, const std::vector<ResultRow>& rows,
              const std::function<const std::u16string&(std::size_t)>& textAt);

// Collects what a result-set job decides and shows its progress; Ctrl+C
// stops the job.
class CRowJobSink final : public CRunSink {
public:
    CRowJobSink(CGenerationRun& run, CProgressBar& bar) : run_(run), bar_(bar) {}
    std::vector<std::size_t> deleted;
    std::vector<uint32_t> order;
    std::u16string message;

    void AppendVersions(std::vector<KeptVersion>&&) override {}
    void JobStarted(int64_t range, JobKind) override { bar_.Start(range); }
    void JobProgress(int64_t position) override;
    void JobEnded() override { bar_.Finish(); }
    void DeleteRows(std::vector<std::size_t>&& rows) override { deleted = std::move(rows); }
    void ReorderRows(std::vector<uint32_t>&& newOrder) override { order = std::move(newOrder); }
    void JobMessage(const std::u16string& text) override { message = text; }

private:
    CGenerationRun& run_;
    CProgressBar& bar_;
};
