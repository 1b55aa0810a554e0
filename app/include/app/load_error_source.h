// Where a load defect comes from in the editor. The template check looks at
// the editor text, the engine at the macro-expanded text (definition lines
// removed, names replaced by their values), so a defect that only the engine
// finds has a position in a text the user never sees. This traces a character
// of the expanded text back to the editor: to the character itself when the
// editor text holds it, or to the macro use whose value brought it in.
//
//   LoadErrorSource source = FindLoadErrorSource(editorText, summary.loadErrorPosition - 1);
//   if (source.macroName.empty()) editor.SelectRange(source.editorPosition, source.editorPosition + 1);
//   else editor.SelectRange(source.definitionStart, source.definitionEnd);   // the macro's "#set" line
//
// Positions are editor positions (a line break counts one), zero-based.
// Thread safety: a pure function.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct LoadErrorSource {
    bool found = false;
    int32_t editorPosition = -1;  // the character, or the start of the macro use that holds it
    std::u16string macroName;     // set when the character came from a macro's value
    int32_t definitionStart = -1; // that macro's "#set" line, without its line break
    int32_t definitionEnd = -1;
};

// expandedIndex: zero-based index into the text the macro pass makes of
// editorText (CR LF line breaks). Not found when the editor text fails the
// macro pass or the index lies outside the expanded text.
LoadErrorSource FindLoadErrorSource(std::u16string_view editorText, int64_t expandedIndex);
