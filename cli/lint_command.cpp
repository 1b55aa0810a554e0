// lint: the findings of a correct template, as lines or as one JSON object;
// an incorrect template is reported as check reports it.
#include "subcommands.h"

#include "cli_io.h"
#include "command_steps.h"
#include "json.h"
#include "engine/template_check.h"
#include "insight/lint.h"
#include "text/text_encoding.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace {

struct LintCommandOptions {
    std::string input;
    bool json = false;
};

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

int RunLint(const LintCommandOptions& options) {
    std::u16string raw;
    if (const int code = ReadInputText(options.input, raw)) return code;
    const std::u16string editorText = NormalizeLineBreaks(raw);
    const TemplateCheckResult check = CheckTemplateText(editorText);
    if (!check.passed) {
        if (const int code = PrintStdout(CheckReport(check, options.json))) return code;
        return kExitBadInput;
    }
    const std::vector<CLintFinding> findings = LintTemplate(editorText);
    std::u16string out;
    if (options.json) {
        out = u"{\"ok\":true,\"findings\":[";
        for (size_t i = 0; i < findings.size(); ++i) {
            const CLintFinding& f = findings[i];
            out += std::u16string(i ? u"," : u"") + u"{\"code\":\"" + Ascii(f.code) + u"\",\"severity\":\"" +
                   Ascii(SeverityName(f.severity)) + u"\",\"message\":";
            AppendJsonString(f.message, out);
            out += u",\"selectionStart\":" + Decimal(f.selectionStart) + u",\"selectionEnd\":" +
                   Decimal(f.selectionEnd) + u"}";
        }
        out += u"]}\n";
    } else {
        for (const CLintFinding& f : findings) {
            out += Decimal(f.selectionStart) + u".." + Decimal(f.selectionEnd) + u": " +
                   Ascii(SeverityName(f.severity)) + u" [" + Ascii(f.code) + u"] " + f.message + u"\n";
        }
    }
    return PrintStdout(out);
}

}  // namespace

CommandRunner AddLintCommand(CLI::App& command) {
    auto options = std::make_shared<LintCommandOptions>();
    command.add_option("file", options->input, kTemplateFileHelp);
    command.add_flag("--json", options->json,
                     "print {\"ok\",\"findings\":[{\"code\",\"severity\",\"message\",\"selectionStart\","
                     "\"selectionEnd\"}]}");
    return [options] { return RunLint(*options); };
}
