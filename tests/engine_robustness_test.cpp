#include "engine/string_generator.h"
#include "engine/template_check.h"
#include "template_tree.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace {

using SyntaxStringGenerator::CStringGenerator;
using SyntaxStringGenerator::LoadResult;

const AutoCorrectionOptions kOff = AutoCorrectionOptions::AllOff();
constexpr int kDeep = 100000;

std::u16string Repeat(std::u16string_view piece, int times) {
    std::u16string s;
    s.reserve(piece.size() * static_cast<size_t>(times));
    for (int i = 0; i < times; ++i) s.append(piece);
    return s;
}

TEST(Robustness, NestedOneHundredThousandLevels) {
    // {a|{a|{a|...b}}}: one more version per level.
    const std::u16string choice = Repeat(u"{a|", kDeep) + u"b" + Repeat(u"}", kDeep);
    EXPECT_TRUE(CheckSyntax(choice).Ok());
    EXPECT_TRUE(CheckTemplateText(choice).passed);
    CStringGenerator engine;
    ASSERT_EQ(engine.LoadTemplate(choice).versionCount, kDeep + 1);
    EXPECT_EQ(engine.GenerateVersion(kDeep, kOff), u"b");
    EXPECT_EQ(engine.GenerateVersion(kDeep - 1, kOff), u"a");
    std::u16string v;
    ASSERT_TRUE(engine.GenerateRandomVersion(kOff, v));
    EXPECT_EQ(v, u"a");  // number 0

    // Arrangement groups with default separators, each inside the previous.
    const std::u16string square = Repeat(u"[<;>x|", kDeep) + u"y" + Repeat(u"]", kDeep);
    const LoadResult load = engine.LoadTemplate(square);
    ASSERT_EQ(load.errorKind, 0);
    EXPECT_EQ(load.versionCount, 1.7e300);
    v = engine.GenerateVersion(0, kOff);
    EXPECT_EQ(v, Repeat(u"x;", kDeep) + u"y");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(engine.GenerateRandomVersion(kOff, v));
        EXPECT_EQ(std::count(v.begin(), v.end(), u'x'), kDeep);
    }

    // Deep defects are found without recursion too.
    EXPECT_EQ(CheckSyntax(Repeat(u"{", kDeep)).kind, kUnclosedBrace);
    const SyntaxResult r = CheckSyntax(Repeat(u"[", kDeep) + u"a>|b" + Repeat(u"]", kDeep));
    EXPECT_EQ(r.kind, kSeparatorBracket);
    EXPECT_EQ(r.position, kDeep + 2);
    EXPECT_EQ(CheckSyntax(Repeat(u"{[", kDeep) + Repeat(u"}]", kDeep)).kind, kExtraBraceInSquare);
}

TEST(Robustness, TenMegabytesWithTwoHundredThousandGroups) {
    std::u16string templ;
    templ.reserve(10'500'000);
    for (int i = 0; i < 200000; ++i) {
        templ += (i % 2 == 0) ? u"Some words {go here|stand there|[<, >red|green|blue]} and " : u"[<; >one|two] more ";
        templ.append(i % 4 == 0 ? 4 : 0, u'.');
    }
    while (templ.size() < 10'000'000) templ += u"Plain filler text without any groups at all. ";
    ASSERT_TRUE(CheckTemplateText(templ).passed);
    CStringGenerator engine;
    const LoadResult load = engine.LoadTemplate(templ);
    ASSERT_EQ(load.errorKind, 0);
    EXPECT_EQ(load.versionCount, 1.7e300);
    std::u16string v;
    engine.GenerateVersionInto(0, kOff, v);
    EXPECT_GT(v.size(), 5'000'000u);
    EXPECT_EQ(v.substr(0, 40), u"Some words go here and ....one; two more");
    ASSERT_TRUE(engine.GenerateRandomVersion(kOff, v));
    EXPECT_GT(v.size(), 5'000'000u);
}

TEST(Robustness, ArrangementOfOneThousandAlternatives) {
    std::u16string templ = u"[<,>";
    for (int i = 0; i < 1000; ++i) templ += (i ? u"|" : u"") + U16(std::to_string(i));
    templ += u"]";
    CStringGenerator engine;
    ASSERT_EQ(engine.LoadTemplate(templ).versionCount, 1.7e300);
    std::u16string ordered;
    for (int i = 0; i < 1000; ++i) ordered += (i ? u"," : u"") + U16(std::to_string(i));
    EXPECT_EQ(engine.GenerateVersion(0, kOff), ordered);
    // n! is not a double here: the number picks the order itself, whose first
    // items stay in place; version 1 swaps the last two.
    std::u16string swapped = ordered;
    swapped.replace(swapped.size() - 7, 7, u"999,998");
    EXPECT_EQ(engine.GenerateVersion(1, kOff), swapped);
    const auto sortedItems = [](const std::u16string& v) {
        std::vector<std::u16string> items;
        size_t from = 0;
        for (size_t p = v.find(u','); ; p = v.find(u',', from)) {
            items.push_back(v.substr(from, p == std::u16string::npos ? std::u16string::npos : p - from));
            if (p == std::u16string::npos) break;
            from = p + 1;
        }
        std::sort(items.begin(), items.end());
        return items;
    };
    const auto expectedItems = sortedItems(ordered);
    for (const int64_t index : {int64_t{123456789}, INT64_MAX}) {
        EXPECT_EQ(sortedItems(engine.GenerateVersion(index, kOff)), expectedItems) << index;
    }
    std::u16string v;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(engine.GenerateRandomVersion(kOff, v));  // above 10^10: a shuffle each time
        EXPECT_EQ(sortedItems(v), expectedItems);
    }
}

TEST(Robustness, FactorialsAroundTheLimitOfADouble) {
    for (const int n : {167, 168, 170, 171, 172}) {
        std::u16string templ = u"[";
        for (int i = 0; i < n; ++i) templ += (i ? u"|" : u"") + U16("{a|b}");
        templ += u"]";
        CStringGenerator engine;
        ASSERT_EQ(engine.LoadTemplate(templ).errorKind, 0);
        for (const int64_t index : {int64_t{0}, int64_t{1}, int64_t{987654321987}, INT64_MAX}) {
            const std::u16string v = engine.GenerateVersion(index, kOff);
            EXPECT_EQ(v.size(), static_cast<size_t>(n)) << n << " #" << index;
        }
    }
}

TEST(Robustness, BrokenTextDoesNotBreakTheEngine) {
    std::u16string decoded;
    EXPECT_FALSE(DecodeUtf8("{caf\xC3|b\xFF}", decoded));
    const std::u16string lossy = FromNarrowLossy("{caf\xC3|b\xFF}");
    CStringGenerator engine;
    ASSERT_EQ(engine.LoadTemplate(lossy).versionCount, 2);
    EXPECT_EQ(engine.GenerateVersion(1, kOff), u"b\uFFFD");

    const std::u16string lone{u'{', char16_t(0xD800), u'|', char16_t(0xDC01), u'x', u'}'};
    ASSERT_TRUE(CheckTemplateText(lone).passed);
    ASSERT_EQ(engine.LoadTemplate(lone).versionCount, 2);
    EXPECT_EQ(engine.GenerateVersion(0, AutoCorrectionOptions{}), std::u16string(1, char16_t(0xD800)));
    EXPECT_EQ(ToNarrow(engine.GenerateVersion(1, kOff)), "?x");

    // Nonsense indexes and a separator bracket soup.
    EXPECT_EQ(engine.GenerateVersion(-5, kOff), engine.GenerateVersion(0, kOff));
    for (const char16_t* soup : {u"[<<>|>|<]", u"[<|>]", u"<>[<>]<>", u"[<{]>|}]", u"[>|<|>]", u"[<[<]>]"}) {
        const LoadResult load = engine.LoadTemplate(soup);
        if (load.errorKind == 0) engine.GenerateVersion(1, kOff);
    }
}

TEST(Robustness, TreeBuildRefusesSpansThatAreNotGroups) {
    const std::u16string text = u"{a[b}c]";
    EXPECT_EQ(SyntaxStringGenerator::BuildTemplateTree(0, text, 4), nullptr);
    EXPECT_EQ(SyntaxStringGenerator::BuildTemplateTree(0, text, 6), nullptr);
    EXPECT_EQ(SyntaxStringGenerator::BuildTemplateTree(3, text, 2), nullptr);
    EXPECT_EQ(SyntaxStringGenerator::BuildTemplateTree(0, text, 99), nullptr);
    EXPECT_NE(SyntaxStringGenerator::BuildTemplateTree(2, u"x{[b|c]}", 6), nullptr);
}

}  // namespace

// The records stay within a few bytes per character for the densest shapes a
// template can take, so loading a large template needs a small multiple of
// its own size.
TEST(Robustness, TreeRecordsStaySmallPerCharacter) {
    const struct {
        const char16_t* unit;
        double maxBytesPerCharacter;
    } shapes[] = {
        {u"{|}", 8.1},          // empty choice groups
        {u"{a|b} ", 4.1},       // small choice groups in text
        {u"[<, >a|b|c] ", 4.1}, // arrangement groups with a default separator
        {u"[x<;>|y{p|q}<,>|z]", 6.1},
        {u"|", 4.1},            // alternatives of one wide group
    };
    for (const auto& shape : shapes) {
        std::u16string text = u"{";
        const bool bars = std::u16string_view(shape.unit) == u"|";
        if (bars) text += u"{";
        while (text.size() < 300000) text += shape.unit;
        if (bars) text += u"}";
        text += u"}";
        const auto tree = SyntaxStringGenerator::BuildTemplateTree(0, text, static_cast<int>(text.size()) - 1);
        ASSERT_NE(tree, nullptr);
        EXPECT_LE(static_cast<double>(tree->MemoryBytes()) / static_cast<double>(text.size()),
                  shape.maxBytesPerCharacter)
            << ToNarrow(shape.unit);
    }

    // Nesting 100,000 levels deep: one record per level.
    const int depth = 100000;
    const std::u16string nested = std::u16string(depth, u'{') + u"a|b" + std::u16string(depth, u'}');
    const auto tree = SyntaxStringGenerator::BuildTemplateTree(0, nested, static_cast<int>(nested.size()) - 1);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->GetCount(), 2);
    EXPECT_LE(tree->MemoryBytes(), size_t{depth} * 24);
}

TEST(Robustness, LoadStopsWhenAsked) {
    std::u16string text;
    while (text.size() < 3000000) text += u"{a|b} [<, >x|y] ";
    std::atomic<bool> stop{true};
    CStringGenerator engine;
    const LoadResult stopped = engine.LoadTemplate(text, &stop);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(stopped.Ok());
    EXPECT_EQ(engine.GetVersionCount(), -1);
    stop = false;
    const LoadResult load = engine.LoadTemplate(std::u16string(text), &stop);
    EXPECT_FALSE(load.stopped);
    EXPECT_TRUE(load.Ok());
}
