// The result set: every kept version with its number, length and text, the
// only store of the versions, shown by the Results page's list ("#", "Length",
// "Text") and read by the result-set jobs and the save commands.
//
// Texts live in a few large UTF-16 chunks; a row is an offset into them, a
// length and a number, so a million rows cost their text plus 20 bytes each.
// Chunks are shared, never moved or reused, so a snapshot of rows stays valid
// whatever the model does afterwards.
//
//   CResultsModel model;
//   model.AppendVersions(std::move(batch));   // one row insertion per batch
//   model.RemoveRows({2, 4});                 // one reset; numbers keep gaps
//   model.Reorder(outcome.order);             // length+text move, "#" stays
//   CRowSnapshot rows = model.Snapshot({0, 3});
//
// Threading: every mutation (Clear, AppendVersions, RemoveRows, Reorder) runs on
// the UI thread. RowCount and RowText may be called from any thread at any time;
// a view from RowText stays valid until the next Clear. A snapshot may be read
// on any thread for as long as it lives.
#pragma once

#include "app/run/generation_run.h"
#include "postprocess/result_jobs.h"

#include <QAbstractTableModel>
#include <QColor>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string_view>
#include <vector>

// Immutable copy of some rows' texts in row order; keeps their chunks alive.
class CRowSnapshot {
public:
    std::size_t Size() const { return texts_.size(); }
    std::u16string_view Text(std::size_t i) const { return texts_[i]; }

private:
    friend class CResultsModel;
    std::vector<std::shared_ptr<const char16_t[]>> chunks_;
    std::vector<std::u16string_view> texts_;
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

    std::size_t RowCount() const override;
    std::u16string_view RowText(std::size_t row) const override;
    int64_t RowNumber(std::size_t row) const;  // the "#" value shown
    std::size_t ApproximateBytes() const;

    // The given rows (ascending or not; out-of-range ones are skipped), or all.
    CRowSnapshot Snapshot(const std::vector<std::size_t>& rows) const;
    CRowSnapshot SnapshotAll() const;

private:
    struct Chunk {
        std::shared_ptr<char16_t[]> data;
        std::size_t capacity = 0;
        std::size_t used = 0;
    };
    const char16_t* Store(std::u16string_view text);
    void AddChunks(std::vector<std::shared_ptr<const char16_t[]>>& out) const;

    mutable std::shared_mutex mutex_;  // guards the arrays below against readers on other threads
    std::vector<Chunk> chunks_;
    std::size_t currentChunk_ = 0;
    std::size_t storedUnits_ = 0;
    std::vector<const char16_t*> texts_;
    std::vector<uint32_t> lengths_;
    std::vector<int64_t> numbers_;
};
