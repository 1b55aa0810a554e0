#include "app/qt_run_sink.h"

#include "views/results_model.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <algorithm>

CQtRunSink::CQtRunSink(CRunSinkClient& client, CResultsModel& model, QObject* parent)
    : QObject(parent), client_(client), model_(model) {}

CQtRunSink::~CQtRunSink() {
    Detach();
}

void CQtRunSink::Push(std::function<void()> apply, bool isBatch) {
    std::unique_lock lock(mutex_);
    if (isBatch) {
        roomForBatch_.wait(lock, [this] { return pendingBatches_ < kMaxPendingBatches || detached_; });
        ++pendingBatches_;
    }
    pending_.emplace_back(std::move(apply), isBatch);
    if (!slicePosted_) {
        slicePosted_ = true;
        PostDrainSlice();
    }
}

// By name, so that the queued call is made and freed inside Qt alone: a slot
// object built here would be freed on the other thread behind Qt's own
// reference count, an ordering that the thread checker cannot see.
void CQtRunSink::PostDrainSlice() {
    QMetaObject::invokeMethod(this, "DrainSlice", Qt::QueuedConnection);
}

void CQtRunSink::Apply(std::pair<std::function<void()>, bool>& item) {
    item.first();
    if (item.second) {
        std::lock_guard lock(mutex_);
        --pendingBatches_;
        roomForBatch_.notify_all();
    }
}

void CQtRunSink::DrainSlice() {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        std::pair<std::function<void()>, bool> item;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) {
                slicePosted_ = false;
                return;
            }
            if (clock.elapsed() >= kSliceMilliseconds) {
                // The rest waits behind whatever input and timers came meanwhile.
                PostDrainSlice();
                return;
            }
            item = std::move(pending_.front());
            pending_.pop_front();
        }
        Apply(item);
    }
}

void CQtRunSink::Drain() {
    for (;;) {
        std::pair<std::function<void()>, bool> item;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) break;
            item = std::move(pending_.front());
            pending_.pop_front();
        }
        Apply(item);
    }
    model_.AnnouncePending();
}

bool CQtRunSink::HasPending() const {
    std::lock_guard lock(mutex_);
    return !pending_.empty();
}

void CQtRunSink::Detach() {
    std::lock_guard lock(mutex_);
    detached_ = true;
    roomForBatch_.notify_all();
}

void CQtRunSink::Reattach() {
    std::lock_guard lock(mutex_);
    detached_ = false;
}

void CQtRunSink::ClearResults() {
    HandOverRows();
    Push([this] { model_.Clear(); }, false);
}

void CQtRunSink::AppendVersions(std::vector<KeptVersion>&& batch) {
    HandOverRows();
    auto shared = std::make_shared<std::vector<KeptVersion>>(std::move(batch));
    Push([this, shared] { model_.AppendVersions(std::move(*shared)); }, true);
}

// The block's buffer is reused once this returns: its texts are written once,
// here on the worker, into a buffer that the list then keeps as it is.
void CQtRunSink::AppendBlock(const CVersionBlock& block) {
    if (block.Empty()) return;
    if (!written_.empty() && block.FirstOrdinal() != firstWrittenOrdinal_ + static_cast<int64_t>(written_.size()))
        HandOverRows();
    for (std::size_t i = 0; i < block.Size(); ++i) {
        const std::size_t most = CRowStore::MaxTextBytes(block.Length(i));
        if (bufferCapacity_ - bufferUsed_ < most) {
            HandOverRows();
            bufferCapacity_ = std::max(kBufferBytes, most);
            buffer_ = CRowStore::NewTextBuffer(bufferCapacity_);
            bufferUsed_ = 0;
        }
        if (written_.empty()) firstWrittenOrdinal_ = block.Ordinal(i);
        written_.push_back(block.IsUtf8()
                               ? CRowStore::WriteUtf8Text(buffer_.get(), bufferUsed_, block.Bytes(i), scratch_)
                               : CRowStore::WriteText(buffer_.get(), bufferUsed_, block.Text(i)));
    }
    if (std::chrono::steady_clock::now() - lastHandOver_ >= std::chrono::milliseconds(kHandOverMilliseconds))
        HandOverRows();
}

// The list reads these rows while the worker goes on writing into the rest of
// the buffer.
void CQtRunSink::HandOverRows() {
    lastHandOver_ = std::chrono::steady_clock::now();
    if (written_.empty()) return;
    auto texts = std::make_shared<std::vector<CStoredText>>(std::move(written_));
    written_.clear();
    Push([this, buffer = buffer_, texts, first = firstWrittenOrdinal_] {
        model_.AppendPacked(buffer, *texts, first, CResultsModel::Announce::kBatched);
    }, true);
}

void CQtRunSink::JobStarted(int64_t range, JobKind kind) {
    HandOverRows();
    progress_.store(0, std::memory_order_relaxed);
    Push([this, range, kind] { client_.OnJobStarted(range, kind); }, false);
}

void CQtRunSink::JobProgress(int64_t position) {
    progress_.store(position, std::memory_order_relaxed);
}

bool CQtRunSink::IsDetached() const {
    std::lock_guard lock(mutex_);
    return detached_;
}

void CQtRunSink::JobEnded() {
    HandOverRows();
    Push([this] { client_.OnJobEnded(); }, false);
}

void CQtRunSink::StatusRefresh() {
    HandOverRows();
    Push([this] { client_.OnStatusRefresh(); }, false);
}

void CQtRunSink::RunFinished(const RunSummary& summary) {
    HandOverRows();
    buffer_.reset();
    bufferCapacity_ = bufferUsed_ = 0;
    Push([this, summary] {
        model_.AnnouncePending();
        client_.OnRunFinished(summary, IsDetached());
    }, false);
}

void CQtRunSink::DeleteRows(std::vector<std::size_t>&& ascendingRows) {
    HandOverRows();
    auto shared = std::make_shared<std::vector<std::size_t>>(std::move(ascendingRows));
    Push([this, shared] { model_.RemoveRows(*shared); }, false);
}

void CQtRunSink::ReorderRows(std::vector<uint32_t>&& order) {
    // Permuting a million rows takes longer than the window may wait, so it is
    // done here on the worker; the list only swaps the result in.
    HandOverRows();
    std::shared_ptr<CPreparedReorder> prepared = model_.PrepareReorder(std::move(order));
    Push([this, prepared] { model_.ApplyReorder(*prepared); }, false);
}

void CQtRunSink::JobMessage(const std::u16string& message) {
    HandOverRows();
    Push([this, message] { client_.OnJobMessage(message, IsDetached()); }, false);
}

void CQtRunSink::ResultSetIdleChanged(bool idle) {
    HandOverRows();
    Push([this, idle] { client_.OnResultSetIdleChanged(idle); }, false);
}
