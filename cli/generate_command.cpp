// generate: a generation run whose kept versions stream to stdout, to one
// file (-o) or to one file per version (--split-dir) as they arrive, followed
// by the run's summary on stderr.
#include "subcommands.h"

#include "cli_io.h"
#include "command_steps.h"
#include "interrupt.h"
#include "files/result_files.h"
#include "run/generation_run.h"
#include "text/messages.h"
#include "text/text_encoding.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The options as the command line gives them; BuildRunRequest checks them.
struct GenerateCommandOptions {
    std::string input;
    std::string count = "max";
    std::string order = "random";
    std::optional<std::string> seed;
    std::optional<std::string> rules;
    bool noAutocorrect = false;
    std::string format = "text";
    std::string separator = "<br><br>";
    std::string output;
    std::optional<std::string> minLength;
    std::optional<std::string> maxLength;
    std::optional<std::string> skipSimilar;
    int32_t shingleLength = 7;
    int32_t percent = 20;
    std::string splitDir;
    std::optional<std::string> from;
    std::optional<std::string> memoryBudgetMb;
    std::optional<std::string> threads;
};

constexpr int64_t kMaxThreads = 256;

// Checks the option values the parser left as text and their combinations,
// and fills the run's request; 0, or the exit code after a message.
int BuildRunRequest(const GenerateCommandOptions& options, RunRequest& request) {
    if (options.seed) {
        const auto seed = ParseWhole(*options.seed, UINT32_MAX);
        if (!seed) return Fail(kExitUsage, "--seed takes a whole number from 0 to 4294967295");
        request.seed = static_cast<uint32_t>(*seed);
    }
    std::optional<mpz_class> from;
    if (options.from) {
        from = ParseBigWhole(*options.from);
        if (!from) return Fail(kExitUsage, "--from takes a whole version number, 0 or more");
    }
    if (options.memoryBudgetMb) {
        const auto megabytes = ParseWhole(*options.memoryBudgetMb, INT64_MAX >> 20);
        if (!megabytes || *megabytes == 0) return Fail(kExitUsage, "--memory-budget takes a positive number of MB");
        request.memoryBudgetBytes = static_cast<std::size_t>(*megabytes) << 20;
    }
    if (options.threads) {
        const auto threads = ParseWhole(*options.threads, kMaxThreads);
        if (!threads || *threads == 0)
            return Fail(kExitUsage, "--threads takes a whole number from 1 to " + std::to_string(kMaxThreads));
        request.threads = static_cast<unsigned>(*threads);
    }

    if (options.count == "max" || options.count == "Max") {
        request.versionsWanted = std::numeric_limits<int64_t>::max();
    } else if (const auto n = ParseWhole(options.count, std::numeric_limits<int64_t>::max())) {
        request.versionsWanted = *n;
    } else {
        return Fail(kExitUsage, "--count takes a whole number or \"max\", not '" + options.count + "'");
    }
    GenerationOptions& run = request.options;
    run.versionsCount = static_cast<int32_t>(std::min<int64_t>(*request.versionsWanted, 2147483647));
    run.randomOrder = options.order == "random";
    if (!ParseRules(options.rules, request.correction)) return Fail(kExitUsage, kRulesHelp);
    run.autoCorrection = !options.noAutocorrect;
    if (from) {
        if (run.randomOrder) return Fail(kExitUsage, "--from needs --order series");
        request.firstIndex = *from;
    }

    run.lengthLimit = options.minLength.has_value() || options.maxLength.has_value();
    run.minLength = 0;
    if (options.minLength) {
        const auto min = ParseWhole(*options.minLength, INT32_MAX);
        if (!min) return Fail(kExitUsage, "--min-length takes a whole number from 0 to 2147483647");
        run.minLength = static_cast<int32_t>(*min);
    }
    run.maxLength = 2147483647;
    if (options.maxLength && *options.maxLength != "unlimited" && *options.maxLength != "Unlimited") {
        const auto max = ParseWhole(*options.maxLength, 2147483647);
        if (!max) return Fail(kExitUsage, "--max-length takes a whole number or \"unlimited\"");
        run.maxLength = static_cast<int32_t>(*max);
    }
    if (run.maxLength < run.minLength) return Fail(kExitUsage, ToNarrow(MessageText(kIdsMinAboveMax)));

    if (options.skipSimilar) {
        run.skipSimilar = true;
        request.deleting.method = *options.skipSimilar == "shingles" ? 1 : 0;
        request.deleting.shingleLength = options.shingleLength;
        request.deleting.allowedPercent = options.percent;
    }
    return kExitDone;
}

// Streams kept versions to the output as they arrive and drops them, so the
// memory stays flat however many versions a run makes.
class CStreamSink final : public CRunSink {
public:
    CStreamSink(CGenerationRun& run, COutput& output, CProgressBar& bar) : run_(run), output_(output), bar_(bar) {}

    bool jsonl = false;
    std::u16string separator;
    std::filesystem::path splitDir;  // one file per version when set

    // Plain text into one output: the versions come as UTF-8, each followed
    // by the separator's UTF-8, and a block is written as it is.
    bool TakesUtf8() const override { return !jsonl && splitDir.empty(); }
    std::string Utf8Separator() const override { return ToNarrow(separator); }

    void AppendBlock(const CVersionBlock& block) override {
        if (block.IsUtf8()) {
            if (PassUtf8(block.AllBytes())) CheckInterrupt();
            return;
        }
        for (std::size_t i = 0; i < block.Size(); ++i) {
            if (!Pass(block.Ordinal(i), block.Text(i))) return;
        }
        CheckInterrupt();
    }
    void AppendVersions(std::vector<KeptVersion>&& batch) override {
        for (const KeptVersion& version : batch) {
            if (!Pass(version.ordinal, version.text)) return;
        }
        CheckInterrupt();
    }

    void JobStarted(int64_t range, JobKind) override { bar_.Start(range); }
    void JobProgress(int64_t position) override { position_ = position; }
    void JobEnded() override { bar_.Finish(); }
    void StatusRefresh() override {
        if (run_.IsRunning()) bar_.Update(position_, u"kept " + run_.GeneratedValue());
        CheckInterrupt();
    }

    bool Failed() const { return failed_; }
    const std::string& Error() const { return error_; }

private:
    void CheckInterrupt() {
        if (Interrupted()) run_.Stop();
    }

    // Writes one version; after a failure nothing more, and the run stops.
    bool Pass(int64_t ordinal, std::u16string_view text) {
        if (!failed_ && Write(ordinal, text)) return true;
        failed_ = true;
        run_.Stop();
        return false;
    }

    bool PassUtf8(std::string_view bytes) {
        if (!failed_ && output_.WriteUtf8(bytes)) return true;
        if (!failed_) error_ = output_.Error();
        failed_ = true;
        run_.Stop();
        return false;
    }

    bool Write(int64_t ordinal, std::u16string_view text) {
        if (!splitDir.empty()) {
            const auto path = splitDir / PathFromUtf16(ResultFileName(ordinal));
            if (splitFile_.Open(path, true) && splitFile_.Write(text) && splitFile_.Write(u"\r\n\r\n") &&
                splitFile_.Commit())
                return true;
            error_ = "cannot write '" + path.string() + "': " + std::strerror(splitFile_.ErrorNumber());
            return false;
        }
        const bool written = jsonl ? output_.Write(JsonRow(ordinal + 1, text))
                                   : output_.Write(text) && output_.Write(separator);
        if (!written) error_ = output_.Error();
        return written;
    }

    CGenerationRun& run_;
    COutput& output_;
    CProgressBar& bar_;
    CTextFileWriter splitFile_;  // one writer, so the folder is swept of abandoned temporary files once
    int64_t position_ = 0;
    bool failed_ = false;
    std::string error_;
};

int RunGenerate(const GenerateCommandOptions& options) {
    RunRequest request;
    if (const int code = BuildRunRequest(options, request)) return code;

    TemplateCheckResult check;
    if (const int code = ReadCheckedTemplate(options.input, check)) return code;
    request.templateText = std::move(check.templateText);
    request.loadStop = &InterruptFlag();

    COutput output;
    std::filesystem::path splitDir;
    if (!options.splitDir.empty()) {
        splitDir = std::filesystem::path(options.splitDir);
        std::error_code error;
        std::filesystem::create_directories(splitDir, error);
        if (!std::filesystem::is_directory(splitDir)) {
            if (!error) error = std::make_error_code(std::errc::not_a_directory);
            return Fail(kExitUsage, "cannot use the folder '" + options.splitDir + "': " + error.message());
        }
    } else if (!output.Open(options.output)) {
        return Fail(kExitUsage, output.Error());
    }

    CGenerationRun generator;
    CProgressBar bar;
    CStreamSink sink(generator, output, bar);
    sink.jsonl = options.format == "jsonl";
    sink.separator = ExpandSeparator(U16(options.separator));
    sink.splitDir = splitDir;
    const RunSummary summary = generator.RunGeneration(request, sink);
    bar.Finish();

    if (summary.end == RunEnd::kLoadFailed) {
        output.Discard();
        return ReportLoadFailure(summary.loadErrorKind, summary.loadErrorPosition);
    }
    if (sink.Failed()) {
        output.Discard();
        return Fail(kExitUsage, sink.Error());
    }
    // Ctrl+C before the first version leaves an existing output file as it was.
    if (splitDir.empty() && Interrupted() && !output.WroteAnything()) {
        output.Discard();
    } else if (splitDir.empty() && !output.Commit()) {
        return Fail(kExitUsage, output.Error());
    }

    PrintStderr(std::u16string(MessageText(kIdsMaxPossibleCaption)) + generator.MaxPossibleValue());
    PrintStderr(std::u16string(MessageText(kIdsGeneratedCaption)) + generator.GeneratedValue());
    if (!summary.reason.empty()) PrintStderr(summary.reason);
    if (request.options.randomOrder && !options.seed) PrintStderr(u"Seed: " + Decimal(summary.seed));
    if (Interrupted()) {
        PrintStderr(u"Interrupted: the versions written so far are kept.");
        return kExitInterrupted;
    }
    return kExitDone;
}

}  // namespace

CommandRunner AddGenerateCommand(CLI::App& command) {
    auto options = std::make_shared<GenerateCommandOptions>();
    command.add_option("file", options->input, kTemplateFileHelp);
    command.add_option("-n,--count", options->count, "number of versions wanted, or max")->default_str("max");
    command.add_option("--order", options->order, "random or series")
        ->check(CLI::IsMember({"random", "series"}))
        ->default_str("random");
    command.add_option("--seed", options->seed, "seed of the random order, to repeat a run (default: the clock)");
    auto* rulesOption = command.add_option(
        "--rules", options->rules, "auto-correction rules, eight 0/1 digits in the order of the options (default 11111111)");
    command.add_flag("--no-autocorrect", options->noAutocorrect, "switch auto-correction off")->excludes(rulesOption);
    command.add_option("--format", options->format, "text or jsonl ({\"n\",\"length\",\"text\"} per line)")
        ->check(CLI::IsMember({"text", "jsonl"}))
        ->default_str("text");
    command.add_option("--separator", options->separator,
                       "text after every version in text format; <br> stands for a line break")
        ->default_str("<br><br>");
    auto* outputOption =
        command.add_option("-o,--output", options->output, "output file, written whole or not at all (default: stdout)");
    command.add_option("--min-length", options->minLength, "shortest version kept, in characters")
        ->type_name("INT:NONNEGATIVE");
    command.add_option("--max-length", options->maxLength, "longest version kept, in characters, or unlimited");
    command.add_option("--skip-similar", options->skipSimilar, "drop versions like kept ones: exact or shingles")
        ->check(CLI::IsMember({"exact", "shingles"}));
    AddSimilarityOptions(command, options->shingleLength, options->percent);
    command.add_option("--split-dir", options->splitDir, "write one file per version (result0000000.txt, ...) into DIR")
        ->excludes(outputOption);
    command.add_option("--from", options->from, "series order: start at version number K");
    command.add_option("--memory-budget", options->memoryBudgetMb,
                       "stop early when what the run keeps reaches this many MB (default: half of RAM)");
    command.add_option("--threads", options->threads,
                       "threads that build versions; the output is the same for any number (default: all cores)");
    return [options] { return RunGenerate(*options); };
}
