// The whole generate path: the run draws versions at random,
// builds and auto-corrects them, the sink encodes them to UTF-8 into large
// blocks and writes those to memory or to a file, as the command line does.
// Two template shapes (shaped_template.h): ~5 KB with ~150 groups and ~50 KB
// with ~950 groups, each with the default rules and without correction.
//
// BM_MemcpyToRam copies a buffer far larger than the caches; every pipeline
// benchmark also reports its output rate as a share of that copy rate
// ("of_memcpy"), both measured in thread CPU time in the same process. The
// run on 1 .. all cores (BM_PipelineThreads) is compared with as many separate
// one-thread runs at once (BM_IndependentPipelines), the most the machine
// gives. The encoder is compared with ICU's converter on the same versions,
// the corrector is measured alone on uncorrected versions of both shapes, and
// the list's one-byte copy from UTF-8 against the one from UTF-16.
#include "shaped_template.h"

#include "engine/template_check.h"
#include "files/result_files.h"
#include "narrow_text.h"
#include "run/generation_run.h"
#include "text/text_encoding.h"
#include "utf8_encoders.h"

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <time.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

bool Smoke() { return std::getenv("PHRASEMILL_BENCH_SMOKE") != nullptr; }

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Far beyond any cache, so the copy runs at the memory's speed.
std::size_t RamBufferBytes() { return Smoke() ? std::size_t{16} << 20 : std::size_t{512} << 20; }

struct CopyBuffers {
    std::unique_ptr<char[]> from, to;
    std::size_t size;
    explicit CopyBuffers(std::size_t bytes) : from(new char[bytes]), to(new char[bytes]), size(bytes) {
        std::memset(from.get(), 'x', bytes);
        std::memset(to.get(), 0, bytes);
    }
};

// Bytes per CPU second of a single-thread memcpy to RAM, measured once.
double MemcpyRate() {
    static const double rate = [] {
        CopyBuffers buffers(RamBufferBytes());
        std::memcpy(buffers.to.get(), buffers.from.get(), buffers.size);
        const int rounds = Smoke() ? 1 : 4;
        const double start = ThreadCpuSeconds();
        for (int r = 0; r < rounds; ++r) {
            std::memcpy(buffers.to.get(), buffers.from.get(), buffers.size);
            benchmark::ClobberMemory();
        }
        return static_cast<double>(buffers.size) * rounds / (ThreadCpuSeconds() - start);
    }();
    return rate;
}

void BM_MemcpyToRam(benchmark::State& state) {
    CopyBuffers buffers(RamBufferBytes());
    for (auto _ : state) {
        std::memcpy(buffers.to.get(), buffers.from.get(), buffers.size);
        benchmark::DoNotOptimize(buffers.to.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffers.size));
    state.SetLabel(std::to_string(buffers.size >> 20) + " MB");
}
BENCHMARK(BM_MemcpyToRam)->Unit(benchmark::kMillisecond);

const std::u16string& Template(int shape) {
    static const std::vector<std::u16string> texts = [] {
        std::vector<std::u16string> t;
        for (const TemplateShape& s : {kMediumShape, kLargeShape}) {
            std::u16string text;
            if (!DecodeUtf8(ShapedTemplate(s), text)) throw std::runtime_error("shaped template is not UTF-8");
            const TemplateCheckResult check = CheckTemplateText(NormalizeLineBreaks(text));
            if (!check.passed) throw std::runtime_error("shaped template fails the check");
            t.push_back(check.templateText);
        }
        return t;
    }();
    return texts[static_cast<std::size_t>(shape)];
}

const char* ShapeName(int shape) { return shape == 0 ? "5 KB/150 groups" : "50 KB/950 groups"; }

// Where the blocks go: a ring in memory far larger than the caches, or a file.
class CBlockTarget {
public:
    explicit CBlockTarget(bool toFile) : toFile_(toFile) {
        if (toFile_) {
            path_ = std::filesystem::temp_directory_path() / ("phrasemill-pipeline-" + std::to_string(getpid()));
            Reopen();
        } else {
            ring_.reset(new char[RingBytes()]);
            std::memset(ring_.get(), 0, RingBytes());
        }
    }
    ~CBlockTarget() {
        if (toFile_) file_.Discard();
    }

    bool Write(std::u16string_view text) {
        if (toFile_) return file_.Write(text);
        return block_.Append(text, [this](std::string_view bytes) { return Store(bytes); });
    }
    bool WriteUtf8(std::string_view text) {
        if (toFile_) return file_.WriteUtf8(text);
        return block_.AppendBytes(text, [this](std::string_view bytes) { return Store(bytes); });
    }
    // Keeps the file from filling the disk; called with the timer paused.
    void Rotate() {
        if (toFile_ && ++rounds_ % 16 == 0) Reopen();
    }

private:
    static std::size_t RingBytes() { return RamBufferBytes() / 2; }

    bool Store(std::string_view bytes) {
        if (at_ + bytes.size() > RingBytes()) at_ = 0;
        std::memcpy(ring_.get() + at_, bytes.data(), bytes.size());
        at_ += bytes.size();
        return true;
    }
    void Reopen() {
        file_.Discard();
        if (!file_.Open(path_, true)) throw std::runtime_error("cannot open " + path_.string());
    }

    bool toFile_;
    std::filesystem::path path_;
    CTextFileWriter file_;
    CUtf8Buffer block_{1 << 20};
    std::unique_ptr<char[]> ring_;
    std::size_t at_ = 0;
    int rounds_ = 0;
};

// Writes every version and its separator, as the command line's sink does.
class CWritingSink final : public CRunSink {
public:
    explicit CWritingSink(CBlockTarget* target) : target_(target) {}
    bool TakesUtf8() const override { return true; }
    std::string Utf8Separator() const override { return "\r\n\r\n"; }
    void AppendBlock(const CVersionBlock& block) override {
        if (block.IsUtf8()) {
            PassUtf8(block.AllBytes());
            return;
        }
        for (std::size_t i = 0; i < block.Size(); ++i) Pass(block.Text(i));
    }
    void AppendVersions(std::vector<KeptVersion>&& batch) override {
        for (const KeptVersion& version : batch) Pass(version.text);
    }
    int64_t utf8Bytes = 0;  // counted only without a target
    bool failed = false;

private:
    void Pass(std::u16string_view text) {
        if (!target_) {
            utf8Bytes += static_cast<int64_t>(ToNarrow(text).size() + 4);
        } else if (!target_->Write(text) || !target_->Write(u"\r\n\r\n")) {
            failed = true;
        }
    }

    // Every version with its separator.
    void PassUtf8(std::string_view bytes) {
        if (!target_) {
            utf8Bytes += static_cast<int64_t>(bytes.size());
        } else if (!target_->WriteUtf8(bytes)) {
            failed = true;
        }
    }

    CBlockTarget* target_;
};

// A random-order run of versions versions of a shape on threads threads,
// with the default rules or without correction.
RunRequest ShapedRequest(int shape, bool corrected, int64_t versions, unsigned threads) {
    RunRequest request;
    request.templateText = Template(shape);
    request.options.autoCorrection = corrected;
    request.options.randomOrder = true;
    request.versionsWanted = versions;
    request.seed = 1;
    request.threads = threads;
    return request;
}

// Versions per round of the runs on several threads: about a tenth of a
// second on one thread, so that starting the run (loading the template,
// starting the helpers, the first chunks of one version each) weighs little
// in the speed-up; at a hundredth it halved the two-thread gain.
int64_t ThreadRoundVersions(int shape) { return (shape == 0 ? 200000 : 20000) / (Smoke() ? 1000 : 1); }

// The UTF-8 bytes one run of request writes; the seed is fixed, so every
// round writes the same bytes.
int64_t BytesPerRound(const RunRequest& request) {
    CGenerationRun run;
    CWritingSink counter(nullptr);
    run.RunGeneration(request, counter);
    return counter.utf8Bytes;
}

void BM_Pipeline(benchmark::State& state) {
    const int shape = static_cast<int>(state.range(0));
    const bool corrected = state.range(1) != 0;
    const bool toFile = state.range(2) != 0;
    const RunRequest request = ShapedRequest(shape, corrected, (shape == 0 ? 4000 : 400) / (Smoke() ? 20 : 1), 1);
    const int64_t bytesPerRound = BytesPerRound(request);
    CGenerationRun run;
    CBlockTarget target(toFile);
    CWritingSink sink(&target);
    const double memcpyRate = MemcpyRate();
    double cpu = 0;
    for (auto _ : state) {
        const double start = ThreadCpuSeconds();
        run.RunGeneration(request, sink);
        cpu += ThreadCpuSeconds() - start;
        state.PauseTiming();
        target.Rotate();
        state.ResumeTiming();
    }
    if (sink.failed) state.SkipWithError("writing failed");
    const double bytes = static_cast<double>(bytesPerRound) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["of_memcpy"] = bytes / cpu / memcpyRate;
    state.SetLabel(std::string(ShapeName(shape)) + (corrected ? ", default rules" : ", no correction") +
                   (toFile ? ", to file" : ", to memory"));
}
BENCHMARK(BM_Pipeline)->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

// The same run to memory on 1 .. all cores, in wall-clock time; the ratio of
// two rows is the speed-up of the added threads.
void BM_PipelineThreads(benchmark::State& state) {
    const int shape = static_cast<int>(state.range(0));
    const bool corrected = state.range(1) != 0;
    const RunRequest request =
        ShapedRequest(shape, corrected, ThreadRoundVersions(shape), static_cast<unsigned>(state.range(2)));
    const int64_t bytesPerRound = BytesPerRound(request);
    CGenerationRun run;
    CBlockTarget target(false);
    CWritingSink sink(&target);
    for (auto _ : state) run.RunGeneration(request, sink);
    state.SetBytesProcessed(bytesPerRound * static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::string(ShapeName(shape)) + (corrected ? ", default rules, " : ", no correction, ") +
                   std::to_string(request.threads) + " threads");
}
BENCHMARK(BM_PipelineThreads)
    ->ArgsProduct({{0, 1}, {0, 1}, benchmark::CreateDenseRange(1, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())), 1)})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The machine's own ceiling for BM_PipelineThreads: the same one-thread run,
// to memory, on n threads at once, each with its own run and target, and no
// thread waiting for another. Cores that share caches, memory bandwidth or a
// clock budget make n such runs slower than one; the ratio of
// BM_PipelineThreads/n to this row's rate is the share of that ceiling which
// the parallel run reaches.
void BM_IndependentPipelines(benchmark::State& state) {
    const int shape = static_cast<int>(state.range(0));
    const bool corrected = state.range(1) != 0;
    const auto count = static_cast<std::size_t>(state.range(2));
    const RunRequest request = ShapedRequest(shape, corrected, ThreadRoundVersions(shape), 1);
    const int64_t bytesPerRound = BytesPerRound(request);
    std::vector<std::unique_ptr<CGenerationRun>> runs;
    std::vector<std::unique_ptr<CBlockTarget>> targets;
    std::vector<std::unique_ptr<CWritingSink>> sinks;
    for (std::size_t i = 0; i < count; ++i) {
        runs.push_back(std::make_unique<CGenerationRun>());
        targets.push_back(std::make_unique<CBlockTarget>(false));
        sinks.push_back(std::make_unique<CWritingSink>(targets.back().get()));
    }
    for (auto _ : state) {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < count; ++i) {
            threads.emplace_back([&, i] { runs[i]->RunGeneration(request, *sinks[i]); });
        }
    }
    state.SetBytesProcessed(bytesPerRound * static_cast<int64_t>(count) * static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::string(ShapeName(shape)) + (corrected ? ", default rules, " : ", no correction, ") +
                   std::to_string(count) + " separate one-thread runs");
}
BENCHMARK(BM_IndependentPipelines)
    ->ArgsProduct({{0, 1}, {0, 1}, benchmark::CreateDenseRange(1, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())), 1)})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Versions of the medium shape with the default rules, as the encoder gets them.
const std::vector<std::u16string>& SampleVersions() {
    static const std::vector<std::u16string> versions = [] {
        SyntaxStringGenerator::CStringGenerator engine;
        engine.LoadTemplate(Template(0));
        engine.SeedRandom(1);
        std::vector<std::u16string> v(256);
        for (auto& text : v) engine.GenerateRandomVersion(AutoCorrectionOptions{}, text);
        return v;
    }();
    return versions;
}

// The corrector alone on uncorrected versions of either shape, as UTF-8
// where they lie in a block, the way the run corrects free-choice versions;
// each round copies the versions in again, which BM_CopyVersionsUtf8 gives
// on its own.
const std::vector<std::string>& RawVersionsUtf8(int shape) {
    static const std::vector<std::vector<std::string>> versions = [] {
        std::vector<std::vector<std::string>> all;
        for (int s = 0; s < 2; ++s) {
            SyntaxStringGenerator::CStringGenerator engine;
            engine.LoadTemplate(Template(s));
            engine.SeedRandom(1);
            std::vector<std::string> v(s == 0 ? 256 : 32);
            for (auto& text : v) text = ToNarrow(engine.GenerateRandomVersion(AutoCorrectionOptions::AllOff()));
            all.push_back(std::move(v));
        }
        return all;
    }();
    return versions[static_cast<std::size_t>(shape)];
}

template <typename Treat>
void RunOnVersions(benchmark::State& state, Treat treat) {
    const auto& versions = RawVersionsUtf8(static_cast<int>(state.range(0)));
    std::string block;
    int64_t bytes = 0;
    for (auto _ : state) {
        block.clear();
        for (const auto& v : versions) {
            const std::size_t begin = block.size();
            block += v;
            treat(block, begin);
        }
        bytes += static_cast<int64_t>(block.size());
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(bytes);
    state.SetLabel(ShapeName(static_cast<int>(state.range(0))));
}

void BM_CorrectVersionsUtf8(benchmark::State& state) {
    RunOnVersions(state, [](std::string& block, std::size_t begin) {
        AutoCorrectUtf8Tail(block, begin, AutoCorrectionOptions{});
    });
}
BENCHMARK(BM_CorrectVersionsUtf8)->Arg(0)->Arg(1);

void BM_CopyVersionsUtf8(benchmark::State& state) {
    RunOnVersions(state, [](std::string&, std::size_t) {});
}
BENCHMARK(BM_CopyVersionsUtf8)->Arg(0)->Arg(1);

template <typename Encode>
void RunEncoder(benchmark::State& state, Encode encode) {
    const auto& versions = SampleVersions();
    std::size_t longest = 0;
    for (const auto& v : versions) longest = std::max(longest, v.size());
    std::vector<char> out(MaxUtf8Bytes(longest) + 16);
    for (const auto& v : versions) {
        if (std::string_view(out.data(), encode(v, out.data(), out.size())) != ToNarrow(v)) {
            state.SkipWithError("the encoder's output differs");
            return;
        }
    }
    int64_t bytes = 0;
    for (auto _ : state) {
        for (const auto& v : versions) {
            bytes += static_cast<int64_t>(encode(v, out.data(), out.size()));
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(bytes);
}

void BM_EncodeUtf8(benchmark::State& state) {
    RunEncoder(state, [](const std::u16string& text, char* out, std::size_t) { return EncodeUtf8(text, out); });
}
BENCHMARK(BM_EncodeUtf8);

// ICU's converter with "?" for lone surrogates, the same output.
void BM_EncodeUtf8Icu(benchmark::State& state) {
    RunEncoder(state, [](const std::u16string& text, char* out, std::size_t room) {
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strToUTF8WithSub(out, static_cast<int32_t>(room), &length, text.data(), static_cast<int32_t>(text.size()),
                           '?', nullptr, &error);
        return static_cast<std::size_t>(length);
    });
}
BENCHMARK(BM_EncodeUtf8Icu);

// The list's copy of a kept version into its one-byte form, from the UTF-8
// that the run builds (each kind of NarrowUtf8 that runs here: 0 portable, 2
// AVX-512 VBMI2) and from UTF-16 (NarrowText), over the medium shape's
// versions, which have a letter above ASCII every 40 bytes or so. Bytes
// counted are those written.
void BM_NarrowForList(benchmark::State& state) {
    const auto kind = static_cast<NarrowerKind>(state.range(0));
    const bool fromUtf8 = state.range(1) == 1;
    if (fromUtf8 ? !Utf8NarrowerRuns(kind) : !NarrowerRuns(kind)) {
        state.SkipWithError("not on this processor");
        return;
    }
    const auto& wide = SampleVersions();
    std::vector<std::string> utf8;
    std::size_t longest = 0;
    for (const auto& v : wide) {
        utf8.push_back(ToNarrow(v));
        longest = std::max(longest, utf8.back().size());
    }
    std::vector<char> out(longest);
    int64_t bytes = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < wide.size(); ++i) {
            const bool narrow = fromUtf8 ? NarrowUtf8(kind, out.data(), utf8[i]) == wide[i].size()
                                         : NarrowText(kind, out.data(), wide[i]);
            if (!narrow) {
                state.SkipWithError("a version is not narrow");
                return;
            }
            bytes += static_cast<int64_t>(wide[i].size());
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(bytes);
    state.SetLabel(fromUtf8 ? "from UTF-8" : "from UTF-16");
}
BENCHMARK(BM_NarrowForList)->ArgsProduct({{0, 2}, {0, 1}});

// Counting the UTF-16 code units of each medium version from its UTF-8, as
// the building threads do when the list keeps the versions (0: sixteen bytes
// a step, 1: AVX-512 masks). Bytes counted are those read.
void BM_Utf16Length(benchmark::State& state) {
    const auto counter = static_cast<EUtf16Counter>(state.range(0));
    if (!Utf16CounterRuns(counter)) {
        state.SkipWithError("not on this processor");
        return;
    }
    std::vector<std::string> utf8;
    for (const auto& v : SampleVersions()) utf8.push_back(ToNarrow(v));
    int64_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& version : utf8) {
            benchmark::DoNotOptimize(Utf16LengthWith(counter, version));
            bytes += static_cast<int64_t>(version.size());
        }
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Utf16Length)->Arg(0)->Arg(1);

}  // namespace
