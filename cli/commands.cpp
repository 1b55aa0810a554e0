#include "commands.h"

#include "run/generation_run.h"
#include "cli_io.h"
#include "json.h"
#include "engine/string_generator.h"
#include "engine/syntax_check.h"
#include "engine/template_check.h"
#include "text/messages.h"
#include "text/text_encoding.h"
#include "postprocess/autocorrect.h"
#include "files/result_files.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <vector>

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted.store(true); }

std::u16string Decimal(int64_t value) {
    const std::string narrow = std::to_string(value);
    return std::u16string(narrow.begin(), narrow.end());
}

std::u16string TrimSpaces(std::u16string_view text) {
    const auto first = text.find_first_not_of(u' ');
    return first == std::u16string_view::npos ? std::u16string() : TrimTrailingSpaces(text.substr(first));
}

int PrintStdout(std::u16string_view text) {
    const std::string narrow = ToNarrow(text);
    if (std::fwrite(narrow.data(), 1, narrow.size(), stdout) != narrow.size() || std::fflush(stdout) != 0)
        return Fail(kExitUsage, std::string("cannot write to standard output: ") + std::strerror(errno));
    return kExitDone;
}

void PrintStderr(std::u16string_view text) {
    const std::string narrow = ToNarrow(text) + "\n";
    std::fwrite(narrow.data(), 1, narrow.size(), stderr);
    std::fflush(stderr);
}

bool ParseRules(const std::optional<std::string>& rules, AutoCorrectionOptions& out) {
    if (!rules) return true;
    if (rules->size() != 8) return false;
    std::array<uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < 8; ++i) {
        const char c = (*rules)[i];
        if (c != '0' && c != '1') return false;
        bytes[i] = c == '1';
    }
    out = AutoCorrectionOptions::FromBytes(bytes);
    return true;
}

constexpr const char* kRulesHelp =
    "--rules takes eight 0/1 digits, one per rule: trim line, remove spaces before punctuation, remove extra "
    "spaces, capitalize line, capitalize sentences, add spaces after punctuation, remove extra punctuation, "
    "skip HTML tags";

// Reads the input and runs the template check; 0 with the check's result, or
// the exit code after a message.
int ReadCheckedTemplate(const std::string& input, TemplateCheckResult& check) {
    std::u16string raw;
    if (const int code = ReadInputText(input, raw)) return code;
    check = CheckTemplateText(NormalizeLineBreaks(raw), &interrupted);
    if (check.stopped) return Fail(kExitInterrupted, "interrupted during the template check");
    if (!check.passed) return Fail(kExitBadInput, Narrow(TrimSpaces(check.message)));
    return kExitDone;
}

int ReportLoadFailure(int kind, int position) {
    const std::u16string message =
        kind != 0 ? TrimTrailingSpaces(SyntaxMessage(kind, position)) : std::u16string(u"no template tree was built");
    return Fail(kExitBadInput, "the template passes the check but cannot be loaded: " + Narrow(TrimSpaces(message)));
}

std::u16string JsonRow(int64_t n, std::u16string_view text) {
    std::u16string line = u"{\"n\":" + Decimal(n) + u",\"length\":" + Decimal(static_cast<int64_t>(text.size())) +
                          u",\"text\":";
    AppendJsonString(text, line);
    line.append(u"}\n");
    return line;
}

// Streams kept versions to the output as they arrive and drops them, so the
// memory stays flat however many versions a run makes.
class CStreamSink final : public CRunSink {
public:
    CStreamSink(CGenerationRun& run, COutput& output, CProgressBar& bar) : run_(run), output_(output), bar_(bar) {}

    bool jsonl = false;
    std::u16string separator;
    std::filesystem::path splitDir;  // one file per version when set

    void AppendVersions(std::vector<KeptVersion>&& batch) override {
        for (const KeptVersion& version : batch) {
            if (failed_ || !Write(version)) {
                failed_ = true;
                run_.Stop();
                return;
            }
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
        if (interrupted.load()) run_.Stop();
    }

    bool Write(const KeptVersion& version) {
        if (!splitDir.empty()) {
            const auto path = splitDir / PathFromUtf16(ResultFileName(version.ordinal));
            if (splitFile_.Open(path, true) && splitFile_.Write(version.text) && splitFile_.Write(u"\r\n\r\n") &&
                splitFile_.Commit())
                return true;
            error_ = "cannot write '" + path.string() + "': " + std::strerror(splitFile_.ErrorNumber());
            return false;
        }
        const bool written = jsonl ? output_.Write(JsonRow(version.ordinal + 1, version.text))
                                   : output_.Write(version.text) && output_.Write(separator);
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

struct Row {
    int64_t n = 0;
    std::u16string text;
};

class CRowList final : public CResultRows {
public:
    std::vector<Row> rows;
    std::size_t RowCount() const override { return rows.size(); }
    std::u16string_view RowText(std::size_t row) const override { return rows[row].text; }
};

// Splits at LF; a CR before it belongs to the line break.
std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        std::u16string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool IsBlank(std::u16string_view line) {
    return line.find_first_not_of(u" \t\r") == std::u16string_view::npos;
}

int ReadRows(const RowJobOptions& options, CRowList& list) {
    std::u16string raw;
    if (const int code = ReadInputText(options.input, raw)) return code;
    if (options.lines) {
        const std::u16string text = NormalizeLineBreaks(raw);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find(u"\r\n", start);
            if (end == std::u16string::npos) end = text.size();
            if (end > start) list.rows.push_back(Row{static_cast<int64_t>(list.rows.size()) + 1,
                                                     text.substr(start, end - start)});
            start = end + 2;
        }
        return kExitDone;
    }
    const auto lines = SplitLines(raw);
    JsonObject object;
    std::string error;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsBlank(lines[i])) continue;
        const std::string where = "bad data at line " + std::to_string(i + 1) + ": ";
        if (!ParseJsonObject(lines[i], object, error)) return Fail(kExitBadInput, where + error);
        const JsonField* text = object.Find(u"text");
        if (!text || !text->isString) return Fail(kExitBadInput, where + "no \"text\" string");
        Row row{static_cast<int64_t>(list.rows.size()) + 1, text->text};
        if (const JsonField* n = object.Find(u"n")) {
            const auto value = JsonInteger(*n);
            if (!value) return Fail(kExitBadInput, where + "\"n\" is not a whole number");
            row.n = *value;
        }
        if (const JsonField* length = object.Find(u"length"); length && length->isString)
            return Fail(kExitBadInput, where + "\"length\" is not a number");
        list.rows.push_back(std::move(row));
    }
    return kExitDone;
}

int WriteRows(const RowJobOptions& options, const std::vector<Row>& rows,
              const std::function<const std::u16string&(std::size_t)>& textAt) {
    COutput output;
    if (!output.Open(options.output)) return Fail(kExitUsage, output.Error());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::u16string& text = textAt(i);
        const bool written = options.lines ? output.Write(text) && output.Write(u"\r\n")
                                           : output.Write(JsonRow(rows[i].n, text));
        if (!written) break;
    }
    if (!output.Commit()) return Fail(kExitUsage, output.Error());
    return kExitDone;
}

// Collects what a result-set job decides and shows its progress.
class CJobSink final : public CRunSink {
public:
    CJobSink(CGenerationRun& run, CProgressBar& bar) : run_(run), bar_(bar) {}
    std::vector<std::size_t> deleted;
    std::vector<uint32_t> order;
    std::u16string message;

    void AppendVersions(std::vector<KeptVersion>&&) override {}
    void JobStarted(int64_t range, JobKind) override { bar_.Start(range); }
    void JobProgress(int64_t position) override {
        bar_.Update(position, u"");
        if (interrupted.load()) run_.Stop();
    }
    void JobEnded() override { bar_.Finish(); }
    void DeleteRows(std::vector<std::size_t>&& rows) override { deleted = std::move(rows); }
    void ReorderRows(std::vector<uint32_t>&& newOrder) override { order = std::move(newOrder); }
    void JobMessage(const std::u16string& text) override { message = text; }

private:
    CGenerationRun& run_;
    CProgressBar& bar_;
};

}  // namespace

std::optional<int64_t> ParseWhole(std::string_view text, int64_t max) {
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0 || value > max)
        return std::nullopt;
    return value;
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int RunCheck(const CheckOptions& options) {
    std::u16string raw;
    if (const int code = ReadInputText(options.input, raw)) return code;
    const TemplateCheckResult check = CheckTemplateText(NormalizeLineBreaks(raw));
    const std::u16string message =
        TrimTrailingSpaces(check.passed && check.message.empty() ? SyntaxMessage(0, 0) : check.message);
    std::u16string out;
    if (options.json) {
        out = u"{\"ok\":" + std::u16string(check.passed ? u"true" : u"false") + u",\"kind\":" + Decimal(check.kind) +
              u",\"position\":" + Decimal(check.position) + u",\"message\":";
        AppendJsonString(message, out);
        out += u",\"selectionStart\":" + Decimal(check.selectionStart) + u",\"selectionEnd\":" +
               Decimal(check.selectionEnd) + u"}\n";
    } else {
        out = message + u"\n";
    }
    if (const int code = PrintStdout(out)) return code;
    return check.passed ? kExitDone : kExitBadInput;
}

int RunCount(const CountOptions& options) {
    TemplateCheckResult check;
    if (const int code = ReadCheckedTemplate(options.input, check)) return code;
    SyntaxStringGenerator::CStringGenerator engine;
    const SyntaxStringGenerator::LoadResult load = engine.LoadTemplate(check.templateText);
    if (!load.Ok()) return ReportLoadFailure(load.errorKind, load.errorPosition);
    const double count = load.versionCount;
    std::string text;
    if (count < 9007199254740992.0) {
        text = std::to_string(static_cast<int64_t>(count));
    } else {
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, count);
        text.assign(buffer, result.ptr);
    }
    return PrintStdout(std::u16string(text.begin(), text.end()) + u"\n");
}

int RunCorrect(const CorrectOptions& options) {
    AutoCorrectionOptions rules;
    if (!ParseRules(options.rules, rules)) return Fail(kExitUsage, kRulesHelp);
    std::u16string raw;
    if (const int code = ReadInputText(options.input, raw)) return code;
    std::u16string text = NormalizeLineBreaks(raw);
    AutoCorrect(text, rules);
    return PrintStdout(text);
}

int RunGenerate(const GenerateOptions& options) {
    RunRequest request;
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
    request.seed = options.seed;
    if (options.from) {
        if (run.randomOrder) return Fail(kExitUsage, "--from needs --order series");
        request.firstIndex = *options.from;
    }

    run.lengthLimit = options.minLength.has_value() || options.maxLength.has_value();
    run.minLength = options.minLength.value_or(0);
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
    if (options.memoryBudgetMb) request.memoryBudgetBytes = static_cast<std::size_t>(*options.memoryBudgetMb) << 20;

    TemplateCheckResult check;
    if (const int code = ReadCheckedTemplate(options.input, check)) return code;
    request.templateText = std::move(check.templateText);

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
    if (splitDir.empty() && interrupted.load() && !output.WroteAnything()) {
        output.Discard();
    } else if (splitDir.empty() && !output.Commit()) {
        return Fail(kExitUsage, output.Error());
    }

    PrintStderr(std::u16string(MessageText(kIdsMaxPossibleCaption)) + generator.MaxPossibleValue());
    PrintStderr(std::u16string(MessageText(kIdsGeneratedCaption)) + generator.GeneratedValue());
    if (!summary.reason.empty()) PrintStderr(summary.reason);
    if (run.randomOrder && !options.seed) PrintStderr(u"Seed: " + Decimal(summary.seed));
    if (interrupted.load()) {
        PrintStderr(u"Interrupted: the versions written so far are kept.");
        return kExitInterrupted;
    }
    return kExitDone;
}

int RunDedupe(const RowJobOptions& options) {
    CRowList list;
    if (const int code = ReadRows(options, list)) return code;
    DeletingOptions deleting;
    deleting.method = options.method == "shingles" ? 1 : 0;
    deleting.shingleLength = options.shingleLength;
    deleting.allowedPercent = options.percent;

    CGenerationRun runner;
    CProgressBar bar;
    CJobSink sink(runner, bar);
    runner.StartDeleteIdentical(list, deleting, sink);
    runner.Wait();

    std::vector<Row> survivors;
    survivors.reserve(list.rows.size() - sink.deleted.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < list.rows.size(); ++i) {
        if (next < sink.deleted.size() && sink.deleted[next] == i) {
            ++next;
            continue;
        }
        survivors.push_back(std::move(list.rows[i]));
    }
    const int code = WriteRows(options, survivors, [&](std::size_t i) -> const std::u16string& { return survivors[i].text; });
    if (code) return code;
    if (!sink.message.empty()) PrintStderr(sink.message);
    return interrupted.load() ? kExitInterrupted : kExitDone;
}

int RunShuffle(const RowJobOptions& options) {
    CRowList list;
    if (const int code = ReadRows(options, list)) return code;
    CGenerationRun runner;
    CProgressBar bar;
    CJobSink sink(runner, bar);
    if (runner.StartShuffle(list, sink, options.seed)) runner.Wait();

    // The numbers stay in their places; the texts move.
    const auto& order = sink.order;
    const int code = WriteRows(options, list.rows, [&](std::size_t i) -> const std::u16string& {
        return list.rows[order.size() == list.rows.size() ? order[i] : i].text;
    });
    if (code) return code;
    if (!sink.message.empty()) PrintStderr(sink.message);
    return interrupted.load() ? kExitInterrupted : kExitDone;
}
