#include "run/generation_run.h"

#include "version_pipeline.h"

#include "engine/syntax_check.h"
#include "text/messages.h"
#include "text/text_encoding.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <new>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Progress ranges above this do not fit a 32-bit progress control; such jobs
// work on a fixed range of 10000 instead.
constexpr int64_t kLargeJobTotal = 21474837;
constexpr int64_t kFixedRange = 10000;
// Series numbers from here on are read exactly: a double no longer holds every integer.
constexpr long kExactDoubleLimit = 1L << 53;

constexpr auto kStatusInterval = std::chrono::milliseconds(100);
// About one screen refresh: a window appends what arrived in one go.
constexpr auto kBatchInterval = std::chrono::milliseconds(16);

// A sink that passes the texts on gets blocks of about this many code units,
// small enough to stay in the caches while they are encoded and written.
constexpr std::size_t kStreamBlockUnits = std::size_t{1} << 18;
// Versions are built in chunks of about this many code units: large enough that
// handing a chunk between threads costs little, small enough to spread over
// the threads evenly.
constexpr double kChunkUnits = 262144;
constexpr std::size_t kMaxChunkVersions = 4096;

// What a kept text costs beyond its characters: the row record and the
// allocator's bookkeeping.
constexpr std::size_t kRowOverheadBytes = sizeof(KeptVersion) + 32;

// Process-wide, as the status bar is: two runs in a row do not refresh it
// faster than once per interval.
std::atomic<int64_t> lastStatusRefreshMs{0};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// Indexed by job kind.
constexpr std::array kWorkTextIds = {kIdsGenerating, kIdsShuffling, kIdsSearching, kIdsDeleting};

std::u16string Decimal(int64_t value) {
    const std::string narrow = std::to_string(value);
    return std::u16string(narrow.begin(), narrow.end());
}

std::u16string Megabytes(std::size_t bytes) {
    return Decimal(static_cast<int64_t>((bytes + (1u << 19)) >> 20)) + u" MB";
}

// The cgroup limit when this process runs in a container with less memory than
// the machine has.
std::size_t CgroupMemoryLimit() {
    std::ifstream in("/sys/fs/cgroup/memory.max");
    std::string value;
    if (!(in >> value) || value == "max") return std::numeric_limits<std::size_t>::max();
    try {
        return static_cast<std::size_t>(std::stoull(value));
    } catch (...) {
        return std::numeric_limits<std::size_t>::max();
    }
}

// Half the physical memory, or of the cgroup limit when that is lower.
std::size_t DefaultMemoryBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    std::size_t physical = pages > 0 && pageSize > 0
                               ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize)
                               : std::size_t{2} << 30;
    physical = std::min(physical, CgroupMemoryLimit());
    return physical / 2;
}

std::u16string GroupDigits(std::u16string_view digits) {
    // A space goes before every group of three counted from the right; the
    // space that would stand before the whole number is trimmed away.
    std::u16string grouped;
    const std::size_t length = digits.size();
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0 && (length - i) % 3 == 0) grouped.push_back(u' ');
        grouped.push_back(digits[i]);
    }
    const auto first = grouped.find_first_not_of(u' ');
    if (first == std::u16string::npos) return {};
    const auto last = grouped.find_last_not_of(u' ');
    return grouped.substr(first, last - first + 1);
}

// What a generation run works towards, worked out once its template is loaded.
struct RunPlan {
    bool series = false;
    int64_t firstIndex = 0;  // series order: the first version number
    // Series from a first number at or past 2^53: the numbers are read
    // exactly, exactFirstIndex + i for the loop's i counting from 0.
    bool exactSeries = false;
    mpz_class exactFirstIndex;
    double indexLimit = 0;   // the loop's i stays below this
    double target = 0;       // versions to keep: as many as wanted, at most as many as reachable
    int64_t total = 0;       // the target as the progress job's total
    AutoCorrectionOptions correction;
    std::size_t memoryBudget = 0;
    std::size_t batchSize = 1;
    unsigned threads = 1;
};

RunPlan PlanRun(const RunRequest& request, SyntaxStringGenerator::CStringGenerator& engine, double versionCount) {
    const GenerationOptions& options = request.options;
    RunPlan plan;
    plan.series = !options.randomOrder;
    plan.indexLimit = versionCount;
    double reachable = 0;
    if (plan.series && request.firstIndex >= kExactDoubleLimit) {
        plan.exactSeries = true;
        plan.exactFirstIndex = request.firstIndex;
        const mpz_class left = engine.GetExactVersionCount() - request.firstIndex;
        reachable = left > 0 ? left.get_d() : 0.0;
        plan.indexLimit = reachable;
    } else {
        plan.firstIndex = plan.series && request.firstIndex > 0 ? request.firstIndex.get_si() : 0;
        // A series resumed at firstIndex can only reach the versions from there on.
        reachable = std::max(0.0, versionCount - static_cast<double>(plan.firstIndex));
    }
    const int64_t wanted = std::max<int64_t>(request.versionsWanted.value_or(options.versionsCount), 0);
    plan.target = std::min(static_cast<double>(wanted), reachable);
    // A run without an end wants 2^63 versions, one past what the total holds.
    plan.total = plan.target < 0x1p63 ? static_cast<int64_t>(plan.target) : std::numeric_limits<int64_t>::max();
    plan.correction = options.autoCorrection ? request.correction : AutoCorrectionOptions::AllOff();
    plan.memoryBudget = request.memoryBudgetBytes ? request.memoryBudgetBytes : DefaultMemoryBudget();
    plan.batchSize = std::max<std::size_t>(request.batchSize, 1);
    plan.threads = request.threads ? request.threads : std::max(1u, std::thread::hardware_concurrency());
    return plan;
}

// The memory a run holds for what it keeps: the kept versions when the sink
// retains them, and the similarity index when similar versions are skipped.
class CMemoryMeter {
public:
    CMemoryMeter(bool countsVersions, bool countsIndex, std::size_t budget)
        : countsVersions_(countsVersions), countsIndex_(countsIndex), budget_(budget) {}

    // One more kept version of length code units, kept versions in all; true
    // once the run holds its budget or more.
    bool AddKept(std::size_t length, int64_t kept, const SimilarityState& similarity) {
        if (countsVersions_) keptBytes_ += length * sizeof(char16_t) + kRowOverheadBytes;
        // Measuring the similarity index walks it, so it is measured at
        // kept counts that grow geometrically; between two measurements
        // it grows by at most a thirty-second.
        if (countsIndex_ && kept >= nextIndexCheck_) {
            indexBytes_ = similarity.ApproximateBytes();
            nextIndexCheck_ = kept + std::max<int64_t>(64, kept / 32);
        }
        return Held() >= budget_;
    }

    std::u16string StopReason() const {
        return u"Stopped early: the kept versions" +
               std::u16string(countsIndex_ ? u" and their similarity index" : u"") + u" need " +
               Megabytes(Held()) + u", which reaches the run's memory budget of " + Megabytes(budget_) +
               u". The versions kept so far are complete.";
    }

private:
    std::size_t Held() const { return keptBytes_ + indexBytes_; }

    bool countsVersions_;
    bool countsIndex_;
    std::size_t budget_;
    std::size_t keptBytes_ = 0;
    std::size_t indexBytes_ = 0;
    int64_t nextIndexCheck_ = 1;
};

// The progress position after attempts draws of which kept were kept, in a job
// of range total. With large totals the bar cycles every 10000 draws.
int64_t ProgressPosition(int64_t attempts, int64_t kept, int64_t total, double maxPossible) {
    double d = static_cast<double>(attempts);
    if (total > kLargeJobTotal - 1) {
        d = d - std::floor(d / 10000.0) * 10000.0;
        if (d < 0) d = 0;
    }
    const double g = std::min(static_cast<double>(total) + static_cast<double>(attempts - kept), maxPossible);
    return g > 0 ? static_cast<int64_t>(static_cast<double>(total) * (d / g)) : 0;
}

// Kept versions on their way to the sink, handed over when batchSize of them
// wait, when a sink that passes them on has a block of kStreamBlockUnits, or
// when kBatchInterval has passed since the last hand-over.
class CKeptBatch {
public:
    CKeptBatch(CRunSink& sink, std::size_t batchSize, bool utf8, std::string_view separator)
        : sink_(sink),
          batchSize_(batchSize),
          unitLimit_(sink.RetainsVersions() ? std::numeric_limits<std::size_t>::max() : kStreamBlockUnits) {
        block_.SetUtf8(utf8, separator);
    }

    // Version j of versions.
    void Add(int64_t ordinal, const CVersionBlock& versions, std::size_t j) {
        if (block_.Empty()) block_.Clear(ordinal);
        block_.AddFrom(versions, j);
        if (block_.Size() >= batchSize_ || block_.Units() >= unitLimit_) Flush();
    }

    // The versions of a built chunk at the given indices (ascending), the
    // first of them numbered ordinal. A chunk kept whole goes to the sink as
    // it stands, without a copy.
    void AddChunk(CVersionBlock& versions, const std::vector<std::size_t>& kept, int64_t ordinal) {
        if (block_.Empty() && !kept.empty() && kept.size() == versions.Size() && kept.size() <= batchSize_) {
            versions.Renumber(ordinal);
            sink_.AppendBlock(versions);
            lastFlush_ = Clock::now();
            return;
        }
        for (const std::size_t j : kept) Add(ordinal++, versions, j);
    }

    void FlushIfDue() {
        if (Clock::now() - lastFlush_ >= kBatchInterval) Flush();
    }

    void Flush() {
        if (!block_.Empty()) sink_.AppendBlock(block_);
        block_.Clear();
        lastFlush_ = Clock::now();
    }

private:
    CRunSink& sink_;
    std::size_t batchSize_;
    std::size_t unitLimit_;
    CVersionBlock block_;
    Clock::time_point lastFlush_ = Clock::now();
};

// Draws the run's tickets into chunks for the pipeline, ahead of the decisions
// while the versions in flight could still all be kept. The tickets, and so
// the texts, are those a loop that draws, builds and decides one version at a
// time would make.
class CTicketDrawer final : public CChunkDrawer {
public:
    CTicketDrawer(SyntaxStringGenerator::CStringGenerator& engine, const RunPlan& plan)
        : engine_(engine), plan_(plan), next_(plan.firstIndex) {}

    void Draw(CVersionChunk& chunk, const DrawProgress& progress, const std::stop_token& stop) override {
        if (!drawing_) return;
        const int64_t undecided = next_ - plan_.firstIndex - progress.decidedTickets;
        const double open = plan_.target - static_cast<double>(progress.kept + undecided);
        const double left = plan_.indexLimit - static_cast<double>(next_);
        if (open < 1 || left < 1) return;
        // Until a chunk has been built its versions' size is unknown, and a
        // single version may be megabytes long: the first chunks hold one
        // version each.
        const double unitsPerVersion = progress.unitsPerVersion > 0 ? std::max(1.0, progress.unitsPerVersion) : kChunkUnits;
        double fit =
            std::clamp(std::floor(kChunkUnits / unitsPerVersion), 1.0, static_cast<double>(kMaxChunkVersions));
        // Free-choice versions are built two streams at a time: an even
        // count keeps each pair inside one chunk, and so on one thread.
        if (fit >= 2 && !plan_.series && engine_.DrawsStreams()) fit = 2 * std::floor(fit / 2);
        const auto count = static_cast<std::size_t>(std::min({fit, open, left}));
        // A chunk's texts fill about kChunkUnits, and one more version's
        // room beyond the last: made once, the room is kept while the chunk
        // is reused.
        chunk.versions.Reserve(static_cast<std::size_t>(kChunkUnits) + static_cast<std::size_t>(kChunkUnits) / 4);
        chunk.firstIndex = next_;
        SyntaxStringGenerator::VersionTicket ticket;
        for (std::size_t j = 0; j < count; ++j) {
            if (plan_.exactSeries) {
                if (stop.stop_requested()) return;
                // Numbers past 2^53 are read with exact arithmetic, which
                // the engine does while drawing only: such versions come
                // built.
                engine_.GenerateExactVersionInto(plan_.exactFirstIndex + next_, plan_.correction, exactText_);
                if (chunk.versions.IsUtf8()) {
                    chunk.versions.AddUtf8(ToNarrow(exactText_));
                } else {
                    chunk.versions.Add(exactText_);
                }
            } else if (plan_.series) {
                ticket = SyntaxStringGenerator::CStringGenerator::SeriesTicket(next_);
            } else if (!engine_.DrawRandomTicket(ticket)) {
                chunk.exhausted = true;
                drawing_ = false;
                return;
            }
            chunk.tickets.push_back(ticket);
            ++next_;
        }
    }

    // Series numbers and random streams follow one another; distinct numbers
    // and exact series numbers (built while drawn) do not come cheap.
    bool DrawsCheaply() const override {
        return plan_.series ? !plan_.exactSeries : engine_.DrawsStreams();
    }

private:
    SyntaxStringGenerator::CStringGenerator& engine_;
    const RunPlan& plan_;
    std::u16string exactText_;
    int64_t next_;  // draw index of the next ticket
    bool drawing_ = true;
};

// A lone surrogate becomes "?" in UTF-8; a template without any surrogate
// makes none.
bool HasSurrogate(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; });
}

// At most once per kStatusInterval, counted across runs.
void RefreshStatusIfDue(CRunSink& sink) {
    const int64_t nowMs = NowMs();
    if (nowMs - lastStatusRefreshMs.load() > kStatusInterval.count()) {
        lastStatusRefreshMs.store(nowMs);
        sink.StatusRefresh();
    }
}

}  // namespace

void CRunSink::AppendBlock(const CVersionBlock& block) {
    std::vector<KeptVersion> versions;
    versions.reserve(block.Size());
    for (std::size_t i = 0; i < block.Size(); ++i) {
        versions.push_back({block.Ordinal(i), block.IsUtf8() ? FromNarrowLossy(block.Bytes(i)) : std::u16string(block.Text(i))});
    }
    AppendVersions(std::move(versions));
}

CGenerationRun::CGenerationRun() = default;

CGenerationRun::~CGenerationRun() {
    Stop();
    JoinWorker();
}

void CGenerationRun::JoinWorker() {
    worker_.Join();
}

void CGenerationRun::Stop() {
    stopRequested_.store(true);
    running_.store(false);
    SetWorkText(u"");
}

void CGenerationRun::Wait() { JoinWorker(); }

std::u16string CGenerationRun::WorkText() const {
    std::lock_guard lock(workTextMutex_);
    return workText_;
}

void CGenerationRun::SetWorkText(std::u16string text) {
    std::lock_guard lock(workTextMutex_);
    workText_ = std::move(text);
}

void CGenerationRun::BeginJob(int64_t total, JobKind kind, CRunSink& sink) {
    jobTotal_ = std::max<int64_t>(total, 0);
    jobRange_ = jobTotal_ < kLargeJobTotal ? jobTotal_ : kFixedRange;
    const bool knownKind = kind >= 0 && kind < static_cast<int>(kWorkTextIds.size());
    SetWorkText(knownKind ? std::u16string(MessageText(kWorkTextIds[kind])) : std::u16string());
    sink.JobStarted(jobRange_, kind);
    sink.StatusRefresh();
}

void CGenerationRun::EndJob(CRunSink& sink) {
    SetWorkText(u"");
    sink.StatusRefresh();
    sink.JobProgress(0);
    sink.JobEnded();
}

std::u16string CGenerationRun::MaxPossibleText(double maxPossible) {
    if (std::isnan(maxPossible) || maxPossible < 0) return {};
    if (maxPossible > 1e10) return u"> 10^10";
    const auto n = static_cast<int64_t>(maxPossible);
    if (n == 0) return {};
    if (n > 10000000000LL) return u"> 10^10";
    return GroupDigits(Decimal(n));
}

std::u16string CGenerationRun::GeneratedText(int64_t kept, int64_t attempts, bool skipSimilar) {
    std::u16string k;
    std::u16string a;
    if (kept > 0) {
        k = GroupDigits(Decimal(kept));
        a = GroupDigits(Decimal(attempts));
    }
    return skipSimilar ? k + u" / " + a : k;
}

std::u16string CGenerationRun::MaxPossibleValue() const { return MaxPossibleText(maxPossible_.load()); }

std::u16string CGenerationRun::GeneratedValue() const {
    return GeneratedText(keptCount_.load(), attemptCount_.load(), runSkipSimilar_.load());
}

template <typename Work>
void CGenerationRun::LaunchWorker(Work work, CRunSink& sink, bool generation) {
    JoinWorker();
    stopRequested_.store(false);
    running_.store(true);
    workerActive_.store(true);
    worker_.Start([this, work = std::move(work), &sink, generation](std::stop_token) mutable {
        try {
            work();
        } catch (const std::bad_alloc&) {
            EndOutOfMemory(sink, generation);
        }
        workerActive_.store(false);
    });
}

// What the work built is gone with the exception; the job ends as if stopped,
// saying why. Reporting needs a little memory too: if even that fails, the
// flags alone tell the window that the job is over.
void CGenerationRun::EndOutOfMemory(CRunSink& sink, bool generation) {
    running_.store(false);
    try {
        ClearSimilarityState(similarity_);
        if (!resultSetIdle_.load()) {
            resultSetIdle_.store(true);
            sink.ResultSetIdleChanged(true);
        }
        EndJob(sink);
        const std::u16string reason(MessageText(kIdsOutOfMemory));
        if (generation) {
            RunSummary summary;
            summary.end = RunEnd::kMemoryBudget;
            summary.reason = reason;
            sink.RunFinished(summary);
        } else {
            sink.JobMessage(reason);
        }
    } catch (const std::bad_alloc&) {
        resultSetIdle_.store(true);
    }
}

bool CGenerationRun::StartGeneration(RunRequest request, CRunSink& sink) {
    if (running_.load()) return false;
    LaunchWorker([this, request = std::move(request), &sink] { Generate(request, sink); }, sink, true);
    return true;
}

RunSummary CGenerationRun::RunGeneration(const RunRequest& request, CRunSink& sink) {
    if (running_.load()) return {};
    JoinWorker();
    stopRequested_.store(false);
    running_.store(true);
    return Generate(request, sink);
}

RunSummary CGenerationRun::Generate(const RunRequest& request, CRunSink& sink) {
    RunSummary summary;
    summary.seed = request.seed.value_or(SeedFromClock());
    ClearSimilarityState(similarity_);

    const SyntaxStringGenerator::LoadResult load = engine_.LoadTemplate(request.templateText, request.loadStop ? request.loadStop : &stopRequested_);
    if (load.stopped) {
        summary.end = RunEnd::kStopped;
        running_.store(false);
        sink.StatusRefresh();
        sink.RunFinished(summary);
        return summary;
    }
    if (!load.Ok()) {
        // Nothing of the previous run's results is touched and no progress is shown.
        summary.end = RunEnd::kLoadFailed;
        summary.loadErrorKind = load.errorKind;
        summary.loadErrorPosition = load.errorPosition;
        summary.reason = load.errorKind != 0 ? SyntaxMessage(load.errorKind, load.errorPosition)
                                             : std::u16string(u"The template could not be loaded.");
        running_.store(false);
        sink.StatusRefresh();
        sink.RunFinished(summary);
        return summary;
    }

    sink.ClearResults();
    const GenerationOptions& options = request.options;
    const RunPlan plan = PlanRun(request, engine_, load.versionCount);
    CMemoryMeter memory(sink.RetainsVersions(), options.skipSimilar, plan.memoryBudget);

    runSkipSimilar_.store(options.skipSimilar);
    BeginJob(plan.total, kJobGenerating, sink);
    const double maxPossible = engine_.GetVersionCount();
    maxPossible_.store(maxPossible);
    attemptCount_.store(0);
    keptCount_.store(0);
    engine_.SeedRandom(summary.seed);

    // Versions past 2^53 in series order come built from the drawer, as
    // UTF-8 when the sink takes that; the building threads then have no
    // text to measure and fingerprint.
    const bool needsText = options.skipSimilar || options.lengthLimit;
    const bool utf8 = sink.TakesUtf8() && !(plan.exactSeries && needsText) &&
                      (!sink.RetainsVersions() || (!needsText && !HasSurrogate(request.templateText)));
    const std::string separator = utf8 ? sink.Utf8Separator() : std::string();
    CKeptBatch batch(sink, plan.batchSize, utf8, separator);
    bool stoppedByRun = false;
    if (!plan.series) engine_.ReserveDraws(static_cast<uint64_t>(std::min(plan.target, 0x1p62)));
    {
        CTicketDrawer drawer(engine_, plan);
        CVersionPipeline pipeline(
            engine_,
            VersionSetup{plan.correction, options, request.deleting, utf8, separator, utf8 && sink.RetainsVersions()},
            plan.threads, drawer);
        int64_t attempts = 0;
        int64_t kept = 0;
        int64_t lastPosition = -1;
        // The loop test of a draw-build-decide loop, before the draw of index i.
        const auto goesOn = [&](int64_t i) {
            return kept < plan.target && static_cast<double>(i) < plan.indexLimit && running_.load();
        };
        bool ended = false;
        std::vector<std::size_t> keptInChunk;
        while (!ended) {
            std::unique_ptr<CVersionChunk> chunk = pipeline.NextBuilt();
            if (!chunk) break;
            const std::size_t count = chunk->tickets.size();
            const int64_t keptBefore = kept;
            keptInChunk.clear();
            for (std::size_t j = 0; j < count && !ended; ++j) {
                if (!goesOn(chunk->firstIndex + static_cast<int64_t>(j))) {
                    ended = true;
                    break;
                }
                attemptCount_.store(++attempts, std::memory_order_release);
                const std::size_t length = KeepLength(*chunk, j);
                if (CanKeep(options, length) &&
                    (!options.skipSimilar || IsNewFingerprint(similarity_, chunk->prints[j], request.deleting))) {
                    keptInChunk.push_back(j);
                    keptCount_.store(++kept, std::memory_order_release);
                    if (memory.AddKept(length, kept, similarity_)) {
                        summary.end = RunEnd::kMemoryBudget;
                        summary.reason = memory.StopReason();
                        stoppedByRun = ended = true;
                    }
                }
                const int64_t position = ProgressPosition(attempts, kept, plan.total, maxPossible);
                if (position != lastPosition) {
                    sink.JobProgress(position);
                    lastPosition = position;
                }
            }
            if (!ended && chunk->exhausted && goesOn(chunk->firstIndex + static_cast<int64_t>(count))) {
                summary.end = RunEnd::kNumbersExhausted;
                summary.reason = u"Every version number that random order can draw has been drawn; "
                                 u"use series order to reach the others.";
                stoppedByRun = ended = true;
            }
            batch.AddChunk(chunk->versions, keptInChunk, keptBefore);
            pipeline.Decided(std::move(chunk), kept);
            batch.FlushIfDue();
            RefreshStatusIfDue(sink);
        }
    }  // stops the building threads
    batch.Flush();

    if (!stoppedByRun) summary.end = running_.load() ? RunEnd::kDone : RunEnd::kStopped;
    ClearSimilarityState(similarity_);
    running_.store(false);
    EndJob(sink);
    sink.RunFinished(summary);
    return summary;
}

JobControl CGenerationRun::MakeJobControl(CRunSink& sink) {
    JobControl control;
    control.running = &running_;
    control.beginJob = [this, &sink](int kind, int64_t total) { BeginJob(total, static_cast<JobKind>(kind), sink); };
    control.endJob = [this, &sink] { EndJob(sink); };
    control.step = [this, &sink](int64_t processed) {
        const int64_t position =
            jobTotal_ == jobRange_ || jobTotal_ == 0
                ? processed
                : static_cast<int64_t>(static_cast<double>(processed) / static_cast<double>(jobTotal_) * jobRange_);
        sink.JobProgress(position);
    };
    return control;
}

void CGenerationRun::RunResultSetJob(const std::function<void(const JobControl&)>& job, CRunSink& sink) {
    resultSetIdle_.store(false);
    sink.ResultSetIdleChanged(false);
    job(MakeJobControl(sink));
    resultSetIdle_.store(true);
    sink.ResultSetIdleChanged(true);
    running_.store(false);
    EndJob(sink);
}

bool CGenerationRun::StartDeleteIdentical(const CResultRows& rows, DeletingOptions options, CRunSink& sink) {
    if (running_.load()) return false;
    LaunchWorker([this, &rows, options, &sink] {
        RunResultSetJob(
            [&](const JobControl& control) {
                DeleteOutcome outcome;
                if (options.method == 0) {
                    outcome = DeleteIdenticalExact(rows, control);
                } else if (options.method == 1) {
                    outcome = DeleteIdenticalShingles(rows, options.shingleLength, options.allowedPercent, control);
                } else {
                    return;  // an unknown method runs no job and says nothing
                }
                if (!outcome.rowsToDelete.empty()) sink.DeleteRows(std::move(outcome.rowsToDelete));
                if (outcome.ran) sink.JobMessage(outcome.Message());
            },
            sink);
    }, sink, false);
    return true;
}

bool CGenerationRun::StartShuffle(const CResultRows& rows, CRunSink& sink, std::optional<uint64_t> seed) {
    if (running_.load() || rows.RowCount() == 0) return false;
    const uint64_t chosenSeed = seed ? *seed : NewShuffleSeed();
    const std::size_t rowCount = rows.RowCount();
    LaunchWorker([this, rowCount, chosenSeed, &sink] {
        RunResultSetJob(
            [&](const JobControl& control) {
                ShuffleOutcome outcome = ShuffleResults(rowCount, chosenSeed, control);
                if (!outcome.order.empty()) sink.ReorderRows(std::move(outcome.order));
                if (outcome.ran) sink.JobMessage(outcome.Message());
            },
            sink);
    }, sink, false);
    return true;
}
