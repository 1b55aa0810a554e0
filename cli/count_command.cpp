// count: the number of versions a template can produce, as an integer while
// it is exact in a double and as the shortest double text above that; with
// --exact always as the exact integer.
#include "subcommands.h"

#include "command_steps.h"
#include "engine/string_generator.h"
#include "engine/template_check.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <memory>
#include <utility>

namespace {

struct CountCommandOptions {
    std::string input;
    bool exact = false;
};

int RunCount(const CountCommandOptions& options) {
    TemplateCheckResult check;
    if (const int code = ReadCheckedTemplate(options.input, check)) return code;
    SyntaxStringGenerator::CStringGenerator engine;
    const SyntaxStringGenerator::LoadResult load = engine.LoadTemplate(std::move(check.templateText));
    if (!load.Ok()) return ReportLoadFailure(load.errorKind, load.errorPosition);
    const double count = load.versionCount;
    std::string text;
    if (options.exact) {
        text = engine.GetExactVersionCount().get_str();
    } else if (count < 9007199254740992.0) {
        text = std::to_string(static_cast<int64_t>(count));
    } else {
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, count);
        text.assign(buffer, result.ptr);
    }
    return PrintStdout(std::u16string(text.begin(), text.end()) + u"\n");
}

}  // namespace

CommandRunner AddCountCommand(CLI::App& command) {
    auto options = std::make_shared<CountCommandOptions>();
    command.add_option("file", options->input, kTemplateFileHelp);
    command.add_flag("--exact", options->exact, "print the exact integer count, however large");
    return [options] { return RunCount(*options); };
}
