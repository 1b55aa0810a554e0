#include "run/generation_run.h"

#include "engine/string_generator.h"
#include "postprocess/similarity.h"

#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace {

class CRecordingSink : public CRunSink {
public:
    void ClearResults() override {
        std::lock_guard lock(mutex);
        ++clears;
    }
    void AppendVersions(std::vector<KeptVersion>&& batch) override {
        std::lock_guard lock(mutex);
        batchSizes.push_back(batch.size());
        for (auto& version : batch) versions.push_back(std::move(version));
    }
    bool RetainsVersions() const override { return retains; }
    bool TakesUtf8() const override { return takesUtf8; }
    void AppendBlock(const CVersionBlock& block) override {
        if (block.IsUtf8()) ++utf8Blocks;
        CRunSink::AppendBlock(block);
    }
    void JobStarted(int64_t range, JobKind kind) override {
        std::lock_guard lock(mutex);
        ranges.push_back(range);
        kinds.push_back(kind);
    }
    void JobProgress(int64_t position) override {
        std::lock_guard lock(mutex);
        maxPosition = std::max(maxPosition, position);
    }
    void JobEnded() override {
        std::lock_guard lock(mutex);
        ++ended;
    }
    void RunFinished(const RunSummary& s) override {
        std::lock_guard lock(mutex);
        summary = s;
    }
    void DeleteRows(std::vector<std::size_t>&& rows) override { deleted = std::move(rows); }
    void ReorderRows(std::vector<uint32_t>&& order) override { reordered = std::move(order); }
    void JobMessage(const std::u16string& message) override { messages.push_back(message); }
    void ResultSetIdleChanged(bool idle) override { idleChanges.push_back(idle); }

    std::size_t VersionCount() {
        std::lock_guard lock(mutex);
        return versions.size();
    }
    std::vector<std::u16string> Texts() {
        std::lock_guard lock(mutex);
        std::vector<std::u16string> texts;
        for (const auto& v : versions) texts.push_back(v.text);
        return texts;
    }

    std::mutex mutex;
    bool retains = false;
    bool takesUtf8 = false;
    int utf8Blocks = 0;
    int clears = 0;
    int ended = 0;
    std::vector<KeptVersion> versions;
    std::vector<std::size_t> batchSizes;
    std::vector<int64_t> ranges;
    std::vector<JobKind> kinds;
    int64_t maxPosition = -1;
    RunSummary summary;
    std::vector<std::size_t> deleted;
    std::vector<uint32_t> reordered;
    std::vector<std::u16string> messages;
    std::vector<bool> idleChanges;
};

RunRequest Request(std::u16string text, int64_t wanted, bool random) {
    RunRequest request;
    request.templateText = std::move(text);
    request.versionsWanted = wanted;
    request.options.randomOrder = random;
    request.seed = 7;
    return request;
}

// About 10^15 versions: a run over it never finishes on its own.
const std::u16string kHuge =
    u"{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}"
    u"{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}"
    u"{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}"
    u"{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j}{a|b|c|d|e|f|g|h|i|j} words {x|y} more words";

}  // namespace

TEST(GenerationRunTest, LoopBoundsFollowTargetAndCount) {
    CGenerationRun run;
    {
        // "Max" on 12 versions at random: at most 12 draws, each number once.
        CRecordingSink sink;
        const RunSummary s = run.RunGeneration(Request(u"{a|b|c}{d|e|f|g}", INT64_MAX, true), sink);
        EXPECT_EQ(s.end, RunEnd::kDone);
        EXPECT_EQ(run.AttemptCount(), 12);
        EXPECT_EQ(run.KeptCount(), 12);
        const auto texts = sink.Texts();
        EXPECT_EQ(std::set<std::u16string>(texts.begin(), texts.end()).size(), 12u);
    }
    {
        // Repeated texts with exact skipping: still 12 draws, fewer kept.
        CRecordingSink sink;
        RunRequest request = Request(u"{a|a|b}{c|c|d|d}", INT64_MAX, true);
        request.options.skipSimilar = true;
        run.RunGeneration(request, sink);
        EXPECT_EQ(run.AttemptCount(), 12);
        EXPECT_EQ(run.KeptCount(), 4);
        EXPECT_EQ(run.GeneratedValue(), u"4 / 12");
    }
    {
        // 50 wanted of 10 in series: exactly numbers 0 to 9, in order.
        CRecordingSink sink;
        const std::u16string text = u"{a|b|c|d|e}{1|2}";
        run.RunGeneration(Request(text, 50, false), sink);
        EXPECT_EQ(run.AttemptCount(), 10);
        SyntaxStringGenerator::CStringGenerator engine;
        engine.LoadTemplate(text);
        ASSERT_EQ(sink.versions.size(), 10u);
        for (int64_t i = 0; i < 10; ++i) {
            EXPECT_EQ(sink.versions[i].ordinal, i);
            EXPECT_EQ(sink.versions[i].text, engine.GenerateVersion(i, AutoCorrectionOptions::AllOff()));
        }
        EXPECT_EQ(sink.ranges, std::vector<int64_t>{10});
        EXPECT_EQ(sink.maxPosition, 10);
        EXPECT_EQ(run.MaxPossibleValue(), u"10");
    }
    {
        // "Max" on 2^64 versions: more than the job's total can hold, so it
        // saturates and the progress takes the fixed range of a large job.
        CGenerationRun endless;
        CRecordingSink sink;
        std::u16string text;
        for (int g = 0; g < 64; ++g) text += u"{a|b}";
        ASSERT_TRUE(endless.StartGeneration(Request(text, INT64_MAX, false), sink));
        while (endless.KeptCount() < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        endless.Stop();
        endless.Wait();
        EXPECT_EQ(sink.ranges, std::vector<int64_t>{10000});
    }
    {
        // Nothing wanted: the list is cleared and the run ends empty.
        CRecordingSink sink;
        const RunSummary s = run.RunGeneration(Request(u"{a|b}", 0, false), sink);
        EXPECT_EQ(s.end, RunEnd::kDone);
        EXPECT_EQ(sink.clears, 1);
        EXPECT_TRUE(sink.versions.empty());
        EXPECT_EQ(run.GeneratedValue(), u"");
    }
}

TEST(GenerationRunTest, LengthLimitAndEmptyVersions) {
    CGenerationRun run;
    const std::u16string text = u"{|a|bbbb|ccccc|ddddd|eeeeee}";
    {
        CRecordingSink sink;
        RunRequest request = Request(text, INT64_MAX, false);
        request.options.lengthLimit = true;
        request.options.minLength = 5;
        request.options.maxLength = 5;
        run.RunGeneration(request, sink);
        EXPECT_EQ(sink.Texts(), (std::vector<std::u16string>{u"ccccc", u"ddddd"}));
        EXPECT_EQ(run.AttemptCount(), 6);
    }
    {
        // A maximum of 0 lets only empty versions through, and those are never kept.
        CRecordingSink sink;
        RunRequest request = Request(text, INT64_MAX, false);
        request.options.lengthLimit = true;
        request.options.minLength = 0;
        request.options.maxLength = 0;
        run.RunGeneration(request, sink);
        EXPECT_TRUE(sink.versions.empty());
        EXPECT_EQ(run.AttemptCount(), 6);
        EXPECT_EQ(run.KeptCount(), 0);
    }
    {
        // Without a limit the empty alternative is still dropped.
        CRecordingSink sink;
        run.RunGeneration(Request(text, INT64_MAX, false), sink);
        EXPECT_EQ(sink.versions.size(), 5u);
        EXPECT_EQ(sink.versions.front().ordinal, 0);
    }
}

// What a loop that draws, builds and decides one version at a time keeps.
std::vector<KeptVersion> OneAtATime(const RunRequest& request) {
    SyntaxStringGenerator::CStringGenerator engine;
    const double count = engine.LoadTemplate(request.templateText).versionCount;
    engine.SeedRandom(*request.seed);
    SimilarityState similarity;
    const GenerationOptions& options = request.options;
    const AutoCorrectionOptions correction = options.autoCorrection ? request.correction : AutoCorrectionOptions::AllOff();
    const int64_t first = options.randomOrder ? 0 : request.firstIndex.get_si();
    const double target = std::min(static_cast<double>(*request.versionsWanted), count - static_cast<double>(first));
    std::vector<KeptVersion> kept;
    std::u16string v;
    for (int64_t i = first; static_cast<double>(kept.size()) < target && static_cast<double>(i) < count; ++i) {
        if (!options.randomOrder) {
            engine.GenerateVersionInto(i, correction, v);
        } else if (!engine.GenerateRandomVersion(correction, v)) {
            break;
        }
        const auto n = static_cast<int64_t>(v.size());
        if (v.empty() || (options.lengthLimit && (n < options.minLength || n > options.maxLength))) continue;
        if (options.skipSimilar && !IsNewVersion(similarity, v, i, request.deleting)) continue;
        kept.push_back({static_cast<int64_t>(kept.size()), v});
    }
    return kept;
}

TEST(GenerationRunTest, AnyNumberOfThreadsKeepsTheVersionsOfOneAtATime) {
    // 2 * 4 * 3 * 3 * 2 * 4 * 6 = 6912 versions, some of them alike word for word.
    const std::u16string mid =
        u"{The|A} {cat|dog|bird|} {sat|ran|flew} {on|under|by} {the|a} {mat|log|tree|}, [<, >red|green|blue] ok.";
    // 4^20 versions of lengths from 20 to 80.
    std::u16string varied;
    for (int i = 0; i < 20; ++i) varied += u"{a|bb|ccc|} ";
    struct Case {
        const char* name;
        std::u16string text;
        int64_t wanted;
        bool random;
        void (*adjust)(RunRequest&);
    };
    const std::vector<Case> cases = {
        {"series", mid, 5000, false, [](RunRequest&) {}},
        {"series from 100, corrected, small batches", mid, 3000, false,
         [](RunRequest& r) {
             r.firstIndex = 100;
             r.options.autoCorrection = true;
             r.batchSize = 7;
         }},
        {"series, narrow length range", mid, INT64_MAX, false,
         [](RunRequest& r) {
             r.options.lengthLimit = true;
             r.options.minLength = 40;
             r.options.maxLength = 44;
         }},
        {"random distinct, every number", mid, INT64_MAX, true, [](RunRequest&) {}},
        {"random distinct, exact skipping", mid, 3000, true,
         [](RunRequest& r) {
             r.options.skipSimilar = true;
             r.options.autoCorrection = true;
         }},
        {"random distinct, shingles", mid, INT64_MAX, true,
         [](RunRequest& r) {
             r.options.skipSimilar = true;
             r.deleting = {1, 2, 60};
         }},
        {"free choice, length range", varied, 4000, true,
         [](RunRequest& r) {
             r.options.lengthLimit = true;
             r.options.minLength = 50;
             r.options.maxLength = 55;
         }},
        {"free choice, exact skipping", kHuge, 3000, true,
         [](RunRequest& r) {
             r.options.skipSimilar = true;
             r.batchSize = 5;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunRequest request = Request(c.text, c.wanted, c.random);
        c.adjust(request);
        const std::vector<KeptVersion> expected = OneAtATime(request);
        ASSERT_GT(expected.size(), 50u);
        for (unsigned threads : {1u, 2u, 4u}) {
            SCOPED_TRACE(threads);
            request.threads = threads;
            CGenerationRun run;
            CRecordingSink sink;
            const RunSummary summary = run.RunGeneration(request, sink);
            EXPECT_EQ(summary.end, RunEnd::kDone);
            ASSERT_EQ(sink.versions.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i) {
                ASSERT_EQ(sink.versions[i].ordinal, expected[i].ordinal);
                ASSERT_EQ(sink.versions[i].text, expected[i].text) << "version " << i;
            }
            EXPECT_EQ(run.KeptCount(), static_cast<int64_t>(expected.size()));
        }
    }
}

TEST(GenerationRunTest, StopFromAnotherThreadEndsWithinOneVersion) {
    CGenerationRun run;
    CRecordingSink sink;
    ASSERT_TRUE(run.StartGeneration(Request(kHuge, INT64_MAX, true), sink));
    EXPECT_FALSE(run.StartGeneration(Request(kHuge, 5, true), sink));  // one worker at a time
    while (run.KeptCount() < 2000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(run.WorkText(), u"Generating...");
    run.Stop();
    // Read after Stop: the worker goes on deciding until the flag falls.
    const int64_t attemptsBefore = run.AttemptCount();
    EXPECT_EQ(run.WorkText(), u"");
    run.Wait();
    EXPECT_FALSE(run.IsRunning());
    EXPECT_LE(run.AttemptCount(), attemptsBefore + 1);
    EXPECT_EQ(sink.summary.end, RunEnd::kStopped);
    // Every kept version reached the sink, in order, and the counts stay.
    ASSERT_EQ(static_cast<int64_t>(sink.VersionCount()), run.KeptCount());
    for (std::size_t i = 0; i < sink.versions.size(); ++i) ASSERT_EQ(sink.versions[i].ordinal, static_cast<int64_t>(i));
    EXPECT_EQ(run.MaxPossibleValue(), u"> 10^10");
    EXPECT_GE(sink.ended, 1);
}

// After Stop the running flag is clear at once, but the worker still hands over
// its last versions; owners that wait for the list must see it as active.
TEST(GenerationRunTest, WorkerStaysActiveUntilItsLastSinkCall) {
    class CHeldSink : public CRecordingSink {
    public:
        void RunFinished(const RunSummary& s) override {
            std::unique_lock lock(gateMutex);
            reached = true;
            gate.notify_all();
            gate.wait(lock, [this] { return open; });
            CRecordingSink::RunFinished(s);
        }
        std::mutex gateMutex;
        std::condition_variable gate;
        bool reached = false;
        bool open = false;
    } sink;
    CGenerationRun run;
    EXPECT_FALSE(run.IsWorkerActive());
    ASSERT_TRUE(run.StartGeneration(Request(kHuge, INT64_MAX, true), sink));
    EXPECT_TRUE(run.IsWorkerActive());
    while (run.KeptCount() < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    run.Stop();
    {
        std::unique_lock lock(sink.gateMutex);
        sink.gate.wait(lock, [&] { return sink.reached; });
    }
    EXPECT_FALSE(run.IsRunning());
    EXPECT_TRUE(run.IsWorkerActive());
    {
        std::lock_guard lock(sink.gateMutex);
        sink.open = true;
    }
    sink.gate.notify_all();
    run.Wait();
    EXPECT_FALSE(run.IsWorkerActive());
    EXPECT_EQ(sink.summary.end, RunEnd::kStopped);
}

TEST(GenerationRunTest, DestructorStopsARunningWorker) {
    CRecordingSink sink;
    {
        CGenerationRun run;
        ASSERT_TRUE(run.StartGeneration(Request(kHuge, INT64_MAX, false), sink));
        while (run.KeptCount() < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(sink.summary.end, RunEnd::kStopped);
}

TEST(GenerationRunTest, DisplayValues) {
    EXPECT_EQ(CGenerationRun::MaxPossibleText(4294967296.0), u"4 294 967 296");
    EXPECT_EQ(CGenerationRun::MaxPossibleText(1e10), u"10 000 000 000");
    EXPECT_EQ(CGenerationRun::MaxPossibleText(10000000001.0), u"> 10^10");
    EXPECT_EQ(CGenerationRun::MaxPossibleText(1.7e300), u"> 10^10");
    EXPECT_EQ(CGenerationRun::MaxPossibleText(0), u"");
    EXPECT_EQ(CGenerationRun::MaxPossibleText(0.5), u"");
    EXPECT_EQ(CGenerationRun::MaxPossibleText(-1), u"");
    EXPECT_EQ(CGenerationRun::MaxPossibleText(999), u"999");
    EXPECT_EQ(CGenerationRun::MaxPossibleText(1000), u"1 000");
    EXPECT_EQ(CGenerationRun::MaxPossibleText(1234567), u"1 234 567");
    EXPECT_EQ(CGenerationRun::GeneratedText(0, 0, true), u" / ");
    EXPECT_EQ(CGenerationRun::GeneratedText(0, 12, false), u"");
    EXPECT_EQ(CGenerationRun::GeneratedText(12345, 1000000, true), u"12 345 / 1 000 000");
    EXPECT_EQ(CGenerationRun::GeneratedText(42, 50, false), u"42");

    CGenerationRun fresh;
    EXPECT_EQ(fresh.MaxPossibleValue(), u"");
    EXPECT_EQ(fresh.GeneratedValue(), u"");
    EXPECT_TRUE(fresh.IsResultSetIdle());
}

TEST(GenerationRunTest, SameSeedRepeatsARandomRun) {
    CGenerationRun run;
    CRecordingSink first, second, other;
    RunRequest request = Request(kHuge, 200, true);
    request.options.autoCorrection = true;
    EXPECT_EQ(run.RunGeneration(request, first).seed, 7u);
    run.RunGeneration(request, second);
    request.seed = 8;
    run.RunGeneration(request, other);
    EXPECT_EQ(first.Texts(), second.Texts());
    EXPECT_NE(first.Texts(), other.Texts());
    EXPECT_EQ(first.Texts().size(), 200u);
}

TEST(GenerationRunTest, MemoryBudgetStopsEarlyAndKeepsRows) {
    CGenerationRun run;
    CRecordingSink sink;
    sink.retains = true;
    RunRequest request = Request(kHuge, 1000000, false);
    request.memoryBudgetBytes = 256 * 1024;
    request.options.skipSimilar = true;
    request.deleting.method = 1;
    const RunSummary s = run.RunGeneration(request, sink);
    EXPECT_EQ(s.end, RunEnd::kMemoryBudget);
    EXPECT_NE(s.reason.find(u"memory budget"), std::u16string::npos);
    EXPECT_GT(run.KeptCount(), 100);
    EXPECT_LT(run.KeptCount(), 1000000);
    ASSERT_EQ(static_cast<int64_t>(sink.versions.size()), run.KeptCount());
    SyntaxStringGenerator::CStringGenerator engine;
    engine.LoadTemplate(kHuge);
    for (std::size_t i = 0; i < sink.versions.size(); i += 97)
        EXPECT_EQ(sink.versions[i].text, engine.GenerateVersion(static_cast<int64_t>(i), AutoCorrectionOptions::AllOff()));

    // A streaming sink without similarity holds nothing: the same run goes on.
    CRecordingSink streaming;
    RunRequest plain = Request(kHuge, 20000, false);
    plain.memoryBudgetBytes = 256 * 1024;
    EXPECT_EQ(run.RunGeneration(plain, streaming).end, RunEnd::kDone);
    EXPECT_EQ(run.KeptCount(), 20000);
}

// A sink that keeps the versions gets them as UTF-8 only where the bytes give
// back every text exactly and no decision looks at a text; otherwise as
// UTF-16. Either way the texts are those of one version at a time.
TEST(GenerationRunTest, KeepingSinkTakesUtf8OnlyWhereItLosesNothing) {
    const std::u16string wide =
        u"{caf\u00e9|na\u00efve|\u0416ук|\u00fcber} [<, >\u00e0|b|\u00e7] {x|y|z}, {ok|fine}.";
    const std::u16string surrogates = u"{\U0001F600|a|b} {\xD83D|c} {d|e|f} {g|h|i} words.";
    struct Case {
        const char* name;
        std::u16string text;
        bool lengthLimit;
        bool expectUtf8;
    };
    const Case cases[] = {
        {"letters beyond ASCII", wide, false, true},
        {"surrogates, one of them alone", surrogates, false, false},
        {"length range", wide, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunRequest request = Request(c.text, 40, true);
        request.options.autoCorrection = true;
        request.options.lengthLimit = c.lengthLimit;
        request.options.minLength = 0;
        request.options.maxLength = 1000;
        const std::vector<KeptVersion> expected = OneAtATime(request);
        ASSERT_GT(expected.size(), 20u);
        for (unsigned threads : {1u, 2u}) {
            request.threads = threads;
            CGenerationRun run;
            CRecordingSink sink;
            sink.retains = true;
            sink.takesUtf8 = true;
            run.RunGeneration(request, sink);
            EXPECT_EQ(sink.utf8Blocks > 0, c.expectUtf8);
            ASSERT_EQ(sink.versions.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(sink.versions[i].text, expected[i].text) << i;
        }
    }
    // The memory budget counts the texts as the list keeps them, whichever
    // way they come: Cyrillic letters are two bytes each in UTF-8 and two
    // in UTF-16.
    RunRequest budgeted = Request(u"{\u0416ук|\u0447ай|\u0441ок} {\u043c\u0438\u0440|\u0434\u043e\u043c} " + kHuge,
                                  1000000, true);
    budgeted.memoryBudgetBytes = 256 * 1024;
    std::vector<int64_t> kept;
    for (bool takesUtf8 : {false, true}) {
        CGenerationRun run;
        CRecordingSink sink;
        sink.retains = true;
        sink.takesUtf8 = takesUtf8;
        EXPECT_EQ(run.RunGeneration(budgeted, sink).end, RunEnd::kMemoryBudget);
        EXPECT_EQ(sink.utf8Blocks > 0, takesUtf8);
        kept.push_back(run.KeptCount());
    }
    EXPECT_EQ(kept[0], kept[1]);
}

TEST(GenerationRunTest, BatchesAndLargeTargets) {
    CGenerationRun run;
    CRecordingSink sink;
    RunRequest request = Request(kHuge, 1000, false);
    request.batchSize = 64;
    run.RunGeneration(request, sink);
    ASSERT_EQ(sink.versions.size(), 1000u);
    EXPECT_GE(sink.batchSizes.size(), 1000u / 64);
    for (std::size_t size : sink.batchSizes) EXPECT_LE(size, 64u);

    // Targets beyond 21474836 work on a fixed range of 10000.
    CRecordingSink large;
    RunRequest big = Request(kHuge, 30000000, false);
    ASSERT_TRUE(run.StartGeneration(big, large));
    while (run.KeptCount() < 30000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    run.Stop();
    run.Wait();
    EXPECT_EQ(large.ranges, std::vector<int64_t>{10000});
    EXPECT_LE(large.maxPosition, 10000);
    EXPECT_GT(large.maxPosition, 0);
}

TEST(GenerationRunTest, SeriesIndexBeyond32Bits) {
    // Version numbers past 2^31 are reached and numbered from the given start.
    CGenerationRun run;
    CRecordingSink sink;
    RunRequest request = Request(kHuge, 3, false);
    const int64_t first = 5000000000LL;
    request.firstIndex = first;
    run.RunGeneration(request, sink);
    SyntaxStringGenerator::CStringGenerator engine;
    engine.LoadTemplate(kHuge);
    ASSERT_EQ(sink.versions.size(), 3u);
    for (int64_t k = 0; k < 3; ++k)
        EXPECT_EQ(sink.versions[k].text, engine.GenerateVersion(first + k, AutoCorrectionOptions::AllOff()));

    // Near the end only the remaining versions are drawn.
    CRecordingSink tail;
    RunRequest end = Request(u"{a|b|c|d|e}", 10, false);
    end.firstIndex = 3;
    run.RunGeneration(end, tail);
    EXPECT_EQ(tail.Texts(), (std::vector<std::u16string>{u"d", u"e"}));
}

TEST(GenerationRunTest, LoadFailureIsReportedAndTouchesNothing) {
    CGenerationRun run;
    CRecordingSink sink;
    const RunSummary s = run.RunGeneration(Request(u"[<x><y|b]", 10, false), sink);
    EXPECT_EQ(s.end, RunEnd::kLoadFailed);
    EXPECT_NE(s.loadErrorKind, 0);
    EXPECT_FALSE(s.reason.empty());
    EXPECT_EQ(sink.clears, 0);
    EXPECT_TRUE(sink.ranges.empty());
    EXPECT_FALSE(run.IsRunning());
}

// Stop while a large template loads ends the load: the run reports a stop,
// and neither the results nor the progress are touched.
TEST(GenerationRunTest, StopDuringTheTemplateLoad) {
    std::u16string large;
    while (large.size() < 5000000) large += u"{a|b} [<, >x|y|z] ";
    CGenerationRun run;
    CRecordingSink sink;
    ASSERT_TRUE(run.StartGeneration(Request(large, 10, false), sink));
    run.Stop();
    run.Wait();
    EXPECT_EQ(sink.summary.end, RunEnd::kStopped);
    EXPECT_EQ(sink.clears, 0);
    EXPECT_TRUE(sink.ranges.empty());
    EXPECT_FALSE(run.IsRunning());
    EXPECT_FALSE(run.IsWorkerActive());
}

namespace {

class CRows : public CResultRows {
public:
    explicit CRows(std::vector<std::u16string> texts) : texts_(std::move(texts)) {}
    std::size_t RowCount() const override { return texts_.size(); }
    std::u16string_view RowText(std::size_t row, std::u16string&) const override { return texts_[row]; }

private:
    std::vector<std::u16string> texts_;
};

}  // namespace

TEST(GenerationRunTest, ResultSetJobsOnTheWorker) {
    CGenerationRun run;
    CRows rows({u"A", u"B", u"A", u"C", u"B"});
    {
        CRecordingSink sink;
        ASSERT_TRUE(run.StartDeleteIdentical(rows, DeletingOptions{}, sink));
        run.Wait();
        EXPECT_EQ(sink.deleted, (std::vector<std::size_t>{2, 4}));
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0], u"All strings has been processed. 2 strings has been deleted.");
        EXPECT_EQ(sink.idleChanges, (std::vector<bool>{false, true}));
        EXPECT_EQ(sink.kinds.front(), kJobSearching);
        EXPECT_TRUE(run.IsResultSetIdle());
        EXPECT_FALSE(run.IsRunning());
        EXPECT_EQ(run.WorkText(), u"");
    }
    {
        // An unknown method runs nothing and says nothing.
        CRecordingSink sink;
        ASSERT_TRUE(run.StartDeleteIdentical(rows, DeletingOptions{5, 7, 20}, sink));
        run.Wait();
        EXPECT_TRUE(sink.deleted.empty());
        EXPECT_TRUE(sink.messages.empty());
    }
    {
        CRecordingSink sink;
        ASSERT_TRUE(run.StartShuffle(rows, sink, 42));
        run.Wait();
        ASSERT_EQ(sink.reordered.size(), 5u);
        std::vector<uint32_t> sorted = sink.reordered;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
        EXPECT_EQ(sink.messages, std::vector<std::u16string>{u"All strings has been shuffled."});
    }
    CRows none({});
    CRecordingSink sink;
    EXPECT_FALSE(run.StartShuffle(none, sink));
}
