// phrasemill-cli: the template check, version count, generation, auto-correction
// and result-set jobs of Phrasemill from the command line. Each subcommand
// registers, checks and runs its own options (subcommands.h); here are the
// table of them and the handling they share.
#include "cli_io.h"
#include "interrupt.h"
#include "subcommands.h"

#include <CLI/CLI.hpp>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <iostream>
#include <string>
#include <vector>

namespace {

// In the order --help lists them.
constexpr CliSubcommand kSubcommands[] = {
    {"check", "Check a template's syntax; exit 1 when it is incorrect", false, AddCheckCommand},
    {"lint", "List what a correct template probably does not mean to do", false, AddLintCommand},
    {"count", "Print the number of possible versions", false, AddCountCommand},
    {"generate", "Generate versions of a template", true, AddGenerateCommand},
    {"version", "Print version number K in series order", false, AddVersionCommand},
    {"analyze", "Forecast how alike the versions read and how many a similarity-skipping run keeps", true,
     AddAnalyzeCommand},
    {"correct", "Auto-correct the whole input as one version", false, AddCorrectCommand},
    {"dedupe", "Delete rows identical or similar to earlier rows", true, AddDedupeCommand},
    {"shuffle", "Put the rows' texts into a random order", true, AddShuffleCommand},
};

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // A fixed threshold keeps every block of a megabyte or more out of the
    // heap, so that the large buffers of a template load go back to the
    // system when freed. With glibc's default sliding threshold they stay in
    // the heap as free space that the load's later arrays, mapped on their
    // own, cannot reuse: a fifth more peak memory for a large template.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    CLI::App app{"Phrasemill: checks templates, counts and generates their versions, and tidies result sets.",
                 "phrasemill-cli"};
    app.set_version_flag("--version", std::string("phrasemill-cli ") + PHRASEMILL_VERSION);
    app.require_subcommand(1, 1);
    app.footer("Exit codes: 0 done, 1 incorrect template or data, 2 usage or I/O error.");

    std::vector<CLI::App*> commands;
    std::vector<CommandRunner> runners;
    for (const CliSubcommand& subcommand : kSubcommands) {
        commands.push_back(app.add_subcommand(subcommand.name, subcommand.description));
        runners.push_back(subcommand.addCommand(*commands.back()));
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& success) {
        errno = 0;
        const int code = app.exit(success);
        // --help and --version into a full disk or a closed pipe are failures too.
        if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout)
            return Fail(kExitUsage, std::string("cannot write to standard output: ") + std::strerror(errno ? errno : EIO));
        return code;
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsage;
    }

    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (!*commands[i]) continue;
        if (kSubcommands[i].interruptible) InstallInterruptHandler();
        try {
            return runners[i]();
        } catch (const std::bad_alloc&) {
            // The unwinding has freed what the command held and discarded an
            // -o file's temporary copy; the message needs no allocation.
            std::fputs("phrasemill-cli: out of memory: the command could not finish\n", stderr);
            return kExitUsage;
        }
    }
    return kExitUsage;
}
