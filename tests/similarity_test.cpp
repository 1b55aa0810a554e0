#include "postprocess/similarity.h"
#include "similarity_index.h"

#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

namespace {

// The shingles method as written: normalisation by repeated find and erase,
// shingle sets with their texts, and every candidate compared with every kept
// record in turn.
namespace reference {

NormalizedText Normalize(std::string t) {
    std::size_t gt = t.find('>');
    while (gt != std::string::npos) {
        const std::size_t lt = t.rfind('<', gt);
        if (lt != std::string::npos) {
            t.erase(lt, gt - lt + 1);
            if (t.empty() || lt >= t.size()) break;
            gt = t.find('>', lt);
        } else {
            if (gt + 1 == t.size()) break;
            gt = t.find('>', gt + 1);
        }
    }
    for (char& c : t)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    std::erase_if(t, [](char c) { return std::string_view(".,!?:;-()").find(c) != std::string_view::npos; });
    for (std::string_view word : StopWords) {
        const std::string pattern = " " + std::string(word) + " ";
        for (int pass = 0; pass < 2; ++pass) {
            std::size_t at = 0;
            while ((at = t.find(pattern, at)) != std::string::npos) {
                t.replace(at, pattern.size(), " ");
                at += 1;
            }
        }
    }
    for (char c : {' ', '\t', '\r', '\n'}) {
        while (!t.empty() && t.back() == c) t.pop_back();
        while (!t.empty() && t.front() == c) t.erase(0, 1);
    }
    std::string collapsed;
    for (char c : t)
        if (c != ' ' || collapsed.empty() || collapsed.back() != ' ') collapsed.push_back(c);
    NormalizedText r;
    r.wordCount = collapsed.empty() ? 0 : static_cast<int>(std::count(collapsed.begin(), collapsed.end(), ' ')) + 1;
    r.text = collapsed;
    return r;
}

std::set<std::string> Shingles(const NormalizedText& n, int L) {
    std::set<std::string> set;
    if (n.text.empty()) return set;
    if (n.wordCount <= L) {
        set.insert(n.text);
        return set;
    }
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= n.text.size(); ++i) {
        if (i == n.text.size() || n.text[i] == ' ') {
            words.push_back(n.text.substr(start, i - start));
            start = i + 1;
        }
    }
    for (std::size_t i = 0; i + L <= words.size(); ++i) {
        std::string s = words[i];
        for (int k = 1; k < L; ++k) s += " " + words[i + k];
        set.insert(s);
    }
    return set;
}

struct Store {
    std::vector<std::set<std::string>> records;

    bool TestAndRemember(const std::string& lowered, int L, int P) {
        std::set<std::string> candidate = Shingles(Normalize(lowered), L);
        const std::size_t n = candidate.size();
        if (n > 0) {
            for (const auto& kept : records) {
                std::size_t c = 0;
                for (const auto& s : candidate) c += kept.count(s);
                const int similarity = static_cast<int>(std::trunc(static_cast<double>(c) / n * 100));
                if (similarity > P) return false;
            }
        }
        records.push_back(std::move(candidate));
        return true;
    }
};

}  // namespace reference

bool Keep(ShingleStore& store, const std::string& text, int L, int P, int64_t index = 0) {
    return TestAndRemember(store, index, LowerCaseNarrow(U16(text)), L, P);
}

NormalizedText Normalized(const std::string& text) { return NormalizeForShingles(LowerCaseNarrow(U16(text))); }

TEST(Digest, Md5AndExactKeys) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("hello world"), "5eb63bbbe01eeed093cb22bb8f5acdc3");
    EXPECT_EQ(ExactKey(u"hello world"), "11" + Md5Hex("hello world"));
    // Length in UTF-16 code units, digest over the UTF-8 bytes.
    EXPECT_EQ(ExactKey(u"ёж\U00010400"), "4" + Md5Hex("ёж\xF0\x90\x90\x80"));
    EXPECT_EQ(ExactKeyText(ExactKeyOf(u"")), "0d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Similarity, ExactMethod) {
    SimilarityState state;
    const DeletingOptions exact{0, 7, 20};
    EXPECT_TRUE(IsNewVersion(state, u"Hello", 0, exact));
    EXPECT_TRUE(IsNewVersion(state, u"hello", 1, exact));
    EXPECT_FALSE(IsNewVersion(state, u"Hello", 2, exact));
    EXPECT_TRUE(IsNewVersion(state, u"Hello ", 3, exact));
    EXPECT_TRUE(IsNewVersion(state, u"", 4, exact));
    EXPECT_FALSE(IsNewVersion(state, u"", 5, exact));
    EXPECT_EQ(state.Kept().exactKeys.Size(), 4u);
    // Enough keys to make the table grow several times: all are still found.
    for (int i = 0; i < 5000; ++i) EXPECT_TRUE(IsNewVersion(state, U16("v" + std::to_string(i)), i, exact));
    for (int i = 0; i < 5000; i += 7) EXPECT_FALSE(IsNewVersion(state, U16("v" + std::to_string(i)), i, exact));
    EXPECT_GT(state.ApproximateBytes(), 5000u * sizeof(ExactKeyDigest));
    ClearSimilarityState(state);
    EXPECT_TRUE(IsNewVersion(state, u"Hello", 0, exact));  // a new run forgets the old one
}

TEST(Similarity, UnknownMethodKeepsNothing) {
    SimilarityState state;
    EXPECT_FALSE(IsNewVersion(state, u"a b c", 0, DeletingOptions{2, 7, 20}));
    EXPECT_FALSE(IsNewVersion(state, u"a b c", 0, DeletingOptions{-1, 7, 20}));
    EXPECT_EQ(state.Kept().exactKeys.Size(), 0u);
    EXPECT_EQ(state.Kept().shingles.Size(), 0u);
}

TEST(Similarity, Normalisation) {
    auto text = [](const std::string& s) { return Normalized(s).text; };
    EXPECT_EQ(text("<b>bold</b> text"), "bold text");
    EXPECT_EQ(text("x > y"), "x > y");
    EXPECT_EQ(text("a<b c>d"), "ad");
    EXPECT_EQ(text("a < b < c > d > e"), "a e");
    EXPECT_EQ(text("red-green (x)"), "redgreen x");
    EXPECT_EQ(text("Hello, World!"), "hello world");
    EXPECT_EQ(text("ПРИВЕТ Мир"), "привет мир");
    EXPECT_EQ(text("кот и и пёс"), "кот пёс");
    EXPECT_EQ(text("и кот"), "и кот");
    EXPECT_EQ(text("кот и и и и пёс"), "кот и пёс");  // two passes per stop word, no more
    EXPECT_EQ(text("it's \"so\""), "it's \"so\"");
    const NormalizedText tabs = Normalized("Tab\there\r\nnew");
    EXPECT_EQ(tabs.text, "tab here new");
    EXPECT_EQ(tabs.wordCount, 3);
    const NormalizedText empty = Normalized("!!! ...");
    EXPECT_EQ(empty.text, "");
    EXPECT_EQ(empty.wordCount, 0);
    EXPECT_EQ(Normalized("word").wordCount, 1);
}

TEST(Similarity, NormalisationMatchesTheStepsAsWritten) {
    const std::vector<std::string> pieces = {" ",  "  ", "\t", "\r\n", "<",   ">",  "<b>", "</p>", ".",  ",", "-",
                                             "(",  "!",  "?",  "и",    "и",   "а",  "не",  "это",  "с",  "кот",
                                             "dog", "x", "'",  "чтобы", "ж", "о"};
    std::mt19937 rng(77);
    for (int iteration = 0; iteration < 30000; ++iteration) {
        std::string s;
        const int count = static_cast<int>(rng() % 25);
        for (int i = 0; i < count; ++i) s += pieces[rng() % pieces.size()];
        const NormalizedText expected = reference::Normalize(s);
        const NormalizedText actual = NormalizeForShingles(s);
        ASSERT_EQ(actual.text, expected.text) << "input: [" << s << "]";
        ASSERT_EQ(actual.wordCount, expected.wordCount) << "input: [" << s << "]";
    }
}

TEST(Similarity, Shingles) {
    const ShingleSet three = BuildShingles("a b c a b", 5, 2);
    ASSERT_EQ(three.size(), 3u);  // "a b" twice counts once
    EXPECT_TRUE(std::is_sorted(three.begin(), three.end()));
    for (const Shingle& s : three) EXPECT_EQ(s.digest, Md5(s.text));
    const ShingleSet whole = BuildShingles("one two three", 3, 7);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].text, "one two three");
    EXPECT_TRUE(BuildShingles("", 0, 7).empty());
    EXPECT_EQ(BuildShingles("a b c", 3, 0).size(), 3u);  // a length below 1 counts as 1
}

TEST(Similarity, ShinglesMethodThresholds) {
    {
        ShingleStore store;
        EXPECT_TRUE(Keep(store, "red green white", 2, 20));
        EXPECT_FALSE(Keep(store, "red green blue black", 2, 20));  // 1 of 3: 33
    }
    {
        ShingleStore store;
        EXPECT_TRUE(Keep(store, "red green white", 2, 40));
        EXPECT_TRUE(Keep(store, "red green blue black", 2, 40));
    }
    {
        ShingleStore store;  // reversed: 1 of 2 gives 50
        EXPECT_TRUE(Keep(store, "red green blue black", 2, 49));
        EXPECT_FALSE(Keep(store, "red green white", 2, 49));
    }
    {
        ShingleStore store;
        EXPECT_TRUE(Keep(store, "red green blue black", 2, 50));
        EXPECT_TRUE(Keep(store, "red green white", 2, 50));
    }
    {
        ShingleStore store;
        EXPECT_TRUE(Keep(store, "Hello, World!", 7, 99));
        EXPECT_FALSE(Keep(store, "hello world", 7, 99));
        EXPECT_EQ(store.Size(), 1u);
    }
    {
        ShingleStore store;  // five words under a length of 7: one shingle each
        EXPECT_TRUE(Keep(store, "one two three four five", 7, 20));
        EXPECT_TRUE(Keep(store, "one two three four six", 7, 20));
        EXPECT_FALSE(Keep(store, "One, two: three four five.", 7, 20));
    }
}

TEST(Similarity, PercentTruncatesTheDoubleQuotient) {
    // 100 distinct one-word shingles, 29 of them kept before: 29 / 100 * 100 is
    // 28.999..., which truncates to 28.
    std::string kept, candidate;
    for (int i = 0; i < 100; ++i) candidate += "w" + std::to_string(i) + " ";
    for (int i = 0; i < 29; ++i) kept += "w" + std::to_string(i) + " ";
    kept += "other";
    for (int P : {28, 27}) {
        ShingleStore store;
        EXPECT_TRUE(Keep(store, kept, 1, P));
        EXPECT_EQ(Keep(store, candidate, 1, P), P == 28) << P;
    }
    for (int P : {20, 19}) {  // 1 of 5 gives 20, which is not above 20
        ShingleStore store;
        EXPECT_TRUE(Keep(store, "a x y", 1, P));
        EXPECT_EQ(Keep(store, "a b c d e", 1, P), P == 20) << P;
    }
}

TEST(Similarity, EmptyNormalisedTextAndOddPercents) {
    ShingleStore store;
    EXPECT_TRUE(Keep(store, "!!! ...", 7, 20));
    EXPECT_TRUE(Keep(store, "!!! ...", 7, 20));  // never similar, even to itself
    EXPECT_TRUE(Keep(store, "a b", 7, 20));       // shares nothing with empty records
    EXPECT_EQ(store.Size(), 3u);
    // Below zero even nothing in common is too much; an empty text still stays.
    EXPECT_FALSE(Keep(store, "c d", 7, -1));
    EXPECT_TRUE(Keep(store, "--", 7, -1));
    // From 100 on nothing is ever similar.
    EXPECT_TRUE(Keep(store, "a b", 7, 100));
    ShingleStore fresh;
    EXPECT_TRUE(Keep(fresh, "c d", 7, -1));  // nothing kept yet
}

TEST(Similarity, ShinglesStateClearsBetweenRuns) {
    SimilarityState state;
    const DeletingOptions shingles{1, 2, 20};
    EXPECT_TRUE(IsNewVersion(state, u"кот пёс дом", 0, shingles));
    EXPECT_FALSE(IsNewVersion(state, u"Кот, пёс и дом", 1, shingles));
    EXPECT_GT(state.ApproximateBytes(), 0u);
    ClearSimilarityState(state);
    EXPECT_EQ(state.Kept().shingles.Size(), 0u);
    EXPECT_TRUE(IsNewVersion(state, u"Кот, пёс и дом", 2, shingles));
}

// Runs of random versions over small vocabularies, so that similar versions
// really occur: the indexed store keeps exactly the versions that comparing
// with every kept record keeps, whether common shingles are held in lists or
// in bitmaps.
TEST(Similarity, IndexedStoreMatchesPairwiseComparison) {
    const std::vector<std::string> vocabulary = {"red", "green", "blue", "и", "кот", "пёс", "a", "b",
                                                 "c",   "dog",   "cat",  "не", "x", "y", "z", "w"};
    std::mt19937 rng(4242);
    const int lengths[] = {1, 2, 3, 4, 7};
    const int percents[] = {-5, 0, 10, 20, 33, 50, 80, 99, 100};
    int kept = 0, rejected = 0;
    for (int run = 0; run < 300; ++run) {
        const int L = lengths[rng() % std::size(lengths)];
        const int P = percents[rng() % std::size(percents)];
        const std::size_t vocab = 3 + rng() % (vocabulary.size() - 3);
        const int maxWords = 1 + static_cast<int>(rng() % 14);
        ShingleStore fast;
        ShingleStore bitmaps(2);  // common shingles indexed by bitmaps from the start
        reference::Store slow;
        for (int i = 0; i < 150; ++i) {
            std::string text;
            const int words = static_cast<int>(rng() % (maxWords + 1));
            for (int k = 0; k < words; ++k) {
                text += vocabulary[rng() % vocab];
                text += (rng() % 6 == 0) ? ", " : " ";
            }
            const std::string lowered = LowerCaseNarrow(U16(text));
            const bool expected = slow.TestAndRemember(lowered, L, P);
            ASSERT_EQ(fast.TestAndRemember(i, lowered, L, P), expected)
                << "run " << run << " version " << i << " L " << L << " P " << P << ": " << text;
            ASSERT_EQ(bitmaps.TestAndRemember(i, lowered, L, P), expected)
                << "bitmaps: run " << run << " version " << i << " L " << L << " P " << P << ": " << text;
            (expected ? kept : rejected)++;
        }
        ASSERT_EQ(fast.Size(), slow.records.size());
    }
    EXPECT_GT(kept, 1000);
    EXPECT_GT(rejected, 1000);
}

}  // namespace
