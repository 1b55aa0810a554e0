// The uniqueness forecast: how alike a template's versions read, measured on
// random pairs of versions with the shingles test that a run's "skip similar"
// uses, and how many versions such a run can keep before it saturates; which
// groups add the most variety, and the longest text every version shares.
//
//   ForecastOptions options;          // shingle length 7, percent 20
//   CForecast forecast = ForecastTemplate(editorText, options);  // a text that passed the check
//   if (forecast.ok) Show(forecast.meanSimilarity, forecast.forecastKept);
//
// Versions are drawn as a random run draws them: uniformly among the version
// numbers while the template has at most 10^10 versions, by a free choice in
// every group above that; each is auto-corrected with every rule on, as a
// default run does. The pairs come from a sample of versions whose total
// length stays within a budget, so a long template costs about the same as a
// short one; every pair compares two different draws.
// The forecast of kept versions assumes that a new version is similar to each
// kept one independently, with the measured similar share q: after n kept
// versions a new one is kept with probability (1-q)^n, so a run that draws all
// C versions keeps about ln(1 + lambda C) / lambda of them, lambda = -ln(1-q).
// Low and high come from the 95% interval of q.
// Thread safety: a pure function; stop may be set from any thread, and the
// forecast then returns soon with stopped set.
#pragma once

#include "insight/lint.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ForecastOptions {
    int32_t shingleLength = 7;
    int32_t allowedPercent = 20;
    // Pairs of versions to compare; 9604 gives a similar share within one
    // percentage point at 95% confidence.
    int64_t samples = 9604;
    uint64_t seed = 1;
    int32_t rankedGroups = 10;  // groups in the variety ranking at most
    int32_t fixedStretches = 5; // longest fixed stretches listed at most
    const std::atomic<bool>* stop = nullptr;
    // Called now and then with the share of the work done, 0 to 1.
    std::function<void(double)> progress;
};

struct CGroupVariety {
    int32_t selectionStart = 0;  // the group in editor positions
    int32_t selectionEnd = 0;
    // How much the mean similarity (in percentage points) rises when the group
    // always gives its first alternative (an arrangement group: its written order).
    double meanRise = 0;
};

struct CForecast {
    bool ok = false;       // false when the template cannot be loaded (or stopped)
    bool stopped = false;
    int64_t versionsSampled = 0;
    int64_t pairs = 0;
    double meanSimilarity = 0;    // percent
    double medianSimilarity = 0;
    double p95Similarity = 0;
    double similarShare = 0;      // 0 to 1: pairs whose similarity is above the allowed percent
    double similarShareLow = 0;   // its 95% interval
    double similarShareHigh = 0;
    double versionCount = 0;      // the template's count (capped as the engine caps it)
    double forecastKept = 0;
    double forecastLow = 0;
    double forecastHigh = 0;
    std::vector<CGroupVariety> groups;  // largest rise first
    std::vector<CFixedStretch> fixedStretches;
};

// editorText has CR LF line breaks and passed CheckTemplateText; positions
// in the result are editor positions.
CForecast ForecastTemplate(std::u16string_view editorText, const ForecastOptions& options);

// The kept versions that the independence model gives for a similar share q
// and a count of versions.
double ForecastKeptVersions(double similarShare, double versionCount);
