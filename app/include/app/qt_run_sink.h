// The desktop application's CRunSink: the worker's callbacks are queued in
// order and applied on the user interface thread in short time slices, so the
// window keeps answering however fast versions come. A worker that gets too
// far ahead of the list waits (a few batches at most are pending), which also
// bounds the memory held in transit. Progress positions are not queued: the
// latest one is kept for the window's timer to show.
//
// Kept versions are written once, on the worker, straight from the run's
// blocks (UTF-8 where the run can give them so) into a large buffer that the
// list then keeps (one byte per character where the text allows, see
// CRowStore::WriteText); the rows written so far go to the list every
// kHandOverMilliseconds, when a buffer is full, and before any other report,
// so that they arrive in order.
//
//   CQtRunSink sink(client, model);          // client: the window's CRunSinkClient
//   run.StartGeneration(request, sink);
//   ...
//   sink.Detach(); run.Stop(); run.Wait();   // closing: the worker never waits on a list
//   sink.Drain();                            // what the worker produced reaches the list
//
// Thread safety: the CRunSink overrides run on the worker; everything else on
// the user interface thread.
#pragma once

#include "files/row_store.h"
#include "run/generation_run.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CResultsModel;

// What the window does with the run's reports, on the user interface thread.
class CRunSinkClient {
public:
    virtual ~CRunSinkClient() = default;
    virtual void OnJobStarted(int64_t range, JobKind kind) = 0;
    virtual void OnJobEnded() = 0;
    virtual void OnStatusRefresh() = 0;
    virtual void OnRunFinished(const RunSummary& summary, bool detached) = 0;
    virtual void OnJobMessage(const std::u16string& message, bool detached) = 0;
    virtual void OnResultSetIdleChanged(bool idle) = 0;
};

class CQtRunSink : public QObject, public CRunSink {
    Q_OBJECT
public:
    static constexpr int kMaxPendingBatches = 4;
    static constexpr int kSliceMilliseconds = 12;
    static constexpr int kHandOverMilliseconds = 50;
    static constexpr std::size_t kBufferBytes = std::size_t{16} << 20;

    CQtRunSink(CRunSinkClient& client, CResultsModel& model, QObject* parent = nullptr);
    ~CQtRunSink() override;

    // Worker side.
    void ClearResults() override;
    void AppendVersions(std::vector<KeptVersion>&& batch) override;
    void AppendBlock(const CVersionBlock& block) override;  // one copy of the texts, kept by the list
    bool RetainsVersions() const override { return true; }
    bool TakesUtf8() const override { return true; }  // where the run can give every text back exactly
    void JobStarted(int64_t range, JobKind kind) override;
    void JobProgress(int64_t position) override;
    void JobEnded() override;
    void StatusRefresh() override;
    void RunFinished(const RunSummary& summary) override;
    void DeleteRows(std::vector<std::size_t>&& ascendingRows) override;
    void ReorderRows(std::vector<uint32_t>&& order) override;
    void JobMessage(const std::u16string& message) override;
    void ResultSetIdleChanged(bool idle) override;

    // User interface side.
    void Detach();    // the worker no longer waits for the list; messages are dropped
    void Reattach();  // a new run after a Detach (tests)
    void Drain();     // apply everything pending now
    bool HasPending() const;
    int64_t LatestProgress() const { return progress_.load(std::memory_order_relaxed); }

private:
    void Push(std::function<void()> apply, bool isBatch);
    void HandOverRows();  // worker: the rows written since the last hand-over go to the list
    Q_INVOKABLE void DrainSlice();
    void PostDrainSlice();  // DrainSlice, queued on the user interface thread
    void Apply(std::pair<std::function<void()>, bool>& item);  // outside the lock
    bool IsDetached() const;

    CRunSinkClient& client_;
    CResultsModel& model_;
    mutable std::mutex mutex_;
    std::condition_variable roomForBatch_;
    std::deque<std::pair<std::function<void()>, bool>> pending_;
    int pendingBatches_ = 0;
    bool slicePosted_ = false;
    bool detached_ = false;
    std::atomic<int64_t> progress_{0};

    // Worker only: the buffer being filled and the rows written into it that
    // the list has not been given yet.
    std::shared_ptr<char[]> buffer_;
    std::size_t bufferCapacity_ = 0;
    std::size_t bufferUsed_ = 0;
    std::vector<CStoredText> written_;
    std::u16string scratch_;  // a UTF-8 text that is not ASCII, decoded
    int64_t firstWrittenOrdinal_ = 0;
    std::chrono::steady_clock::time_point lastHandOver_;
};
