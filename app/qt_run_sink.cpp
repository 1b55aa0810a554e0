#include "app/qt_run_sink.h"

#include "views/results_model.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <algorithm>
#include <cstring>

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
    Push([this] { model_.Clear(); }, false);
}

void CQtRunSink::AppendVersions(std::vector<KeptVersion>&& batch) {
    auto shared = std::make_shared<std::vector<KeptVersion>>(std::move(batch));
    Push([this, shared] { model_.AppendVersions(std::move(*shared)); }, true);
}

// The block's buffer is reused once this returns: its texts are copied once,
// here on the worker, into a buffer that the list then keeps as it is.
void CQtRunSink::AppendBlock(const CVersionBlock& block) {
    if (block.Empty()) return;
    const char16_t* base = block.Text(0).data();
    const std::size_t units = block.Units();
    std::shared_ptr<char16_t[]> texts = CRowStore::NewTextBuffer(units);
    std::memcpy(texts.get(), base, units * sizeof(char16_t));
    auto ends = std::make_shared<std::vector<std::size_t>>(block.Size());
    for (std::size_t i = 0; i < block.Size(); ++i) {
        const std::u16string_view text = block.Text(i);
        (*ends)[i] = static_cast<std::size_t>(text.data() - base) + text.size();
    }
    Push([this, texts = std::move(texts), ends, first = block.FirstOrdinal()] {
        model_.AppendPacked(texts, *ends, first, CResultsModel::Announce::kBatched);
    }, true);
}

void CQtRunSink::JobStarted(int64_t range, JobKind kind) {
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
    Push([this] { client_.OnJobEnded(); }, false);
}

void CQtRunSink::StatusRefresh() {
    Push([this] { client_.OnStatusRefresh(); }, false);
}

void CQtRunSink::RunFinished(const RunSummary& summary) {
    Push([this, summary] {
        model_.AnnouncePending();
        client_.OnRunFinished(summary, IsDetached());
    }, false);
}

void CQtRunSink::DeleteRows(std::vector<std::size_t>&& ascendingRows) {
    auto shared = std::make_shared<std::vector<std::size_t>>(std::move(ascendingRows));
    Push([this, shared] { model_.RemoveRows(*shared); }, false);
}

void CQtRunSink::ReorderRows(std::vector<uint32_t>&& order) {
    // Permuting a million rows takes longer than the window may wait, so it is
    // done here on the worker; the list only swaps the result in.
    std::shared_ptr<CPreparedReorder> prepared = model_.PrepareReorder(std::move(order));
    Push([this, prepared] { model_.ApplyReorder(*prepared); }, false);
}

void CQtRunSink::JobMessage(const std::u16string& message) {
    Push([this, message] { client_.OnJobMessage(message, IsDetached()); }, false);
}

void CQtRunSink::ResultSetIdleChanged(bool idle) {
    Push([this, idle] { client_.OnResultSetIdleChanged(idle); }, false);
}
