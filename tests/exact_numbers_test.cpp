// Exact version counts and exact version numbers: counts of templates built
// from known parts against the product and sum of those parts, the exact walk
// against the double walk on every number of random small templates, and
// series numbers past 2^53 that stay distinct and in order.

#include "exact_counts.h"
#include "template_tree.h"

#include "engine/string_generator.h"
#include "run/generation_run.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

namespace {

using SyntaxStringGenerator::CExactCounts;
using SyntaxStringGenerator::CStringGenerator;

mpz_class Factorial(unsigned long n) {
    mpz_class f;
    mpz_fac_ui(f.get_mpz_t(), n);
    return f;
}

std::u16string Digits(unsigned n) {
    const std::string narrow = std::to_string(n);
    return std::u16string(narrow.begin(), narrow.end());
}

// A choice group of n numbered alternatives.
std::u16string Choice(unsigned n) {
    std::u16string g = u"{";
    for (unsigned i = 0; i < n; ++i) g += (i ? u"|" : u"") + Digits(i);
    return g + u"}";
}

TEST(ExactVersionCount, MatchesTheProductOfTheTemplatesParts) {
    struct Case {
        std::u16string templ;
        mpz_class expected;
    };
    std::vector<Case> cases;
    // 1200 groups of three: 3^1200, far past the double cap of 1.7e300.
    {
        std::u16string t;
        for (int i = 0; i < 1200; ++i) t += Choice(3) + u" ";
        mpz_class e;
        mpz_ui_pow_ui(e.get_mpz_t(), 3, 1200);
        cases.push_back({t, e});
    }
    // An arrangement of 200 items, each a choice of 2: 200! * 2^200.
    {
        std::u16string t = u"[<, >";
        for (int i = 0; i < 200; ++i) t += (i ? u"|" : u"") + Digits(i) + Choice(2);
        t += u"]";
        mpz_class two200;
        mpz_ui_pow_ui(two200.get_mpz_t(), 2, 200);
        cases.push_back({t, Factorial(200) * two200});
    }
    // Sums inside products: {x{a|b}|y|z{c|d|e}} is 2 + 1 + 3, times [p|q{r|s}]
    // with 2! * 2, times groups inside a separator: [a<{x|y}>|b] is 2 * 2.
    cases.push_back({u"{x{a|b}|y|z{c|d|e}} [p|q{r|s}] [a<{x|y}>|b]", mpz_class(6 * 4 * 4)});
    cases.push_back({u"", mpz_class(1)});
    cases.push_back({u"{a|}{|}", mpz_class(4)});
    // Mixed sizes: the product of n over n = 2 .. 40, and 30!.
    {
        std::u16string t;
        mpz_class e = 1;
        for (unsigned n = 2; n <= 40; ++n) {
            t += Choice(n);
            e *= n;
        }
        t += u"[";
        for (int i = 0; i < 30; ++i) t += (i ? u"|" : u"") + Digits(static_cast<unsigned>(i));
        t += u"]";
        cases.push_back({t, e * Factorial(30)});
    }
    for (const Case& c : cases) {
        CStringGenerator engine;
        ASSERT_TRUE(engine.LoadTemplate(c.templ).Ok());
        EXPECT_EQ(engine.GetExactVersionCount(), c.expected) << ToNarrow(c.templ.substr(0, 60));
        if (c.expected < mpz_class(1L << 53)) EXPECT_EQ(engine.GetVersionCount(), c.expected.get_d());
    }
}

// A random small template: text, choice groups and arrangement groups with
// default and own separators, groups inside items and separators.
std::u16string RandomTemplate(std::mt19937& random, int depth) {
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::u16string t;
    const int parts = 1 + pick(3);
    for (int p = 0; p < parts; ++p) {
        const int kind = depth > 2 ? 0 : pick(3);
        if (kind == 0) {
            t += static_cast<char16_t>(u'a' + pick(26));
            continue;
        }
        const int n = 1 + pick(kind == 1 ? 4 : 3);
        t += kind == 1 ? u"{" : u"[";
        if (kind == 2 && pick(2)) t += u"<, >";
        for (int i = 0; i < n; ++i) {
            if (i) t += u"|";
            if (pick(5)) t += RandomTemplate(random, depth + 1);
            if (kind == 2 && i + 1 < n && pick(3) == 0) t += u"<" + (pick(2) ? RandomTemplate(random, depth + 1) : u";") + u">";
        }
        t += kind == 1 ? u"}" : u"]";
    }
    return t;
}

TEST(ExactVersions, ExactWalkEqualsTheDoubleWalkOnEveryNumber) {
    std::mt19937 random(20261209);
    int checked = 0;
    for (int round = 0; round < 250; ++round) {
        const std::u16string templ = RandomTemplate(random, 0);
        std::u16string prepared = u"{";
        if (!SyntaxStringGenerator::DistributeSeparators(templ, prepared, 1 << 20).Ok()) continue;
        prepared += u"}";
        if (!CheckSyntax(templ).Ok() || !CheckSyntax(prepared).Ok()) continue;
        const auto tree =
            SyntaxStringGenerator::BuildTemplateTree(0, prepared, static_cast<int>(prepared.size()) - 1);
        ASSERT_NE(tree, nullptr) << ToNarrow(templ);
        const CExactCounts exact(prepared);
        ASSERT_EQ(exact.Count().get_d(), tree->GetCount()) << ToNarrow(templ);
        const long count = exact.Count().get_si();
        CRandom15 rng(1);
        for (long i = 0; i < std::min(count, 1000L); ++i) {
            std::u16string byDouble;
            std::u16string byExact;
            tree->Generate(static_cast<double>(i), byDouble, prepared, false, rng);
            exact.Generate(i, byExact);
            ASSERT_EQ(ToNarrow(byExact), ToNarrow(byDouble)) << ToNarrow(templ) << " number " << i;
            ++checked;
        }
    }
    EXPECT_GT(checked, 5000);
}

// 64 binary digits after an arrangement of three: version K is the order
// number K mod 6 followed by the bits of K / 6, least significant first.
std::u16string ExpectedVersion(mpz_class k) {
    static const char16_t* const orders[] = {u"xyz", u"xzy", u"yxz", u"zxy", u"yzx", u"zyx"};
    const mpz_class order = k % 6;
    k /= 6;
    std::u16string out = orders[order.get_ui()];
    for (int bit = 0; bit < 64; ++bit) {
        out += mpz_tstbit(k.get_mpz_t(), static_cast<mp_bitcnt_t>(bit)) ? u'1' : u'0';
    }
    return out;
}

std::u16string BitsTemplate() {
    std::u16string t = u"[x|y|z]";
    for (int bit = 0; bit < 64; ++bit) t += u"{0|1}";
    return t;
}

TEST(ExactVersions, SeriesNumbersPast2To53AreExactDistinctAndInOrder) {
    CStringGenerator engine;
    ASSERT_TRUE(engine.LoadTemplate(BitsTemplate()).Ok());
    const mpz_class count = engine.GetExactVersionCount();
    mpz_class two64;
    mpz_ui_pow_ui(two64.get_mpz_t(), 2, 64);
    ASSERT_EQ(count, 6 * two64);

    const AutoCorrectionOptions off = AutoCorrectionOptions::AllOff();
    std::u16string v;
    const mpz_class two53 = mpz_class(1L << 53);
    std::set<std::u16string> seen;
    for (const mpz_class& base : std::vector<mpz_class>{two53 - 50, two53 * 6 - 50, count - 100}) {
        for (int j = 0; j < 100; ++j) {
            const mpz_class k = base + j;
            ASSERT_TRUE(engine.GenerateExactVersionInto(k, off, v));
            EXPECT_EQ(ToNarrow(v), ToNarrow(ExpectedVersion(k))) << k.get_str();
            seen.insert(v);
        }
    }
    EXPECT_EQ(seen.size(), 300u);
    EXPECT_FALSE(engine.GenerateExactVersionInto(count, off, v));
    EXPECT_TRUE(v.empty());
    EXPECT_FALSE(engine.GenerateExactVersionInto(-1, off, v));
}

class CCollectingSink final : public CRunSink {
public:
    void AppendVersions(std::vector<KeptVersion>&& batch) override {
        for (auto& v : batch) texts.push_back(std::move(v.text));
    }
    std::vector<std::u16string> texts;
};

TEST(ExactVersions, SeriesRunFromANumberPast2To64) {
    CGenerationRun run;
    CCollectingSink sink;
    RunRequest request;
    request.templateText = BitsTemplate();
    request.options.randomOrder = false;
    request.versionsWanted = 10;
    mpz_class two64;
    mpz_ui_pow_ui(two64.get_mpz_t(), 2, 64);
    const mpz_class count = 6 * two64;
    // Eight versions are left from count - 8 on: the run stops after them.
    request.firstIndex = count - 8;
    run.RunGeneration(request, sink);
    ASSERT_EQ(sink.texts.size(), 8u);
    for (int j = 0; j < 8; ++j) EXPECT_EQ(ToNarrow(sink.texts[j]), ToNarrow(ExpectedVersion(count - 8 + j)));

    sink.texts.clear();
    request.firstIndex = two64 + 12345;
    run.RunGeneration(request, sink);
    ASSERT_EQ(sink.texts.size(), 10u);
    for (int j = 0; j < 10; ++j) EXPECT_EQ(ToNarrow(sink.texts[j]), ToNarrow(ExpectedVersion(two64 + 12345 + j)));
}

}  // namespace
