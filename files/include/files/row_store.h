// CRowStore: a result set held in memory, every kept version with its number
// and text. The window's results list shows one; the command line's dedupe and
// shuffle rewrite one.
//
// Texts live in large chunks that are never written twice; a text whose
// characters are all below U+0100 is kept one byte per character (ISO 8859-1),
// any other as UTF-16, so that the usual Latin texts take half the memory and
// half the page clearing. Readers get a CStoredText and widen it where they
// need UTF-16 (View). Rows live in blocks of 16384 (text pointer, length,
// width, number), so a million rows cost their text plus 21 bytes each, and no
// operation copies or reallocates the whole set: appending fills the last
// block, removal closes the gaps in place, a reorder permutes in place. Chunks
// and blocks are shared with snapshots; a block that a snapshot still reads is
// copied before it is changed. When a removal leaves dead text of more than
// half the live text (and at least 8 MB), the live texts are packed into
// fresh chunks and the store lets the old ones go; snapshots keep whatever
// they read. Chunks that a snapshot holds at that moment, which it would keep
// alive anyway, stay as they are.
//
// Packing copies everything that stays, which for a million rows takes most of
// a second. With a notifier set, RemoveRows leaves the copy to a helper thread
// and returns; the helper calls the notifier when the packed texts are ready,
// and the owner swaps them in with AdoptPacked, which takes a moment. Rows may
// be appended meanwhile; a removal, reorder or clear in between voids the
// copy and packing starts again if it is still due. Without a notifier the
// store packs inside RemoveRows. Memory let go by a swap, a packing or a clear
// is handed back to the system on the helper thread.
//
//   CRowStore rows;
//   std::vector<CStoredRow> batch{{1, u"alpha"}, {2, u"beta"}, {4, u"gamma"}};
//   rows.Append(batch);                      // numbers as given
//   auto buffer = CRowStore::NewTextBuffer(bytes);   // filled by the caller:
//   texts.push_back(CRowStore::WriteText(buffer.get(), used, u"delta"));
//   std::u16string scratch;
//   texts.push_back(CRowStore::WriteUtf8Text(buffer.get(), used, "epsilon", scratch));
//   rows.AppendPacked(buffer, texts, 5);     // texts kept in the caller's buffer
//   std::u16string_view text = rows.RowText(0).View(scratch);   // u"alpha"
//   rows.RemoveRows({1});                    // numbers keep their gaps
//   rows.Reorder({1, 0});                    // texts move, numbers stay
//   auto prepared = rows.PrepareReorder(order);   // on a worker: the slow part
//   rows.ApplyReorder(*prepared);                 // on the owner: a swap
//   CRowSnapshot some = rows.Snapshot({{0, 2}, {5, 6}});   // rows 0, 1 and 5
//   rows.SetPackedNotifier([&] { PostToOwner([&] { rows.AdoptPacked(); }); });
//
// Threading: every change (Clear, Append, AppendPacked, RemoveRows, Reorder,
// ApplyReorder, AdoptPacked, HoldPacking, ReleasePacking) comes from one owner
// thread. RowCount, RowText, Row, RowNumber, snapshots and PrepareReorder may
// be used from any thread at any time; a text from RowText or Row stays valid
// until the next Clear, RemoveRows or AdoptPacked that swaps texts in (a text
// that must outlive those comes from a snapshot; one that is read on another
// thread while the owner goes on may be protected with HoldPacking). A
// snapshot may be read on any thread for as long as it lives. The notifier is
// called on the helper thread. The writer of a text buffer may go on writing
// past the texts it handed to AppendPacked while the store reads them.
#pragma once

#include "background/background_work.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct CRowBlock;

// A text as the store keeps it: one byte per character when every character
// is below U+0100, UTF-16 otherwise. It points into the store's memory and is
// as long-lived as the row or snapshot it came from.
class CStoredText {
public:
    CStoredText() = default;
    CStoredText(const void* data, std::size_t length, bool narrow)
        : data_(data), length_(length), narrow_(narrow) {}

    std::size_t size() const { return length_; }  // UTF-16 code units
    bool empty() const { return length_ == 0; }
    bool IsNarrow() const { return narrow_; }
    const void* Data() const { return data_; }
    std::size_t Bytes() const { return narrow_ ? length_ : length_ * sizeof(char16_t); }
    char16_t operator[](std::size_t i) const {
        return narrow_ ? static_cast<char16_t>(static_cast<const unsigned char*>(data_)[i])
                       : static_cast<const char16_t*>(data_)[i];
    }
    CStoredText Prefix(std::size_t units) const { return {data_, std::min(units, length_), narrow_}; }
    // The text as UTF-16: where it lies when it is kept so, else widened into
    // scratch (valid until scratch changes).
    std::u16string_view View(std::u16string& scratch) const;
    void AppendTo(std::u16string& out) const;
    explicit operator std::u16string() const;
    bool operator==(std::u16string_view other) const;

private:
    const void* data_ = nullptr;
    std::size_t length_ = 0;
    bool narrow_ = false;
};

// Rows as they were when the snapshot was taken, in row order; keeps their
// texts alive whatever the store does afterwards.
class CRowSnapshot {
public:
    CRowSnapshot();
    ~CRowSnapshot();
    CRowSnapshot(CRowSnapshot&&) noexcept;
    CRowSnapshot& operator=(CRowSnapshot&&) noexcept;

    std::size_t Size() const { return size_; }
    CStoredText Text(std::size_t i) const;  // empty past the end
    int64_t Number(std::size_t i) const;            // 0 past the end

private:
    friend class CRowStore;
    std::pair<const CRowBlock*, std::size_t> Locate(std::size_t i) const;  // block and place of row i
    std::vector<std::shared_ptr<const CRowBlock>> blocks_;
    std::vector<std::shared_ptr<const char[]>> chunks_;
    std::vector<std::pair<std::size_t, std::size_t>> spans_;  // [first, last) rows, ascending
    std::vector<std::size_t> before_;  // snapshot rows in the spans before each span
    std::size_t size_ = 0;
};

// A reorder computed from the rows as they were; see CRowStore::PrepareReorder.
class CPreparedReorder {
public:
    std::size_t Size() const { return order_.size(); }  // the rows it reorders

private:
    friend class CRowStore;
    std::vector<uint32_t> order_;
    uint64_t layoutVersion_ = 0;
    bool valid_ = false;  // order_ is a permutation of rows that existed
    std::vector<std::shared_ptr<CRowBlock>> blocks_;  // rows 0 .. order_.size() permuted
};

struct CStoredRow {
    int64_t number = 0;
    std::u16string_view text;
};

struct CRowView {
    int64_t number = 0;
    CStoredText text;
};

class CRowStore {
public:
    CRowStore();
    ~CRowStore();  // waits for the chunk being prepared ahead
    CRowStore(const CRowStore&) = delete;
    CRowStore& operator=(const CRowStore&) = delete;

    void Clear();
    // The texts are copied; a text longer than 2^32 - 1 units keeps its start.
    void Append(std::span<const CStoredRow> rows);
    // Rows whose texts WriteText put into buffer, which the store keeps as it
    // is instead of copying; the numbers count up from firstNumber. The writer
    // may go on writing texts after these and hand them over in a later call.
    void AppendPacked(std::shared_ptr<char[]> buffer, std::span<const CStoredText> texts, int64_t firstNumber);
    // A buffer of at least one byte for AppendPacked, its pages already in
    // place (huge pages where the system offers them): filling gigabytes of
    // fresh memory a page fault at a time costs more than the copy. Any thread.
    static std::shared_ptr<char[]> NewTextBuffer(std::size_t bytes);
    // Writes text at buffer + used, narrow when it can be, and advances used.
    // The buffer must have MaxTextBytes(text.size()) bytes left. Any thread.
    static CStoredText WriteText(char* buffer, std::size_t& used, std::u16string_view text);
    // The same for a text given as UTF-8; one with a character above U+00FF
    // is decoded into scratch first (an invalid sequence as U+FFFD). The
    // buffer must have MaxTextBytes(bytes.size()) bytes left. Any thread.
    static CStoredText WriteUtf8Text(char* buffer, std::size_t& used, std::string_view bytes,
                                     std::u16string& scratch);
    static constexpr std::size_t MaxTextBytes(std::size_t units) { return units * sizeof(char16_t) + 1; }
    // Indices out of range or repeated are ignored.
    void RemoveRows(const std::vector<std::size_t>& ascendingRows);
    // order[i] = old row whose text moves to row i; the numbers stay. Applies to
    // the first order.size() rows; false (nothing changed) when the order is not
    // a permutation of them.
    bool Reorder(const std::vector<uint32_t>& order);
    // The same in two steps, so that the permutation of a million rows is
    // computed off the owner's thread: PrepareReorder reads the rows as they are
    // (any thread), ApplyReorder swaps the result in (owner). When rows were
    // removed or reordered in between, ApplyReorder permutes afresh.
    std::shared_ptr<CPreparedReorder> PrepareReorder(std::vector<uint32_t> order) const;
    bool ApplyReorder(CPreparedReorder& prepared);

    std::size_t RowCount() const;
    CStoredText RowText(std::size_t row) const;  // empty past the end
    int64_t RowNumber(std::size_t row) const;    // 0 past the end
    std::optional<CRowView> Row(std::size_t row) const;  // number and text read together
    std::size_t ApproximateBytes() const;  // chunks and blocks held, snapshots' leftovers aside

    // Packing on the helper thread from now on; notify is called there when
    // packed texts are ready for AdoptPacked.
    void SetPackedNotifier(std::function<void()> notify);
    // Swaps in the texts packed on the helper when they are ready, still fit
    // the rows and no hold is on; true when it did.
    bool AdoptPacked();
    bool IsPacking() const;    // a packing runs or waits to be adopted (owner)
    bool IsReleasing() const;  // memory let go is still being handed back (any thread)
    // While held (holds count), packed texts wait: views from RowText taken
    // meanwhile stay valid until the last ReleasePacking, which adopts what is
    // ready. For readers that do not take a snapshot, such as a job on another
    // thread that reads every row.
    void HoldPacking();
    void ReleasePacking();

    // Rows in ascending, non-overlapping [first, last) spans (rows past the end
    // are dropped), or all rows.
    CRowSnapshot Snapshot(const std::vector<std::pair<std::size_t, std::size_t>>& spans) const;
    CRowSnapshot SnapshotAll() const;

private:
    struct Chunk {
        std::shared_ptr<char[]> data;
        std::size_t capacity = 0;  // bytes
        std::size_t used = 0;
        bool ownText = false;  // holds one long text, which packing keeps where it is
    };
    struct Packing;
    struct Leftovers {  // what a change let go, freed on the helper
        std::vector<Chunk> chunks;
        std::vector<std::shared_ptr<CRowBlock>> blocks;
    };
    CStoredText Store(std::u16string_view text);
    std::shared_ptr<char[]> NewChunk();
    CRowBlock& Block(std::size_t row) const;
    void MakeBlocksWritable(std::size_t firstRow, std::size_t lastRow);
    void AddShared(CRowSnapshot& snapshot) const;
    // Owner only, all of them.
    void PackIfDue();
    std::shared_ptr<Packing> PrepareInput() const;
    static void Pack(Packing& packing, const std::stop_token& stop);
    void Swap(Packing& packing);
    void DropPacking();
    void Release(Leftovers leftovers);
    bool AnyChunkToPack() const;

    mutable std::shared_mutex mutex_;  // guards what follows against readers on other threads
    std::vector<Chunk> chunks_;
    std::size_t currentChunk_ = 0;
    std::vector<std::shared_ptr<CRowBlock>> blocks_;
    std::size_t rowCount_ = 0;
    uint64_t layoutVersion_ = 0;  // changes with every removal, reorder and clear
    std::size_t heldBytes_ = 0;   // capacity of chunks_, owner only
    std::size_t liveBytes_ = 0;   // text of the rows, owner only
    // The next chunk, allocated and paged in on a helper thread, so that filling
    // the store does not pay the page faults on the owner's thread. Owner only;
    // the helper writes nextChunk_ and is joined before it is read.
    std::shared_ptr<char[]> nextChunk_;
    // Packing: the notifier, the packing under way or waiting (owner only; the
    // helper writes its output and is joined before it is read) and holds.
    std::function<void()> packedNotifier_;
    std::shared_ptr<Packing> packing_;
    int packingHolds_ = 0;
    // Leftovers waiting for the releasing helper, which frees them one after
    // another and then hands the pages back to the system.
    mutable std::mutex leftoversMutex_;
    std::vector<Leftovers> leftovers_;
    bool releasing_ = false;
    // Destroyed first: the helpers stop before the state that they use goes.
    CBackgroundWork releaser_;
    CBackgroundWork packer_;
    CBackgroundWork chunkAhead_;
};
