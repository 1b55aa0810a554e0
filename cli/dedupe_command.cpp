// dedupe: deletes the rows identical or similar to earlier rows; the
// surviving rows keep their numbers.
#include "subcommands.h"

#include "cli_io.h"
#include "command_steps.h"
#include "interrupt.h"
#include "result_rows.h"
#include "postprocess/similarity.h"
#include "run/generation_run.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace {

struct DedupeCommandOptions {
    std::string input;
    bool lines = false;
    std::string output;
    std::string method = "exact";
    int32_t shingleLength = 7;
    int32_t percent = 20;
};

int RunDedupe(const DedupeCommandOptions& options) {
    CRowStore rows;
    if (const int code = ReadRows(options.input, options.lines, rows)) return code;
    DeletingOptions deleting;
    deleting.method = options.method == "shingles" ? 1 : 0;
    deleting.shingleLength = options.shingleLength;
    deleting.allowedPercent = options.percent;

    CGenerationRun runner;
    CProgressBar bar;
    CRowJobSink sink(runner, bar);
    const CRowSnapshot read = rows.SnapshotAll();
    const CSnapshotRows jobRows(read);
    runner.StartDeleteIdentical(jobRows, deleting, sink);
    runner.Wait();

    rows.RemoveRows(sink.deleted);
    const int code = WriteRows(options.output, options.lines, rows.SnapshotAll());
    if (code) return code;
    if (!sink.message.empty()) PrintStderr(sink.message);
    return Interrupted() ? kExitInterrupted : kExitDone;
}

}  // namespace

CommandRunner AddDedupeCommand(CLI::App& command) {
    auto options = std::make_shared<DedupeCommandOptions>();
    command.add_option("file", options->input, kRowsHelp);
    command.add_option("--method", options->method, "exact or shingles")
        ->check(CLI::IsMember({"exact", "shingles"}))
        ->default_str("exact");
    AddSimilarityOptions(command, options->shingleLength, options->percent);
    command.add_flag("--lines", options->lines, "one version per line instead of jsonl");
    command.add_option("-o,--output", options->output, "output file (default: stdout)");
    return [options] { return RunDedupe(*options); };
}
