#include "engine/macros.h"
#include "engine/template_check.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The replacement as it was first written, one whole-text pass per name: the
// oracle for the expander.
// peak receives the length of the longest text it goes through.
std::u16string LiteralApply(std::u16string text, const MacroTable& table, size_t* peak = nullptr) {
    if (peak) *peak = text.size();
    for (const auto& [name, value] : table) {
        std::u16string next;
        size_t from = 0;
        for (size_t p = text.find(name); p != std::u16string::npos; p = text.find(name, from)) {
            next.append(text, from, p - from);
            next.append(value);
            from = p + name.size();
        }
        next.append(text, from, std::u16string::npos);
        text.swap(next);
        if (peak) *peak = std::max(*peak, text.size());
    }
    return text;
}

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

TEST(ProcessMacros, DirectiveAfterABareCarriageReturnBelongsToTheDefinitionBefore) {
    MacroTable table;
    const MacroPass pass = Process(u"#set %a% = x\r#set %b% = y\r\nZ %a%\r\n#set %c% = 3\r\n%c%", table);
    ASSERT_TRUE(pass.result.Ok());
    EXPECT_EQ(pass.text, u"Z %a%\r\n%c%");
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.at(u"%a%"), u"x\r#set %b% = y");
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

// Random templates built from overlapping names, percent signs in plain text
// and in values, values that use names sorting before and after their own,
// repeated definitions and uses next to each other.
TEST(ExpandMacros, MatchesTheLiteralReplacementOnRandomTemplates) {
    std::mt19937 random(20261209);
    const std::vector<std::u16string> names = {u"%a%", u"%b%", u"%ab%", u"%ba%", u"%a b%", u"%x%", u"%y%"};
    const std::vector<std::u16string> bits = {u"%", u"%", u"a", u"b", u" ", u"x", u"ab", u"{p|q}", u"[r|s]", u"."};
    auto pick = [&](const std::vector<std::u16string>& from) { return from[random() % from.size()]; };
    auto piece = [&](int length) {
        std::u16string text;
        for (int i = 0; i < length; ++i) text += random() % 3 == 0 ? pick(names) : pick(bits);
        return text;
    };
    int expanded = 0;
    for (int round = 0; round < 20000; ++round) {
        std::u16string templ;
        const int lines = static_cast<int>(random() % 6);
        for (int i = 0; i < lines; ++i) {
            const std::u16string name = pick(names);
            std::u16string value = piece(static_cast<int>(random() % 6));
            // Brackets in a value make it no template of its own now and then.
            if (random() % 8 == 0) value += u"{";
            templ += u"#set " + name + u" = " + value + u"\r\n";
            if (random() % 3 == 0) templ += piece(static_cast<int>(random() % 4)) + u"\r\n";
        }
        templ += piece(static_cast<int>(random() % 12));
        // Plain text before or after makes the expander keep the text as a
        // list of gaps for fewer or more of the names.
        const std::u16string padding(random() % 120, u'.');
        templ = random() % 2 ? padding + templ : templ + padding;
        MacroTable table;
        MacroPass pass = ProcessMacros(templ, table);
        if (!pass.result.Ok()) continue;
        size_t peak = 0;
        const std::u16string expected = LiteralApply(pass.text, table, &peak);
        const MacroExpansion expansion = ExpandMacros(std::u16string(pass.text), table, peak);
        ASSERT_EQ(expansion.tooLargeName, nullptr) << ToNarrow(templ);
        ASSERT_EQ(expansion.text, expected) << ToNarrow(templ);
        if (peak > pass.text.size()) {
            EXPECT_NE(ExpandMacros(std::u16string(pass.text), table, peak - 1).tooLargeName, nullptr)
                << ToNarrow(templ);
        }
        ++expanded;
    }
    EXPECT_GT(expanded, 10000);
}

// The limit holds for every text the replacement goes through, and the name
// reported is the one whose replacement would first cross it.
TEST(ExpandMacros, RefusesBeforeCrossingTheLimit) {
    const MacroTable table{{u"%a%", u"%b%%b%%b%"}, {u"%b%", u"xy"}, {u"%c%", u""}};
    const std::u16string text = u"1%a%2%a%%c%";
    // After %a%: "1%b%%b%%b%2%b%%b%%b%%c%" (23 code units), after %b%: 17, after %c%: 14.
    const std::u16string expected = u"1xyxyxy2xyxyxy";
    ASSERT_EQ(LiteralApply(text, table), expected);
    struct Case {
        size_t limit;
        const char16_t* tooLarge;
    };
    for (const Case& c : {Case{23, nullptr}, Case{22, u"%a%"}, Case{11, u"%a%"}, Case{1000, nullptr}}) {
        const MacroExpansion expansion = ExpandMacros(std::u16string(text), table, c.limit);
        if (c.tooLarge) {
            ASSERT_NE(expansion.tooLargeName, nullptr) << c.limit;
            EXPECT_EQ(*expansion.tooLargeName, c.tooLarge);
            EXPECT_TRUE(expansion.text.empty());
        } else {
            EXPECT_EQ(expansion.tooLargeName, nullptr) << c.limit;
            EXPECT_EQ(expansion.text, expected);
        }
    }
}

TEST(ExpandMacros, StopsOnRequest) {
    std::u16string text;
    for (int i = 0; i < 100000; ++i) text += u"%a% ";
    const MacroTable table{{u"%a%", u"x"}};
    std::atomic<bool> stop{true};
    EXPECT_TRUE(ExpandMacros(std::u16string(text), table, 1 << 30, &stop).stopped);
    MacroTable filled;
    EXPECT_TRUE(ProcessMacros(u"#set %a% = x\r\n" + text, filled, &stop).stopped);
    EXPECT_TRUE(CheckTemplateText(u"#set %a% = x\r\n" + text, &stop).stopped);
    stop = false;
    const MacroExpansion whole = ExpandMacros(std::u16string(text), table, 1 << 30, &stop);
    EXPECT_FALSE(whole.stopped);
    EXPECT_EQ(whole.text.size(), 200000u);
}

// Eight definitions, each value using the next name ten times: 10^8 code
// units, far past the limit of a template this short.
TEST(CheckTemplateText, MacroBombIsRefusedAtItsDefinition) {
    std::u16string templ = u"Head\r\n";
    const std::u16string letters = u"abcdefgh";
    for (size_t i = 0; i < letters.size(); ++i) {
        std::u16string value;
        for (int k = 0; k < 10; ++k) {
            value += i + 1 < letters.size() ? u"%" + letters.substr(i + 1, 1) + u"%" : u"z";
        }
        templ += u"#set %" + letters.substr(i, 1) + u"% = " + value + u"\r\n";
    }
    templ += u"%a%";
    const TemplateCheckResult check = CheckTemplateText(templ);
    EXPECT_FALSE(check.passed);
    EXPECT_EQ(check.kind, kMacroTextTooLarge);
    // "%g%" turns 10^6 uses of "%g%" into 10^7 of "%h%" (3 * 10^7 code units).
    const int lineOfG = static_cast<int>(templ.find(u"#set %g%") - 7);  // seven CR LF pairs before it
    EXPECT_EQ(check.position, lineOfG);
    const std::string digits = std::to_string(lineOfG);
    EXPECT_EQ(check.message, u"Variable defined at position " + std::u16string(digits.begin(), digits.end()) +
                                 u" makes the template too large");
    EXPECT_EQ(check.selectionStart, lineOfG);
    EXPECT_EQ(check.selectionEnd, lineOfG + 4);
    EXPECT_EQ(check.templateText, templ);
}

TEST(CollectMacros, SkipsInvalidLinesAndNeedsALineEnd) {
    MacroTable table{{u"%old%", u"gone"}};
    CollectMacros(table, u"#set %a% = 1\r\n#set %b{% = 2\r\n#set %c% = {\r\nx #set %d% = 4\r\n#set %e% = 5");
    EXPECT_EQ(table, (MacroTable{{u"%a%", u"1"}}));
}

}  // namespace
