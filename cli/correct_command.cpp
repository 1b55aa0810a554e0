// correct: the auto-correction of the whole input as one version.
#include "subcommands.h"

#include "cli_io.h"
#include "command_steps.h"
#include "postprocess/autocorrect.h"
#include "text/text_encoding.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>

namespace {

struct CorrectCommandOptions {
    std::string input;
    std::optional<std::string> rules;
};

int RunCorrect(const CorrectCommandOptions& options) {
    AutoCorrectionOptions rules;
    if (!ParseRules(options.rules, rules)) return Fail(kExitUsage, kRulesHelp);
    std::u16string raw;
    if (const int code = ReadInputText(options.input, raw)) return code;
    std::u16string text = NormalizeLineBreaks(raw);
    AutoCorrect(text, rules);
    return PrintStdout(text);
}

}  // namespace

CommandRunner AddCorrectCommand(CLI::App& command) {
    auto options = std::make_shared<CorrectCommandOptions>();
    command.add_option("file", options->input, "text file, UTF-8 (\"-\" or none: standard input)");
    command.add_option("--rules", options->rules, "eight 0/1 digits");
    return [options] { return RunCorrect(*options); };
}
