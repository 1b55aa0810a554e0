#include "engine/template_check.h"

#include "template_tree.h"
#include "text/messages.h"

#include <utility>

namespace {

TemplateCheckResult Stopped() {
    TemplateCheckResult check;
    check.passed = false;
    check.stopped = true;
    return check;
}

}  // namespace

TemplateCheckResult CheckTemplateText(std::u16string_view editorText, const std::atomic<bool>* stop) {
    // A CR LF pair is plain text to the check, so checking the editor text
    // itself finds the same defect; only its position is converted to the
    // editor's count, where a line break is one character. The check runs
    // first, while the editor text is the only copy of the template, and a
    // macro defect still takes precedence over what it finds.
    const SyntaxResult r = CheckSyntax(editorText, stop);
    if (stop && stop->load()) return Stopped();
    TemplateCheckResult check;
    // The same limit that LoadTemplate puts on its prepared text.
    MacroCheck macros =
        CheckAndExpandMacros(editorText, SyntaxStringGenerator::MaxPreparedLength(editorText.size()), stop);
    if (macros.stopped) return Stopped();
    if (!macros.result.Ok()) {
        const int a = macros.result.position;
        check.passed = false;
        check.kind = macros.result.kind;
        check.position = a;
        check.templateText.assign(editorText);
        if (check.kind == kBadMacroDefinition || check.kind == kDeniedMacroNameSymbol ||
            check.kind == kMacroTextTooLarge) {
            check.message = SyntaxMessage(check.kind, a);
            check.selectionStart = a;
            check.selectionEnd = a + 4;
        } else {
            check.message = SyntaxMessage(check.kind, a).append(MessageText(kIdsInMacroDefinition));
            check.selectionStart = a - 1;
            check.selectionEnd = a;
        }
        return check;
    }
    check.templateText = std::move(macros.text);
    check.kind = r.kind;
    check.position = r.position;
    if (!r.Ok()) {
        const size_t offending = static_cast<size_t>(r.position) - 1;
        int pairs = 0;
        for (size_t i = 0; i + 1 < offending; ++i) {
            if (editorText[i] == u'\r' && editorText[i + 1] == u'\n') ++pairs;
        }
        check.position = r.position - pairs;
        check.passed = false;
        check.selectionStart = check.position - 1;
        check.selectionEnd = check.position;
    }
    check.message = SyntaxMessage(check.kind, check.position);
    return check;
}
