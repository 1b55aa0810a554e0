// Macro variables: "#set %name% = value" lines, validated, collected into a
// MacroTable, removed from the text, and their names replaced by their values.
//
//   MacroTable table;
//   MacroPass pass = ProcessMacros(editorText, table);
//   if (pass.result.Ok()) {
//       MacroExpansion expanded = ExpandMacros(std::move(pass.text), table, limit);
//       if (expanded.tooLargeName) ReportAt(pass.definitionPositions.at(*expanded.tooLargeName));
//   }
//   MacroCheck check = CheckAndExpandMacros(editorText, limit);   // the same, without a table
//
// Names are replaced one after the other in ascending name order, each
// replacement seeing the text the earlier ones made (so a value's names are
// replaced only when they sort after the value's own name). ExpandMacros gives
// that result in time and memory proportional to the texts it stands for, and
// refuses before building a text longer than its limit. CheckAndExpandMacros
// keeps the definitions as views into the text it reads, with no table or
// copies of names and values, for templates that are mostly definitions.
// Thread safety: pure functions over the caller's table. A stop flag may be
// set from any thread (or a signal handler) while they run.
#pragma once

#include "engine/syntax_check.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

// Names (percent signs included) to values, ordinal order; the first
// definition of a name wins.
using MacroTable = std::map<std::u16string, std::u16string>;

struct MacroPass {
    SyntaxResult result;  // kind 0 on success
    std::u16string text;  // the text without its definition lines (on success)
    // Editor position of the "#set" line whose value the table holds, per name.
    std::map<std::u16string, int32_t, std::less<>> definitionPositions;
    bool stopped = false;  // the stop flag ended the pass early; result and text are not meaningful
};

// stop, when given, is polled every few thousand characters; once it reads
// true the pass returns with stopped set.
MacroPass ProcessMacros(std::u16string_view text, MacroTable& table, const std::atomic<bool>* stop = nullptr);
SyntaxResult ParseMacroDefinition(std::u16string_view line, MacroTable& table);

struct MacroExpansion {
    std::u16string text;  // the expanded text; empty when refused or stopped
    // The name whose replacement would have made a text longer than the
    // limit (a key of the table), or null.
    const std::u16string* tooLargeName = nullptr;
    bool stopped = false;
};

// Replaces the names of table in text by their values. Keys of the table that
// are not names ("%", at least one character without "%", "%") never occur
// as names and are left alone. Every text the replacement goes through,
// the result included, stays within maxLength code units, or nothing is built.
MacroExpansion ExpandMacros(std::u16string&& text, const MacroTable& table, size_t maxLength,
                            const std::atomic<bool>* stop = nullptr);

struct MacroCheck {
    // kind 0 on success; a defect of a definition as ProcessMacros reports it,
    // or kMacroTextTooLarge at the "#set" of the name that would cross the limit
    SyntaxResult result;
    std::u16string text;  // the expanded text without definition lines (on success)
    bool stopped = false;
};

// ProcessMacros and ExpandMacros in one, without a table: text must stay
// unchanged while it runs.
MacroCheck CheckAndExpandMacros(std::u16string_view text, size_t maxLength, const std::atomic<bool>* stop = nullptr);

// ExpandMacros without a limit, for texts known to stay small.
std::u16string ApplyMacros(std::u16string_view text, const MacroTable& table);
std::u16string ApplyMacros(std::u16string&& text, const MacroTable& table);
inline std::u16string ApplyMacros(const char16_t* text, const MacroTable& table) {
    return ApplyMacros(std::u16string_view(text), table);
}
bool IsDirectiveAtLineStart(std::u16string_view text, int position);
void CollectMacros(MacroTable& table, std::u16string_view editorText);
