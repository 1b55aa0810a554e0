#include "engine/template_check.h"

#include <gtest/gtest.h>

namespace {

TEST(CheckTemplateText, EmptyAndCorrectTemplates) {
    TemplateCheckResult check = CheckTemplateText(u"");
    EXPECT_TRUE(check.passed);
    EXPECT_EQ(check.kind, 0);
    EXPECT_EQ(check.message, u"Syntax is correct.         ");
    check = CheckTemplateText(u"#set %city% = {Paris|Rome}\r\nHello from %city%!");
    EXPECT_TRUE(check.passed);
    EXPECT_EQ(check.templateText, u"Hello from {Paris|Rome}!");
}

TEST(CheckTemplateText, BracketDefectOnThirdLineSelectsIt) {
    const TemplateCheckResult check = CheckTemplateText(u"one {a|b}\r\ntwo\r\nthree}");
    EXPECT_FALSE(check.passed);
    EXPECT_EQ(check.kind, kExtraBraceAtTop);
    EXPECT_EQ(check.position, 20);
    EXPECT_EQ(check.message, u"Extra bracket } at position 20");
    // In the editor's text (line break = one character) 19 .. 20 is the "}".
    EXPECT_EQ(check.selectionStart, 19);
    EXPECT_EQ(check.selectionEnd, 20);
}

TEST(CheckTemplateText, MalformedDefinitionSelectsTheDirective) {
    const TemplateCheckResult check = CheckTemplateText(u"Text\r\n#set %a = x\r\nmore");
    EXPECT_FALSE(check.passed);
    EXPECT_EQ(check.kind, kBadMacroDefinition);
    EXPECT_EQ(check.position, 5);
    EXPECT_EQ(check.message, u"Incorrect variable definition at position 5.\r\n"
                             u"Variable must be defined like \"#set %variable% = value\" and ended with Enter.");
    EXPECT_EQ(check.selectionStart, 5);
    EXPECT_EQ(check.selectionEnd, 9);
    EXPECT_EQ(check.templateText, u"Text\r\n#set %a = x\r\nmore");  // the editor text after a defect
}

TEST(CheckTemplateText, DeniedNameSymbol) {
    const TemplateCheckResult check = CheckTemplateText(u"#set %a{% = x\r\n");
    EXPECT_EQ(check.kind, kDeniedMacroNameSymbol);
    EXPECT_EQ(check.position, 0);
    EXPECT_EQ(check.selectionStart, 0);
    EXPECT_EQ(check.selectionEnd, 4);
}

TEST(CheckTemplateText, ValueDefectSelectsTheOffendingCharacter) {
    const TemplateCheckResult check = CheckTemplateText(u"#set %a% = {x\r\n%a%");
    EXPECT_FALSE(check.passed);
    EXPECT_EQ(check.kind, kUnclosedBrace);
    EXPECT_EQ(check.position, 12);
    EXPECT_EQ(check.message, u" Unclosed bracket { at position 12 in macro definition.");
    EXPECT_EQ(check.selectionStart, 11);
    EXPECT_EQ(check.selectionEnd, 12);
}

TEST(CheckTemplateText, MacroDefectHidesBracketDefect) {
    const TemplateCheckResult check = CheckTemplateText(u"}\r\n#set %a% x\r\n");
    EXPECT_EQ(check.kind, kBadMacroDefinition);
    EXPECT_EQ(check.position, 2);
}

TEST(CheckTemplateText, ChecksTheTextBeforeSubstitution) {
    // The value is a correct template on its own, and the editor text's
    // brackets are balanced: the check passes; only loading finds the "}".
    const TemplateCheckResult check = CheckTemplateText(u"#set %v% = x\r\n{%v%}");
    EXPECT_TRUE(check.passed);
    EXPECT_EQ(check.templateText, u"{x}");
}

}  // namespace
