// The result-set jobs and the result saves on a million rows of realistic
// texts (200 to 1000 characters of words and punctuation, a tenth of them
// exact repeats and a tenth near repeats). PHRASEMILL_BENCH_SMOKE=1 shrinks
// every size to a thousand rows.
#include "text/text_encoding.h"
#include "postprocess/result_jobs.h"
#include "files/result_files.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool Smoke() {
    const char* smoke = std::getenv("PHRASEMILL_BENCH_SMOKE");
    return smoke != nullptr && std::string_view(smoke) == "1";
}

std::size_t Rows(std::size_t full) { return Smoke() ? 1000 : full; }

std::vector<std::u16string> MakeVocabulary(std::mt19937_64& random) {
    static constexpr std::u16string_view kLatin = u"abcdefghijklmnopqrstuvwxyz";
    static constexpr std::u16string_view kCyrillic = u"абвгдежзийклмнопрстуфхцчшщыэюя";
    std::vector<std::u16string> words;
    for (int i = 0; i < 5000; ++i) {
        const std::u16string_view letters = i % 4 == 0 ? kCyrillic : kLatin;
        std::u16string word(2 + random() % 9, u' ');
        for (char16_t& c : word) c = letters[random() % letters.size()];
        words.push_back(std::move(word));
    }
    return words;
}

std::u16string MakeText(std::mt19937_64& random, const std::vector<std::u16string>& words) {
    static constexpr std::u16string_view kEnds[] = {u".", u",", u"!", u"?", u";", u""};
    const std::size_t target = 200 + random() % 801;
    std::u16string text;
    bool capital = true;
    while (text.size() < target) {
        if (!text.empty()) text += u' ';
        std::u16string word = words[random() % words.size()];
        if (capital && word[0] < 0x80) word[0] = static_cast<char16_t>(word[0] - u'a' + u'A');
        text += word;
        const auto& end = kEnds[random() % 24 < 5 ? random() % 5 : 5];
        text += end;
        capital = end == u"." || end == u"!" || end == u"?";
    }
    return text;
}

class CBenchRows : public CResultRows {
public:
    std::size_t RowCount() const override { return texts.size(); }
    std::u16string_view RowText(std::size_t row, std::u16string&) const override { return texts[row]; }
    std::vector<std::u16string> texts;
};

const CBenchRows& SharedRows() {
    static const CBenchRows rows = [] {
        CBenchRows made;
        std::mt19937_64 random(20261208);
        const auto words = MakeVocabulary(random);
        const std::size_t n = Rows(1000000);
        made.texts.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            const auto kind = random() % 10;
            if (i > 0 && kind == 0) {
                made.texts.push_back(made.texts[random() % i]);
            } else if (i > 0 && kind == 1) {
                std::u16string near = made.texts[random() % i];
                near.replace(near.size() / 2, 0, words[random() % words.size()] + u" ");
                made.texts.push_back(std::move(near));
            } else {
                made.texts.push_back(MakeText(random, words));
            }
        }
        return made;
    }();
    return rows;
}

// The first rows of the shared set, to show how a job's cost grows with the list.
class CPrefixRows : public CResultRows {
public:
    CPrefixRows(const CResultRows& rows, std::size_t count) : rows_(rows), count_(std::min(count, rows.RowCount())) {}
    std::size_t RowCount() const override { return count_; }
    std::u16string_view RowText(std::size_t row, std::u16string& scratch) const override {
        return rows_.RowText(row, scratch);
    }

private:
    const CResultRows& rows_;
    std::size_t count_;
};

std::size_t ResidentKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field)) return std::strtoull(line.c_str() + std::string_view(field).size(), nullptr, 10);
    return 0;
}

// Resets the peak resident size so that a save's own peak can be read after it.
void ResetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

fs::path ScratchFolder() {
    fs::path folder = fs::temp_directory_path() / ("phrasemill-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder);
    return folder;
}

void BM_DeleteIdenticalExact(benchmark::State& state) {
    const CPrefixRows rows(SharedRows(), static_cast<std::size_t>(state.range(0)));
    DeleteOutcome out;
    for (auto _ : state) {
        out = DeleteIdenticalExact(rows, {});
        benchmark::DoNotOptimize(out.rowsToDelete.data());
    }
    state.counters["rows"] = static_cast<double>(rows.RowCount());
    state.counters["deleted"] = static_cast<double>(out.deleted);
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(rows.RowCount()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DeleteIdenticalExact)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DeleteIdenticalShingles(benchmark::State& state) {
    const CPrefixRows rows(SharedRows(), static_cast<std::size_t>(state.range(0)));
    DeleteOutcome out;
    for (auto _ : state) {
        out = DeleteIdenticalShingles(rows, 7, 20, {});
        benchmark::DoNotOptimize(out.rowsToDelete.data());
    }
    state.counters["rows"] = static_cast<double>(rows.RowCount());
    state.counters["deleted"] = static_cast<double>(out.deleted);
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(rows.RowCount()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DeleteIdenticalShingles)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ShuffleResults(benchmark::State& state) {
    const std::size_t n = Rows(1000000);
    uint64_t seed = 1;
    for (auto _ : state) {
        ShuffleOutcome out = ShuffleResults(n, seed++, {});
        benchmark::DoNotOptimize(out.order.data());
    }
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ShuffleResults)->Unit(benchmark::kMillisecond);

void BM_SaveOneFile(benchmark::State& state) {
    const auto& rows = SharedRows();
    const fs::path folder = ScratchFolder();
    const std::u16string separator = ExpandSeparator(u"<br><br>");
    const std::size_t before = ResidentKiB("VmRSS:");
    ResetPeakResident();
    bool saved = true;
    for (auto _ : state) {
        saved = SaveVersionsToFile([&](int64_t i) { return std::u16string_view(rows.texts[static_cast<std::size_t>(i)]); },
                                   static_cast<int64_t>(rows.RowCount()), separator, folder / "all.txt") &&
                saved;
    }
    const std::size_t peak = ResidentKiB("VmHWM:");
    state.counters["file_MB"] = static_cast<double>(fs::file_size(folder / "all.txt")) / 1e6;
    state.counters["peak_extra_MB"] = peak > before ? static_cast<double>(peak - before) / 1024.0 : 0.0;
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(rows.RowCount()), benchmark::Counter::kIsIterationInvariantRate);
    fs::remove_all(folder);
    if (!saved) state.SkipWithError("save failed");
}
BENCHMARK(BM_SaveOneFile)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SaveSeparateFiles(benchmark::State& state) {
    const auto& rows = SharedRows();
    const std::size_t n = Rows(100000);
    const fs::path folder = ScratchFolder();
    bool saved = true;
    for (auto _ : state) {
        saved = SaveVersionsToSeparateFiles([&](int64_t i) { return std::u16string_view(rows.texts[static_cast<std::size_t>(i)]); },
                                            static_cast<int64_t>(n), folder) &&
                saved;
    }
    state.counters["files_per_s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
    fs::remove_all(folder);
    if (!saved) state.SkipWithError("save failed");
}
BENCHMARK(BM_SaveSeparateFiles)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
