// The uniqueness forecast and the lint of a 50 KB template: the apartment
// listing's body (definitions written out) ten times over, with default
// options (9604 pairs, shingle length 7, percent 20), and the exact count of
// the same template. PHRASEMILL_BENCH_SMOKE=1 shrinks the template and the
// sample.
#include "engine/string_generator.h"
#include "engine/template_check.h"
#include "insight/forecast.h"
#include "insight/lint.h"
#include "text/text_encoding.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

bool Smoke() { return std::getenv("PHRASEMILL_BENCH_SMOKE") != nullptr; }

// About 50 KB of editor text (CR LF line breaks), or one copy for a smoke run.
std::u16string LargeTemplate() {
    std::ifstream in(std::string(PHRASEMILL_SOURCE_DIR) + "/examples/apartment-listing.txt", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const TemplateCheckResult check = CheckTemplateText(NormalizeLineBreaks(FromNarrowLossy(bytes)));
    if (!check.passed) throw std::runtime_error("example template fails the check");
    std::u16string text;
    const int copies = Smoke() ? 1 : 10;
    for (int i = 0; i < copies; ++i) text += check.templateText + u"\r\n";
    return text;
}

void BM_ForecastLargeTemplate(benchmark::State& state) {
    const std::u16string templ = LargeTemplate();
    ForecastOptions options;
    if (Smoke()) options.samples = 200;
    for (auto _ : state) {
        CForecast forecast = ForecastTemplate(templ, options);
        if (!forecast.ok) throw std::runtime_error("forecast failed");
        benchmark::DoNotOptimize(forecast);
    }
    state.counters["templateKB"] = static_cast<double>(ToNarrow(templ).size()) / 1024.0;
}
BENCHMARK(BM_ForecastLargeTemplate)->Unit(benchmark::kMillisecond);

void BM_LintLargeTemplate(benchmark::State& state) {
    const std::u16string templ = LargeTemplate();
    for (auto _ : state) benchmark::DoNotOptimize(LintTemplate(templ));
}
BENCHMARK(BM_LintLargeTemplate)->Unit(benchmark::kMillisecond);

void BM_ExactCountLargeTemplate(benchmark::State& state) {
    const std::u16string templ = LargeTemplate();
    for (auto _ : state) {
        SyntaxStringGenerator::CStringGenerator engine;
        engine.LoadTemplate(templ);
        benchmark::DoNotOptimize(engine.GetExactVersionCount());
    }
}
BENCHMARK(BM_ExactCountLargeTemplate)->Unit(benchmark::kMillisecond);

}  // namespace
