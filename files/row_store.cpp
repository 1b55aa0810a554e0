#include "files/row_store.h"

#include "narrow_text.h"
#include "text/text_encoding.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// Small enough that the unused tail of a chunk is no real waste, large enough
// that a million rows need only a few hundred allocations.
constexpr std::size_t kChunkBytes = std::size_t{2} << 20;
// A text of more than this many bytes gets a chunk of its own.
constexpr std::size_t kOwnChunkBytes = kChunkBytes / 4;
constexpr std::size_t kBlockShift = 14;
constexpr std::size_t kBlockRows = std::size_t{1} << kBlockShift;
constexpr std::size_t kBlockMask = kBlockRows - 1;
// Removed rows' texts stay in their chunks until this much of the held text
// is dead and it is more than half the live text; then the live texts are
// packed into fresh chunks and the old ones are let go. Packing copies at most
// twice what was removed since the last time.
constexpr std::size_t kCompactMinDeadBytes = std::size_t{8} << 20;

// The pages of a fresh chunk in a few calls rather than one fault each, which
// in a virtual machine costs more than the copy into them. Each call holds the
// process's memory map while the system clears the pages, which where the host
// backs them slowly takes milliseconds: in 2 MB steps, another thread that
// maps or frees memory (the window's) waits for one step, not the chunk.
void Prefault(char* data, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data + bytes)) & ~(page - 1);
    constexpr std::uintptr_t kStep = std::uintptr_t{2} << 20;
    for (std::uintptr_t at = begin; at < end; at += kStep)
        madvise(reinterpret_cast<void*>(at), std::min(kStep, end - at), MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)bytes;
#endif
}

// Where a text of this width goes in a buffer filled up to used: UTF-16 on an
// even offset.
std::size_t AlignFor(bool narrow, std::size_t used) {
    return narrow ? used : (used + 1) & ~std::size_t{1};
}

// Which chunks are held beyond the store (see AnyChunkToPack), by index.
template <typename Chunk>
std::vector<bool> HeldElsewhere(const std::vector<Chunk>& chunks) {
    std::unordered_map<const char*, long> parts;
    for (const Chunk& chunk : chunks) ++parts[chunk.data.get()];
    std::vector<bool> held(chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) held[i] = chunks[i].data.use_count() > parts[chunks[i].data.get()];
    return held;
}

// Large text buffers start on a huge page boundary, so that the system can
// back them with huge pages: one fault per 2 MB instead of one per 4 KB.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

// Left uninitialised on purpose: a new block's pages are touched only as rows
// arrive, or all at once by a packed append.
struct CRowBlock {
    const char* text[kBlockRows];
    uint32_t length[kBlockRows];
    int64_t number[kBlockRows];
    bool narrow[kBlockRows];

    CStoredText Text(std::size_t at) const { return {text[at], length[at], narrow[at]}; }
    void SetText(std::size_t at, CStoredText stored) {
        text[at] = static_cast<const char*>(stored.Data());
        length[at] = static_cast<uint32_t>(stored.size());
        narrow[at] = stored.IsNarrow();
    }
    void CopyRow(std::size_t at, const CRowBlock& from, std::size_t fromAt) {
        text[at] = from.text[fromAt];
        length[at] = from.length[fromAt];
        number[at] = from.number[fromAt];
        narrow[at] = from.narrow[fromAt];
    }
};

std::u16string_view CStoredText::View(std::u16string& scratch) const {
    if (!narrow_) return {static_cast<const char16_t*>(data_), length_};
    scratch.resize(length_);
    const auto* bytes = static_cast<const unsigned char*>(data_);
    for (std::size_t i = 0; i < length_; ++i) scratch[i] = bytes[i];
    return scratch;
}

void CStoredText::AppendTo(std::u16string& out) const {
    if (!narrow_) {
        out.append(static_cast<const char16_t*>(data_), length_);
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + length_);
    const auto* bytes = static_cast<const unsigned char*>(data_);
    for (std::size_t i = 0; i < length_; ++i) out[at + i] = bytes[i];
}

CStoredText::operator std::u16string() const {
    std::u16string text;
    AppendTo(text);
    return text;
}

bool CStoredText::operator==(std::u16string_view other) const {
    if (other.size() != length_) return false;
    if (!narrow_) return std::u16string_view(static_cast<const char16_t*>(data_), length_) == other;
    const auto* bytes = static_cast<const unsigned char*>(data_);
    for (std::size_t i = 0; i < length_; ++i) {
        if (other[i] != bytes[i]) return false;
    }
    return true;
}

CRowSnapshot::CRowSnapshot() = default;
CRowSnapshot::~CRowSnapshot() = default;
CRowSnapshot::CRowSnapshot(CRowSnapshot&&) noexcept = default;
CRowSnapshot& CRowSnapshot::operator=(CRowSnapshot&&) noexcept = default;

std::pair<const CRowBlock*, std::size_t> CRowSnapshot::Locate(std::size_t i) const {
    // The span holding snapshot row i: the last one with before_ <= i.
    const auto span = static_cast<std::size_t>(std::upper_bound(before_.begin(), before_.end(), i) - before_.begin()) - 1;
    const std::size_t row = spans_[span].first + (i - before_[span]);
    return {blocks_[row >> kBlockShift].get(), row & kBlockMask};
}

CStoredText CRowSnapshot::Text(std::size_t i) const {
    if (i >= size_) return {};
    const auto [block, at] = Locate(i);
    return block->Text(at);
}

int64_t CRowSnapshot::Number(std::size_t i) const {
    if (i >= size_) return 0;
    const auto [block, at] = Locate(i);
    return block->number[at];
}

CRowStore::CRowStore() = default;

CRowStore::~CRowStore() = default;

CRowBlock& CRowStore::Block(std::size_t row) const {
    return *blocks_[row >> kBlockShift];
}

void CRowStore::Clear() {
    DropPacking();
    Leftovers leftovers;
    {
        std::unique_lock lock(mutex_);
        leftovers.chunks.swap(chunks_);
        leftovers.blocks.swap(blocks_);
        currentChunk_ = 0;
        rowCount_ = 0;
        heldBytes_ = 0;
        liveBytes_ = 0;
        ++layoutVersion_;
    }
    // A gigabyte of texts takes a while to free: the helper does it, when there is one.
    if (packedNotifier_) Release(std::move(leftovers));
}

CStoredText CRowStore::WriteText(char* buffer, std::size_t& used, std::u16string_view text) {
    if (NarrowText(buffer + used, text)) {
        const CStoredText stored(buffer + used, text.size(), true);
        used += text.size();
        return stored;
    }
    used = AlignFor(false, used);
    std::memcpy(buffer + used, text.data(), text.size() * sizeof(char16_t));
    const CStoredText stored(buffer + used, text.size(), false);
    used += stored.Bytes();
    return stored;
}

CStoredText CRowStore::WriteUtf8Text(char* buffer, std::size_t& used, std::string_view bytes,
                                     std::u16string& scratch) {
    const std::size_t narrow = NarrowUtf8(buffer + used, bytes);
    if (narrow != kNotNarrow) {
        const CStoredText stored(buffer + used, narrow, true);
        used += narrow;
        return stored;
    }
    scratch.clear();
    if (AppendUtf8Prefix(bytes, scratch) != bytes.size()) scratch = FromNarrowLossy(bytes);
    return WriteText(buffer, used, scratch);
}

CStoredText CRowStore::Store(std::u16string_view text) {
    if (text.empty()) return {};
    const std::size_t most = MaxTextBytes(text.size());
    // A long text gets a chunk of its own so the current chunk's tail is not abandoned.
    if (most > kOwnChunkBytes) {
        std::shared_ptr<char[]> data(new char[most]);
        std::size_t used = 0;
        const CStoredText stored = WriteText(data.get(), used, text);
        chunks_.push_back(Chunk{std::move(data), most, used, true});
        heldBytes_ += most;
        return stored;
    }
    if (chunks_.empty() || chunks_[currentChunk_].capacity - chunks_[currentChunk_].used < most) {
        chunks_.push_back(Chunk{NewChunk(), kChunkBytes, 0});
        currentChunk_ = chunks_.size() - 1;
        heldBytes_ += kChunkBytes;
    }
    Chunk& chunk = chunks_[currentChunk_];
    return WriteText(chunk.data.get(), chunk.used, text);
}

std::shared_ptr<char[]> CRowStore::NewChunk() {
    std::shared_ptr<char[]> chunk;
    if (chunkAhead_.IsStarted() && chunkAhead_.IsFinished()) {
        chunkAhead_.Join();
        chunk = std::move(nextChunk_);
    } else {
        chunk.reset(new char[kChunkBytes]);
    }
    if (!chunkAhead_.IsStarted()) {
        chunkAhead_.Start([this](std::stop_token) {
            std::shared_ptr<char[]> ahead(new char[kChunkBytes]);
            constexpr std::size_t kPage = 4096;
            volatile char* touch = ahead.get();
            for (std::size_t i = 0; i < kChunkBytes; i += kPage) touch[i] = 0;
            nextChunk_ = std::move(ahead);
        });
    }
    return chunk;
}

void CRowStore::Append(std::span<const CStoredRow> rows) {
    std::unique_lock lock(mutex_);
    // Rows past rowCount_ are invisible to snapshots, so a shared last block may be filled further.
    for (const CStoredRow& added : rows) {
        const std::size_t row = rowCount_;
        if ((row >> kBlockShift) >= blocks_.size()) blocks_.push_back(std::shared_ptr<CRowBlock>(new CRowBlock));
        const auto length = static_cast<uint32_t>(std::min<std::size_t>(added.text.size(), UINT32_MAX));
        CRowBlock& block = Block(row);
        const CStoredText stored = Store(added.text.substr(0, length));
        block.SetText(row & kBlockMask, stored);
        block.number[row & kBlockMask] = added.number;
        liveBytes_ += stored.Bytes();
        ++rowCount_;
    }
}

void CRowStore::AppendPacked(std::shared_ptr<char[]> buffer, std::span<const CStoredText> texts,
                             int64_t firstNumber) {
    if (texts.empty()) return;
    std::unique_lock lock(mutex_);
    std::size_t bytes = 0;
    for (const CStoredText& text : texts) bytes += text.Bytes();
    // Each call's texts count as a chunk of their own, also when the buffer is
    // one that an earlier call handed over: packing then keeps the buffer
    // while any of them holds live texts. Not the current chunk: Store never
    // writes into it.
    chunks_.push_back(Chunk{std::move(buffer), bytes, bytes, false});
    heldBytes_ += bytes;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::size_t row = rowCount_;
        if ((row >> kBlockShift) >= blocks_.size()) {
            // Packed rows come by the thousand (a run's): the block's pages
            // in one call, not a fault each on the owner's (window's) thread.
            auto* fresh = new CRowBlock;
            Prefault(reinterpret_cast<char*>(fresh), sizeof(CRowBlock));
            blocks_.push_back(std::shared_ptr<CRowBlock>(fresh));
        }
        CRowBlock& block = Block(row);
        block.SetText(row & kBlockMask, texts[i]);
        block.number[row & kBlockMask] = firstNumber + static_cast<int64_t>(i);
        liveBytes_ += texts[i].Bytes();
        ++rowCount_;
    }
}

std::shared_ptr<char[]> CRowStore::NewTextBuffer(std::size_t bytes) {
    bytes = std::max<std::size_t>(bytes, 1);
    if (bytes < kHugePage) return std::shared_ptr<char[]>(new char[bytes]);
    auto* data = static_cast<char*>(::operator new(bytes, std::align_val_t{kHugePage}));
    std::shared_ptr<char[]> buffer(data, [](char* p) { ::operator delete(p, std::align_val_t{kHugePage}); });
#if defined(MADV_HUGEPAGE)
    madvise(data, bytes / kHugePage * kHugePage, MADV_HUGEPAGE);
#endif
    Prefault(data, bytes);
    return buffer;
}

void CRowStore::MakeBlocksWritable(std::size_t firstRow, std::size_t lastRow) {
    if (firstRow >= lastRow) return;
    for (std::size_t b = firstRow >> kBlockShift; b <= ((lastRow - 1) >> kBlockShift); ++b) {
        // New references are taken only under the shared lock, which the caller
        // excludes, so a count of one cannot grow meanwhile.
        if (blocks_[b].use_count() > 1) blocks_[b] = std::make_shared<CRowBlock>(*blocks_[b]);
    }
}

void CRowStore::RemoveRows(const std::vector<std::size_t>& ascendingRows) {
    if (ascendingRows.empty()) return;
    // A packing under way read the rows as they are now: it would be of no use.
    DropPacking();
    std::unique_lock lock(mutex_);
    const std::size_t count = rowCount_;
    std::size_t next = 0;  // position in ascendingRows
    std::size_t read = ascendingRows.front();
    std::size_t write = std::min(read, count);
    MakeBlocksWritable(write, count);
    for (; read < count; ++read) {
        while (next < ascendingRows.size() && ascendingRows[next] < read) ++next;
        CRowBlock& from = Block(read);
        if (next < ascendingRows.size() && ascendingRows[next] == read) {
            liveBytes_ -= from.Text(read & kBlockMask).Bytes();
            continue;
        }
        Block(write).CopyRow(write & kBlockMask, from, read & kBlockMask);
        ++write;
    }
    rowCount_ = write;
    blocks_.resize((write + kBlockRows - 1) >> kBlockShift);
    ++layoutVersion_;
    lock.unlock();
    PackIfDue();
}

// A chunk that a snapshot holds, or whose buffer its writer still fills, is
// not packed: that would free nothing and only add a copy of its live texts.
// A buffer handed over in parts is several chunks of the store's own. A
// snapshot taken after this look still reads the old chunks, which it then
// keeps alive.
bool CRowStore::AnyChunkToPack() const {
    const std::vector<bool> held = HeldElsewhere(chunks_);
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        if (!chunks_[i].ownText && !held[i]) return true;
    }
    return false;
}

// The rows as they are when packing starts, and what the packing makes of
// them. The input holds the old chunks and blocks, so that the owner may
// clear or change the rows meanwhile (changed blocks are copies).
struct CRowStore::Packing {
    struct OldChunk {
        const char* begin;
        std::size_t index;  // in the store's chunks
        bool keep;          // stays as it is: held by a snapshot, one long text, or still being filled
    };
    std::vector<OldChunk> old;  // by begin
    std::vector<std::shared_ptr<const char[]>> oldData;
    std::vector<std::shared_ptr<CRowBlock>> blocks;
    std::size_t rows = 0;
    std::size_t chunkCount = 0;
    std::size_t fillingChunk = SIZE_MAX;  // the chunk that appends may go on filling meanwhile
    uint64_t layoutVersion = 0;

    std::vector<Chunk> fresh;
    std::vector<std::shared_ptr<CRowBlock>> packedBlocks;  // rows 0 .. rows
    std::vector<bool> keptUsed;  // by old index: a kept chunk that live texts still use
    std::atomic<bool> done{false};  // ran to the end; the helper returns right after
};

void CRowStore::SetPackedNotifier(std::function<void()> notify) {
    packedNotifier_ = std::move(notify);
}

bool CRowStore::IsPacking() const {
    return packing_ != nullptr;
}

bool CRowStore::IsReleasing() const {
    std::lock_guard lock(leftoversMutex_);
    return releasing_;
}

void CRowStore::HoldPacking() {
    ++packingHolds_;
}

void CRowStore::ReleasePacking() {
    if (packingHolds_ > 0 && --packingHolds_ == 0) AdoptPacked();
}

void CRowStore::PackIfDue() {
    if (packing_) return;
    const std::size_t deadBytes = heldBytes_ - liveBytes_;
    if (deadBytes < kCompactMinDeadBytes || deadBytes <= liveBytes_ / 2 || !AnyChunkToPack()) return;
    std::shared_ptr<Packing> packing = PrepareInput();
    if (!packedNotifier_) {
        Pack(*packing, {});
        Swap(*packing);
        return;
    }
    packing_ = packing;
    packer_.Start([packing, notify = packedNotifier_](std::stop_token stop) {
        Pack(*packing, stop);
        if (packing->done.load(std::memory_order_relaxed)) notify();
    });
}

std::shared_ptr<CRowStore::Packing> CRowStore::PrepareInput() const {
    auto packing = std::make_shared<Packing>();
    packing->rows = rowCount_;
    packing->chunkCount = chunks_.size();
    packing->layoutVersion = layoutVersion_;
    packing->old.reserve(chunks_.size());
    const std::vector<bool> held = HeldElsewhere(chunks_);
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        const Chunk& chunk = chunks_[i];
        // The chunk that appends still fill stays too.
        const bool filling = packedNotifier_ && i == currentChunk_ && chunk.used < chunk.capacity;
        if (filling) packing->fillingChunk = i;
        packing->old.push_back({chunk.data.get(), i, chunk.ownText || filling || held[i]});
    }
    std::sort(packing->old.begin(), packing->old.end(),
              [](const Packing::OldChunk& a, const Packing::OldChunk& b) { return a.begin < b.begin; });
    packing->oldData.reserve(chunks_.size());
    for (const Chunk& chunk : chunks_) packing->oldData.emplace_back(chunk.data);
    packing->blocks = blocks_;
    packing->keptUsed.assign(chunks_.size(), false);
    return packing;
}

// The live texts are copied into fresh chunks and fresh blocks point at them;
// readers and the owner meanwhile go on with the old ones. Kept chunks stay
// where they are; a long text from a chunk of many gets a chunk of its own.
void CRowStore::Pack(Packing& packing, const std::stop_token& stop) {
    std::vector<Chunk>& fresh = packing.fresh;
    std::size_t current = 0;
    const auto place = [&](const char* text, CStoredText stored) -> const char* {
        if (stored.empty()) return text;
        const auto from = std::upper_bound(packing.old.begin(), packing.old.end(), text,
                                           [](const char* t, const Packing::OldChunk& chunk) {
                                               return t < chunk.begin;
                                           }) - 1;
        if (from->keep) {
            packing.keptUsed[from->index] = true;
            return text;
        }
        const std::size_t bytes = stored.Bytes();
        if (bytes > kOwnChunkBytes) {
            std::shared_ptr<char[]> copy(new char[bytes]);
            std::memcpy(copy.get(), text, bytes);
            fresh.push_back(Chunk{std::move(copy), bytes, bytes, true});
            return fresh.back().data.get();
        }
        if (fresh.empty() || fresh[current].capacity - AlignFor(stored.IsNarrow(), fresh[current].used) < bytes) {
            fresh.push_back(Chunk{std::shared_ptr<char[]>(new char[kChunkBytes]), kChunkBytes, 0});
            current = fresh.size() - 1;
            Prefault(fresh.back().data.get(), kChunkBytes);
        }
        Chunk& chunk = fresh[current];
        chunk.used = AlignFor(stored.IsNarrow(), chunk.used);
        char* target = chunk.data.get() + chunk.used;
        std::memcpy(target, text, bytes);
        chunk.used += bytes;
        return target;
    };
    constexpr std::size_t kRowsBetweenStopChecks = 1024;
    packing.packedBlocks.resize((packing.rows + kBlockRows - 1) >> kBlockShift);
    for (std::size_t b = 0; b < packing.packedBlocks.size(); ++b) {
        const CRowBlock& from = *packing.blocks[b];
        auto block = std::shared_ptr<CRowBlock>(new CRowBlock);
        const std::size_t count = std::min(kBlockRows, packing.rows - (b << kBlockShift));
        std::copy_n(from.number, count, block->number);
        std::copy_n(from.length, count, block->length);
        std::copy_n(from.narrow, count, block->narrow);
        for (std::size_t i = 0; i < count; ++i) {
            if (i % kRowsBetweenStopChecks == 0 && stop.stop_requested()) return;
            block->text[i] = place(from.text[i], from.Text(i));
        }
        packing.packedBlocks[b] = std::move(block);
    }
    // Let go of the old texts now, so that swapping the packed ones in frees them.
    packing.oldData.clear();
    packing.blocks.clear();
    packing.done.store(true, std::memory_order_release);
}

bool CRowStore::AdoptPacked() {
    // The notifier runs before the helper returns: done says that only the return is left.
    if (!packing_ || packingHolds_ > 0 || !packing_->done.load(std::memory_order_acquire)) return false;
    packer_.Join();
    const std::shared_ptr<Packing> packing = std::move(packing_);
    if (packing->layoutVersion != layoutVersion_) {
        Release({std::move(packing->fresh), std::move(packing->packedBlocks)});
        PackIfDue();
        return false;
    }
    Swap(*packing);
    return true;
}

// The packed rows 0 .. packing.rows take the place of the old ones; chunks
// and rows appended since stay as they are.
void CRowStore::Swap(Packing& packing) {
    std::vector<Chunk> chunks;
    chunks.reserve(packing.fresh.size() + chunks_.size());
    std::size_t current = SIZE_MAX;
    std::size_t heldBytes = 0;
    const auto add = [&](Chunk chunk, bool isCurrent) {
        if (isCurrent) current = chunks.size();
        heldBytes += chunk.capacity;
        chunks.push_back(std::move(chunk));
    };
    std::vector<bool> keep(packing.chunkCount, false);
    for (const Packing::OldChunk& old : packing.old) keep[old.index] = old.keep;
    Leftovers leftovers;
    for (std::size_t i = 0; i < packing.chunkCount; ++i) {
        if (i == packing.fillingChunk) {
            add(chunks_[i], i == currentChunk_);  // holds texts appended meanwhile
        } else if (keep[i] && packing.keptUsed[i]) {
            Chunk full = chunks_[i];
            full.used = full.capacity;  // no later text is written into it
            add(std::move(full), false);
        } else {
            leftovers.chunks.push_back(chunks_[i]);
        }
    }
    for (Chunk& chunk : packing.fresh) add(std::move(chunk), false);
    if (current == SIZE_MAX && !packing.fresh.empty()) current = chunks.size() - 1;
    for (std::size_t i = packing.chunkCount; i < chunks_.size(); ++i) add(chunks_[i], i == currentChunk_);
    if (current == SIZE_MAX) current = chunks.empty() ? 0 : chunks.size() - 1;

    std::vector<std::shared_ptr<CRowBlock>> blocks = std::move(packing.packedBlocks);
    if (!blocks.empty()) {
        // Rows appended since that share the last packed block.
        const std::size_t last = blocks.size() - 1;
        const std::size_t end = std::min(rowCount_, (last + 1) << kBlockShift);
        const CRowBlock& now = *blocks_[last];
        CRowBlock& target = *blocks[last];
        for (std::size_t row = packing.rows; row < end; ++row) target.CopyRow(row & kBlockMask, now, row & kBlockMask);
    }
    blocks.reserve(blocks_.size());
    for (std::size_t b = blocks.size(); b < blocks_.size(); ++b) blocks.push_back(blocks_[b]);
    {
        std::unique_lock lock(mutex_);
        std::swap(chunks_, chunks);
        currentChunk_ = current;
        std::swap(blocks_, blocks);
        heldBytes_ = heldBytes;
        ++layoutVersion_;  // a reorder prepared before holds pointers into the old chunks
    }
    leftovers.blocks = std::move(blocks);
    Release(std::move(leftovers));
}

void CRowStore::DropPacking() {
    if (!packing_) return;
    packer_.RequestStop();
    packer_.Join();
    Release({std::move(packing_->fresh), std::move(packing_->packedBlocks)});
    packing_.reset();
}

// Freeing a gigabyte and handing it back to the system takes longer than the
// owner may wait, so the helper does it; without a notifier the owner does.
void CRowStore::Release(Leftovers leftovers) {
    if (!packedNotifier_) {
        leftovers = {};
#if defined(__GLIBC__)
        malloc_trim(0);
#endif
        return;
    }
    {
        std::lock_guard lock(leftoversMutex_);
        leftovers_.push_back(std::move(leftovers));
        if (releasing_) return;
        releasing_ = true;
    }
    // Only a helper that has left its loop is joined here, which takes no time.
    releaser_.Start([this](std::stop_token) {
        bool trimmed = false;
        for (;;) {
            std::vector<Leftovers> batch;
            {
                std::lock_guard lock(leftoversMutex_);
                if (leftovers_.empty() && trimmed) {
                    releasing_ = false;
                    return;
                }
                batch.swap(leftovers_);
            }
            if (batch.empty()) {
                // The allocator keeps freed pages unless asked to give them back.
#if defined(__GLIBC__)
                malloc_trim(0);
#endif
                trimmed = true;
                continue;
            }
            batch.clear();
            trimmed = false;
        }
    });
}
bool CRowStore::Reorder(const std::vector<uint32_t>& order) {
    return ApplyReorder(*PrepareReorder(order));
}

std::shared_ptr<CPreparedReorder> CRowStore::PrepareReorder(std::vector<uint32_t> order) const {
    auto prepared = std::make_shared<CPreparedReorder>();
    prepared->order_ = std::move(order);
    const std::vector<uint32_t>& permutation = prepared->order_;
    const std::size_t n = permutation.size();
    std::vector<std::shared_ptr<const CRowBlock>> source;
    {
        // Holding references makes the owner copy a block before changing it,
        // so the rows can be read below without the lock.
        std::shared_lock lock(mutex_);
        if (n > rowCount_) return prepared;
        prepared->layoutVersion_ = layoutVersion_;
        source.assign(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>((n + kBlockRows - 1) >> kBlockShift));
    }
    std::vector<bool> seen(n, false);
    for (uint32_t from : permutation) {
        if (from >= n || seen[from]) return prepared;
        seen[from] = true;
    }
    prepared->blocks_.resize(source.size());
    for (std::size_t b = 0; b < source.size(); ++b) {
        auto block = std::shared_ptr<CRowBlock>(new CRowBlock);
        const std::size_t first = b << kBlockShift;
        const std::size_t count = std::min(kBlockRows, n - first);
        std::copy_n(source[b]->number, count, block->number);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t from = permutation[first + i];
            block->SetText(i, source[from >> kBlockShift]->Text(from & kBlockMask));
        }
        prepared->blocks_[b] = std::move(block);
    }
    prepared->valid_ = true;
    return prepared;
}

bool CRowStore::ApplyReorder(CPreparedReorder& prepared) {
    const std::size_t n = prepared.order_.size();
    if (n == 0) return true;
    std::unique_lock lock(mutex_);
    if (!prepared.valid_ || prepared.layoutVersion_ != layoutVersion_) {
        lock.unlock();
        if (!prepared.valid_) return false;
        // The rows moved since the preparation: prepare again from what they are now.
        std::shared_ptr<CPreparedReorder> again = PrepareReorder(std::move(prepared.order_));
        return again->valid_ && ApplyReorder(*again);
    }
    // Rows appended after the preparation that share its last block.
    const std::size_t last = prepared.blocks_.size() - 1;
    const std::size_t end = std::min(rowCount_, (last + 1) << kBlockShift);
    const CRowBlock& current = *blocks_[last];
    CRowBlock& target = *prepared.blocks_[last];
    for (std::size_t row = n; row < end; ++row) target.CopyRow(row & kBlockMask, current, row & kBlockMask);
    std::move(prepared.blocks_.begin(), prepared.blocks_.end(), blocks_.begin());
    prepared.blocks_.clear();
    ++layoutVersion_;
    lock.unlock();
    if (packing_) {  // it read the rows in their old order
        DropPacking();
        PackIfDue();
    }
    return true;
}

std::size_t CRowStore::RowCount() const {
    std::shared_lock lock(mutex_);
    return rowCount_;
}

CStoredText CRowStore::RowText(std::size_t row) const {
    std::shared_lock lock(mutex_);
    if (row >= rowCount_) return {};
    return Block(row).Text(row & kBlockMask);
}

int64_t CRowStore::RowNumber(std::size_t row) const {
    std::shared_lock lock(mutex_);
    return row < rowCount_ ? Block(row).number[row & kBlockMask] : 0;
}

std::optional<CRowView> CRowStore::Row(std::size_t row) const {
    std::shared_lock lock(mutex_);
    if (row >= rowCount_) return std::nullopt;
    const CRowBlock& block = Block(row);
    const std::size_t at = row & kBlockMask;
    return CRowView{block.number[at], block.Text(at)};
}

std::size_t CRowStore::ApproximateBytes() const {
    std::shared_lock lock(mutex_);
    std::size_t bytes = chunks_.capacity() * sizeof(Chunk) + blocks_.capacity() * sizeof(blocks_[0]);
    for (const Chunk& chunk : chunks_) bytes += chunk.capacity;
    bytes += blocks_.size() * sizeof(CRowBlock);
    return bytes;
}

void CRowStore::AddShared(CRowSnapshot& snapshot) const {
    snapshot.chunks_.reserve(chunks_.size());
    for (const Chunk& chunk : chunks_) snapshot.chunks_.emplace_back(chunk.data);
    snapshot.blocks_.assign(blocks_.begin(), blocks_.end());
}

CRowSnapshot CRowStore::Snapshot(const std::vector<std::pair<std::size_t, std::size_t>>& spans) const {
    CRowSnapshot snapshot;
    std::shared_lock lock(mutex_);
    AddShared(snapshot);
    std::size_t next = 0;  // rows below this are already in the snapshot
    for (auto [first, last] : spans) {
        first = std::max(first, next);
        last = std::min(last, rowCount_);
        if (first >= last) continue;
        snapshot.spans_.emplace_back(first, last);
        snapshot.before_.push_back(snapshot.size_);
        snapshot.size_ += last - first;
        next = last;
    }
    return snapshot;
}

CRowSnapshot CRowStore::SnapshotAll() const {
    return Snapshot({{0, RowCount()}});
}
