#include "engine/syntax_check.h"
#include "bracket_matches.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Case {
    const char* text;
    int kind;
    int position;
};

void ExpectCheck(const Case& c) {
    const SyntaxResult r = CheckSyntax(U16(c.text));
    EXPECT_EQ(r.kind, c.kind) << c.text;
    EXPECT_EQ(r.position, c.position) << c.text;
}

TEST(CheckSyntax, ExtraAndUnclosedBrackets) {
    for (const Case& c : {Case{"a}b", 1, 2}, Case{"a]b", 2, 2}, Case{"{a}}", 1, 4}, Case{"{a", 3, 1},
                          Case{"[a", 4, 1}, Case{"{{a}", 3, 1}, Case{"[a}b]", 5, 3}, Case{"{a]b}", 6, 3},
                          Case{"{[}]", 5, 3}, Case{"[{a}b}c]", 5, 6}}) {
        ExpectCheck(c);
    }
}

TEST(CheckSyntax, SeparatorBrackets) {
    for (const Case& c : {Case{"[<x a|b]", 7, 2}, Case{"[a>|b]", 7, 3}, Case{"[a<|>|b]", 7, 5},
                          Case{"[a|b<,]", 0, -1}, Case{"[a|b|c<x>]", 0, -1}, Case{"[<, >a|b<;>|c]", 0, -1},
                          // a "|" inside a separator still splits the group
                          Case{"[<a|b>c|d]", 7, 2},
                          // a group inside a separator is skipped whole
                          Case{"[a<{x|y}>|b]", 0, -1}, Case{"[a<[x|y]>|b]", 0, -1}, Case{"[a<[x>|y]>|b]", 7, 6},
                          // separator brackets outside square groups are text
                          Case{"a < b > c {<|>}", 0, -1}}) {
        ExpectCheck(c);
    }
}

TEST(CheckSyntax, CorrectTemplates) {
    for (const char* text : {"", "{}", "[]", "{|}", "[<x>]", "x|y", "{a|{b|c}}[1|2]", "x{a[b|c]|d}y"}) {
        ExpectCheck({text, 0, -1});
    }
}

TEST(CheckSyntax, FirstErrorInDepthFirstOrder) {
    // The nested group is examined before the rest of the enclosing one.
    ExpectCheck({"{[a}]}}", 5, 4});
    // An unclosed bracket is reported at the bracket itself, even late.
    ExpectCheck({"abc {x} [y", 4, 9});
    // Each line break is one position in the text it sees.
    ExpectCheck({"ab\r\ncd}", 1, 7});
}

// The check written out as the language defines it: a recursive group scan
// over W = "{" + text + "}" with the scanning bracket matcher.
SyntaxResult LiteralCheckGroup(const std::u16string& w, int open, int close) {
    const int last = static_cast<int>(w.size()) - 1;
    int braces = 0;
    int squares = 0;
    for (int p = open + 1; p < close; ++p) {
        const char16_t c = w[static_cast<size_t>(p)];
        if (c == u'[') {
            ++squares;
            const int m = FindMatchingBracket(w, 0, last, p);
            if (m < 0) return {p, kUnclosedSquare};
            int b = FindNextSeparator(w, p, m);
            if (w[static_cast<size_t>(p) + 1] == u'<' && FindMatchingBracket(w, 0, b >= 0 ? b : m, p + 1) < 0)
                return {p + 1, kSeparatorBracket};
            for (int d = p; b >= 0; d = b, b = FindNextSeparator(w, b, m)) {
                if (w[static_cast<size_t>(b) - 1] == u'>' && FindMatchingBracket(w, d, m, b - 1) < 0)
                    return {b - 1, kSeparatorBracket};
            }
            const SyntaxResult inner = LiteralCheckGroup(w, p, m);
            if (!inner.Ok()) return inner;
            p = m - 1;
        } else if (c == u']') {
            if (--squares < 0) return {p, w[static_cast<size_t>(open)] == u'{' && open > 0 ? 6 : 2};
        } else if (c == u'{') {
            const int m = FindMatchingBracket(w, 0, last, p);
            if (m < 0) return {p, kUnclosedBrace};
            ++braces;
            const SyntaxResult inner = LiteralCheckGroup(w, p, m);
            if (!inner.Ok()) return inner;
            p = m - 1;
        } else if (c == u'}') {
            if (--braces < 0) return {p, w[static_cast<size_t>(open)] == u'[' ? 5 : 1};
        }
    }
    return {};
}

TEST(CheckSyntax, AgreesWithTheRecursiveScanOnRandomTexts) {
    std::mt19937 random(17);
    constexpr std::u16string_view kAlphabet = u"{}[]<>|a";
    for (int round = 0; round < 20000; ++round) {
        std::u16string text;
        const int length = static_cast<int>(random() % 18);
        for (int i = 0; i < length; ++i) text.push_back(kAlphabet[random() % kAlphabet.size()]);
        const SyntaxResult ours = CheckSyntax(text);
        const SyntaxResult literal = LiteralCheckGroup(u"{" + text + u"}", 0, static_cast<int>(text.size()) + 1);
        ASSERT_EQ(ours.kind, literal.kind) << ToNarrow(text);
        ASSERT_EQ(ours.position, literal.position) << ToNarrow(text);
    }
}

TEST(FindMatchingBracket, ShapesAndBounds) {
    const std::u16string t = U16("{a[b}c]d}");
    EXPECT_EQ(FindMatchingBracket(t, 0, static_cast<int>(t.size()), 0), 4);  // squares ignored
    EXPECT_EQ(FindMatchingBracket(t, 0, static_cast<int>(t.size()), 2), 6);
    EXPECT_EQ(FindMatchingBracket(t, 0, static_cast<int>(t.size()), 6), 2);
    EXPECT_EQ(FindMatchingBracket(t, 0, 6, 2), -1);  // limit itself is not examined
    EXPECT_EQ(FindMatchingBracket(t, 2, 9, 6), -1);  // lowerBound itself is not examined
    EXPECT_EQ(FindMatchingBracket(t, 0, 9, 1), -1);  // not a bracket
    EXPECT_EQ(FindMatchingBracket(t, 0, 9, 99), -1);
}

TEST(FindMatchingBracket, SeparatorBrackets) {
    const std::u16string t = U16("<a<b>{>}[>]c>");
    const int n = static_cast<int>(t.size());
    EXPECT_EQ(FindMatchingBracket(t, -1, n, 0), 12);   // nested pair counted, groups skipped whole
    EXPECT_EQ(FindMatchingBracket(t, -1, n, 12), 0);
    EXPECT_EQ(FindMatchingBracket(U16("<a}>"), -1, 4, 0), -1);  // "}" ends a forward search
    EXPECT_EQ(FindMatchingBracket(U16("<{a>"), -1, 4, 0), -1);  // unclosed group on the way
    EXPECT_EQ(FindMatchingBracket(U16("<{a>"), -1, 4, 3), -1);  // "{" ends a backward search
    EXPECT_EQ(FindMatchingBracket(U16("<a]>"), -1, 4, 0), 3);   // "]" is not special forward
    // In tag mode a tag that ends the text is found when the limit is the length.
    EXPECT_EQ(FindMatchingBracket(U16("x<br>"), 0, 5, 1), 4);
}

TEST(FindNextSeparator, SkipsNestedGroups) {
    const std::u16string t = U16("[a{b|c}[d|e]<x|y>|f]");
    const int e = static_cast<int>(t.size()) - 1;
    EXPECT_EQ(FindNextSeparator(t, 0, e), 14);   // inside the separator brackets it counts
    EXPECT_EQ(FindNextSeparator(t, 14, e), 17);
    EXPECT_EQ(FindNextSeparator(t, 17, e), -1);
    EXPECT_EQ(FindNextSeparator(U16("[a{b|c]"), 0, 6), -1);  // unmatched group on the way
}

TEST(SyntaxMessage, ExactTexts) {
    EXPECT_EQ(SyntaxMessage(0, -1), u"Syntax is correct.         ");
    EXPECT_EQ(SyntaxMessage(1, 4), u"Extra bracket } at position 4");
    EXPECT_EQ(SyntaxMessage(2, 2), u"Extra bracket ] at position 2");
    EXPECT_EQ(SyntaxMessage(3, 1), u" Unclosed bracket { at position 1");
    EXPECT_EQ(SyntaxMessage(4, 12), u" Unclosed bracket [ at position 12");
    EXPECT_EQ(SyntaxMessage(5, 3), u"Extra bracket } at position 3");
    EXPECT_EQ(SyntaxMessage(6, 3), u"Extra bracket  ] at position 3");
    EXPECT_EQ(SyntaxMessage(7, 2), u"Incorrect syntax for <> brackets at position 2");
    EXPECT_EQ(SyntaxMessage(100, 5),
              u"Incorrect variable definition at position 5.\r\n"
              u"Variable must be defined like \"#set %variable% = value\" and ended with Enter.");
    EXPECT_EQ(SyntaxMessage(101, 0),
              u"Denied symbol in macro variable name at position 0. Variable name cant't maintain \" { } [ ] \" "
              u"symbols.");
    EXPECT_EQ(SyntaxMessage(8, 3), u"Default separator of the group at position 3 makes the template too large");
    EXPECT_EQ(SyntaxMessage(9, 1), u"Unknown Error");
    EXPECT_EQ(SyntaxMessage(-1, 1), u"Unknown Error");
}

TEST(TextEncoding, RoundTripAndInvalidInput) {
    std::u16string wide;
    ASSERT_TRUE(DecodeUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", wide));
    EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600");
    EXPECT_EQ(ToNarrow(wide), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC3", "\x80", "\xFF"}) {
        EXPECT_FALSE(DecodeUtf8(bad, wide)) << bad;
    }
    EXPECT_EQ(FromNarrowLossy("a\xFF" "b"), u"a\uFFFDb");
    // Lone surrogates become "?", a valid pair stays one character.
    const std::u16string lone{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(ToNarrow(lone), "a?b?");
    EXPECT_EQ(NormalizeLineBreaks(u"a\nb\rc\r\nd\n\re"), u"a\r\nb\r\nc\r\nd\r\n\r\ne");
    // In place: the text is moved when it has no bare break, and filled from the back otherwise.
    for (const char16_t* text : {u"a\nb\rc\r\nd\n\re", u"\r\r\n\n\r", u"\n", u"ab\r\ncd", u""}) {
        EXPECT_EQ(NormalizeLineBreaks(std::u16string(text)), NormalizeLineBreaks(std::u16string_view(text)));
    }
}

}  // namespace
