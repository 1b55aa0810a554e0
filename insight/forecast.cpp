#include "insight/forecast.h"

#include "template_outline.h"
#include "engine/string_generator.h"
#include "postprocess/autocorrect.h"
#include "postprocess/shingle_pairs.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <unordered_set>

namespace {

using SyntaxStringGenerator::CStringGenerator;

// Up to this many versions a random run draws version numbers.
constexpr double kDistinctLimit = 1e10;
// The sampled versions of the main measurement stay within this many code
// units together, and so do those of the variety ranking.
constexpr double kSampleTextBudget = 4e6;
constexpr double kRankingTextBudget = 4e6;
constexpr int64_t kRankingPairs = 600;
constexpr double kZ95 = 1.959964;

bool Stopped(const ForecastOptions& options) { return options.stop && options.stop->load(); }

// Random versions of one template, drawn as a random run draws them.
class CVersionSampler {
public:
    CVersionSampler(std::u16string_view templ, uint64_t seed) : random_(seed) {
        ok_ = engine_.LoadTemplate(templ).Ok();
        engine_.SeedRandom(static_cast<uint32_t>(seed ^ (seed >> 32)));
        count_ = ok_ ? engine_.GetVersionCount() : 0;
    }

    bool Ok() const { return ok_; }
    double Count() const { return count_; }

    // A version and its number (-1 when every group chose freely).
    int64_t Draw(std::u16string& out) {
        if (count_ <= kDistinctLimit) {
            std::uniform_int_distribution<int64_t> number(0, static_cast<int64_t>(count_) - 1);
            const int64_t n = number(random_);
            engine_.GenerateVersionInto(n, AutoCorrectionOptions{}, out);
            return n;
        }
        engine_.GenerateRandomVersion(AutoCorrectionOptions{}, out);
        return -1;
    }

    std::mt19937_64& Random() { return random_; }

private:
    CStringGenerator engine_;
    std::mt19937_64 random_;
    bool ok_ = false;
    double count_ = 0;
};

struct CSample {
    std::vector<ShingleFingerprint> prints;
    std::vector<int64_t> numbers;
    double averageLength = 0;
};

// Versions for `pairs` pairs: two fresh versions per pair while the text
// budget allows, otherwise as many as it allows (at least enough for the
// pairs to be distinct), shared between pairs.
bool DrawSample(CVersionSampler& sampler, int64_t pairs, double budget, int shingleLength,
                const ForecastOptions& options, double progressFrom, double progressTo, CSample& sample) {
    std::u16string version;
    double totalLength = 0;
    const auto add = [&] {
        sample.numbers.push_back(sampler.Draw(version));
        sample.prints.push_back(MakeShingleFingerprint(version, shingleLength));
        totalLength += static_cast<double>(version.size());
    };
    for (int i = 0; i < 8; ++i) add();
    sample.averageLength = std::max(1.0, totalLength / 8);
    auto minimum = static_cast<int64_t>(std::ceil((1 + std::sqrt(1 + 4.0 * static_cast<double>(pairs))) / 2));
    const auto affordable = static_cast<int64_t>(budget / sample.averageLength);
    const int64_t wanted = std::max<int64_t>(8, std::min(2 * pairs, std::max(minimum, affordable)));
    while (static_cast<int64_t>(sample.prints.size()) < wanted) {
        if (Stopped(options)) return false;
        add();
        if (options.progress && sample.prints.size() % 64 == 0) {
            options.progress(progressFrom + (progressTo - progressFrom) * static_cast<double>(sample.prints.size()) /
                                                static_cast<double>(wanted));
        }
    }
    return true;
}

// The similarity of every pair: disjoint pairs when there are versions
// enough, otherwise random ordered pairs of different draws.
std::vector<int> PairSimilarities(const CSample& sample, int64_t pairs, std::mt19937_64& random) {
    std::vector<int> similarities;
    const auto m = static_cast<int64_t>(sample.prints.size());
    const auto similarity = [&](int64_t a, int64_t b) {
        return ShingleSimilarityPercent(sample.prints[static_cast<size_t>(a)], sample.prints[static_cast<size_t>(b)]);
    };
    const auto sameNumber = [&](int64_t a, int64_t b) {
        const int64_t na = sample.numbers[static_cast<size_t>(a)];
        return na >= 0 && na == sample.numbers[static_cast<size_t>(b)];
    };
    std::uniform_int_distribution<int64_t> pick(0, m - 1);
    for (int64_t i = 0; i < pairs; ++i) {
        if (m >= 2 * pairs && !sameNumber(2 * i, 2 * i + 1)) {
            similarities.push_back(similarity(2 * i, 2 * i + 1));
            continue;
        }
        // Two draws of the same version number are the same version: a run
        // never compares a version with itself.
        for (int attempt = 0; attempt < 64; ++attempt) {
            const int64_t a = pick(random);
            const int64_t b = pick(random);
            if (a == b || sameNumber(a, b)) continue;
            similarities.push_back(similarity(a, b));
            break;
        }
    }
    return similarities;
}

// A greedy "skip similar" pass over the sampled versions in draw order, each
// version number once: the attempts it made and the versions it kept. It
// stops early once its comparisons have merged kMergeBudget shingles.
constexpr double kMergeBudget = 1.5e8;

std::pair<double, double> GreedyPass(const CSample& sample, int allowedPercent) {
    std::vector<size_t> kept;
    std::unordered_set<int64_t> seen;
    double attempts = 0;
    double merged = 0;
    for (size_t i = 0; i < sample.prints.size() && merged < kMergeBudget; ++i) {
        const int64_t number = sample.numbers[i];
        if (number >= 0 && !seen.insert(number).second) continue;
        ++attempts;
        bool similar = false;
        for (const size_t k : kept) {
            merged += static_cast<double>(sample.prints[i].digests.size() + sample.prints[k].digests.size());
            if (ShingleSimilarityPercent(sample.prints[i], sample.prints[k]) > allowedPercent) {
                similar = true;
                break;
            }
        }
        if (!similar) kept.push_back(i);
    }
    return {attempts, static_cast<double>(kept.size())};
}

// The lambda for which ln(1 + lambda T) / lambda = kept, by bisection on a
// log scale; 0 when every attempt was kept.
double FitLambda(double attempts, double kept) {
    if (kept >= attempts) return 0;
    double lo = 1e-300;
    double hi = 1e300;
    for (int i = 0; i < 200; ++i) {
        const double mid = std::sqrt(lo * hi);
        const double keptAtMid = std::log1p(mid * attempts) / mid;
        if (keptAtMid > kept) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return std::sqrt(lo * hi);
}

double KeptWithLambda(double lambda, double count) {
    if (lambda <= 0) return count;
    return std::max(1.0, std::min(count, std::log1p(lambda * count) / lambda));
}

double Mean(const std::vector<int>& values) {
    if (values.empty()) return 0;
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

// The Wilson score interval of a share measured on n trials.
std::pair<double, double> WilsonInterval(double share, double n) {
    if (n <= 0) return {0, 1};
    const double z2 = kZ95 * kZ95;
    const double centre = (share + z2 / (2 * n)) / (1 + z2 / n);
    const double half = kZ95 * std::sqrt(share * (1 - share) / n + z2 / (4 * n * n)) / (1 + z2 / n);
    return {std::max(0.0, centre - half), std::min(1.0, centre + half)};
}

// The template with one group replaced by its first alternative, or for an
// arrangement group by its items in written order with their separators.
std::u16string FixGroup(const CTemplateOutline& outline, const COutlineGroup& g) {
    const std::u16string_view e = outline.Expanded();
    const auto text = [&](int32_t from, int32_t to) {
        return e.substr(static_cast<size_t>(from), static_cast<size_t>(std::max(0, to - from)));
    };
    std::u16string fixed(text(0, g.open));
    if (!g.arrangement) {
        fixed += text(g.alternatives[0].start, g.alternatives[0].end);
    } else {
        for (size_t i = 0; i < g.alternatives.size(); ++i) {
            const COutlineAlternative& alt = g.alternatives[i];
            fixed += text(alt.itemStart, alt.itemEnd);
            if (i + 1 == g.alternatives.size()) break;
            if (alt.ownSeparator) {
                fixed += text(alt.itemEnd + 1, alt.end - 1);
            } else if (g.defaultSeparatorOpen >= 0) {
                fixed += text(g.defaultSeparatorOpen + 1, g.defaultSeparatorClose);
            }
        }
    }
    fixed += text(g.close + 1, static_cast<int32_t>(e.size()));
    return fixed;
}

// The groups whose text spans the most, as the likeliest to add variety:
// groups with at least two alternatives that are not all alike.
std::vector<size_t> RankingCandidates(const CTemplateOutline& outline, size_t limit) {
    std::vector<size_t> candidates;
    const std::u16string_view e = outline.Expanded();
    for (size_t i = 0; i < outline.Groups().size(); ++i) {
        const COutlineGroup& g = outline.Groups()[i];
        if (g.alternatives.size() < 2) continue;
        const auto& a = g.alternatives;
        const bool alike = std::all_of(a.begin(), a.end(), [&](const COutlineAlternative& x) {
            return e.substr(static_cast<size_t>(x.itemStart), static_cast<size_t>(x.itemEnd - x.itemStart)) ==
                   e.substr(static_cast<size_t>(a[0].itemStart), static_cast<size_t>(a[0].itemEnd - a[0].itemStart));
        });
        if (!alike || g.arrangement) candidates.push_back(i);
    }
    std::stable_sort(candidates.begin(), candidates.end(), [&](size_t x, size_t y) {
        const COutlineGroup& a = outline.Groups()[x];
        const COutlineGroup& b = outline.Groups()[y];
        return a.close - a.open > b.close - b.open;
    });
    if (candidates.size() > limit) candidates.resize(limit);
    return candidates;
}

}  // namespace

double ForecastKeptVersions(double similarShare, double versionCount) {
    if (versionCount <= 1) return std::max(0.0, versionCount);
    if (similarShare <= 0) return versionCount;
    if (similarShare >= 1) return 1;
    const double lambda = -std::log1p(-similarShare);
    return std::min(versionCount, std::log1p(lambda * versionCount) / lambda);
}

CForecast ForecastTemplate(std::u16string_view editorText, const ForecastOptions& options) {
    CForecast result;
    const CTemplateOutline outline(editorText);
    const int shingleLength = std::max(1, options.shingleLength);
    const int64_t pairs = std::max<int64_t>(1, options.samples);
    CVersionSampler sampler(outline.Expanded(), options.seed);
    if (!sampler.Ok()) return result;
    result.versionCount = sampler.Count();
    result.fixedStretches = FixedStretches(editorText, 1);
    if (result.fixedStretches.size() > static_cast<size_t>(std::max(0, options.fixedStretches)))
        result.fixedStretches.resize(static_cast<size_t>(std::max(0, options.fixedStretches)));
    if (result.versionCount < 2) {
        result.ok = true;
        result.forecastKept = result.forecastLow = result.forecastHigh = result.versionCount;
        return result;
    }

    CSample sample;
    if (!DrawSample(sampler, pairs, kSampleTextBudget, shingleLength, options, 0.0, 0.5, sample)) {
        result.stopped = true;
        return result;
    }
    std::vector<int> similarities = PairSimilarities(sample, pairs, sampler.Random());
    result.versionsSampled = static_cast<int64_t>(sample.prints.size());
    result.pairs = static_cast<int64_t>(similarities.size());
    result.meanSimilarity = Mean(similarities);
    const auto similar = std::count_if(similarities.begin(), similarities.end(),
                                       [&](int s) { return s > options.allowedPercent; });
    std::sort(similarities.begin(), similarities.end());
    if (!similarities.empty()) {
        const size_t n = similarities.size();
        result.medianSimilarity =
            n % 2 ? similarities[n / 2] : (similarities[n / 2 - 1] + similarities[n / 2]) / 2.0;
        result.p95Similarity = similarities[static_cast<size_t>(std::ceil(0.95 * static_cast<double>(n))) - 1];
        result.similarShare = static_cast<double>(similar) / static_cast<double>(n);
    }
    // Pairs that share versions are not independent: the interval counts at
    // most one trial per sampled version.
    const double trials = std::min(static_cast<double>(result.pairs), static_cast<double>(result.versionsSampled));
    std::tie(result.similarShareLow, result.similarShareHigh) = WilsonInterval(result.similarShare, trials);
    // The independence model's rate, calibrated on a greedy pass over the
    // sample itself: kept versions repel each other, so a run keeps fewer than
    // independent pairs would let it. The interval of q scales the rate.
    const auto [attempts, kept] = GreedyPass(sample, options.allowedPercent);
    const double lambdaOf = -std::log1p(-std::min(result.similarShare, 1 - 1e-12));
    const double fitted = attempts >= result.versionCount ? 0 : FitLambda(attempts, kept);
    if (attempts >= result.versionCount) {
        result.forecastKept = result.forecastLow = result.forecastHigh = kept;
    } else if (fitted <= 0 || lambdaOf <= 0) {
        result.forecastKept = KeptWithLambda(fitted, result.versionCount);
        result.forecastLow = ForecastKeptVersions(result.similarShareHigh, result.versionCount);
        result.forecastHigh = ForecastKeptVersions(result.similarShareLow, result.versionCount);
    } else {
        const double lambdaLow = -std::log1p(-std::min(result.similarShareLow, 1 - 1e-12));
        const double lambdaHigh = -std::log1p(-std::min(result.similarShareHigh, 1 - 1e-12));
        result.forecastKept = KeptWithLambda(fitted, result.versionCount);
        result.forecastLow = KeptWithLambda(fitted * lambdaHigh / lambdaOf, result.versionCount);
        result.forecastHigh = KeptWithLambda(fitted * lambdaLow / lambdaOf, result.versionCount);
    }

    if (outline.Structured() && options.rankedGroups > 0) {
        const std::vector<size_t> candidates = RankingCandidates(outline, static_cast<size_t>(options.rankedGroups));
        const int64_t rankingPairs = std::min<int64_t>(pairs, kRankingPairs);
        for (size_t c = 0; c < candidates.size(); ++c) {
            if (Stopped(options)) {
                result.stopped = true;
                return result;
            }
            const COutlineGroup& g = outline.Groups()[candidates[c]];
            CVersionSampler fixedSampler(FixGroup(outline, g), options.seed + c + 1);
            if (!fixedSampler.Ok()) continue;
            CSample fixedSample;
            const double from = 0.5 + 0.5 * static_cast<double>(c) / static_cast<double>(candidates.size());
            const double to = 0.5 + 0.5 * static_cast<double>(c + 1) / static_cast<double>(candidates.size());
            if (!DrawSample(fixedSampler, rankingPairs, kRankingTextBudget / static_cast<double>(candidates.size()),
                            shingleLength, options, from, to, fixedSample)) {
                result.stopped = true;
                return result;
            }
            const double mean = Mean(PairSimilarities(fixedSample, rankingPairs, fixedSampler.Random()));
            const auto span = outline.EditorSpan(g.open, g.close + 1);
            result.groups.push_back({span.first, span.second, mean - result.meanSimilarity});
        }
        std::stable_sort(result.groups.begin(), result.groups.end(),
                         [](const CGroupVariety& a, const CGroupVariety& b) { return a.meanRise > b.meanRise; });
        // A group in a macro value used twice is one group of the editor text.
        std::vector<CGroupVariety> distinct;
        for (const CGroupVariety& g : result.groups) {
            if (std::none_of(distinct.begin(), distinct.end(), [&](const CGroupVariety& d) {
                    return d.selectionStart == g.selectionStart && d.selectionEnd == g.selectionEnd;
                }))
                distinct.push_back(g);
        }
        result.groups = std::move(distinct);
    }
    if (options.progress) options.progress(1.0);
    result.ok = true;
    return result;
}
