// The steps that several subcommands share: reading a template and passing
// it through the template check, parsing option values the command line
// gives as text, printing results and summary lines, and the result row line
// {"n","length","text"} that generate writes and dedupe and shuffle read.
//
//   TemplateCheckResult check;
//   if (const int code = ReadCheckedTemplate(options.input, check)) return code;
//   const auto seed = ParseWhole(options.seed, UINT32_MAX);   // nullopt: not a number in range
//   return PrintStdout(JsonRow(1, u"text"));
//
// Every function that can fail writes its message to stderr and returns the
// exit code (see cli_io.h); 0 means it went well.
// Thread safety: main thread only (they write to stdout and stderr).
#pragma once

#include "engine/template_check.h"
#include "postprocess/autocorrect.h"

#include <gmpxx.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace CLI {
class App;
}

inline constexpr const char* kTemplateFileHelp = "template file, UTF-8 (\"-\" or none: standard input)";

// The message for --rules that are not eight 0/1 digits.
inline constexpr const char* kRulesHelp =
    "--rules takes eight 0/1 digits, one per rule: trim line, remove spaces before punctuation, remove extra "
    "spaces, capitalize line, capitalize sentences, add spaces after punctuation, remove extra punctuation, "
    "skip HTML tags";

// --shingle-length and --percent of the similarity test, with their ranges and
// defaults, as generate, dedupe and analyze take them.
void AddSimilarityOptions(CLI::App& command, int32_t& shingleLength, int32_t& percent,
                          const char* shingleHelp = "words per shingle");

// A whole decimal number from 0 to max, nothing else around it.
std::optional<int64_t> ParseWhole(std::string_view text, int64_t max);

// A whole decimal number of any size, nothing else around it.
std::optional<mpz_class> ParseBigWhole(std::string_view text);

// What check prints for a check result: its message, or with json the object
// {"ok","kind","position","message","selectionStart","selectionEnd"}; line break included.
std::u16string CheckReport(const TemplateCheckResult& check, bool json);

// Eight 0/1 digits into out; no rules given leaves out as it is. False when
// the digits are malformed.
bool ParseRules(const std::optional<std::string>& rules, AutoCorrectionOptions& out);

// Reads the input and runs the template check, which Ctrl+C stops (exit code
// 130); 0 with the check's result, else the exit code after a message.
int ReadCheckedTemplate(const std::string& input, TemplateCheckResult& check);

// The message and exit code for a template that passed the check but could
// not be loaded (kind 0: no tree was built).
int ReportLoadFailure(int kind, int position);

// Writes text to stdout as UTF-8 and flushes it.
int PrintStdout(std::u16string_view text);

// Writes text and a line break to stderr as UTF-8.
void PrintStderr(std::u16string_view text);

std::u16string Decimal(int64_t value);

// The text without leading and trailing spaces.
std::u16string TrimSpaces(std::u16string_view text);

// One result row of jsonl output, line break included.
std::u16string JsonRow(int64_t n, std::u16string_view text);
