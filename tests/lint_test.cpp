// The template lint: planted defects found at their editor positions, clean
// templates (the shipped examples among them) without findings, and the
// outline's macro expansion equal to the template check's.

#include "insight/lint.h"
#include "template_outline.h"

#include "engine/template_check.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The editor text of a template written with "\n" line breaks.
std::u16string EditorText(std::u16string_view lf) {
    std::u16string out;
    for (const char16_t c : lf) {
        if (c == u'\n') out.push_back(u'\r');
        out.push_back(c);
    }
    return out;
}

struct Expected {
    std::string code;
    std::u16string_view selected;  // the selected text; in the "\n" form positions are editor positions
    int occurrence = 0;            // which occurrence of it
};

struct LintCase {
    std::u16string_view templ;
    std::vector<Expected> findings;
};

std::string Describe(const std::vector<CLintFinding>& findings) {
    std::string out;
    for (const auto& f : findings)
        out += f.code + " " + std::to_string(f.selectionStart) + ".." + std::to_string(f.selectionEnd) + "\n";
    return out;
}

TEST(LintTemplate, FindsPlantedDefectsAtTheirPositions) {
    const std::vector<LintCase> cases = {
        {u"Dear {{FIRST_NAME}}, thanks", {{"single-alternative", u"{{FIRST_NAME}}"}}},
        {u"{x|{y}}", {{"single-alternative", u"{y}"}}},
        {u"{a|b|a} and {c| c}", {{"duplicate-alternative", u"a", 1}, {"whitespace-alternative", u" c"}}},
        {u"line one\n\n{b|c|b}", {{"duplicate-alternative", u"b", 1}}},
        {u"x{}y []", {{"empty-group", u"{}"}, {"empty-group", u"[]"}}},
        {u"{|} [||]", {{"empty-alternatives", u"{|}"}, {"empty-alternatives", u"[||]"}}},
        {u"{a||}", {{"duplicate-alternative", u"|", 1}}},
        {u"Hi %name%,\nyour %order_id% ships", {{"undefined-macro", u"%name%"}, {"undefined-macro", u"%order_id%"}}},
        {u"#set %a% = x\n#set %a% = y\n%a%\n", {{"duplicate-definition", u"%a%", 1}}},
        {u"#set %unused% = x\nbody\n", {{"unused-macro", u"%unused%"}}},
        // %a% is replaced before the value of %b% is put in: it stays as text,
        // and %a% itself is never used.
        {u"#set %b% = %a%!\n#set %a% = d\n%b%\n", {{"macro-order", u"%a%"}, {"unused-macro", u"%a%", 1}}},
        {u"#set %s% = go %s%\n%s%\n", {{"macro-order", u"%s%", 1}}},
        {u"#set %v% = {x}\n%v% and %v%\n", {{"single-alternative", u"{x}"}}},
        {u"#set %v% = {p|q|p}\n%v%, %v%\n", {{"duplicate-alternative", u"p", 1}}},
        {u"[a] [<, >b]", {{"single-arrangement", u"[a]"}, {"single-arrangement", u"[<, >b]"},
                          {"unreachable-separator", u"<, >"}}},
        {u"[<, >a<;>|b< and >|c]", {{"unreachable-separator", u"<, >"}}},
        {u"[<, >a|a<;>|b]", {{"duplicate-alternative", u"a", 1}}},
        {u"Every version begins with these same twelve words, one after another here. {A|B}",
         {{"fixed-stretch", u"Every version begins with these same twelve words, one after another here."}}},
        {u"{A|B} Twelve words\nacross two lines still make one stretch of fixed text {C|D}",
         {{"fixed-stretch", u"Twelve words\nacross two lines still make one stretch of fixed text"}}},
    };
    for (const LintCase& c : cases) {
        const std::u16string editor = EditorText(c.templ);
        ASSERT_TRUE(CheckTemplateText(editor).passed) << ToNarrow(c.templ);
        const std::vector<CLintFinding> findings = LintTemplate(editor);
        std::vector<CLintFinding> expected;
        for (const Expected& e : c.findings) {
            size_t at = c.templ.find(e.selected);
            for (int k = 0; k < e.occurrence; ++k) at = c.templ.find(e.selected, at + 1);
            ASSERT_NE(at, std::u16string_view::npos) << ToNarrow(c.templ);
            expected.push_back({e.code, LintSeverity::kWarning, {}, static_cast<int32_t>(at),
                                static_cast<int32_t>(at + e.selected.size())});
        }
        std::sort(expected.begin(), expected.end(), [](const CLintFinding& a, const CLintFinding& b) {
            return std::tie(a.selectionStart, a.selectionEnd, a.code) < std::tie(b.selectionStart, b.selectionEnd, b.code);
        });
        EXPECT_EQ(Describe(findings), Describe(expected)) << ToNarrow(c.templ);
        for (const CLintFinding& f : findings) {
            EXPECT_FALSE(f.message.empty()) << f.code;
            EXPECT_EQ(f.severity, f.code == "fixed-stretch" ? LintSeverity::kNote : LintSeverity::kWarning);
        }
    }
}

TEST(LintTemplate, CleanTemplatesHaveNoFindings) {
    std::vector<std::u16string> clean = {
        u"",
        u"50% off, 20% more, 10%-20% and 100%% pure. {Save 5%|Save 50%}",
        u"{a|b|}{c|d} [<, >x|y<; >|z] [a|b|c<x>] x|y",
        u"#set %city% = {Lisbon|Porto}\n#set %a_trip% = a day in %city%\n%a_trip% or %city%\n",
        u"Eleven words of fixed text stand here and nothing more now. {A|B}",
    };
    for (const auto& entry : fs::directory_iterator(fs::path(PHRASEMILL_SOURCE_DIR) / "examples")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::u16string templ = FromNarrowLossy(bytes);
        std::erase(templ, u'\r');
        clean.push_back(std::move(templ));
    }
    for (const std::u16string& templ : clean) {
        const std::u16string editor = EditorText(templ);
        ASSERT_TRUE(CheckTemplateText(editor).passed) << ToNarrow(templ);
        EXPECT_EQ(Describe(LintTemplate(editor)), "") << ToNarrow(templ);
    }
}

TEST(TemplateOutline, ExpandsMacrosAsTheTemplateCheckDoes) {
    const std::vector<std::u16string_view> templates = {
        u"#set %b% = %a%!\n#set %a% = d\n%b% %a%\n",
        u"#set %a% = [%b%|c]\n#set %b% = d\n  #set %c% = {x|y}\n%a% %c% %b%\n",
        u"#set %x% = \nkeep %x%|%y%\n#set %y% = {1|2}\n",
        u"#set %a% = %a%%a%\n%a%%a%\n",
    };
    for (const auto templ : templates) {
        const std::u16string editor = EditorText(templ);
        const TemplateCheckResult check = CheckTemplateText(editor);
        ASSERT_TRUE(check.passed) << ToNarrow(templ);
        EXPECT_EQ(CTemplateOutline(editor).Expanded(), check.templateText) << ToNarrow(templ);
    }
}

TEST(FixedStretches, LongestFirstInEditorPositions) {
    const std::u16string templ = u"#set %x% = {a|b}\none two three %x% four five\nsix seven {c|d} eight";
    const std::vector<CFixedStretch> stretches = FixedStretches(EditorText(templ), 1);
    ASSERT_EQ(stretches.size(), 3u);
    // "one two three " and " four five six seven " are separate runs: the
    // macro stands for a group.
    EXPECT_EQ(stretches[0].words, 4);
    EXPECT_EQ(stretches[0].selectionStart, static_cast<int32_t>(templ.find(u"four")));
    EXPECT_EQ(stretches[0].selectionEnd, static_cast<int32_t>(templ.find(u" {c")));
    EXPECT_EQ(stretches[1].words, 3);
    EXPECT_EQ(stretches[2].words, 1);
    EXPECT_EQ(stretches[2].selectionStart, static_cast<int32_t>(templ.find(u"eight")));
}

}  // namespace
