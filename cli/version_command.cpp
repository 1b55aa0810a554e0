// version: version number K of a template in series order, alone, for any K
// below the exact count.
#include "subcommands.h"

#include "cli_io.h"
#include "command_steps.h"
#include "engine/string_generator.h"
#include "engine/template_check.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace {

struct VersionCommandOptions {
    std::string number;
    std::string input;
    std::optional<std::string> rules;
    bool noAutocorrect = false;
};

int RunVersion(const VersionCommandOptions& options) {
    const auto number = ParseBigWhole(options.number);
    if (!number) return Fail(kExitUsage, "K takes a whole version number, 0 or more");
    AutoCorrectionOptions correction;
    if (!ParseRules(options.rules, correction)) return Fail(kExitUsage, kRulesHelp);
    if (options.noAutocorrect) correction = AutoCorrectionOptions::AllOff();
    TemplateCheckResult check;
    if (const int code = ReadCheckedTemplate(options.input, check)) return code;
    SyntaxStringGenerator::CStringGenerator engine;
    const SyntaxStringGenerator::LoadResult load = engine.LoadTemplate(check.templateText);
    if (!load.Ok()) return ReportLoadFailure(load.errorKind, load.errorPosition);
    std::u16string version;
    if (!engine.GenerateExactVersionInto(*number, correction, version)) {
        return Fail(kExitUsage, "version number " + options.number + " is not below the number of versions, " +
                                    engine.GetExactVersionCount().get_str());
    }
    return PrintStdout(version + u"\n");
}

}  // namespace

CommandRunner AddVersionCommand(CLI::App& command) {
    auto options = std::make_shared<VersionCommandOptions>();
    command.add_option("K", options->number, "version number in series order, from 0")->required();
    command.add_option("file", options->input, kTemplateFileHelp);
    command.add_option("--rules", options->rules, "auto-correction rules as eight 0/1 digits (default: all on)");
    command.add_flag("--no-autocorrect", options->noAutocorrect, "switch auto-correction off");
    return [options] { return RunVersion(*options); };
}
