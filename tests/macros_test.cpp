#include "engine/macros.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

namespace {

MacroPass Process(const std::u16string& text, MacroTable& table) {
    table.clear();
    return ProcessMacros(text, table);
}

TEST(ProcessMacros, MalformedDefinitions) {
    MacroTable table;
    for (const char16_t* text : {u"#set %a% = x", u"#set%a% = x\r\n", u"#set %a = x\r\n", u"#set %% = x\r\n",
                                 u"#set %a% x\r\n", u"#set\r\n", u"#set", u"#set %\r\n"}) {
        const MacroPass pass = Process(text, table);
        EXPECT_EQ(pass.result.kind, kBadMacroDefinition) << ToNarrow(text);
        EXPECT_EQ(pass.result.position, 0) << ToNarrow(text);
    }
    EXPECT_EQ(Process(u"#set %a{% = x\r\n", table).result.kind, kDeniedMacroNameSymbol);
    EXPECT_EQ(Process(u"#set %a]% = x\r\n", table).result.kind, kDeniedMacroNameSymbol);
}

TEST(ProcessMacros, PositionsCountLineBreaksAsOne) {
    MacroTable table;
    // The "#set" on the second line, after an empty first line.
    MacroPass pass = Process(u"\r\n#set %a = x\r\n", table);
    EXPECT_EQ(pass.result.kind, kBadMacroDefinition);
    EXPECT_EQ(pass.result.position, 1);
    pass = Process(u"ab\r\ncd\r\n  #set %a% = 1\r\n#set %b{% = 2\r\n", table);
    EXPECT_EQ(pass.result.kind, kDeniedMacroNameSymbol);
    EXPECT_EQ(pass.result.position, 21);
    // A bracket defect of the value is reported at the offending character.
    pass = Process(u"#set %a% = {x\r\n", table);
    EXPECT_EQ(pass.result.kind, kUnclosedBrace);
    EXPECT_EQ(pass.result.position, 12);
    pass = Process(u"x\r\n#set %a% = [a|b]}\r\n", table);
    EXPECT_EQ(pass.result.kind, kExtraBraceAtTop);
    EXPECT_EQ(pass.result.position, 2 + 17);
}

TEST(ProcessMacros, RemovesDefinitionLinesAndKeepsFirstValue) {
    MacroTable table;
    const MacroPass pass = Process(u"#set %a% = one\r\nA %a%.\r\n#set %a% = two\r\n#set %e% =\r\nB%e%.", table);
    ASSERT_TRUE(pass.result.Ok());
    EXPECT_EQ(pass.text, u"A %a%.\r\nB%e%.");
    EXPECT_EQ(table.at(u"%a%"), u"one");
    EXPECT_EQ(table.at(u"%e%"), u"");
    EXPECT_EQ(ApplyMacros(pass.text, table), u"A one.\r\nB.");
}

TEST(ProcessMacros, DirectiveOnlyAtLineStart) {
    MacroTable table;
    const MacroPass pass = Process(u"x #set %a% = 1\r\n   #set %b% = {p|q}\r\n\t#set %c% = 3\r\n", table);
    ASSERT_TRUE(pass.result.Ok());
    // Only the line from its "#set" on is removed; what precedes it stays.
    EXPECT_EQ(pass.text, u"x #set %a% = 1\r\n   \t");
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.at(u"%b%"), u"{p|q}");
    EXPECT_EQ(table.at(u"%c%"), u"3");
}

TEST(IsDirectiveAtLineStart, Cases) {
    EXPECT_TRUE(IsDirectiveAtLineStart(u"#set", 0));
    EXPECT_TRUE(IsDirectiveAtLineStart(u"   #set", 3));
    EXPECT_FALSE(IsDirectiveAtLineStart(u"\t#set", 1));  // no line break before the tab
    EXPECT_TRUE(IsDirectiveAtLineStart(u"a\r\n \t #set", 6));
    EXPECT_FALSE(IsDirectiveAtLineStart(u"a\r\nb #set", 5));
    EXPECT_FALSE(IsDirectiveAtLineStart(u"a #set", 2));
}

TEST(ApplyMacros, TableOrderDecidesNestedNames) {
    MacroTable table{{u"%a%", u"[%b%|c]"}, {u"%b%", u"d"}};
    EXPECT_EQ(ApplyMacros(u"%a% %a%", table), u"[d|c] [d|c]");
    table = {{u"%b%", u"%a%!"}, {u"%a%", u"d"}};
    EXPECT_EQ(ApplyMacros(u"%b% %a%", table), u"%a%! d");
    // Occurrences are replaced left to right without overlapping.
    table = {{u"%x%", u"1"}};
    EXPECT_EQ(ApplyMacros(u"%x%x%x%", table), u"1x1");
    // A replacement can join percent signs into a name that sorts later.
    table = {{u"%a%", u"%b"}, {u"%bc%", u"Z"}};
    EXPECT_EQ(ApplyMacros(u"%a%c%", table), u"Z");
}

TEST(CollectMacros, SkipsInvalidLinesAndNeedsALineEnd) {
    MacroTable table{{u"%old%", u"gone"}};
    CollectMacros(table, u"#set %a% = 1\r\n#set %b{% = 2\r\n#set %c% = {\r\nx #set %d% = 4\r\n#set %e% = 5");
    EXPECT_EQ(table, (MacroTable{{u"%a%", u"1"}}));
}

}  // namespace
