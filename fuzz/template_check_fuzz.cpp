// The template check on any text: the macro pass and CheckSyntax through
// CheckTemplateText (as the desktop application and the command line call
// it), and CheckSyntax alone on the raw text.
#include "engine/syntax_check.h"
#include "engine/template_check.h"
#include "text/text_encoding.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CFuzzInput in(data, size);
    const std::u16string raw = in.RestAsText();

    const SyntaxResult syntax = CheckSyntax(raw);
    if (!syntax.Ok()) {
        FUZZ_CHECK(syntax.position >= 1 && static_cast<std::size_t>(syntax.position) <= raw.size());
        FUZZ_CHECK(SyntaxMessage(syntax.kind, syntax.position) != SyntaxMessage(0, -1));
    }

    const std::u16string editorText = NormalizeLineBreaks(raw);
    const TemplateCheckResult check = CheckTemplateText(editorText);
    FUZZ_CHECK(check.passed == (check.kind == kSyntaxOk));
    FUZZ_CHECK(!check.message.empty());
    FUZZ_CHECK(check.selectionStart <= check.selectionEnd);
    if (check.passed) {
        FUZZ_CHECK(check.selectionStart == check.selectionEnd);
    } else {
        FUZZ_CHECK(check.selectionStart >= 0);
        FUZZ_CHECK(static_cast<std::size_t>(check.selectionStart) <= editorText.size());
    }
    return 0;
}
