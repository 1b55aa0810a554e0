#include "engine/macros.h"

#include <unordered_set>
#include <vector>

namespace {

// The C library's wide white-space set in the "C" locale.
bool IsWhiteSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string_view Trim(std::u16string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && IsWhiteSpace(s[b])) ++b;
    while (e > b && IsWhiteSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool HasBracket(std::u16string_view s) {
    for (char16_t c : s) {
        if (c == u'{' || c == u'}' || c == u'[' || c == u']') return true;
    }
    return false;
}

constexpr std::u16string_view kDirective = u"#set";

// Every "%...%" stretch between two neighbouring percent signs: the only places
// where a macro name can occur, since a name holds no inner "%".
void CollectPercentTokens(std::u16string_view text, std::unordered_set<std::u16string_view>& tokens) {
    tokens.clear();
    size_t previous = std::u16string_view::npos;
    for (size_t p = text.find(u'%'); p != std::u16string_view::npos; p = text.find(u'%', p + 1)) {
        if (previous != std::u16string_view::npos) tokens.insert(text.substr(previous, p - previous + 1));
        previous = p;
    }
}

}  // namespace

bool IsDirectiveAtLineStart(std::u16string_view text, int position) {
    // Equivalent to trimming spaces off text[0 .. position-1] and looking at
    // what follows its last carriage return, but only walks back over the
    // white space that precedes the directive.
    if (position <= 0) return true;
    bool onlySpaces = true;
    for (int p = std::min<int>(position, static_cast<int>(text.size())) - 1; p >= 0; --p) {
        const char16_t c = text[static_cast<size_t>(p)];
        if (c == u'\r') return true;
        if (!IsWhiteSpace(c)) return false;
        if (c != u' ') onlySpaces = false;
    }
    return onlySpaces;
}

SyntaxResult ParseMacroDefinition(std::u16string_view line, MacroTable& table) {
    std::u16string_view s = Trim(line.substr(std::min(line.size(), kDirective.size())));
    if (s.size() < 3 || s[0] != u'%') return {0, kBadMacroDefinition};
    const size_t i = s.find(u'%', 1);
    if (i == std::u16string_view::npos) return {0, kBadMacroDefinition};
    const std::u16string_view name = s.substr(0, i + 1);
    if (name == u"%%") return {0, kBadMacroDefinition};
    if (HasBracket(name)) return {0, kDeniedMacroNameSymbol};
    s = Trim(s.substr(i + 1));
    if (s.empty() || s[0] != u'=') return {0, kBadMacroDefinition};
    const std::u16string_view value = Trim(s.substr(1));
    const SyntaxResult r = CheckSyntax(value);
    if (!r.Ok()) return r;
    table.emplace(std::u16string(name), std::u16string(value));
    return {};
}

MacroPass ProcessMacros(std::u16string_view text, MacroTable& table) {
    MacroPass pass;
    std::vector<std::pair<size_t, size_t>> ranges;  // definition lines with their CR LF
    size_t crlfBefore = 0;  // CR LF pairs that begin before scanned
    size_t scanned = 0;
    for (size_t a = text.find(kDirective); a != std::u16string_view::npos; a = text.find(kDirective, a + 1)) {
        for (; scanned < a; ++scanned) {
            if (text[scanned] == u'\r' && scanned + 1 < text.size() && text[scanned + 1] == u'\n') ++crlfBefore;
        }
        const int editorPos = static_cast<int>(a - crlfBefore);
        if (!IsDirectiveAtLineStart(text, static_cast<int>(a))) continue;
        const size_t after = a + kDirective.size();
        if (after >= text.size() || text[after] != u' ') {
            pass.result = {editorPos, kBadMacroDefinition};
            return pass;
        }
        const size_t e = text.find(u"\r\n", a);
        if (e == std::u16string_view::npos) {
            pass.result = {editorPos, kBadMacroDefinition};
            return pass;
        }
        const std::u16string_view line = text.substr(a, e - a);
        const SyntaxResult r = ParseMacroDefinition(line, table);
        if (r.kind == kBadMacroDefinition || r.kind == kDeniedMacroNameSymbol) {
            pass.result = {editorPos, r.kind};
            return pass;
        }
        if (!r.Ok()) {
            // The position within the whole line, so that the offending
            // character itself is the one reported.
            const SyntaxResult inLine = CheckSyntax(line);
            pass.result = {editorPos + inLine.position, inLine.kind};
            return pass;
        }
        ranges.emplace_back(a, e - a + 2);
    }
    pass.text.reserve(text.size());
    size_t from = 0;
    for (const auto& [start, length] : ranges) {
        pass.text.append(text.substr(from, start - from));
        from = start + length;
    }
    pass.text.append(text.substr(from));
    return pass;
}

std::u16string ApplyMacros(std::u16string&& text, const MacroTable& table) {
    // Names are replaced one after the other in table order, each pass seeing
    // the previous passes' output. A pass only runs for a name that occurs in
    // the current text, which the percent-delimited tokens tell at once.
    std::u16string current(std::move(text));
    if (table.empty()) return current;
    std::u16string next;
    std::unordered_set<std::u16string_view> tokens;
    CollectPercentTokens(current, tokens);
    for (const auto& [name, value] : table) {
        if (tokens.find(name) == tokens.end()) continue;
        next.clear();
        next.reserve(current.size());
        size_t from = 0;
        for (size_t p = current.find(name); p != std::u16string::npos; p = current.find(name, from)) {
            next.append(current, from, p - from);
            next.append(value);
            from = p + name.size();
        }
        next.append(current, from, std::u16string::npos);
        current.swap(next);
        CollectPercentTokens(current, tokens);
    }
    return current;
}

std::u16string ApplyMacros(std::u16string_view text, const MacroTable& table) {
    return ApplyMacros(std::u16string(text), table);
}

void CollectMacros(MacroTable& table, std::u16string_view editorText) {
    table.clear();
    constexpr std::u16string_view kDirectiveWithSpace = u"#set ";
    size_t a = editorText.find(kDirectiveWithSpace);
    while (a != std::u16string_view::npos) {
        if (IsDirectiveAtLineStart(editorText, static_cast<int>(a))) {
            const size_t cr = editorText.find(u'\r', a);
            if (cr == std::u16string_view::npos) return;
            ParseMacroDefinition(editorText.substr(a, cr - a), table);
            a = editorText.find(kDirectiveWithSpace, cr);
        } else {
            a = editorText.find(kDirectiveWithSpace, a + 1);
        }
    }
}
