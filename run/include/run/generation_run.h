// CGenerationRun: the generation run and the result-set jobs on one worker
// thread, with the counters, flags and display values that the status bar
// shows. The desktop application and the command line both drive it; the UI
// side reaches it only through CRunSink, so nothing here knows about Qt.
//
//   CGenerationRun run;
//   RunRequest request;
//   request.templateText = check.templateText;   // macro-expanded
//   request.options.versionsCount = 1000;
//   run.StartGeneration(request, sink);         // worker thread
//   ...
//   run.Stop();                                 // takes effect within one version
//   run.Wait();
//
//   run.RunGeneration(request, sink);           // or on the calling thread (CLI)
//
// Versions are built and corrected (and fingerprinted for the similarity test)
// on request.threads threads, the calling or worker thread among them, and
// decided, counted and handed to the sink in run order on that one thread: for
// a given seed and options the sink sees the same versions whatever the
// number of threads.
//
// Thread safety: Start*/Stop/Wait and the destructor from the owner's thread.
// The counters, the flags and the display texts may be read from any thread
// while the worker writes them. Sink callbacks run on the worker thread (on the
// calling thread for RunGeneration), one at a time. The rows given to a result-set job must
// stay alive and unchanged until the job has ended (IsRunning() false, or Wait).
// Stop clears the work text at once; the sink's JobEnded comes from the worker
// when it ends.
#pragma once

#include "background/background_work.h"
#include "engine/string_generator.h"
#include "postprocess/autocorrect.h"
#include "postprocess/result_jobs.h"
#include "postprocess/similarity.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct GenerationOptions {
    int32_t versionsCount = 0;  // 2147483647 stands for "Max"
    bool randomOrder = true;
    bool autoCorrection = false;
    bool skipSimilar = false;
    bool lengthLimit = false;
    int32_t minLength = 0;
    int32_t maxLength = -1;
};

struct KeptVersion {
    int64_t ordinal = 0;  // kept count before this version; the list shows ordinal + 1
    std::u16string text;
};

// Kept versions handed over together: their texts back to back in one buffer,
// their ordinals consecutive from FirstOrdinal(). The run reuses the block's
// memory once the sink call returns, so a sink copies what it keeps. The
// blocks of a run whose sink takes UTF-8 hold each version's UTF-8 bytes
// (Bytes) instead of its text (Text), each followed by the sink's separator,
// so that the sink can write them all at once (AllBytes).
class CVersionBlock {
public:
    std::size_t Size() const { return ends_.size(); }
    bool IsUtf8() const { return utf8_; }
    bool Empty() const { return ends_.empty(); }
    int64_t FirstOrdinal() const { return firstOrdinal_; }
    int64_t Ordinal(std::size_t i) const { return firstOrdinal_ + static_cast<int64_t>(i); }
    std::u16string_view Text(std::size_t i) const {
        const std::size_t begin = Begin(i);
        return std::u16string_view(texts_).substr(begin, ends_[i] - begin);
    }
    std::string_view Bytes(std::size_t i) const {
        const std::size_t begin = Begin(i);
        return std::string_view(bytes_).substr(begin, ends_[i] - begin);
    }
    // The bytes of every version, each followed by the separator.
    std::string_view AllBytes() const { return bytes_; }
    // Code units of version i, or its bytes in a UTF-8 block.
    std::size_t Length(std::size_t i) const { return ends_[i] - Begin(i); }
    std::size_t Units() const { return ends_.empty() ? 0 : ends_.back(); }  // of all versions, or bytes

    void Clear(int64_t firstOrdinal = 0) {
        firstOrdinal_ = firstOrdinal;
        texts_.clear();
        bytes_.clear();
        ends_.clear();
    }
    // Empties the block and sets what it holds from now on: texts, or UTF-8
    // bytes with separator after every version.
    void SetUtf8(bool utf8, std::string_view separator = {}) {
        Clear(firstOrdinal_);
        utf8_ = utf8;
        separator_ = utf8 ? separator : std::string_view();
    }
    void Add(std::u16string_view text) {
        texts_.append(text);
        ends_.push_back(texts_.size());
    }
    void AddUtf8(std::string_view bytes) {
        bytes_.append(bytes);
        ends_.push_back(bytes_.size());
        bytes_.append(separator_);
    }
    // Version i of a block that holds the same kind.
    void AddFrom(const CVersionBlock& other, std::size_t i) {
        if (utf8_) {
            AddUtf8(other.Bytes(i));
        } else {
            Add(other.Text(i));
        }
    }
    // Adds the text that write(std::u16string& texts) appends to texts.
    template <typename Write>
    void AddWritten(Write&& write) {
        write(texts_);
        ends_.push_back(texts_.size());
    }
    // Adds the bytes that write(std::string& bytes) appends to bytes.
    template <typename Write>
    void AddWrittenUtf8(Write&& write) {
        write(bytes_);
        ends_.push_back(bytes_.size());
        bytes_.append(separator_);
    }
    // Room for units code units of texts, or bytes in a UTF-8 block, so
    // that filling the block does not move it.
    void Reserve(std::size_t units) {
        if (utf8_) {
            bytes_.reserve(units);
        } else {
            texts_.reserve(units);
        }
    }
    // Numbers the texts from firstOrdinal on, keeping them.
    void Renumber(int64_t firstOrdinal) { firstOrdinal_ = firstOrdinal; }

private:
    std::size_t Begin(std::size_t i) const { return i == 0 ? 0 : ends_[i - 1] + separator_.size(); }

    int64_t firstOrdinal_ = 0;
    bool utf8_ = false;
    std::string separator_;
    std::u16string texts_;
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

struct RunRequest {
    std::u16string templateText;  // macro-expanded
    GenerationOptions options;
    AutoCorrectionOptions correction;  // used when options.autoCorrection is on
    DeletingOptions deleting;          // used when options.skipSimilar is on
    std::optional<int64_t> versionsWanted;  // overrides options.versionsCount (command line)
    std::optional<uint32_t> seed;           // default: the clock
    mpz_class firstIndex = 0;               // series order: first version number, any size
    std::size_t memoryBudgetBytes = 0;      // 0: half the physical memory (or of the cgroup's limit)
    std::size_t batchSize = 4096;           // kept versions per sink batch at most
    // A stop flag of the caller's (the command line's interrupt flag) that the
    // template load polls instead of Stop's; a signal handler may set it.
    const std::atomic<bool>* loadStop = nullptr;
    unsigned threads = 0;                   // threads that build versions; 0: one per core
};

// Why a run ended.
enum class RunEnd { kNotStarted, kDone, kStopped, kLoadFailed, kNumbersExhausted, kMemoryBudget };

struct RunSummary {
    RunEnd end = RunEnd::kNotStarted;
    int loadErrorKind = 0;
    int loadErrorPosition = -1;
    uint32_t seed = 0;      // the random generator's seed, so the run can be repeated
    std::u16string reason;  // empty when the run simply finished or was stopped
};

class CRunSink {
public:
    virtual ~CRunSink() = default;
    // Generation.
    virtual void ClearResults() {}
    virtual void AppendVersions(std::vector<KeptVersion>&& batch) = 0;
    // The run hands its kept versions over here; the default gives them to
    // AppendVersions, one string each. A sink that only passes the texts on
    // (a file, a pipe) overrides this and copies nothing.
    virtual void AppendBlock(const CVersionBlock& block);
    // True when the sink keeps the versions in memory (the window's list), so
    // they count against the run's memory budget.
    virtual bool RetainsVersions() const { return false; }
    // True when the sink takes the versions as UTF-8: its blocks hold UTF-8,
    // built on the building threads. A sink that keeps the versions gets
    // UTF-8 only where the bytes give every text back exactly and the run
    // needs no text to decide (no length limit, no similarity test, no
    // surrogate in the template).
    virtual bool TakesUtf8() const { return false; }
    // What such a sink writes after every version, in UTF-8: its blocks hold
    // it after each version's bytes.
    virtual std::string Utf8Separator() const { return {}; }
    // Progress display: BeginJob, a position in 0 .. range, EndJob.
    virtual void JobStarted(int64_t range, JobKind kind) { (void)range; (void)kind; }
    virtual void JobProgress(int64_t position) { (void)position; }
    virtual void JobEnded() {}
    // At most every 100 ms while a run works, and at job start and end.
    virtual void StatusRefresh() {}
    virtual void RunFinished(const RunSummary& summary) { (void)summary; }
    // Result-set jobs: the outcome to apply to the rows, then the message.
    virtual void DeleteRows(std::vector<std::size_t>&& ascendingRows) { (void)ascendingRows; }
    virtual void ReorderRows(std::vector<uint32_t>&& order) { (void)order; }
    virtual void JobMessage(const std::u16string& message) { (void)message; }
    // Result-set idle flag changes (false while a job rewrites the rows).
    virtual void ResultSetIdleChanged(bool idle) { (void)idle; }
};

class CGenerationRun {
public:
    CGenerationRun();
    ~CGenerationRun();  // stops the worker and waits for it
    CGenerationRun(const CGenerationRun&) = delete;
    CGenerationRun& operator=(const CGenerationRun&) = delete;

    // Start on the worker; false when a worker is already running.
    bool StartGeneration(RunRequest request, CRunSink& sink);
    bool StartDeleteIdentical(const CResultRows& rows, DeletingOptions options, CRunSink& sink);
    bool StartShuffle(const CResultRows& rows, CRunSink& sink, std::optional<uint64_t> seed = {});

    // The same work on the calling thread.
    RunSummary RunGeneration(const RunRequest& request, CRunSink& sink);

    void Stop();  // clears the running flag; the worker ends within one version (a template load within milliseconds)
    void Wait();  // joins a finished or stopping worker

    bool IsRunning() const { return running_.load(); }
    // True from a Start* until the worker has made its last sink call; after a
    // Stop the running flag clears at once while the worker finishes its version.
    bool IsWorkerActive() const { return workerActive_.load(); }
    bool IsResultSetIdle() const { return resultSetIdle_.load(); }

    int64_t AttemptCount() const { return attemptCount_.load(); }
    int64_t KeptCount() const { return keptCount_.load(); }
    std::u16string WorkText() const;

    // "Max possible versions:   " and "Generated versions:   " values.
    std::u16string MaxPossibleValue() const;
    std::u16string GeneratedValue() const;
    static std::u16string MaxPossibleText(double maxPossible);
    static std::u16string GeneratedText(int64_t kept, int64_t attempts, bool skipSimilar);

private:
    RunSummary Generate(const RunRequest& request, CRunSink& sink);
    void RunResultSetJob(const std::function<void(const JobControl&)>& job, CRunSink& sink);
    JobControl MakeJobControl(CRunSink& sink);
    void BeginJob(int64_t total, JobKind kind, CRunSink& sink);
    void EndJob(CRunSink& sink);
    void SetWorkText(std::u16string text);
    void JoinWorker();
    // Runs work on the worker; running out of memory ends the job with the
    // out-of-memory message (a generation's RunFinished, another job's
    // JobMessage) instead of escaping the thread.
    template <typename Work>
    void LaunchWorker(Work work, CRunSink& sink, bool generation);
    void EndOutOfMemory(CRunSink& sink, bool generation);

    SyntaxStringGenerator::CStringGenerator engine_;
    SimilarityState similarity_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};  // set by Stop: ends the template load too
    std::atomic<bool> resultSetIdle_{true};
    std::atomic<bool> workerActive_{false};
    // Written for every version while building threads read the engine for
    // every version: the counters start a cache line of their own.
    alignas(64) std::atomic<int64_t> attemptCount_{-1};
    std::atomic<int64_t> keptCount_{-1};
    std::atomic<double> maxPossible_{-1.0};
    std::atomic<bool> runSkipSimilar_{false};
    mutable std::mutex workTextMutex_;
    std::u16string workText_;
    int64_t jobTotal_ = 0;  // worker only: the current job's total, for progress scaling
    int64_t jobRange_ = 0;
    CBackgroundWork worker_;
};
