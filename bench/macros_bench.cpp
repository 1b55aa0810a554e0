// The macro pass inside the template check: 20,000 definitions whose names are
// all used on one line (each name replaced once in a text of 20,000 uses),
// the same names used ten times each, and seven definitions whose values each
// use the next name ten times (a 10^7 code-unit text from a few hundred
// characters). Items per second count the expanded text's code units.
// PHRASEMILL_BENCH_SMOKE=1 shrinks the inputs.
#include "engine/template_check.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

bool Smoke() { return std::getenv("PHRASEMILL_BENCH_SMOKE") != nullptr; }

std::u16string Number(int n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

// count definitions "%mN%" = "{vN|wN}", then one line using every name
// usesPerName times.
std::u16string ManyNames(int count, int usesPerName) {
    std::u16string text;
    for (int i = 0; i < count; ++i) text += u"#set %m" + Number(i) + u"% = {v" + Number(i) + u"|w" + Number(i) + u"}\r\n";
    for (int use = 0; use < usesPerName; ++use) {
        for (int i = 0; i < count; ++i) text += u"%m" + Number(i) + u"% ";
    }
    return text;
}

// levels definitions, each value using the next name ten times, the last one
// ten letters; the text uses the first name once.
std::u16string Nested(int levels) {
    std::u16string text;
    for (int level = 0; level < levels; ++level) {
        std::u16string value;
        for (int k = 0; k < 10; ++k) value += level + 1 < levels ? u"%level" + Number(level + 1) + u"%" : u"x";
        text += u"#set %level" + Number(level) + u"% = " + value + u"\r\n";
    }
    return text + u"Start %level0% end";
}

void RunCheck(benchmark::State& state, const std::u16string& text) {
    size_t expanded = 0;
    for (auto _ : state) {
        const TemplateCheckResult check = CheckTemplateText(text);
        if (!check.passed) throw std::runtime_error("the benchmark template fails the check");
        expanded = check.templateText.size();
        benchmark::DoNotOptimize(check.templateText.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * expanded));
    state.counters["expanded"] = static_cast<double>(expanded);
}

void BM_MacroPassManyNamesOneLine(benchmark::State& state) {
    RunCheck(state, ManyNames(Smoke() ? 500 : static_cast<int>(state.range(0)), 1));
}
BENCHMARK(BM_MacroPassManyNamesOneLine)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_MacroPassManyNamesTenUses(benchmark::State& state) {
    RunCheck(state, ManyNames(Smoke() ? 500 : static_cast<int>(state.range(0)), 10));
}
BENCHMARK(BM_MacroPassManyNamesTenUses)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_MacroPassNested(benchmark::State& state) { RunCheck(state, Nested(Smoke() ? 3 : static_cast<int>(state.range(0)))); }
BENCHMARK(BM_MacroPassNested)->Arg(7)->Unit(benchmark::kMillisecond);

}  // namespace
