#include "engine/string_generator.h"
#include "engine/template_check.h"
#include "free_choice_walk.h"
#include "template_tree.h"
#include "text/text_encoding.h"
#include "reference_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>

namespace {

using SyntaxStringGenerator::CStringGenerator;
using SyntaxStringGenerator::LoadResult;

const AutoCorrectionOptions kOff = AutoCorrectionOptions::AllOff();

std::vector<std::string> Series(const std::string& templ, int count) {
    CStringGenerator engine;
    const LoadResult load = engine.LoadTemplate(U16(templ));
    EXPECT_EQ(load.errorKind, 0) << templ;
    std::vector<std::string> versions;
    for (int i = 0; i < count; ++i) versions.push_back(ToNarrow(engine.GenerateVersion(i, kOff)));
    return versions;
}

double Count(const std::string& templ) {
    CStringGenerator engine;
    return engine.LoadTemplate(U16(templ)).versionCount;
}

std::string Square(int alternatives) {
    std::string t = "[";
    for (int i = 0; i < alternatives; ++i) t += (i ? "|" : "") + std::to_string(i) + ".";
    return t + "]";
}

TEST(VersionCount, Examples) {
    const std::map<std::string, double> expected = {
        {"a{b|c}d{e|f|g}", 6}, {"[a|b|c]", 6}, {"{a|{b|c}}[1|2]", 6}, {"x{a[b|c]|d}y", 3}, {"[a|b]{x|y}", 4},
        {"", 1},  {"{}", 1},  {"[]", 1},  {"x|y", 1},  {"{a|}", 2},  {"{|}", 2},  {"[a<{x|y}>|b]", 4},
    };
    for (const auto& [templ, count] : expected) EXPECT_EQ(Count(templ), count) << templ;
}

TEST(VersionCount, SaturatesAtTheCap) {
    EXPECT_NEAR(Count(Square(167)) / 1.5e300, 1.0, 0.01);  // 167! still below the cap
    EXPECT_EQ(Count(Square(168)), 1.7e300);
    EXPECT_EQ(Count(Square(1000)), 1.7e300);
    // 1000 groups of 2 multiply past the cap; a choice group adds past it.
    std::string wide;
    for (int i = 0; i < 1000; ++i) wide += "{a|b}";
    EXPECT_EQ(Count(wide), 1.7e300);
    EXPECT_EQ(Count("{" + wide + "|" + wide + "}"), 1.7e300);
}

TEST(SeriesOrder, Examples) {
    EXPECT_EQ(Series("{a|b}{c|d}{e|f}", 8),
              (std::vector<std::string>{"ace", "bce", "ade", "bde", "acf", "bcf", "adf", "bdf"}));
    EXPECT_EQ(Series("{x[a|b]|y}", 3), (std::vector<std::string>{"xab", "xba", "y"}));
    EXPECT_EQ(Series("[{a|b}|c]", 4), (std::vector<std::string>{"ac", "bc", "ca", "cb"}));
    EXPECT_EQ(Series("[<, >a|b|c]", 6),
              (std::vector<std::string>{"a, b, c", "a, c, b", "b, a, c", "c, a, b", "b, c, a", "c, b, a"}));
    EXPECT_EQ(Series("[a<{x|y}>|b]", 4), (std::vector<std::string>{"axb", "ayb", "bxa", "bya"}));
    EXPECT_EQ(Series("{a|}", 2), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(Series("x|y", 1), (std::vector<std::string>{"x|y"}));
    const auto four = Series("[a|b|c|d]", 10);
    EXPECT_EQ(four[3], "adbc");
    EXPECT_EQ(four[9], "dabc");
    EXPECT_EQ(Series("[a<, >|b< and >|c]", 4)[3], "c, a and b");
    EXPECT_EQ(Series("[a|b|c<x>]", 2)[1], "ac<x>b");
    EXPECT_EQ(Series("Plain text,\r\nno groups.", 1)[0], "Plain text,\r\nno groups.");
}

TEST(SeriesOrder, IndexIsSixtyFourBit) {
    std::string templ;
    for (int i = 0; i < 40; ++i) templ += "{0|1}";
    CStringGenerator engine;
    ASSERT_EQ(engine.LoadTemplate(U16(templ)).versionCount, std::ldexp(1.0, 40));
    const int64_t index = (int64_t{1} << 35) + 5;  // the first group changes fastest
    std::string expected(40, '0');
    expected[0] = expected[2] = expected[35] = '1';
    EXPECT_EQ(ToNarrow(engine.GenerateVersion(index, kOff)), expected);
    ASSERT_EQ(engine.LoadTemplate(u"{a|b}{c|d}{e|f}").versionCount, 8);
    EXPECT_EQ(engine.GenerateVersion(8, kOff), u"ace");
    EXPECT_EQ(engine.GenerateVersion(INT64_MAX, kOff), u"ace");
}

TEST(SeriesOrder, AutoCorrectionIsApplied) {
    CStringGenerator engine;
    ASSERT_EQ(engine.LoadTemplate(u"{hello|bye} ,world").errorKind, 0);
    EXPECT_EQ(engine.GenerateVersion(0, AutoCorrectionOptions{}), u"Hello, world");
    EXPECT_EQ(engine.GenerateVersion(1, kOff), u"bye ,world");
}

TEST(LoadTemplate, PreparedTextAndFailures) {
    std::u16string prepared;
    ASSERT_TRUE(SyntaxStringGenerator::DistributeSeparators(u"{[<, >a|b|c]}", prepared, 1000).Ok());
    EXPECT_EQ(prepared, u"{[a<, >|b<, >|c]}");
    prepared = u"x";
    ASSERT_TRUE(SyntaxStringGenerator::DistributeSeparators(u"[<, >a|b<;>|c]", prepared, 1000).Ok());
    EXPECT_EQ(prepared, u"x[a<, >|b<;>|c]");  // appended

    CStringGenerator engine;
    LoadResult load = engine.LoadTemplate(u"{a]b}");
    EXPECT_EQ(load.errorKind, 6);
    EXPECT_EQ(load.errorPosition, 3);
    EXPECT_EQ(load.versionCount, -1);
    EXPECT_EQ(engine.GetVersionCount(), -1);
    EXPECT_EQ(engine.GenerateVersion(0, kOff), u"");
    std::u16string out = u"stale";
    EXPECT_FALSE(engine.GenerateRandomVersion(kOff, out));
    EXPECT_TRUE(out.empty());

    // Passes the check, but the prepared text does not: reported, not silent.
    ASSERT_TRUE(CheckSyntax(u"[<x><y|b]").Ok());
    load = engine.LoadTemplate(u"[<x><y|b]");
    EXPECT_EQ(load.errorKind, 7);
    EXPECT_GT(load.errorPosition, 0);
    EXPECT_EQ(load.versionCount, -1);
}

TEST(LoadTemplate, MacroValueEndingInSeparatorBracket) {
    const TemplateCheckResult check = CheckTemplateText(u"#set %v% = b>\r\n[x|%v%|c]");
    ASSERT_TRUE(check.passed);
    EXPECT_EQ(check.templateText, u"[x|b>|c]");
    CStringGenerator engine;
    const LoadResult load = engine.LoadTemplate(check.templateText);
    EXPECT_EQ(load.errorKind, 7);
    EXPECT_EQ(load.errorPosition, 5);
}

TEST(LoadTemplate, SeparatorBlowUpIsRefused) {
    // Every level multiplies the default separator by its 40 alternatives.
    std::string level = "x";
    for (int depth = 0; depth < 6; ++depth) {
        std::string next = "[<" + level + ">";
        for (int i = 0; i < 40; ++i) next += (i ? "|" : "") + std::string("a");
        level = next + "]";
    }
    CStringGenerator engine;
    const LoadResult load = engine.LoadTemplate(U16(level));
    EXPECT_EQ(load.errorKind, SyntaxErrorKind::kPreparedTextTooLarge);
    EXPECT_GE(load.errorPosition, 1);
    EXPECT_EQ(load.versionCount, -1);
}

TEST(RandomOrder, FirstIsZeroAndNoNumberRepeats) {
    CStringGenerator engine;
    engine.SeedRandom(42);
    ASSERT_EQ(engine.LoadTemplate(u"{a|b|c}{d|e|f|g}[1|2|3]").versionCount, 72);
    std::set<std::u16string> seen;
    std::u16string v;
    ASSERT_TRUE(engine.GenerateRandomVersion(kOff, v));
    EXPECT_EQ(v, engine.GenerateVersion(0, kOff));
    seen.insert(v);
    for (int i = 1; i < 72; ++i) {
        ASSERT_TRUE(engine.GenerateRandomVersion(kOff, v));
        EXPECT_TRUE(seen.insert(v).second) << ToNarrow(v);
    }
    EXPECT_FALSE(engine.GenerateRandomVersion(kOff, v));
    EXPECT_EQ(engine.DrawVersionNumber(), -1);
    // A new load starts over.
    ASSERT_EQ(engine.LoadTemplate(u"only").versionCount, 1);
    EXPECT_EQ(engine.GenerateRandomVersion(kOff), u"only");
    EXPECT_FALSE(engine.GenerateRandomVersion(kOff, v));
}

TEST(RandomOrder, DrawWithoutTemplate) {
    CStringGenerator engine;
    EXPECT_EQ(engine.DrawVersionNumber(), -2);
}

TEST(RandomOrder, EveryNumberOfALargerTemplateExactlyOnce) {
    // 9! = 362880 numbers: the draw passes from rejection sampling to picking
    // free numbers by rank on the way.
    CStringGenerator engine;
    engine.SeedRandom(7);
    ASSERT_EQ(engine.LoadTemplate(u"[a|b|c|d|e|f|g|h|i]").versionCount, 362880);
    std::vector<bool> drawn(362880, false);
    for (int i = 0; i < 362880; ++i) {
        const double x = engine.DrawVersionNumber();
        ASSERT_GE(x, 0);
        ASSERT_LT(x, 362880);
        ASSERT_FALSE(drawn[static_cast<size_t>(x)]) << "repeated " << x << " at draw " << i;
        drawn[static_cast<size_t>(x)] = true;
    }
    EXPECT_EQ(engine.DrawVersionNumber(), -1);
}

TEST(RandomOrder, CountBetween2To30And10To10SpreadsDistinctNumbers) {
    std::string templ;
    for (int i = 0; i < 33; ++i) templ += "{a|b}";  // 2^33 versions
    CStringGenerator engine;
    engine.SeedRandom(3);
    ASSERT_EQ(engine.LoadTemplate(U16(templ)).versionCount, std::ldexp(1.0, 33));
    std::set<double> seen;
    int upperHalf = 0;
    for (int i = 0; i < 20000; ++i) {
        const double x = engine.DrawVersionNumber();
        ASSERT_GE(x, 0);
        ASSERT_LT(x, std::ldexp(1.0, 33));
        ASSERT_EQ(x, std::floor(x));
        ASSERT_TRUE(seen.insert(x).second);
        if (x >= std::ldexp(1.0, 32)) ++upperHalf;
    }
    EXPECT_GT(upperHalf, 9000);
    EXPECT_LT(upperHalf, 11000);
}

// Room reserved ahead, before the first draw or part way, small or past
// where the set turns into bits, must not change a single draw.
TEST(RandomOrder, ReservingRoomChangesNoDraw) {
    std::string wide;
    for (int i = 0; i < 33; ++i) wide += "{a|b}";  // 2^33 versions, drawn by 30-bit slot
    struct Case {
        std::string templ;
        uint64_t reserve;
        int reserveAfter;  // draws made before reserving
    };
    const Case cases[] = {{"[a|b|c|d|e|f|g|h|i]", 1000000, 0}, {"[a|b|c|d|e|f|g|h|i]", 3000, 100},
                          {wide, 20000, 0}, {wide, 100, 0}, {wide, 1u << 20, 5000}, {"{a|b|c}", 5, 0}};
    for (const Case& c : cases) {
        CStringGenerator plain;
        CStringGenerator reserved;
        ASSERT_TRUE(plain.LoadTemplate(U16(c.templ)).Ok());
        ASSERT_TRUE(reserved.LoadTemplate(U16(c.templ)).Ok());
        plain.SeedRandom(9);
        reserved.SeedRandom(9);
        for (int i = 0; i < 20000; ++i) {
            if (i == c.reserveAfter) reserved.ReserveDraws(c.reserve);
            ASSERT_EQ(plain.DrawVersionNumber(), reserved.DrawVersionNumber()) << c.templ << " draw " << i;
        }
    }
}

TEST(RandomOrder, AboveTenToTheTenEveryGroupChoosesFreely) {
    std::string templ = "{0|1|2|3|4|5|6|7|8|9}";
    for (int i = 0; i < 10; ++i) templ += "{a|b|c|d|e|f|g|h|i|j}";  // 10^11 versions
    CStringGenerator engine;
    engine.SeedRandom(11);
    ASSERT_GT(engine.LoadTemplate(U16(templ)).versionCount, 1e10);
    std::vector<int> firstGroup(10, 0);
    std::u16string v;
    for (int i = 0; i < 20000; ++i) {
        ASSERT_TRUE(engine.GenerateRandomVersion(kOff, v));
        ASSERT_EQ(v.size(), 11u);
        ++firstGroup[static_cast<size_t>(v[0] - u'0')];
    }
    for (int n : firstGroup) {
        EXPECT_GT(n, 1700);
        EXPECT_LT(n, 2300);
    }
}

// The UTF-8 form of every kind of version: free choice written directly
// (streams in a row built two at a time when the caller names the next one,
// also with a numbered version or the other workspace in between, and a
// promised next stream that does not come) or through the text (corrected,
// or a piece with half a pair at its edge or a lone surrogate, whose "?" is
// no mark), numbered versions, all appended after what the output already
// holds.
TEST(RandomOrder, Utf8VersionsAreTheTextsEncoded) {
    using SyntaxStringGenerator::VersionTicket;
    std::string groups;
    for (int i = 0; i < 17; ++i) groups += "{a. b|größe|c,d|  e|. ɐ}";
    const std::string wide = "{ёж|\xF0\x9F\x98\x80 x|café|ıı. ſ}" + groups;
    const std::u16string lone = u"{x" + std::u16string(1, char16_t(0xDC01)) + u"y|z}";
    for (const std::u16string& templ : {U16(wide), U16("{\xF0\x9F\x98\x80|y}" + wide), U16("{a|é} [x|y]"),
                                        lone + U16(wide), U16("{ёж|x\xF0\x9F\x98\x80 x|café|ıı. ſ}" + groups)}) {
        CStringGenerator engine;
        ASSERT_TRUE(engine.LoadTemplate(templ).Ok()) << ToNarrow(templ);
        engine.SeedRandom(3);
        // Runs of three draws and a numbered version; a small template's
        // numbers run out, and the series ticket stays then.
        std::vector<VersionTicket> tickets;
        for (int i = 0; i < 50; ++i) {
            VersionTicket ticket = CStringGenerator::SeriesTicket(i);
            if (i % 4 != 3) engine.DrawRandomTicket(ticket);
            tickets.push_back(ticket);
        }
        SyntaxStringGenerator::CVersionWorkspace workspace, other;
        for (const AutoCorrectionOptions& options : {kOff, AutoCorrectionOptions{}}) {
            for (std::size_t i = 0; i < tickets.size(); ++i) {
                const VersionTicket& ticket = tickets[i];
                std::u16string text = u"ä";
                engine.AppendVersion(ticket, options, workspace, text);
                VersionTicket promised = ticket;
                ++promised.stream;
                const VersionTicket* next = i + 1 < tickets.size() ? &tickets[i + 1] : nullptr;
                if (i % 5 == 4) next = &promised;
                std::string bytes = "ä";
                engine.AppendVersionUtf8(ticket, options, i % 12 < 8 ? workspace : other, bytes, next);
                ASSERT_EQ(bytes, ToNarrow(text)) << ToNarrow(templ) << " #" << i;
            }
        }
    }
}

// ---- Property tests over randomly built templates ----

// Builds templates whose every alternative and separator is a distinct text,
// with choice and arrangement groups, default and own separators, groups
// inside separators, nesting and empty-free alternatives.
class CTemplateMaker {
public:
    explicit CTemplateMaker(unsigned seed) : rng_(seed) {}

    std::string Make() {
        next_ = 0;
        return Sequence(0);
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    std::string Token() { return "(" + std::to_string(next_++) + ")"; }

    std::string Sequence(int depth) {
        std::string s = Token();
        const int items = Pick(depth == 0 ? 4 : 3);
        for (int i = 0; i < items; ++i) {
            s += depth < 3 && Pick(3) > 0 ? Group(depth + 1) : Token();
        }
        return s;
    }

    std::string Separator(int depth) {
        return "<" + (depth < 3 && Pick(4) == 0 ? Token() + Group(depth + 1) : Token()) + ">";
    }

    std::string Group(int depth) {
        const bool square = Pick(2) == 0;
        const int n = 1 + Pick(square ? 4 : 3);
        std::string g = square ? "[" : "{";
        if (square && Pick(2) == 0) g += Separator(depth);
        for (int i = 0; i < n; ++i) {
            if (i) g += "|";
            g += Sequence(depth);
            if (square && i + 1 < n && Pick(3) == 0) g += Separator(depth);
        }
        return g + (square ? "]" : "}");
    }

    std::mt19937 rng_;
    int next_ = 0;
};

TEST(GenerationProperties, MatchesTheTemporaryTreeMethodAndIsDistinct) {
    CTemplateMaker maker(2024);
    int templatesWithArrangements = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string templ = maker.Make();
        const std::u16string text = U16(templ);
        ASSERT_TRUE(CheckSyntax(text).Ok()) << templ;

        const std::u16string prepared = reference::Distribute(u"{" + text + u"}");
        const auto refRoot = reference::CreateNode(0, prepared, static_cast<int>(prepared.size()) - 1, true);
        const double refCount = reference::Count(*refRoot);

        CStringGenerator engine;
        const LoadResult load = engine.LoadTemplate(text);
        ASSERT_EQ(load.errorKind, 0) << templ;
        ASSERT_EQ(load.versionCount, refCount) << templ;
        std::u16string ours;
        ASSERT_TRUE(SyntaxStringGenerator::DistributeSeparators(u"{" + text + u"}", ours, 1 << 20).Ok());
        ASSERT_EQ(ours, prepared) << templ;
        if (templ.find('[') != std::string::npos) ++templatesWithArrangements;

        // The engine reads numbers with the compiled walk; the tree's own walk
        // by number serves templates too large to compile.
        const auto root = SyntaxStringGenerator::BuildTemplateTree(0, prepared, static_cast<int>(prepared.size()) - 1);
        CRandom15 unused;
        const int64_t exhaustive = static_cast<int64_t>(std::min(refCount, 3000.0));
        std::set<std::u16string> distinct;
        std::u16string version, byTree;
        for (int64_t i = 0; i < exhaustive; ++i) {
            std::u16string expected;
            reference::Generate(*refRoot, static_cast<double>(i), expected, prepared, false, unused);
            engine.GenerateVersionInto(i, kOff, version);
            ASSERT_EQ(version, expected) << templ << " #" << i;
            byTree.clear();
            root->Generate(static_cast<double>(i), byTree, prepared, false, unused);
            ASSERT_EQ(byTree, expected) << templ << " #" << i;
            distinct.insert(version);
        }
        if (refCount <= 3000) {
            EXPECT_EQ(distinct.size(), static_cast<size_t>(refCount)) << templ;
        }

        // Sampled numbers of large templates.
        std::mt19937_64 pick(round);
        for (int s = 0; s < 50 && refCount > 3000; ++s) {
            const auto i = static_cast<int64_t>(std::uniform_real_distribution<double>(0, std::min(refCount, 9e15))(pick));
            std::u16string expected;
            reference::Generate(*refRoot, static_cast<double>(i), expected, prepared, false, unused);
            engine.GenerateVersionInto(i, kOff, version);
            ASSERT_EQ(version, expected) << templ << " #" << i;
        }

        // Free choice draws in the same order as the reference, in the tree
        // and in the compiled walk, also when it walks two versions in turn.
        const auto walk = SyntaxStringGenerator::CFreeChoiceWalk::Build(prepared);
        ASSERT_NE(walk, nullptr) << templ;
        ASSERT_TRUE(walk->HasUtf8()) << templ;
        SyntaxStringGenerator::CFreeChoiceScratch scratch, otherScratch;
        const auto seed = static_cast<uint32_t>(round);
        CRandom15 a(seed), b(seed), c(seed), d(seed), other(seed + 1), otherAlone(seed + 1);
        std::string pairFirsts, pairSeconds, seconds, expectedFirsts;
        for (int s = 0; s < 20; ++s) {
            std::u16string expected, actual, compiled = u"kept";
            reference::Generate(*refRoot, -1, expected, prepared, true, a);
            root->Generate(-1, actual, prepared, true, b);
            ASSERT_EQ(actual, expected) << templ;
            walk->Generate(compiled, c, scratch);
            ASSERT_EQ(compiled, u"kept" + expected) << templ;
            walk->GenerateUtf8Pair(pairFirsts, d, scratch, pairSeconds, other, otherScratch);
            walk->GenerateUtf8(seconds, otherAlone, scratch);
            expectedFirsts += ToNarrow(expected);
        }
        EXPECT_EQ(pairFirsts, expectedFirsts) << templ;
        EXPECT_EQ(pairSeconds, seconds) << templ;
    }
    EXPECT_GT(templatesWithArrangements, 150);
}

// Shapes the property templates leave out: empty alternatives and pieces,
// groups back to back, lone separator brackets, a last alternative's "<x>",
// groups at the very start and end, pieces longer than one copy block or
// too long to be joined with the alternatives before them, and
// counts past 2^53 and past n! in a double, where version numbers are read
// with rounded doubles. Free choice and version numbers, in UTF-16 and UTF-8.
TEST(GenerationProperties, CompiledWalkMatchesTheTreeOnEdgeShapes) {
    std::string wide = "[<, >";
    for (int i = 0; i < 30; ++i) wide += (i ? "|" : "") + std::string(i % 3 ? "w" : "{u|v}") + std::to_string(i);
    wide += "]";
    std::string deep;
    for (int i = 0; i < 70; ++i) deep += i % 7 ? "{a|bb|[c|d<;>|{e|f}]}" : "{x|{y|z}q}";
    const std::string templates[] = {
        "{a|}",          "{|}{|}",        "[a||b]",       "{}",         "[]",
        "[a|b|c<x>]",    "[<, >a|b|c]",   "[a<;>|b<,>|]", "x{a|b}{c|d}y",
        "{[a|b]|{c|{d|e}}}", "[<{1|2}>x|{y|z}<{3|4}>|w]", "a < b > c | d",
        "{aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa|b}ccccccccccccccccccccccccccccccccccc{d|eeeeeeeeeeeeeeeee}",
        "{ёж|café}größe{\xE2\x82\xAC|x}", "{\xF0\x9F\x98\x80|a}", "xy\xF0\x9F\x98\x80x{a|b}",
        "{a|b|c|d|e|f|g|h|i|j|k|l}{1|2[x|y]|3}", wide, deep, Square(172),
        "{x{a|b}" + std::string(70, 'p') + "|y}" + std::string(80, 'q') + "[m|n" + std::string(70, 'r') + "{s|t}]{u|v}",
    };
    for (const std::string& templ : templates) {
        const std::u16string text = U16(templ);
        ASSERT_TRUE(CheckSyntax(text).Ok()) << templ;
        std::u16string prepared = u"{";
        ASSERT_TRUE(SyntaxStringGenerator::DistributeSeparators(text, prepared, 1 << 20).Ok());
        prepared += u"}";
        const auto root = SyntaxStringGenerator::BuildTemplateTree(0, prepared, static_cast<int>(prepared.size()) - 1);
        const auto walk = SyntaxStringGenerator::CFreeChoiceWalk::Build(prepared);
        ASSERT_NE(root, nullptr) << templ;
        ASSERT_NE(walk, nullptr) << templ;
        SyntaxStringGenerator::CFreeChoiceScratch scratch;
        CRandom15 a(5), b(5), c(5);
        std::u16string expected, actual;
        std::string bytes, expectedBytes;
        for (int s = 0; s < 200; ++s) {
            const std::size_t begin = expected.size();
            root->Generate(-1, expected, prepared, true, a);
            walk->Generate(actual, b, scratch);
            expectedBytes += ToNarrow(std::u16string_view(expected).substr(begin));
            if (walk->HasUtf8()) walk->GenerateUtf8(bytes, c, scratch);
        }
        EXPECT_EQ(actual, expected) << templ;
        // Only a piece that begins or ends with half a pair has no UTF-8 form.
        EXPECT_EQ(walk->HasUtf8(), std::string_view(templ).find("\xF0") != 1) << templ;
        if (walk->HasUtf8()) {
            EXPECT_EQ(bytes, expectedBytes) << templ;
        }

        // Version numbers: the first ones, the last ones, past the count
        // (version 0 again), and spread up to the count.
        const double count = root->GetCount();
        std::vector<double> numbers{-3};
        for (double x = 0; x < 300 && x < count; ++x) numbers.push_back(x);
        for (const double x : {count - 2, count - 1, count, count + 7, 0x1p53 + 2, 1e18, 0x1p80, 1e300}) numbers.push_back(x);
        for (double x = 7; x < count; x = std::floor(x * 2.7)) numbers.push_back(x);
        for (const double x : numbers) {
            if (!(x < 1e301)) continue;
            std::u16string byTree = u"ab", compiled = u"ab";
            std::string compiledBytes = "ab";
            root->Generate(x, byTree, prepared, false, a);
            walk->GenerateNumber(x, compiled, scratch);
            ASSERT_EQ(compiled, byTree) << templ << " #" << x;
            if (walk->HasUtf8()) {
                walk->GenerateNumberUtf8(x, compiledBytes, scratch);
                ASSERT_EQ(compiledBytes, ToNarrow(byTree)) << templ << " #" << x;
            }
        }
    }
}

// Around 170 alternatives n! leaves the double range: the count is capped, so
// version numbers no longer split into an order and a rest, and past 170
// the order number has no finite radix at all.
TEST(GenerationProperties, WideArrangementGroupsMatchTheTemporaryTreeMethod) {
    for (const int n : {169, 170, 171, 172, 200}) {
        const std::string templ = "[<, >{x|y}|" + Square(n).substr(1);
        const std::u16string prepared = reference::Distribute(u"{" + U16(templ) + u"}");
        const auto refRoot = reference::CreateNode(0, prepared, static_cast<int>(prepared.size()) - 1, true);
        CStringGenerator engine;
        const LoadResult load = engine.LoadTemplate(U16(templ));
        ASSERT_EQ(load.errorKind, 0) << n;
        ASSERT_EQ(load.versionCount, reference::Count(*refRoot)) << n;
        CRandom15 unused;
        std::u16string version;
        for (const int64_t i : {int64_t{0}, int64_t{1}, int64_t{2}, int64_t{4321}, int64_t{1} << 40, int64_t{9} << 50}) {
            std::u16string expected;
            reference::Generate(*refRoot, static_cast<double>(i), expected, prepared, false, unused);
            engine.GenerateVersionInto(i, kOff, version);
            ASSERT_EQ(version, expected) << n << " #" << i;
        }
    }
}

TEST(GenerationProperties, RandomRunsNeverRepeatANumber) {
    CTemplateMaker maker(99);
    for (int round = 0; round < 100; ++round) {
        const std::u16string text = U16(maker.Make());
        CStringGenerator engine;
        engine.SeedRandom(static_cast<uint32_t>(round));
        const double count = engine.LoadTemplate(text).versionCount;
        if (count > 5000) continue;
        std::set<std::u16string> seen;
        std::u16string v;
        for (int i = 0; i < static_cast<int>(count); ++i) {
            ASSERT_TRUE(engine.GenerateRandomVersion(kOff, v));
            ASSERT_TRUE(seen.insert(v).second);
        }
        EXPECT_FALSE(engine.GenerateRandomVersion(kOff, v));
    }
}

}  // namespace
