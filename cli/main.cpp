// phrasemill-cli: the template check, version count, generation, auto-correction
// and result-set jobs of Phrasemill from the command line.
#include "cli_io.h"
#include "commands.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* kFileHelp = "template file, UTF-8 (\"-\" or none: standard input)";
constexpr const char* kRowsHelp = "result rows: jsonl as generate writes them, or one per line with --lines "
                                  "(\"-\" or none: standard input)";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Phrasemill: checks templates, counts and generates their versions, and tidies result sets.",
                 "phrasemill-cli"};
    app.set_version_flag("--version", std::string("phrasemill-cli ") + PHRASEMILL_VERSION);
    app.require_subcommand(1, 1);
    app.footer("Exit codes: 0 done, 1 incorrect template or data, 2 usage or I/O error.");

    CheckOptions check;
    auto* checkCommand = app.add_subcommand("check", "Check a template's syntax; exit 1 when it is incorrect");
    checkCommand->add_option("file", check.input, kFileHelp);
    checkCommand->add_flag("--json", check.json,
                           "print {\"ok\",\"kind\",\"position\",\"message\",\"selectionStart\",\"selectionEnd\"}");

    CountOptions count;
    auto* countCommand = app.add_subcommand("count", "Print the number of possible versions");
    countCommand->add_option("file", count.input, kFileHelp);

    GenerateOptions generate;
    std::string seed;
    std::string rules;
    std::string minLength;
    std::string maxLength;
    std::string skipSimilar;
    std::string from;
    std::string memoryBudget;
    auto* generateCommand = app.add_subcommand("generate", "Generate versions of a template");
    generateCommand->add_option("file", generate.input, kFileHelp);
    generateCommand->add_option("-n,--count", generate.count, "number of versions wanted, or max")
        ->default_str("max");
    generateCommand->add_option("--order", generate.order, "random or series")
        ->check(CLI::IsMember({"random", "series"}))
        ->default_str("random");
    auto* seedOption =
        generateCommand->add_option("--seed", seed, "seed of the random order, to repeat a run (default: the clock)");
    auto* rulesOption = generateCommand->add_option(
        "--rules", rules, "auto-correction rules, eight 0/1 digits in the order of the options (default 11111111)");
    generateCommand->add_flag("--no-autocorrect", generate.noAutocorrect, "switch auto-correction off")
        ->excludes(rulesOption);
    generateCommand->add_option("--format", generate.format, "text or jsonl ({\"n\",\"length\",\"text\"} per line)")
        ->check(CLI::IsMember({"text", "jsonl"}))
        ->default_str("text");
    generateCommand->add_option("--separator", generate.separator,
                                "text after every version in text format; <br> stands for a line break")
        ->default_str("<br><br>");
    auto* outputOption = generateCommand->add_option("-o,--output", generate.output,
                                                     "output file, written whole or not at all (default: stdout)");
    auto* minOption = generateCommand->add_option("--min-length", minLength, "shortest version kept, in characters")
                          ->type_name("INT:NONNEGATIVE");
    auto* maxOption =
        generateCommand->add_option("--max-length", maxLength, "longest version kept, in characters, or unlimited");
    auto* similarOption =
        generateCommand->add_option("--skip-similar", skipSimilar, "drop versions like kept ones: exact or shingles")
            ->check(CLI::IsMember({"exact", "shingles"}));
    generateCommand->add_option("--shingle-length", generate.shingleLength, "words per shingle")
        ->check(CLI::Range(1, 99))
        ->default_str("7");
    generateCommand->add_option("--percent", generate.percent, "largest allowed percent of similarity")
        ->check(CLI::Range(1, 99))
        ->default_str("20");
    generateCommand
        ->add_option("--split-dir", generate.splitDir, "write one file per version (result0000000.txt, ...) into DIR")
        ->excludes(outputOption);
    auto* fromOption = generateCommand->add_option("--from", from, "series order: start at version number K");
    auto* budgetOption = generateCommand->add_option(
        "--memory-budget", memoryBudget, "stop early when what the run keeps reaches this many MB (default: half of RAM)");

    CorrectOptions correct;
    std::string correctRules;
    auto* correctCommand = app.add_subcommand("correct", "Auto-correct the whole input as one version");
    correctCommand->add_option("file", correct.input, "text file, UTF-8 (\"-\" or none: standard input)");
    auto* correctRulesOption = correctCommand->add_option("--rules", correctRules, "eight 0/1 digits");

    RowJobOptions dedupe;
    auto* dedupeCommand = app.add_subcommand("dedupe", "Delete rows identical or similar to earlier rows");
    dedupeCommand->add_option("file", dedupe.input, kRowsHelp);
    dedupeCommand->add_option("--method", dedupe.method, "exact or shingles")
        ->check(CLI::IsMember({"exact", "shingles"}))
        ->default_str("exact");
    dedupeCommand->add_option("--shingle-length", dedupe.shingleLength, "words per shingle")
        ->check(CLI::Range(1, 99))
        ->default_str("7");
    dedupeCommand->add_option("--percent", dedupe.percent, "largest allowed percent of similarity")
        ->check(CLI::Range(1, 99))
        ->default_str("20");
    dedupeCommand->add_flag("--lines", dedupe.lines, "one version per line instead of jsonl");
    dedupeCommand->add_option("-o,--output", dedupe.output, "output file (default: stdout)");

    RowJobOptions shuffle;
    std::string shuffleSeed;
    auto* shuffleCommand = app.add_subcommand("shuffle", "Put the rows' texts into a random order");
    shuffleCommand->add_option("file", shuffle.input, kRowsHelp);
    auto* shuffleSeedOption = shuffleCommand->add_option("--seed", shuffleSeed, "seed, to repeat a shuffle");
    shuffleCommand->add_flag("--lines", shuffle.lines, "one version per line instead of jsonl");
    shuffleCommand->add_option("-o,--output", shuffle.output, "output file (default: stdout)");

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

    if (*generateCommand || *dedupeCommand || *shuffleCommand) InstallInterruptHandler();
    if (*checkCommand) return RunCheck(check);
    if (*countCommand) return RunCount(count);
    if (*generateCommand) {
        if (seedOption->count()) {
            const auto value = ParseWhole(seed, UINT32_MAX);
            if (!value) return Fail(kExitUsage, "--seed takes a whole number from 0 to 4294967295");
            generate.seed = static_cast<uint32_t>(*value);
        }
        if (rulesOption->count()) generate.rules = rules;
        if (minOption->count()) {
            const auto value = ParseWhole(minLength, INT32_MAX);
            if (!value) return Fail(kExitUsage, "--min-length takes a whole number from 0 to 2147483647");
            generate.minLength = static_cast<int32_t>(*value);
        }
        if (maxOption->count()) generate.maxLength = maxLength;
        if (similarOption->count()) generate.skipSimilar = skipSimilar;
        if (fromOption->count()) {
            generate.from = ParseWhole(from, INT64_MAX);
            if (!generate.from) return Fail(kExitUsage, "--from takes a version number from 0 to 9223372036854775807");
        }
        if (budgetOption->count()) {
            generate.memoryBudgetMb = ParseWhole(memoryBudget, INT64_MAX >> 20);
            if (!generate.memoryBudgetMb || *generate.memoryBudgetMb == 0)
                return Fail(kExitUsage, "--memory-budget takes a positive number of MB");
        }
        return RunGenerate(generate);
    }
    if (*correctCommand) {
        if (correctRulesOption->count()) correct.rules = correctRules;
        return RunCorrect(correct);
    }
    if (*dedupeCommand) return RunDedupe(dedupe);
    if (*shuffleCommand) {
        if (shuffleSeedOption->count()) {
            const auto value = ParseWhole(shuffleSeed, INT64_MAX);
            if (!value) return Fail(kExitUsage, "--seed takes a whole number from 0 to 9223372036854775807");
            shuffle.seed = static_cast<uint64_t>(*value);
        }
        return RunShuffle(shuffle);
    }
    return kExitUsage;
}
