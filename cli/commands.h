// The subcommands of phrasemill-cli, each taking its parsed options and
// returning the process exit code (0 done, 1 incorrect template or data,
// 2 usage or I/O error). Messages go to stderr, results to stdout or -o.
//
//   GenerateOptions options;
//   options.input = "template.txt";
//   options.count = "100";
//   return RunGenerate(options);
//
// Thread safety: one command per process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct CheckOptions {
    std::string input;
    bool json = false;
};

struct CountOptions {
    std::string input;
};

struct GenerateOptions {
    std::string input;
    std::string count = "max";
    std::string order = "random";
    std::optional<uint32_t> seed;
    std::optional<std::string> rules;
    bool noAutocorrect = false;
    std::string format = "text";
    std::string separator = "<br><br>";
    std::string output;
    std::optional<int32_t> minLength;
    std::optional<std::string> maxLength;
    std::optional<std::string> skipSimilar;
    int32_t shingleLength = 7;
    int32_t percent = 20;
    std::string splitDir;
    std::optional<int64_t> from;
    std::optional<int64_t> memoryBudgetMb;
};

struct CorrectOptions {
    std::string input;
    std::optional<std::string> rules;
};

struct RowJobOptions {
    std::string input;
    bool lines = false;
    std::string output;
    // dedupe
    std::string method = "exact";
    int32_t shingleLength = 7;
    int32_t percent = 20;
    // shuffle
    std::optional<uint64_t> seed;
};

int RunCheck(const CheckOptions& options);
int RunCount(const CountOptions& options);
int RunGenerate(const GenerateOptions& options);
int RunCorrect(const CorrectOptions& options);
int RunDedupe(const RowJobOptions& options);
int RunShuffle(const RowJobOptions& options);

// A whole decimal number from 0 to max, nothing else around it.
std::optional<int64_t> ParseWhole(std::string_view text, int64_t max);

// Installs the Ctrl+C handler that stops a run like the Stop command.
void InstallInterruptHandler();
