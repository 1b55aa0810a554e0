// The template lint: things a correct template does that its writer probably
// did not mean (a group with one alternative, repeated alternatives, macros
// defined and never used, separators that never appear, long fixed text...).
// Findings never block anything; they are advice beside the syntax check.
//
//   if (CheckTemplateText(editorText).passed) {
//       for (const CLintFinding& f : LintTemplate(editorText))
//           editor.Underline(f.selectionStart, f.selectionEnd, f.message);
//   }
//
// The text is the editor text with CR LF line breaks; selections are editor
// positions as the template check gives them (a line break counts as one
// character). A finding inside a macro value is shown once, in its "#set"
// line. Findings come sorted by selection start.
// Thread safety: a pure function, callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class LintSeverity { kNote, kWarning };

struct CLintFinding {
    std::string code;  // e.g. "single-alternative"
    LintSeverity severity = LintSeverity::kWarning;
    std::u16string message;
    int32_t selectionStart = 0;
    int32_t selectionEnd = 0;
};

// Fixed text runs of at least this many words are reported.
constexpr int kFixedStretchWords = 12;

// The findings of a template that passed CheckTemplateText (for any other
// text the result means nothing).
std::vector<CLintFinding> LintTemplate(std::u16string_view editorText);

// "warning" or "note".
std::string_view SeverityName(LintSeverity severity);

// A stretch of top-level text that every version shares, in editor positions.
struct CFixedStretch {
    int32_t selectionStart = 0;
    int32_t selectionEnd = 0;
    int32_t words = 0;
};

// Every top-level text run of the expanded template with at least minWords
// words, longest first (ties in text order).
std::vector<CFixedStretch> FixedStretches(std::u16string_view editorText, int32_t minWords);

// The words of a text: runs between white space that hold a letter or digit.
int32_t CountWords(std::u16string_view text);
