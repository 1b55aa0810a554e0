// The results list's model: the kept versions of the result set, shown in
// three columns ("#", "Length", "Text") by the Results page and read by the
// result-set jobs and the save commands. The rows themselves live in a
// CRowStore; the model passes each change on to it between the matching
// begin/end calls, so that the views follow.
//
//   CResultsModel model;
//   model.AppendVersions(std::move(batch));   // one row insertion per batch
//   model.RemoveRows({2, 4});                 // one reset; numbers keep gaps
//   model.Reorder(outcome.order);             // length+text move, "#" stays
//   auto prepared = model.PrepareReorder(order);   // on the worker: the slow part
//   model.ApplyReorder(*prepared);                 // on the UI thread: a swap
//   CRowSnapshot rows = model.Snapshot({{0, 2}, {5, 6}});   // rows 0, 1 and 5
//
// A run hands its blocks over with Announce::kBatched: the rows join the set
// at once (RowCount, RowText and snapshots see them) but the views hear of
// them at most every kAnnounceMilliseconds, in one insertion, so that the
// list lays itself out and repaints a few times a second however many blocks
// arrive; rowCount() counts the rows announced so far. AnnouncePending, and
// every other change, announces whatever waits first.
//
// The text cell shows at most the first 4,096 code units of a version, in one
// line: each line break is drawn as a mark (U+21B5); the tooltip holds the
// start of the version with its real line breaks.
//
// After a large removal the row store packs the remaining texts on a helper
// thread; the model swaps the packed texts in on the UI thread when they are
// ready, unless a hold is on (HoldPacking, for a job that reads RowText on its
// worker meanwhile).
//
// Threading: every mutation (Clear, AppendVersions, AppendPacked,
// AnnouncePending, RemoveRows, Reorder, ApplyReorder, HoldPacking,
// ReleasePacking) runs on the UI thread. RowCount, RowText, snapshots and
// PrepareReorder may be used from any thread at any time; a text from RowText
// stays valid until the next Clear or RemoveRows, or until packed texts are
// swapped in (a result-set job reads its rows before it hands back the ones to
// remove, and holds the packing while it reads). A snapshot may be read on any
// thread for as long as it lives.
//
// Texts are kept one byte per character where they can be (see CRowStore);
// RowText(row, scratch) widens such a text into scratch.
#pragma once

#include "files/row_store.h"
#include "postprocess/result_jobs.h"
#include "run/generation_run.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

class CResultsModel : public QAbstractTableModel, public CResultRows {
    Q_OBJECT
public:
    enum Column { kNumberColumn = 0, kLengthColumn = 1, kTextColumn = 2, kColumnCount = 3 };
    static inline const QColor kNumberBackground{212, 229, 237};
    static inline const QColor kEvenTextBackground{255, 255, 255};
    static inline const QColor kOddTextBackground{233, 242, 246};
    static constexpr int kAnnounceMilliseconds = 200;
    enum class Announce { kNow, kBatched };

    explicit CResultsModel(QObject* parent = nullptr);
    ~CResultsModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void Clear();
    void AppendVersions(std::vector<KeptVersion>&& batch);
    // Versions as a run hands them over, their texts written into one buffer
    // by CRowStore::WriteText, which the list keeps instead of copying:
    // version i's ordinal is firstOrdinal + i.
    void AppendPacked(std::shared_ptr<char[]> buffer, std::span<const CStoredText> texts, int64_t firstOrdinal,
                      Announce announce = Announce::kNow);
    void AnnouncePending();  // the views hear of every row now
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
    CStoredText RowText(std::size_t row) const;
    std::u16string_view RowText(std::size_t row, std::u16string& scratch) const override;
    int64_t RowNumber(std::size_t row) const;  // the "#" value shown
    std::size_t ApproximateBytes() const;

    // Rows in ascending, non-overlapping [first, last) spans (rows past the end
    // are dropped), or all rows.
    CRowSnapshot Snapshot(const std::vector<std::pair<std::size_t, std::size_t>>& spans) const;
    CRowSnapshot SnapshotAll() const;

    // While held, packed texts are not swapped in, so views from RowText stay valid.
    void HoldPacking() { rows_.HoldPacking(); }
    void ReleasePacking() { rows_.ReleasePacking(); }
    // Packed texts on their way in, or memory let go on its way back to the system.
    bool IsTidying() const { return rows_.IsPacking() || rows_.IsReleasing(); }

private:
    Q_INVOKABLE void AdoptPackedTexts();  // queued from the packing helper
    std::size_t AnnounceableRows() const;

    CRowStore rows_;
    std::size_t shownRows_ = 0;  // rows the views know of
    QTimer announceTimer_;       // runs while batched rows may still come
};
