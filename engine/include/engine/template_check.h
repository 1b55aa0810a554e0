// The template check that precedes every run: the macro pass over the editor
// text, then CheckSyntax on the text in which every CR LF counts as one
// position. The desktop application and the command line call the same code.
//
//   TemplateCheckResult check = CheckTemplateText(editor.Text());
//   if (!check.passed) editor.SelectRange(check.selectionStart, check.selectionEnd);
//   else engine.LoadTemplate(check.templateText);
//
// A correct template gets kind 0, position -1 and the message "Syntax is
// correct." with its nine spaces; the selection is then empty. Macro uses
// that would make the text longer than the loaded-text limit (16 times the
// editor text plus 16 Mi code units) give kind 102 at that macro's "#set".
// Thread safety: a pure function; stop may be set from any thread (or a
// signal handler), and the check then returns within a few milliseconds with
// stopped set and passed false.
#pragma once

#include "engine/macros.h"

#include <atomic>

#include <string>
#include <string_view>

struct TemplateCheckResult {
    bool passed = true;
    int32_t kind = 0;         // SyntaxErrorKind of the first defect
    int32_t position = -1;    // editor position the defect is reported at
    std::u16string message;   // the text the message box shows
    int32_t selectionStart = 0;  // editor range to select (a line break counts one)
    int32_t selectionEnd = 0;
    std::u16string templateText;  // macro-expanded text (the editor text after a macro defect)
    bool stopped = false;         // ended by the stop flag: nothing else is meaningful
};

TemplateCheckResult CheckTemplateText(std::u16string_view editorText, const std::atomic<bool>* stop = nullptr);
