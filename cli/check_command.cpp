// check: the template check of a template file, as text or as one JSON object.
#include "subcommands.h"

#include "cli_io.h"
#include "command_steps.h"
#include "json.h"
#include "engine/syntax_check.h"
#include "engine/template_check.h"
#include "text/text_encoding.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace {

struct CheckCommandOptions {
    std::string input;
    bool json = false;
};

int RunCheck(const CheckCommandOptions& options) {
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

}  // namespace

CommandRunner AddCheckCommand(CLI::App& command) {
    auto options = std::make_shared<CheckCommandOptions>();
    command.add_option("file", options->input, kTemplateFileHelp);
    command.add_flag("--json", options->json,
                     "print {\"ok\",\"kind\",\"position\",\"message\",\"selectionStart\",\"selectionEnd\"}");
    return [options] { return RunCheck(*options); };
}
