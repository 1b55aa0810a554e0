// The result rows that dedupe and shuffle work on: reading them (jsonl rows
// {"n","length","text"} as generate writes them, or one text per line with
// --lines), writing them back in the same form, and the sink that collects
// what a result-set job decides while it draws the progress bar.
//
//   CRowStore rows;
//   if (const int code = ReadRows(input, lines, rows)) return code;
//   const CRowSnapshot read = rows.SnapshotAll();
//   const CSnapshotRows jobRows(read);
//   CGenerationRun runner;
//   CProgressBar bar;
//   CRowJobSink sink(runner, bar);
//   runner.StartDeleteIdentical(jobRows, deleting, sink);
//   runner.Wait();
//   rows.RemoveRows(sink.deleted);
//   return WriteRows(output, lines, rows.SnapshotAll());
//
// Rows without "n" are numbered by their place among the rows read; blank
// lines are skipped. A defect in a row is reported with its line number.
// Thread safety: a snapshot stays valid while the store changes; the sink's
// callbacks run on the job's worker, its fields are read after Wait.
#pragma once

#include "cli_io.h"
#include "files/row_store.h"
#include "postprocess/result_jobs.h"
#include "run/generation_run.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kRowsHelp = "result rows: jsonl as generate writes them, or one per line with --lines "
                                         "(\"-\" or none: standard input)";

// A snapshot's rows as a result-set job reads them.
class CSnapshotRows final : public CResultRows {
public:
    explicit CSnapshotRows(const CRowSnapshot& rows) : rows_(rows) {}
    std::size_t RowCount() const override { return rows_.Size(); }
    std::u16string_view RowText(std::size_t row, std::u16string& scratch) const override {
        return rows_.Text(row).View(scratch);
    }

private:
    const CRowSnapshot& rows_;
};

// Reads the rows from input ("-" or empty: standard input) into the store; 0,
// or the exit code after a message (1 for a defective row, 2 for I/O).
int ReadRows(const std::string& input, bool lines, CRowStore& rows);

// Writes every row's number and text to output ("-" or empty: standard
// output; a file appears whole or not at all); 0, or 2 after a message.
int WriteRows(const std::string& output, bool lines, const CRowSnapshot& rows);

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
