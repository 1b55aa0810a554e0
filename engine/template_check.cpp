#include "engine/template_check.h"

#include "text/messages.h"

#include <utility>

TemplateCheckResult CheckTemplateText(std::u16string_view editorText) {
    TemplateCheckResult check;
    MacroTable table;
    const MacroPass pass = ProcessMacros(editorText, table);
    if (!pass.result.Ok()) {
        const int a = pass.result.position;
        check.passed = false;
        check.kind = pass.result.kind;
        check.position = a;
        check.templateText.assign(editorText);
        if (check.kind == kBadMacroDefinition || check.kind == kDeniedMacroNameSymbol) {
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
    check.templateText = ApplyMacros(std::move(pass.text), table);

    // A CR LF pair is plain text to the check, so checking the editor text
    // itself finds the same defect; only its position is converted to the
    // editor's count, where a line break is one character.
    const SyntaxResult r = CheckSyntax(editorText);
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
