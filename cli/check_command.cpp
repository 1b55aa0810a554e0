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
    const TemplateCheckResult check = CheckTemplateText(NormalizeLineBreaks(std::move(raw)));
    if (const int code = PrintStdout(CheckReport(check, options.json))) return code;
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
