// The subcommands of phrasemill-cli. Each one lives in its own file
// (check_command.cpp, ...) and in one function registers its options on its
// CLI11 subcommand and returns the function that, once the command line is
// parsed, validates them, runs the subcommand and gives the process exit code
// (0 done, 1 incorrect template or data, 2 usage or I/O error, 130
// interrupted). Results go to stdout or -o, messages to stderr. main holds the
// table of subcommands and what they share: --help, --version and the exit
// code of a command line that does not parse.
//
//   CLI::App* command = app.add_subcommand("count", "Print the number of possible versions");
//   const CommandRunner run = AddCountCommand(*command);
//   app.parse(argc, argv);               // fills the options that run reads
//   if (*command) return run();
//
// Thread safety: one subcommand per process, registered and run on the main
// thread. The runner owns the options the parser fills: keep it until the
// command line has been parsed.
#pragma once

#include <functional>

namespace CLI {
class App;
}

using CommandRunner = std::function<int()>;

struct CliSubcommand {
    const char* name;
    const char* description;  // one line, shown by --help
    bool interruptible;       // Ctrl+C stops the job and keeps what it wrote
    CommandRunner (*addCommand)(CLI::App& command);
};

CommandRunner AddCheckCommand(CLI::App& command);
CommandRunner AddCountCommand(CLI::App& command);
CommandRunner AddGenerateCommand(CLI::App& command);
CommandRunner AddCorrectCommand(CLI::App& command);
CommandRunner AddDedupeCommand(CLI::App& command);
CommandRunner AddShuffleCommand(CLI::App& command);
CommandRunner AddLintCommand(CLI::App& command);
CommandRunner AddVersionCommand(CLI::App& command);
CommandRunner AddAnalyzeCommand(CLI::App& command);
