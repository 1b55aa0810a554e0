// Version generation throughput (versions/s and output MB/s, UTF-16 bytes) in
// series and random order, with and without auto-correction, on the bundled
// example templates: a small product description, a ~5 KB listing with about
// 150 groups nested three deep, and an arrangement-heavy one. BM_Memcpy copies
// buffers of the same average output sizes, so generation can be read as a
// fraction of plain copying. Also: the template check plus loading (which
// counts) of a generated 10 MB template with 200,000 groups, and every version
// of a 10^6-version template in series versus random order.
#include "engine/string_generator.h"
#include "engine/template_check.h"
#include "text/text_encoding.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using SyntaxStringGenerator::CStringGenerator;

bool Smoke() { return std::getenv("PHRASEMILL_BENCH_SMOKE") != nullptr; }

const char* const kExamples[] = {"product-description.txt", "apartment-listing.txt", "feature-list.txt"};

// The example's macro-expanded text, as a run hands it to the engine.
std::u16string LoadExample(const char* name) {
    std::ifstream in(std::string(PHRASEMILL_SOURCE_DIR) + "/examples/" + name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::u16string text;
    if (!in || !DecodeUtf8(bytes.str(), text)) throw std::runtime_error(std::string("cannot read ") + name);
    const TemplateCheckResult check = CheckTemplateText(NormalizeLineBreaks(text));
    if (!check.passed) throw std::runtime_error(std::string("template check failed: ") + name);
    return check.templateText;
}

const std::u16string& Example(int index) {
    static const std::vector<std::u16string> texts = [] {
        std::vector<std::u16string> t;
        for (const char* name : kExamples) t.push_back(LoadExample(name));
        return t;
    }();
    return texts[static_cast<size_t>(index)];
}

// Average output size in bytes of the first versions in series order.
size_t AverageOutputBytes(int index) {
    CStringGenerator engine;
    engine.LoadTemplate(Example(index));
    std::u16string v;
    size_t total = 0;
    for (int i = 0; i < 1000; ++i) {
        engine.GenerateVersionInto(i, AutoCorrectionOptions::AllOff(), v);
        total += v.size() * 2;
    }
    return total / 1000;
}

void BM_Generate(benchmark::State& state) {
    const int index = static_cast<int>(state.range(0));
    const bool random = state.range(1) != 0;
    const AutoCorrectionOptions options = state.range(2) != 0 ? AutoCorrectionOptions{} : AutoCorrectionOptions::AllOff();
    CStringGenerator engine;
    engine.SeedRandom(1);
    const double count = engine.LoadTemplate(Example(index)).versionCount;
    std::u16string version;
    int64_t next = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        if (random) {
            if (!engine.GenerateRandomVersion(options, version)) {
                state.PauseTiming();
                engine.LoadTemplate(Example(index));
                state.ResumeTiming();
                engine.GenerateRandomVersion(options, version);
            }
        } else {
            engine.GenerateVersionInto(next, options, version);
            if (++next >= count) next = 0;
        }
        bytes += static_cast<int64_t>(version.size()) * 2;
        benchmark::DoNotOptimize(version.data());
    }
    state.SetBytesProcessed(bytes);
    state.counters["versions/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::string(kExamples[index]) + (random ? " random" : " series") +
                   (state.range(2) ? " corrected" : " raw"));
}
BENCHMARK(BM_Generate)->ArgsProduct({{0, 1, 2}, {0, 1}, {0, 1}});

void BM_Memcpy(benchmark::State& state) {
    const size_t size = AverageOutputBytes(static_cast<int>(state.range(0)));
    const std::vector<char> source(size, 'x');
    std::vector<char> target(size);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), size);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
    state.SetLabel(std::string(kExamples[state.range(0)]) + " average output, " + std::to_string(size) + " bytes");
}
BENCHMARK(BM_Memcpy)->DenseRange(0, 2);

// About 10 million characters with 200,000 groups (a tenth of that in a smoke
// run): choice groups, arrangement groups with default separators and groups
// nested in them, between prose.
const std::u16string& LargeTemplate() {
    static const std::u16string text = [] {
        const int units = Smoke() ? 10000 : 100000;
        std::u16string t;
        t.reserve(static_cast<size_t>(units) * 104);
        for (int i = 0; i < units; ++i) {
            t += i % 2 ? u"The {quick|swift|rapid} fox jumps over the lazy old dog again "
                       : u"The brown fox {jumps|leaps} over the lazy old dog once again ";
            t += i % 2 ? u"[<, >near the river|by the barn|at dawn] each morning. "
                       : u"[<, >near the {river|lake}|by the barn] each day. ";
        }
        return t;
    }();
    return text;
}

void BM_CheckAndLoadLarge(benchmark::State& state) {
    const std::u16string& text = LargeTemplate();
    CStringGenerator engine;
    for (auto _ : state) {
        const TemplateCheckResult check = CheckTemplateText(text);
        const double count = engine.LoadTemplate(check.templateText).versionCount;
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()) * 2);
    state.SetLabel(std::to_string(text.size() / 1000) + " thousand characters");
}
BENCHMARK(BM_CheckAndLoadLarge)->Unit(benchmark::kMillisecond);

void BM_CheckLarge(benchmark::State& state) {
    const std::u16string& text = LargeTemplate();
    for (auto _ : state) benchmark::DoNotOptimize(CheckTemplateText(text).passed);
}
BENCHMARK(BM_CheckLarge)->Unit(benchmark::kMillisecond);

void BM_LoadLarge(benchmark::State& state) {
    const std::u16string& text = LargeTemplate();
    CStringGenerator engine;
    for (auto _ : state) benchmark::DoNotOptimize(engine.LoadTemplate(text).versionCount);
}
BENCHMARK(BM_LoadLarge)->Unit(benchmark::kMillisecond);

// Every version of a template with 10^6 versions (10^4 in a smoke run), from
// load to the last version: random order must stay close to series order.
void BM_AllVersions(benchmark::State& state) {
    const bool random = state.range(0) != 0;
    std::u16string templ = u"Order {one|two|three|four|five|six|seven|eight|nine|ten}";
    for (int g = 0; g < (Smoke() ? 3 : 5); ++g) templ += u" then {a|b|c|d|e|f|g|h|i|j}";
    CStringGenerator engine;
    std::u16string version;
    const AutoCorrectionOptions off = AutoCorrectionOptions::AllOff();
    for (auto _ : state) {
        const double count = engine.LoadTemplate(templ).versionCount;
        int64_t made = 0;
        if (random) {
            while (engine.GenerateRandomVersion(off, version)) ++made;
        } else {
            for (; made < static_cast<int64_t>(count); ++made) engine.GenerateVersionInto(made, off, version);
        }
        if (made != static_cast<int64_t>(count)) state.SkipWithError("not every version was produced");
        benchmark::DoNotOptimize(version.data());
    }
    state.SetLabel(random ? "random order" : "series order");
}
BENCHMARK(BM_AllVersions)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
