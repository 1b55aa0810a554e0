// analyze: the exact count, the uniqueness forecast, the groups that add the
// most variety, the longest fixed stretches and the lint findings of a
// template, as text or as one JSON object.
#include "subcommands.h"

#include "cli_io.h"
#include "command_steps.h"
#include "interrupt.h"
#include "json.h"
#include "engine/string_generator.h"
#include "engine/template_check.h"
#include "insight/forecast.h"
#include "insight/lint.h"
#include "text/text_encoding.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <memory>

namespace {

struct AnalyzeCommandOptions {
    std::string input;
    bool json = false;
    int32_t shingleLength = 7;
    int32_t percent = 20;
    int64_t samples = 9604;
};

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// A number as JSON: integers while exact, else the shortest text that reads back.
std::u16string Number(double value) {
    if (std::isfinite(value) && value == std::floor(value) && std::abs(value) < 9007199254740992.0)
        return Decimal(static_cast<int64_t>(value));
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Ascii(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

// A number rounded to one decimal for the text report.
std::u16string OneDecimal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return Ascii(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

// A count of versions: whole below 10^15, else in scientific notation.
std::u16string Versions(double value) {
    if (value < 1e15) return Decimal(static_cast<int64_t>(std::llround(value)));
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 3);
    return Ascii(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

std::u16string Excerpt(std::u16string_view editorText, int32_t start, int32_t end) {
    // Editor positions count a line break once; the excerpt reads the text
    // with its line breaks shown as spaces.
    std::u16string flat;
    for (size_t i = 0; i < editorText.size(); ++i) {
        if (editorText[i] == u'\r' && i + 1 < editorText.size() && editorText[i + 1] == u'\n') continue;
        flat.push_back(editorText[i] == u'\n' ? u' ' : editorText[i]);
    }
    std::u16string excerpt = flat.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
    if (excerpt.size() > 60) excerpt = excerpt.substr(0, 57) + u"...";
    return excerpt;
}

std::u16string JsonReport(const std::u16string& count, const CForecast& f, const std::vector<CLintFinding>& findings) {
    std::u16string out = u"{\"ok\":true,\"versions\":\"" + count + u"\",\"versionsSampled\":" +
                         Decimal(f.versionsSampled) + u",\"pairs\":" + Decimal(f.pairs) + u",\"meanSimilarity\":" +
                         Number(f.meanSimilarity) + u",\"medianSimilarity\":" + Number(f.medianSimilarity) +
                         u",\"p95Similarity\":" + Number(f.p95Similarity) + u",\"similarShare\":" +
                         Number(f.similarShare) + u",\"similarShareLow\":" + Number(f.similarShareLow) +
                         u",\"similarShareHigh\":" + Number(f.similarShareHigh) + u",\"forecastKept\":" +
                         Number(std::round(f.forecastKept)) + u",\"forecastLow\":" + Number(std::round(f.forecastLow)) +
                         u",\"forecastHigh\":" + Number(std::round(f.forecastHigh)) + u",\"groups\":[";
    for (size_t i = 0; i < f.groups.size(); ++i) {
        out += std::u16string(i ? u"," : u"") + u"{\"selectionStart\":" + Decimal(f.groups[i].selectionStart) +
               u",\"selectionEnd\":" + Decimal(f.groups[i].selectionEnd) + u",\"meanRise\":" +
               Number(f.groups[i].meanRise) + u"}";
    }
    out += u"],\"fixedStretches\":[";
    for (size_t i = 0; i < f.fixedStretches.size(); ++i) {
        out += std::u16string(i ? u"," : u"") + u"{\"selectionStart\":" +
               Decimal(f.fixedStretches[i].selectionStart) + u",\"selectionEnd\":" +
               Decimal(f.fixedStretches[i].selectionEnd) + u",\"words\":" + Decimal(f.fixedStretches[i].words) + u"}";
    }
    out += u"],\"findings\":[";
    for (size_t i = 0; i < findings.size(); ++i) {
        const CLintFinding& finding = findings[i];
        out += std::u16string(i ? u"," : u"") + u"{\"code\":\"" + Ascii(finding.code) + u"\",\"severity\":\"" +
               Ascii(SeverityName(finding.severity)) + u"\",\"message\":";
        AppendJsonString(finding.message, out);
        out += u",\"selectionStart\":" + Decimal(finding.selectionStart) + u",\"selectionEnd\":" +
               Decimal(finding.selectionEnd) + u"}";
    }
    return out + u"]}\n";
}

std::u16string TextReport(std::u16string_view editorText, const std::u16string& count, const CForecast& f,
                          const std::vector<CLintFinding>& findings, int32_t percent) {
    std::u16string out = u"Versions: " + count + u"\n";
    out += u"Pairs compared: " + Decimal(f.pairs) + u" (from " + Decimal(f.versionsSampled) + u" random versions)\n";
    out += u"Similarity: mean " + OneDecimal(f.meanSimilarity) + u"%, median " + OneDecimal(f.medianSimilarity) +
           u"%, 95th percentile " + OneDecimal(f.p95Similarity) + u"%\n";
    out += u"Similar pairs (above " + Decimal(percent) + u"%): " + OneDecimal(100 * f.similarShare) + u"% (" +
           OneDecimal(100 * f.similarShareLow) + u"% to " + OneDecimal(100 * f.similarShareHigh) + u"%)\n";
    out += u"Versions a --skip-similar shingles run keeps: about " + Versions(f.forecastKept) + u" (" +
           Versions(f.forecastLow) + u" to " + Versions(f.forecastHigh) + u")\n";
    if (!f.groups.empty()) {
        out += u"Groups that add the most variety (mean similarity rise when fixed):\n";
        for (const CGroupVariety& g : f.groups) {
            out += u"  " + Decimal(g.selectionStart) + u".." + Decimal(g.selectionEnd) + u"  +" +
                   OneDecimal(std::max(0.0, g.meanRise)) + u" points  " +
                   Excerpt(editorText, g.selectionStart, g.selectionEnd) + u"\n";
        }
    }
    if (!f.fixedStretches.empty()) {
        out += u"Longest fixed stretches:\n";
        for (const CFixedStretch& s : f.fixedStretches) {
            out += u"  " + Decimal(s.selectionStart) + u".." + Decimal(s.selectionEnd) + u"  " + Decimal(s.words) +
                   u" words  " + Excerpt(editorText, s.selectionStart, s.selectionEnd) + u"\n";
        }
    }
    for (const CLintFinding& finding : findings) {
        out += Decimal(finding.selectionStart) + u".." + Decimal(finding.selectionEnd) + u": " +
               Ascii(SeverityName(finding.severity)) + u" [" + Ascii(finding.code) + u"] " + finding.message + u"\n";
    }
    return out;
}

int RunAnalyze(const AnalyzeCommandOptions& options) {
    std::u16string raw;
    if (const int code = ReadInputText(options.input, raw)) return code;
    const std::u16string editorText = NormalizeLineBreaks(raw);
    const TemplateCheckResult check = CheckTemplateText(editorText, &InterruptFlag());
    if (check.stopped) return Fail(kExitInterrupted, "interrupted during the template check");
    if (!check.passed) {
        if (const int code = PrintStdout(CheckReport(check, options.json))) return code;
        return kExitBadInput;
    }
    SyntaxStringGenerator::CStringGenerator engine;
    const SyntaxStringGenerator::LoadResult load = engine.LoadTemplate(check.templateText);
    if (!load.Ok()) return ReportLoadFailure(load.errorKind, load.errorPosition);
    const std::string exact = engine.GetExactVersionCount().get_str();
    const std::u16string count(exact.begin(), exact.end());

    CProgressBar bar;
    bar.Start(1000);
    ForecastOptions forecastOptions;
    forecastOptions.shingleLength = options.shingleLength;
    forecastOptions.allowedPercent = options.percent;
    forecastOptions.samples = options.samples;
    forecastOptions.stop = &InterruptFlag();
    forecastOptions.progress = [&bar](double done) {
        bar.Update(static_cast<int64_t>(done * 1000), u"analysing");
    };
    const CForecast forecast = ForecastTemplate(editorText, forecastOptions);
    bar.Finish();
    if (forecast.stopped || Interrupted()) return Fail(kExitInterrupted, "interrupted");
    if (!forecast.ok) return ReportLoadFailure(0, -1);
    const std::vector<CLintFinding> findings = LintTemplate(editorText);
    return PrintStdout(options.json ? JsonReport(count, forecast, findings)
                                    : TextReport(editorText, count, forecast, findings, options.percent));
}

}  // namespace

CommandRunner AddAnalyzeCommand(CLI::App& command) {
    auto options = std::make_shared<AnalyzeCommandOptions>();
    command.add_option("file", options->input, kTemplateFileHelp);
    command.add_flag("--json", options->json, "print one JSON object");
    AddSimilarityOptions(command, options->shingleLength, options->percent, "words per shingle, as for --skip-similar");
    command.add_option("--samples", options->samples,
                       "random pairs of versions to compare (default 9604: the similar share within one point)")
        ->check(CLI::Range(int64_t{1}, int64_t{100000000}))
        ->default_str("9604");
    return [options] { return RunAnalyze(*options); };
}
