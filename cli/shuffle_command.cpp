// shuffle: puts the rows' texts into a random order; the row numbers stay in
// their places.
#include "subcommands.h"

#include "cli_io.h"
#include "command_steps.h"
#include "interrupt.h"
#include "result_rows.h"
#include "run/generation_run.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <memory>
#include <optional>

namespace {

struct ShuffleCommandOptions {
    std::string input;
    bool lines = false;
    std::string output;
    std::optional<std::string> seed;  // as given; RunShuffle checks it
};

int RunShuffle(const ShuffleCommandOptions& options) {
    std::optional<uint64_t> seed;
    if (options.seed) {
        const auto value = ParseWhole(*options.seed, INT64_MAX);
        if (!value) return Fail(kExitUsage, "--seed takes a whole number from 0 to 9223372036854775807");
        seed = static_cast<uint64_t>(*value);
    }
    CRowStore rows;
    if (const int code = ReadRows(options.input, options.lines, rows)) return code;
    CGenerationRun runner;
    CProgressBar bar;
    CRowJobSink sink(runner, bar);
    const CRowSnapshot read = rows.SnapshotAll();
    const CSnapshotRows jobRows(read);
    if (runner.StartShuffle(jobRows, sink, seed)) runner.Wait();

    // The numbers stay in their places; the texts move.
    if (sink.order.size() == rows.RowCount()) rows.Reorder(sink.order);
    const int code = WriteRows(options.output, options.lines, rows.SnapshotAll());
    if (code) return code;
    if (!sink.message.empty()) PrintStderr(sink.message);
    return Interrupted() ? kExitInterrupted : kExitDone;
}

}  // namespace

CommandRunner AddShuffleCommand(CLI::App& command) {
    auto options = std::make_shared<ShuffleCommandOptions>();
    command.add_option("file", options->input, kRowsHelp);
    command.add_option("--seed", options->seed, "seed, to repeat a shuffle");
    command.add_flag("--lines", options->lines, "one version per line instead of jsonl");
    command.add_option("-o,--output", options->output, "output file (default: stdout)");
    return [options] { return RunShuffle(*options); };
}
