#include "engine/template_check.h"

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
            check.message = SyntaxMessage(check.kind, a) + u" in macro definition.";
            check.selectionStart = a - 1;
            check.selectionEnd = a;
        }
        return check;
    }
    check.templateText = ApplyMacros(pass.text, table);

    // Positions are the editor's, where a line break is one character.
    std::u16string positions;
    positions.reserve(editorText.size());
    for (size_t i = 0; i < editorText.size(); ++i) {
        if (editorText[i] == u'\r' && i + 1 < editorText.size() && editorText[i + 1] == u'\n') {
            positions.push_back(u' ');
            ++i;
        } else {
            positions.push_back(editorText[i]);
        }
    }
    const SyntaxResult r = CheckSyntax(positions);
    check.kind = r.kind;
    check.position = r.position;
    check.message = SyntaxMessage(r.kind, r.position);
    if (!r.Ok()) {
        check.passed = false;
        check.selectionStart = r.position - 1;
        check.selectionEnd = r.position;
    }
    return check;
}
