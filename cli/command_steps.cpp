#include "command_steps.h"

#include "cli_io.h"
#include "interrupt.h"
#include "json.h"
#include "engine/syntax_check.h"
#include "text/text_encoding.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

void AddSimilarityOptions(CLI::App& command, int32_t& shingleLength, int32_t& percent, const char* shingleHelp) {
    command.add_option("--shingle-length", shingleLength, shingleHelp)->check(CLI::Range(1, 99))->default_str("7");
    command.add_option("--percent", percent, "largest allowed percent of similarity")
        ->check(CLI::Range(1, 99))
        ->default_str("20");
}

std::optional<int64_t> ParseWhole(std::string_view text, int64_t max) {
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0 || value > max)
        return std::nullopt;
    return value;
}

std::optional<mpz_class> ParseBigWhole(std::string_view text) {
    if (text.empty() || text.size() > 100000 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return mpz_class(std::string(text), 10);
}

std::u16string CheckReport(const TemplateCheckResult& check, bool json) {
    const std::u16string message =
        TrimTrailingSpaces(check.passed && check.message.empty() ? SyntaxMessage(0, 0) : check.message);
    if (!json) return message + u"\n";
    std::u16string out = u"{\"ok\":" + std::u16string(check.passed ? u"true" : u"false") + u",\"kind\":" +
                         Decimal(check.kind) + u",\"position\":" + Decimal(check.position) + u",\"message\":";
    AppendJsonString(message, out);
    out += u",\"selectionStart\":" + Decimal(check.selectionStart) + u",\"selectionEnd\":" +
           Decimal(check.selectionEnd) + u"}\n";
    return out;
}

bool ParseRules(const std::optional<std::string>& rules, AutoCorrectionOptions& out) {
    if (!rules) return true;
    if (rules->size() != 8) return false;
    std::array<uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < 8; ++i) {
        const char c = (*rules)[i];
        if (c != '0' && c != '1') return false;
        bytes[i] = c == '1';
    }
    out = AutoCorrectionOptions::FromBytes(bytes);
    return true;
}

int ReadCheckedTemplate(const std::string& input, TemplateCheckResult& check) {
    std::u16string raw;
    if (const int code = ReadInputText(input, raw)) return code;
    check = CheckTemplateText(NormalizeLineBreaks(std::move(raw)), &InterruptFlag());
    if (check.stopped) return Fail(kExitInterrupted, "interrupted during the template check");
    if (!check.passed) return Fail(kExitBadInput, Narrow(TrimSpaces(check.message)));
    return kExitDone;
}

int ReportLoadFailure(int kind, int position) {
    const std::u16string message =
        kind != 0 ? TrimTrailingSpaces(SyntaxMessage(kind, position)) : std::u16string(u"no template tree was built");
    return Fail(kExitBadInput, "the template passes the check but cannot be loaded: " + Narrow(TrimSpaces(message)));
}

int PrintStdout(std::u16string_view text) {
    const std::string narrow = ToNarrow(text);
    if (std::fwrite(narrow.data(), 1, narrow.size(), stdout) != narrow.size() || std::fflush(stdout) != 0)
        return Fail(kExitUsage, std::string("cannot write to standard output: ") + std::strerror(errno));
    return kExitDone;
}

void PrintStderr(std::u16string_view text) {
    const std::string narrow = ToNarrow(text) + "\n";
    std::fwrite(narrow.data(), 1, narrow.size(), stderr);
    std::fflush(stderr);
}

std::u16string Decimal(int64_t value) {
    const std::string narrow = std::to_string(value);
    return std::u16string(narrow.begin(), narrow.end());
}

std::u16string TrimSpaces(std::u16string_view text) {
    const auto first = text.find_first_not_of(u' ');
    return first == std::u16string_view::npos ? std::u16string() : TrimTrailingSpaces(text.substr(first));
}

std::u16string JsonRow(int64_t n, std::u16string_view text) {
    std::u16string line = u"{\"n\":" + Decimal(n) + u",\"length\":" + Decimal(static_cast<int64_t>(text.size())) +
                          u",\"text\":";
    AppendJsonString(text, line);
    line.append(u"}\n");
    return line;
}
