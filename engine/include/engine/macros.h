// Macro variables: "#set %name% = value" lines, validated, collected into a
// MacroTable, removed from the text, and their names replaced by their values.
//
//   MacroTable table;
//   MacroPass pass = ProcessMacros(editorText, table);
//   if (pass.result.Ok()) templateText = ApplyMacros(pass.text, table);
//
// Thread safety: pure functions over the caller's table.
#pragma once

#include "engine/syntax_check.h"

#include <map>
#include <string>
#include <string_view>

// Names (percent signs included) to values, ordinal order; the first
// definition of a name wins.
using MacroTable = std::map<std::u16string, std::u16string>;

struct MacroPass {
    SyntaxResult result;  // kind 0 on success
    std::u16string text;  // the text without its definition lines (on success)
};

MacroPass ProcessMacros(std::u16string_view text, MacroTable& table);
SyntaxResult ParseMacroDefinition(std::u16string_view line, MacroTable& table);
std::u16string ApplyMacros(std::u16string_view text, const MacroTable& table);
// The same, reusing text's buffer when no name occurs in it.
std::u16string ApplyMacros(std::u16string&& text, const MacroTable& table);
inline std::u16string ApplyMacros(const char16_t* text, const MacroTable& table) {
    return ApplyMacros(std::u16string_view(text), table);
}
bool IsDirectiveAtLineStart(std::u16string_view text, int position);
void CollectMacros(MacroTable& table, std::u16string_view editorText);
