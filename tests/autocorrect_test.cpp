#include "postprocess/autocorrect.h"
#include "capitalization.h"
#include "unit_classes.h"

#include "bracket_matches.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <clocale>
#include <random>
#include <vector>

namespace {

std::u16string Corrected(std::u16string text, const AutoCorrectionOptions& o = AutoCorrectionOptions{}) {
    AutoCorrect(text, o);
    return text;
}

AutoCorrectionOptions Only(uint8_t AutoCorrectionOptions::*flag) {
    AutoCorrectionOptions o = AutoCorrectionOptions::AllOff();
    o.*flag = 1;
    return o;
}

AutoCorrectionOptions NoTags() {
    AutoCorrectionOptions o;
    o.skipHtmlTags = 0;
    return o;
}

// The rules exactly as written: insertions and deletions in the middle of the
// text, one scan position at a time, and the tag search done with the shared
// bracket matcher on the text as it currently is.
namespace reference {

bool IsMark(int c) { return c == '.' || c == ',' || c == '!' || c == '?' || c == ':' || c == ';'; }
bool IsSentenceEnd(int c) { return c == '.' || c == '!' || c == '?'; }
bool IsSentenceGap(int c) { return IsSentenceEnd(c) || c == ' ' || c == '\r' || c == '\n' || c == '\t'; }
bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
int At(const std::u16string& t, std::size_t k) { return k < t.size() ? t[k] : -1; }

void R1(std::u16string& t, std::size_t s, std::size_t& e) {
    for (std::size_t p = s; p < e; ++p) {
        const int next = At(t, p + 1);
        if (IsMark(t[p]) && next != ' ' && !IsMark(next)) {
            t.insert(p + 1, 1, u' ');
            ++e;
        }
    }
}

void R2(std::u16string& t, std::size_t s, std::size_t& e) {
    for (std::size_t p = s + 1; p < e; ++p) {
        if (t[p] != ' ') continue;
        std::size_t r = p;
        while (r < e && t[r] == ' ') ++r;
        if (r - p > 1) {
            t.erase(p + 1, r - p - 1);
            e -= r - p - 1;
        }
    }
}

void R3(std::u16string& t, std::size_t s, std::size_t& e) {
    std::size_t p = s;
    while (p < e) {
        if (t[p] != ' ') {
            ++p;
            continue;
        }
        std::size_t r = p;
        while (r < e && t[r] == ' ') ++r;
        if (IsMark(At(t, r))) {
            t.erase(p, r - p);
            e -= r - p;
            p += 1;
        } else {
            p = r;
        }
    }
}

void R4(std::u16string& t, std::size_t s, std::size_t& e) {
    std::size_t p = s;
    while (p < e) {
        if (t[p] != '.') {
            ++p;
            continue;
        }
        std::size_t count = 0;
        while (At(t, p + count) == '.') ++count;
        if (count == 2) {
            t.erase(p + 1, 1);
            --e;
            ++p;
        } else if (count >= 3) {
            p += count;
        } else {
            ++p;
        }
    }
}

void R5(std::u16string& t, std::size_t s, std::size_t& e) {
    std::size_t p = s;
    while (p < e) {
        if (IsSentenceEnd(t[p]) && p + 1 < e) {
            std::size_t q = p;
            while (q < e && IsSentenceGap(t[q])) ++q;
            UpperCaseAt(t, q);
            p = q;
        } else {
            ++p;
        }
    }
}

void Stretch(std::u16string& t, std::size_t s, std::size_t& e, const AutoCorrectionOptions& o) {
    if (o.addSpacesAfterPunctuation) R1(t, s, e);
    if (o.removeExtraSpaces) R2(t, s, e);
    if (o.removeSpacesBeforePunctuation) R3(t, s, e);
    if (o.removeExtraPunctuation) R4(t, s, e);
    if (o.capitalizeSentences) R5(t, s, e);
}

int Match(const std::u16string& t, std::size_t lt) {
    return FindMatchingBracket(t, 0, static_cast<int>(t.size()), static_cast<int>(lt));
}

void AutoCorrect(std::u16string& t, const AutoCorrectionOptions& o) {
    if (!o.skipHtmlTags) {
        std::size_t e = t.size();
        Stretch(t, 0, e, o);
    } else {
        std::size_t s = 0, search = 0;
        for (;;) {
            std::size_t e = t.size();
            for (std::size_t j = search; j < t.size(); ++j) {
                if (t[j] == '<' && Match(t, j) >= 0) {
                    e = j;
                    break;
                }
            }
            const bool tag = e < t.size();
            Stretch(t, s, e, o);
            if (!tag) break;
            const int close = Match(t, e);
            EXPECT_GE(close, 0) << "the tag closing a stretch moved";
            if (close < 0) break;
            s = static_cast<std::size_t>(close);
            search = s + 1;
        }
    }
    if (o.capitalizeLine) {
        std::size_t k = 0;
        while (k < t.size() && IsBlank(t[k])) ++k;
        if (k < t.size()) UpperCaseAt(t, k);
    }
    if (o.trimLine) {
        while (!t.empty() && t.back() == ' ') t.pop_back();
        std::size_t k = 0;
        while (k < t.size() && t[k] == ' ') ++k;
        t.erase(0, k);
    }
}

}  // namespace reference

TEST(AutoCorrect, WorkedExamples) {
    EXPECT_EQ(Corrected(u"  hello ,world..how are you?i am fine  "), u"Hello, world. How are you? I am fine");
    EXPECT_EQ(Corrected(u"Wait.."), u"Wait.");
    EXPECT_EQ(Corrected(u"Wait..."), u"Wait...");
    EXPECT_EQ(Corrected(u"Wait!!"), u"Wait!!");
    EXPECT_EQ(Corrected(u"and ... so"), u"And... So");
    EXPECT_EQ(Corrected(u"Hello.\r\nworld"), u"Hello. \r\nWorld");
    EXPECT_EQ(Corrected(u"\tHello "), u"\tHello");
    EXPECT_EQ(Corrected(u""), u"");
    EXPECT_EQ(Corrected(u"     "), u"");
    EXPECT_EQ(Corrected(u"я. ёж"), u"Я. Ёж");
}

TEST(AutoCorrect, TagsAndTagMode) {
    EXPECT_EQ(Corrected(u"Hello.<br>world", NoTags()), u"Hello. <br>World");
    EXPECT_EQ(Corrected(u"Hello.<br>world"), u"Hello. <br>World");
    EXPECT_EQ(Corrected(u"Hello. <b>world"), u"Hello. <b>world");
    EXPECT_EQ(Corrected(u"Hello. <P>world"), u"Hello. <P>world");
    EXPECT_EQ(Corrected(u"x <b>y.z</b> w"), u"X <b>y. Z</b> w");
    EXPECT_EQ(Corrected(u"<p>hello.</p><p>bye.</p>"), u"<p>Hello. </p><p>Bye. </p>");
    EXPECT_EQ(Corrected(u"a < b.c"), u"A < b. C");
    EXPECT_EQ(Corrected(u"ok.<a href=x.html>go</a>"), u"Ok. <a href=x.html>go</a>");
    EXPECT_EQ(Corrected(u"ok.<a href=x.html>go</a>", NoTags()), u"Ok. <a href=x. Html>go</a>");
    // A tag that ends the text is still a tag; a "}" before the ">" means no tag.
    EXPECT_EQ(Corrected(u"a,b<x.y>"), u"A, b<x.y>");
    EXPECT_EQ(Corrected(u"a<x}.y>"), u"A<x}. Y>");
    // Braces inside a tag are skipped whole, an unclosed one means no tag.
    EXPECT_EQ(Corrected(u"a<{>}.b>"), u"A<{>}.b>");
    EXPECT_EQ(Corrected(u"a<{.b>"), u"A<{. B>");
}

TEST(AutoCorrect, SingleRules) {
    const auto off = AutoCorrectionOptions::AllOff();
    const std::u16string samples[] = {u"  hello ,world..x", u"a.<br>b  c", u"", u"<p> x"};
    for (const auto& s : samples) EXPECT_EQ(Corrected(s, off), s);
    EXPECT_FALSE(off.AnyOn());
    EXPECT_TRUE(AutoCorrectionOptions{}.AnyOn());

    EXPECT_EQ(Corrected(u"Hello, world!", Only(&AutoCorrectionOptions::addSpacesAfterPunctuation)), u"Hello, world! ");
    EXPECT_EQ(Corrected(u"3.14", Only(&AutoCorrectionOptions::addSpacesAfterPunctuation)), u"3. 14");
    EXPECT_EQ(Corrected(u"  a  b", Only(&AutoCorrectionOptions::removeExtraSpaces)), u"  a b");
    EXPECT_EQ(Corrected(u"    a", Only(&AutoCorrectionOptions::removeExtraSpaces)), u"  a");
    EXPECT_EQ(Corrected(u"x  ,  . b", Only(&AutoCorrectionOptions::removeSpacesBeforePunctuation)), u"x,. b");
    EXPECT_EQ(Corrected(u"a.b", Only(&AutoCorrectionOptions::capitalizeSentences)), u"a.B");
    EXPECT_EQ(Corrected(u"end.<br>next", Only(&AutoCorrectionOptions::capitalizeSentences)), u"end.<br>Next");
    EXPECT_EQ(Corrected(u"what?", Only(&AutoCorrectionOptions::capitalizeSentences)), u"what?");
    EXPECT_EQ(Corrected(u"<br>\r\n a", Only(&AutoCorrectionOptions::capitalizeLine)), u"<br>\r\n A");
    EXPECT_EQ(Corrected(u"<br>", Only(&AutoCorrectionOptions::capitalizeLine)), u"<br>");
    EXPECT_EQ(Corrected(u"<b>hello", Only(&AutoCorrectionOptions::capitalizeLine)), u"<b>hello");
    EXPECT_EQ(Corrected(u"a.. b... c.... d.,", Only(&AutoCorrectionOptions::removeExtraPunctuation)),
              u"a. b... c.... d.,");
}

TEST(AutoCorrect, OptionBytesRoundTrip) {
    const std::array<uint8_t, 8> bytes{1, 0, 1, 1, 0, 0, 1, 0};
    const auto o = AutoCorrectionOptions::FromBytes(bytes);
    EXPECT_EQ(o.ToBytes(), bytes);
    EXPECT_EQ(o.trimLine, 1);
    EXPECT_EQ(o.removeSpacesBeforePunctuation, 0);
    EXPECT_EQ(o.skipHtmlTags, 0);
    EXPECT_EQ(AutoCorrectionOptions{}.ToBytes(), (std::array<uint8_t, 8>{1, 1, 1, 1, 1, 1, 1, 1}));
}

TEST(UpperCaseAt, ScriptsAndSurrogates) {
    std::setlocale(LC_ALL, "C");  // the mapping must not depend on the process locale
    auto up = [](std::u16string t, std::size_t k) {
        UpperCaseAt(t, k);
        return t;
    };
    EXPECT_EQ(up(u"ωmega", 0), u"Ωmega");
    EXPECT_EQ(up(u"жук", 0), u"Жук");
    EXPECT_EQ(up(u"éa", 0), u"Éa");
    EXPECT_EQ(up(u"\U00010428x", 0), u"\U00010400x");  // Deseret, outside the BMP
    EXPECT_EQ(up(u"\U00010428x", 1), u"\U00010428x");  // the pair's second half alone
    std::u16string lone = u"a";
    lone += char16_t(0xD801);
    EXPECT_EQ(up(lone, 1), lone);
    EXPECT_EQ(up(u"1a", 0), u"1a");
    EXPECT_EQ(up(u"a", 1), u"a");
    EXPECT_EQ(up(u"<p> <br>\r\n</p>\tx", 0), u"<p> <br>\r\n</p>\tX");
    EXPECT_EQ(up(u"<br> ", 0), u"<br> ");
    EXPECT_EQ(up(u"<br/>x", 0), u"<br/>x");
    EXPECT_EQ(up(u"</br><b>x", 0), u"</br><b>x");
}

// Every combination of rules, in turn, on random texts built from the
// characters that the rules and the tag search react to, and from words of
// plain letters (ASCII, Cyrillic, accented, outside the BMP) long enough that
// runs without any edit span several of the corrector's copy blocks. Letters
// whose upper-case form is longer or shorter in UTF-8 ("ı", "ɐ", "ⱥ") check
// the UTF-8 corrector against the UTF-16 result; a lone surrogate (which
// UTF-8 cannot carry) only the UTF-16 one.
TEST(AutoCorrect, MatchesTheRulesAsWritten) {
    const std::vector<std::u16string> pieces = {
        u" ",  u"  ",  u".",  u"..", u"...", u",",   u"!",    u"?",   u":",    u";",   u"a",  u"b",  u"я",
        u"ё",  u"Z",   u"7",  u"\r\n", u"\r", u"\n", u"\t",   u"<p>", u"<br>", u"</p>", u"</br>", u"<b>", u"<",
        u">",  u"{",   u"}",  u"[",  u"]",   u"\U00010428", u"hello world", u"привет", u"élan vital",
        u"Straße und Weg", u"\U00010428\U00010429x", u"quick brown fox jumps", u"a b c d e f g h i j",
        u"ı",  u"ſun", u"ɐ",  u"ⱥx", u"ǆ",   u"ß",  u"ς", std::u16string(1, char16_t(0xDC01)),
        u"jalapeño café über", u"long plain words of prose without any mark at all"};
    std::mt19937 rng(20240601);
    for (int iteration = 0; iteration < 256 * 600; ++iteration) {
        std::u16string text;
        const int count = static_cast<int>(rng() % (iteration % 3 == 0 ? 200 : iteration % 3 == 1 ? 30 : 80));
        for (int i = 0; i < count; ++i) text += pieces[rng() % pieces.size()];
        std::array<uint8_t, 8> bytes;
        for (int b = 0; b < 8; ++b) bytes[static_cast<std::size_t>(b)] = static_cast<uint8_t>((iteration >> b) & 1);
        const auto options = AutoCorrectionOptions::FromBytes(bytes);
        std::u16string expected = text;
        reference::AutoCorrect(expected, options);
        std::u16string actual = text;
        AutoCorrect(actual, options);
        ASSERT_EQ(actual, expected) << "text: " << ToNarrow(text) << " rules: " << int(bytes[0]) << int(bytes[1])
                                    << int(bytes[2]) << int(bytes[3]) << int(bytes[4]) << int(bytes[5])
                                    << int(bytes[6]) << int(bytes[7]);

        // The same text after earlier ones (which may leave a tag or a
        // sentence open) is corrected alone, the earlier ones left as they are.
        std::u16string before;
        for (int i = static_cast<int>(rng() % 6); i > 0; --i) before += pieces[rng() % pieces.size()];
        std::u16string appended = before + text;
        AutoCorrectTail(appended, before.size(), options);
        ASSERT_EQ(appended, before + expected) << "before: " << ToNarrow(before) << " text: " << ToNarrow(text);

        if (appended.find(char16_t(0xDC01)) != std::u16string::npos) continue;
        std::string utf8 = ToNarrow(before + text);
        AutoCorrectUtf8Tail(utf8, ToNarrow(before).size(), options);
        ASSERT_EQ(utf8, ToNarrow(before + expected)) << "before: " << ToNarrow(before) << " text: " << ToNarrow(text);
    }
}

// Every classifier this processor runs gives the masks of the plain
// definition, on bytes of every value and on UTF-16 units, among them units
// that saturate when narrowed (the wide ones are chosen at run time, so the
// rule tests above reach only one of them).
TEST(UnitClasses, EveryClassifierGivesTheDefinedMasks) {
    auto expected = [](const auto& text, std::size_t chunk) {
        UnitClasses k;
        for (std::size_t j = 0; j < kClassChunk; ++j) {
            const std::size_t at = chunk * kClassChunk + j;
            if (at >= text.size()) break;
            const int c = static_cast<int>(text[at]) & (sizeof(text[at]) == 1 ? 0xFF : 0xFFFF);
            k.space |= uint64_t{c == ' '} << j;
            k.mark |= uint64_t{reference::IsMark(c)} << j;
            k.end |= uint64_t{reference::IsSentenceEnd(c)} << j;
            k.angle |= uint64_t{c == '<'} << j;
        }
        return k;
    };
    const char16_t wideUnits[] = {u' ', u'.', u',', u'!', u'?', u':', u';', u'<', u'x', 0x00FF, 0x0100, 0x012E,
                                  0x013A, 0x0120, 0x7F3B, 0xFF2E, 0x8020, 0xD83D, 0xDC2E};
    std::mt19937 rng(77);
    for (int round = 0; round < 200; ++round) {
        const std::size_t size = rng() % 700;
        std::string bytes(size, '\0');
        std::u16string wide(size, u'\0');
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>(rng() % 3 == 0 ? ".,!?:; <x"[rng() % 9] : rng() % 256);
            wide[i] = wideUnits[rng() % std::size(wideUnits)];
        }
        std::vector<UnitClasses> classes;
        ClassifyText(bytes.data(), size, classes);
        ASSERT_EQ(classes.size(), size / kClassChunk + 2);
        for (std::size_t k = 0; k < classes.size(); ++k) ASSERT_EQ(classes[k], expected(bytes, k)) << k;
        ClassifyText(wide.data(), size, classes);
        for (std::size_t k = 0; k < classes.size(); ++k) ASSERT_EQ(classes[k], expected(wide, k)) << k;
        for (ClassifierKind kind : {ClassifierKind::kPortable, ClassifierKind::kAvx2, ClassifierKind::kAvx512}) {
            if (!ClassifierRuns(kind)) continue;
            std::vector<UnitClasses> whole(size / kClassChunk);
            ClassifyChunks(kind, bytes.data(), whole.size(), whole.data());
            for (std::size_t k = 0; k < whole.size(); ++k)
                ASSERT_EQ(whole[k], expected(bytes, k)) << "kind " << int(kind) << " chunk " << k;
            ClassifyChunks(kind, wide.data(), whole.size(), whole.data());
            for (std::size_t k = 0; k < whole.size(); ++k)
                ASSERT_EQ(whole[k], expected(wide, k)) << "UTF-16, kind " << int(kind) << " chunk " << k;
        }
    }
}

}  // namespace
