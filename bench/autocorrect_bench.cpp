// Auto-correction throughput on texts of 1 KB to 1 MB (UTF-16 bytes): the
// rate should not fall as the text grows. Also texts built to defeat a naive
// implementation (thousands of "<" that open no tag, long runs of spaces and
// marks), the all-off path that the engine takes for every version when
// correction is disabled, and the UTF-8 form of the prose.
#include "postprocess/autocorrect.h"
#include "text/text_encoding.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

bool Smoke() { return std::getenv("PHRASEMILL_BENCH_SMOKE") != nullptr; }

// Prose with the faults the rules fix, a few tags and some Cyrillic.
std::u16string Prose(std::size_t units) {
    static const std::vector<std::u16string> pieces = {
        u"hello", u"world", u"the", u"offer", u"is", u"ready", u"привет", u"мир", u"and", u"we", u"are",
        u" ",     u" ",     u" ",   u" ",     u"  ", u" ,",    u".",      u"..",  u"!",   u"?",  u"<br>",
        u"<p>",   u"</p>",  u"<b>", u"\r\n",  u"3.14"};
    std::mt19937 rng(7);
    std::u16string text;
    while (text.size() < units) {
        text += pieces[rng() % pieces.size()];
        text += u' ';
    }
    text.resize(units);
    return text;
}

std::u16string Repeated(std::u16string_view unit, std::size_t units) {
    std::u16string text;
    while (text.size() < units) text += unit;
    text.resize(units);
    return text;
}

void Run(benchmark::State& state, const std::u16string& source, const AutoCorrectionOptions& options) {
    std::u16string text;
    for (auto _ : state) {
        text = source;
        AutoCorrect(text, options);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()) * 2);
}

// The same text as UTF-8, corrected where it lies as the engine does for
// versions built as UTF-8; the rate counts UTF-8 bytes.
void RunUtf8(benchmark::State& state, const std::u16string& source, const AutoCorrectionOptions& options) {
    const std::string bytes = ToNarrow(source);
    std::string text;
    for (auto _ : state) {
        text = bytes;
        AutoCorrectUtf8Tail(text, 0, options);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void Sizes(benchmark::internal::Benchmark* b) {
    if (Smoke()) {
        b->Arg(1 << 9)->Arg(1 << 13);
    } else {
        b->Arg(1 << 9)->Arg(1 << 15)->Arg(1 << 19);  // 1 KB, 64 KB, 1 MB of UTF-16
    }
}

AutoCorrectionOptions WithoutTagMode() {
    AutoCorrectionOptions o;
    o.skipHtmlTags = 0;
    return o;
}

void BM_CopyOnly(benchmark::State& state) {
    Run(state, Prose(static_cast<std::size_t>(state.range(0))), AutoCorrectionOptions::AllOff());
}
BENCHMARK(BM_CopyOnly)->Apply(Sizes);

void BM_AutoCorrectAllRules(benchmark::State& state) {
    Run(state, Prose(static_cast<std::size_t>(state.range(0))), AutoCorrectionOptions{});
}
BENCHMARK(BM_AutoCorrectAllRules)->Apply(Sizes);

void BM_AutoCorrectUtf8AllRules(benchmark::State& state) {
    RunUtf8(state, Prose(static_cast<std::size_t>(state.range(0))), AutoCorrectionOptions{});
}
BENCHMARK(BM_AutoCorrectUtf8AllRules)->Apply(Sizes);

void BM_AutoCorrectWithoutTagMode(benchmark::State& state) {
    Run(state, Prose(static_cast<std::size_t>(state.range(0))), WithoutTagMode());
}
BENCHMARK(BM_AutoCorrectWithoutTagMode)->Apply(Sizes);

// Every "<" opens no tag: a forward search from each would cross the rest of
// the text.
void BM_AutoCorrectUnmatchedAngles(benchmark::State& state) {
    Run(state, Repeated(u"a < {b} [c] ", static_cast<std::size_t>(state.range(0))), AutoCorrectionOptions{});
}
BENCHMARK(BM_AutoCorrectUnmatchedAngles)->Apply(Sizes);

// Long runs of spaces before marks and after sentence ends: every rule
// inserts or deletes at almost every position.
void BM_AutoCorrectDenseEdits(benchmark::State& state) {
    Run(state, Repeated(u"x   ,y..z!   w .", static_cast<std::size_t>(state.range(0))), AutoCorrectionOptions{});
}
BENCHMARK(BM_AutoCorrectDenseEdits)->Apply(Sizes);

// Short tags everywhere: many tiny stretches.
void BM_AutoCorrectTagDense(benchmark::State& state) {
    Run(state, Repeated(u"a.<br>b <p>c,</p>", static_cast<std::size_t>(state.range(0))), AutoCorrectionOptions{});
}
BENCHMARK(BM_AutoCorrectTagDense)->Apply(Sizes);

}  // namespace
