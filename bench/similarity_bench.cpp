// The similarity test over whole runs: 10,000 to 1,000,000 random versions of
// real templates (examples/*.txt, plus a generated template with many groups),
// auto-corrected as a run makes them, each tested with the exact method and
// with the shingles method (length 7, 20 percent).
//
// Counters: cand/s (versions tested per second, generation included),
// gen_us (generating and correcting one version, measured apart), us/cand
// over the whole run and late_us over its last tenth, when the most versions
// are kept: how the cost per candidate grows with the number kept. The
// pairwise comparison with every kept version is run at the smallest size for
// contrast. A run stops after PHRASEMILL_BENCH_BUDGET seconds (default 120)
// and reports the candidates it reached (cand).
#include "engine/string_generator.h"
#include "engine/template_check.h"
#include "text/text_encoding.h"
#include "postprocess/similarity.h"
#include "similarity_index.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using SyntaxStringGenerator::CStringGenerator;
using Clock = std::chrono::steady_clock;

bool Smoke() { return std::getenv("PHRASEMILL_BENCH_SMOKE") != nullptr; }

struct Template {
    std::string name;
    std::u16string text;  // macro-expanded
};

// Forty sentences' worth of choice groups over a varied vocabulary: about
// 10^40 versions, and two random versions rarely share seven words in a row.
std::u16string GeneratedTemplate() {
    static const char* words[] = {"offer", "price", "quality", "service", "delivery", "team", "product", "order",
                                  "client", "result", "support", "project", "value", "market", "plan", "idea",
                                  "новый", "лучший", "быстрый", "заказ", "клиент", "цена", "товар", "срок"};
    std::mt19937 rng(99);
    std::string t;
    for (int sentence = 0; sentence < 12; ++sentence) {
        for (int group = 0; group < 4; ++group) {
            t += "{";
            const int alternatives = 3 + static_cast<int>(rng() % 4);
            for (int a = 0; a < alternatives; ++a) {
                if (a) t += "|";
                const int n = 1 + static_cast<int>(rng() % 3);
                for (int w = 0; w < n; ++w) {
                    if (w) t += " ";
                    t += words[rng() % std::size(words)];
                }
            }
            t += "} ";
        }
        t += sentence % 3 == 2 ? ".<br>" : ". ";
    }
    return U16(t);
}

std::vector<Template> LoadTemplates() {
    std::vector<Template> list;
    list.push_back({"generated", GeneratedTemplate()});
    const std::filesystem::path dir = std::filesystem::path(PHRASEMILL_SOURCE_DIR) / "examples";
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        if (entry.path().extension() == ".txt") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        std::string s = bytes.str();
        if (s.rfind("\xEF\xBB\xBF", 0) == 0) s.erase(0, 3);
        std::u16string wide;
        if (!DecodeUtf8(s, wide)) continue;
        const TemplateCheckResult check = CheckTemplateText(NormalizeLineBreaks(wide));
        if (!check.passed) continue;
        CStringGenerator probe;
        const auto load = probe.LoadTemplate(check.templateText);
        // Only templates that can supply the smallest run of distinct versions.
        if (load.errorKind != 0 || load.versionCount < 10000) continue;
        list.push_back({file.stem().string(), check.templateText});
    }
    return list;
}

const std::vector<Template>& Templates() {
    static const std::vector<Template> list = LoadTemplates();
    return list;
}

struct ShingleRecord {
    int64_t index = 0;
    int shingleLength = 0;
    ShingleSet shingles;
};

// The plain method: every candidate against every kept record by a merge of
// the two ordered shingle sets.
class PairwiseStore {
public:
    bool TestAndRemember(int64_t index, std::string_view lowered, int L, int P) {
        const NormalizedText n = NormalizeForShingles(lowered);
        ShingleRecord record{index, L, BuildShingles(n.text, n.wordCount, L)};
        const std::size_t count = record.shingles.size();
        if (count > 0) {
            for (const ShingleRecord& kept : records_) {
                std::size_t common = 0;
                auto a = record.shingles.cbegin();
                auto b = kept.shingles.cbegin();
                while (a != record.shingles.end() && b != kept.shingles.end()) {
                    if (*a < *b) ++a;
                    else if (*b < *a) ++b;
                    else { ++common; ++a; ++b; }
                }
                if (static_cast<int>(static_cast<double>(common) / count * 100) > P) return false;
            }
        }
        records_.push_back(std::move(record));
        return true;
    }

private:
    std::vector<ShingleRecord> records_;
};

enum Method { kGenerateOnly = -1, kExact = 0, kShingles = 1, kPairwise = 2 };

// Seconds one run may take before it stops and reports what it reached (the
// pairwise method and the densest templates would otherwise run for hours).
double Budget() {
    const char* v = std::getenv("PHRASEMILL_BENCH_BUDGET");
    return v != nullptr ? std::atof(v) : (Smoke() ? 5.0 : 120.0);
}

void RunSimilarity(benchmark::State& state, const Template& t, Method method, int64_t candidates) {
    const AutoCorrectionOptions correction;
    const DeletingOptions options{method == kExact ? 0 : 1, 7, 20};
    const double budget = Budget();
    constexpr int64_t kStep = 1000;
    for (auto _ : state) {
        CStringGenerator engine;
        engine.SeedRandom(12345);
        engine.LoadTemplate(t.text);
        SimilarityState similarity;
        PairwiseStore pairwise;
        std::u16string version;
        int64_t tested = 0, kept = 0;
        std::vector<Clock::time_point> marks;  // at every kStep candidates
        const Clock::time_point start = Clock::now();
        for (int64_t i = 0; i < candidates; ++i) {
            if (i % kStep == 0) {
                marks.push_back(Clock::now());
                if (std::chrono::duration<double>(marks.back() - start).count() > budget) break;
            }
            if (!engine.GenerateRandomVersion(correction, version)) break;
            ++tested;
            bool keep = true;
            switch (method) {
                case kGenerateOnly: benchmark::DoNotOptimize(version.data()); break;
                case kExact:
                case kShingles: keep = IsNewVersion(similarity, version, i, options); break;
                case kPairwise: keep = pairwise.TestAndRemember(i, LowerCaseNarrow(version), 7, 20); break;
            }
            kept += keep;
        }
        const Clock::time_point end = Clock::now();
        const double seconds = std::chrono::duration<double>(end - start).count();
        const int64_t lateMark = std::min<int64_t>(tested * 9 / 10 / kStep, static_cast<int64_t>(marks.size()) - 1);
        const double lateSeconds = std::chrono::duration<double>(end - marks[lateMark]).count();
        const int64_t lateCount = std::max<int64_t>(tested - lateMark * kStep, 1);
        state.SetIterationTime(seconds);
        state.counters["cand"] = static_cast<double>(tested);
        state.counters["kept"] = static_cast<double>(kept);
        state.counters["cand/s"] = tested / seconds;
        state.counters["us/cand"] = seconds * 1e6 / std::max<int64_t>(tested, 1);
        state.counters["late_us"] = lateSeconds * 1e6 / lateCount;
        state.counters["MB_held"] = static_cast<double>(similarity.ApproximateBytes()) / 1e6;
    }
}

void Register() {
    const std::vector<int64_t> sizes =
        Smoke() ? std::vector<int64_t>{1000} : std::vector<int64_t>{10000, 100000, 1000000};
    const std::vector<Template>& list = Templates();
    // In a smoke run one template is enough to show that every method works.
    const std::size_t templates = Smoke() ? 1 : list.size();
    for (std::size_t k = 0; k < templates; ++k) {
        const Template* t = &list[k];
        for (int64_t n : sizes) {
            const std::string suffix = "/" + t->name + "/" + std::to_string(n);
            auto add = [&](const char* name, Method m) {
                benchmark::RegisterBenchmark((std::string(name) + suffix).c_str(),
                                             [t, m, n](benchmark::State& s) { RunSimilarity(s, *t, m, n); })
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            };
            add("BM_GenerateOnly", kGenerateOnly);
            add("BM_SimilarityExact", kExact);
            add("BM_SimilarityShingles", kShingles);
            if (n == sizes.front()) add("BM_SimilarityPairwise", kPairwise);
        }
    }
}

const int registered = (Register(), 0);

}  // namespace
