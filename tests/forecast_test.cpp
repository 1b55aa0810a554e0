// The uniqueness forecast: the pair statistics against a direct computation on
// templates whose similarities are known, and the forecast of kept versions
// against full "skip similar" runs that draw every version of small templates
// of different shapes.

#include "insight/forecast.h"

#include "engine/template_check.h"
#include "run/generation_run.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::u16string EditorText(std::u16string_view lf) {
    std::u16string out;
    for (const char16_t c : lf) {
        if (c == u'\n') out.push_back(u'\r');
        out.push_back(c);
    }
    return out;
}

TEST(ForecastTemplate, PairStatisticsOfKnownTemplates) {
    ForecastOptions options;
    options.shingleLength = 2;
    options.samples = 2000;
    // Two versions that share nothing: every pair of different versions scores 0.
    {
        const CForecast f = ForecastTemplate(u"{alpha beta gamma|delta epsilon zeta}", options);
        ASSERT_TRUE(f.ok);
        EXPECT_EQ(f.meanSimilarity, 0);
        EXPECT_EQ(f.similarShare, 0);
        EXPECT_EQ(f.forecastKept, 2);
    }
    // Identical texts from different numbers score 100: nothing but the first is kept.
    {
        const CForecast f = ForecastTemplate(u"{same words here|same words here}", options);
        ASSERT_TRUE(f.ok);
        EXPECT_EQ(f.meanSimilarity, 100);
        EXPECT_EQ(f.p95Similarity, 100);
        EXPECT_EQ(f.similarShare, 1);
        EXPECT_EQ(f.forecastKept, 1);
    }
    // "one two X": shingles "one two" and "two X"; two different versions
    // share exactly one of two: 50 each.
    {
        const CForecast f = ForecastTemplate(u"one two {a|b|c|d|e|f|g|h}", options);
        ASSERT_TRUE(f.ok);
        EXPECT_EQ(f.meanSimilarity, 50);
        EXPECT_EQ(f.medianSimilarity, 50);
        EXPECT_EQ(f.similarShare, 1);
        EXPECT_EQ(f.pairs, 2000);
    }
    // A single version: nothing to compare, one kept.
    {
        const CForecast f = ForecastTemplate(u"just this", options);
        ASSERT_TRUE(f.ok);
        EXPECT_EQ(f.forecastKept, 1);
    }
}

TEST(ForecastTemplate, RanksTheGroupThatCarriesTheTextFirst) {
    // The long group's versions share no shingle; the short one changes one word.
    const std::u16string templ =
        u"{red apples grow on tall trees in autumn|blue rivers run past quiet towns at night|"
        u"green hills roll under wide open summer skies} and {x|y}";
    ForecastOptions options;
    options.shingleLength = 2;
    options.samples = 1000;
    const CForecast f = ForecastTemplate(templ, options);
    ASSERT_TRUE(f.ok);
    ASSERT_EQ(f.groups.size(), 2u);
    EXPECT_EQ(f.groups[0].selectionStart, 0);
    EXPECT_EQ(f.groups[0].selectionEnd, static_cast<int32_t>(templ.find(u" and")));
    EXPECT_GT(f.groups[0].meanRise, 30);
    EXPECT_LT(f.groups[1].meanRise, f.groups[0].meanRise);
}

class CCountingSink final : public CRunSink {
public:
    void AppendVersions(std::vector<KeptVersion>&& batch) override { kept += static_cast<int64_t>(batch.size()); }
    int64_t kept = 0;
};

struct ValidationCase {
    const char* shape;
    std::u16string_view templ;
    int shingleLength;
    int percent;
};

// What a run with "skip similar" (shingles) keeps when it asks for every
// version in random order, averaged over a few seeds.
double KeptByFullRuns(const std::u16string& expanded, int shingleLength, int percent) {
    double total = 0;
    const int runs = 3;
    for (int seed = 1; seed <= runs; ++seed) {
        CGenerationRun run;
        CCountingSink sink;
        RunRequest request;
        request.templateText = expanded;
        request.options.randomOrder = true;
        request.options.skipSimilar = true;
        request.options.autoCorrection = true;
        request.versionsWanted = int64_t{1} << 40;
        request.deleting = {1, shingleLength, percent};
        request.seed = static_cast<uint32_t>(seed);
        run.RunGeneration(request, sink);
        total += static_cast<double>(sink.kept);
    }
    return total / runs;
}

// The README's table of forecast errors comes from this test's output.
TEST(ForecastTemplate, KeptVersionsAgainstFullRuns) {
    const std::vector<ValidationCase> cases = {
        {"one sentence, six choice groups of three",
         u"{The|This|Our} {small|tiny|little} {shop|store|stall} {sells|offers|has} {fresh|local|good} "
         u"{bread|cheese|fruit} every morning.",
         3, 20},
        {"long fixed text, three groups",
         u"Our bakery opens at seven every day and closes when the last loaf is sold, which is usually "
         u"in the early afternoon. {Come early|Arrive soon|Be quick} for the {best|freshest|warmest} "
         u"{choice|pick|selection}.",
         3, 20},
        {"arrangement of five items",
         u"We stock [<, >apples from the valley|pears from the hills|plums from the south|cherries in "
         u"June|grapes in autumn].",
         3, 20},
        {"nested choices of uneven size",
         u"{Visit {us|our shop} {today|this week}|Come and see the {new|updated} {range|collection} "
         u"{in store|online|at the market}|Call us} {for a discount|to learn more}.",
         2, 30},
        {"twelve binary groups",
         u"{A|The} {quick|fast} {brown|red} {fox|dog} {jumps|leaps} {over|past} {the|a} {lazy|sleepy} "
         u"{dog|cat} {in|near} {the|our} {garden|yard}.",
         4, 20},
        {"default shingles, two sentences",
         u"{Fresh|Crisp|Ripe} apples {and|or} {pears|plums} {from|grown on} {our|the} {farm|orchard}. "
         u"{Order|Buy} {now|today} {and|to} {save|get} {ten|twenty} per cent {off|on every box}.",
         7, 20},
    };
    for (const ValidationCase& c : cases) {
        const std::u16string editor = EditorText(c.templ);
        const TemplateCheckResult check = CheckTemplateText(editor);
        ASSERT_TRUE(check.passed) << c.shape;
        ForecastOptions options;
        options.shingleLength = c.shingleLength;
        options.allowedPercent = c.percent;
        const CForecast f = ForecastTemplate(editor, options);
        ASSERT_TRUE(f.ok) << c.shape;
        const double actual = KeptByFullRuns(check.templateText, c.shingleLength, c.percent);
        const double error = (f.forecastKept - actual) / actual;
        std::printf("| %s | %.0f | %.3f | %.0f (%.0f .. %.0f) | %.1f | %+.0f%% |\n", c.shape, f.versionCount,
                    f.similarShare, f.forecastKept, f.forecastLow, f.forecastHigh, actual, 100 * error);
        EXPECT_LT(std::abs(error), 0.5) << c.shape;
    }
}

}  // namespace
