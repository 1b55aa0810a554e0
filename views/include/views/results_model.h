// The result set: every kept version with its number, length and text, the
// only store of the versions, shown by the Results page's list ("#", "Length",
// "Text") and read by the result-set jobs and the save commands.
//
// Texts live in large UTF-16 chunks that are never moved or reused; rows live
// in blocks of 16384 (text pointer, length, number), so a million rows cost
// their text plus 20 bytes each, and no operation copies or reallocates the
// whole set: appending fills the last block, removal compacts in place, a
// reorder permutes in place. Chunks and blocks are shared with snapshots; a
// block that a snapshot still reads is copied before it is changed.
//
//   CResultsModel model;
//   model.AppendVersions(std::move(batch));   // one row insertion per batch
//   model.RemoveRows({2, 4});                 // one reset; numbers keep gaps
//   model.Reorder(outcome.order);             // length+text move, "#" stays
//   auto prepared = model.PrepareReorder(order);   // on the worker: the slow part
//   model.ApplyReorder(*prepared);                 // on the UI thread: a swap
//   CRowSnapshot rows = model.Snapshot({{0, 2}, {5, 6}});   // rows 0, 1 and 5
//
// Threading: every mutation (Clear, AppendVersions, RemoveRows, Reorder,
// ApplyReorder) runs on the UI thread. RowCount, RowText, snapshots and
// PrepareReorder may be used from any thread at any time; a view from RowText
// stays valid until the next Clear. A snapshot may be read on any thread for as
// long as it lives.
#pragma once

#include "run/generation_run.h"
#include "postprocess/result_jobs.h"

#include <QAbstractTableModel>
#include <QColor>

#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <shared_mutex>
#include <string_view>
#include <utility>
#include <vector>

struct CRowBlock;
struct CPreparedReorder;

// Rows as they were when the snapshot was taken, in row order; keeps their
// texts alive whatever the model does afterwards.
class CRowSnapshot {
public:
    CRowSnapshot();
    ~CRowSnapshot();
    CRowSnapshot(CRowSnapshot&&) noexcept;
    CRowSnapshot& operator=(CRowSnapshot&&) noexcept;

    std::size_t Size() const { return size_; }
    std::u16string_view Text(std::size_t i) const;

private:
    friend class CResultsModel;
    std::vector<std::shared_ptr<const CRowBlock>> blocks_;
    std::vector<std::shared_ptr<const char16_t[]>> chunks_;
    std::vector<std::pair<std::size_t, std::size_t>> spans_;  // [first, last) rows, ascending
    std::vector<std::size_t> before_;  // snapshot rows in the spans before each span
    std::size_t size_ = 0;
};

class CResultsModel : public QAbstractTableModel, public CResultRows {
    Q_OBJECT
public:
    enum Column { kNumberColumn = 0, kLengthColumn = 1, kTextColumn = 2, kColumnCount = 3 };
    static inline const QColor kNumberBackground{212, 229, 237};
    static inline const QColor kEvenTextBackground{255, 255, 255};
    static inline const QColor kOddTextBackground{233, 242, 246};

    explicit CResultsModel(QObject* parent = nullptr);
    ~CResultsModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void Clear();
    void AppendVersions(std::vector<KeptVersion>&& batch);
    // Indices out of range or repeated are ignored.
    void RemoveRows(const std::vector<std::size_t>& ascendingRows);
    // order[i] = old row whose length and text move to row i; the numbers stay.
    // Applies to the first order.size() rows; false (nothing changed) when the
    // order is not a permutation of them.
    bool Reorder(const std::vector<uint32_t>& order);
    // The same in two steps, so that the permutation of a million rows is
    // computed off the UI thread: PrepareReorder reads the rows as they are
    // (any thread), ApplyReorder swaps the result in (UI thread). When rows were
    // removed or reordered in between, ApplyReorder permutes afresh.
    std::shared_ptr<CPreparedReorder> PrepareReorder(std::vector<uint32_t> order) const;
    bool ApplyReorder(CPreparedReorder& prepared);

    std::size_t RowCount() const override;
    std::u16string_view RowText(std::size_t row) const override;
    int64_t RowNumber(std::size_t row) const;  // the "#" value shown
    std::size_t ApproximateBytes() const;

    // Rows in ascending, non-overlapping [first, last) spans (rows past the end
    // are dropped), or all rows.
    CRowSnapshot Snapshot(const std::vector<std::pair<std::size_t, std::size_t>>& spans) const;
    CRowSnapshot SnapshotAll() const;

private:
    struct Chunk {
        std::shared_ptr<char16_t[]> data;
        std::size_t capacity = 0;
        std::size_t used = 0;
    };
    const char16_t* Store(std::u16string_view text);
    std::shared_ptr<char16_t[]> NewChunk();
    CRowBlock& Block(std::size_t row) const;
    void MakeBlocksWritable(std::size_t firstRow, std::size_t lastRow);
    void AddShared(CRowSnapshot& snapshot) const;

    mutable std::shared_mutex mutex_;  // guards what follows against readers on other threads
    std::vector<Chunk> chunks_;
    std::size_t currentChunk_ = 0;
    // The next chunk, allocated and paged in on a helper thread, so that a run
    // filling the list does not pay the page faults on the UI thread.
    std::future<std::shared_ptr<char16_t[]>> nextChunk_;
    std::vector<std::shared_ptr<CRowBlock>> blocks_;
    std::size_t rowCount_ = 0;
    uint64_t layoutVersion_ = 0;  // changes with every removal, reorder and clear
};
