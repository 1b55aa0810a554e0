#include "files/row_store.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

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
constexpr std::size_t kChunkUnits = std::size_t{1} << 20;
constexpr std::size_t kBlockShift = 14;
constexpr std::size_t kBlockRows = std::size_t{1} << kBlockShift;
constexpr std::size_t kBlockMask = kBlockRows - 1;
// Removed rows' texts stay in their chunks until this much of the held text
// is dead and it is more than half the live text; then the live texts are
// packed into fresh chunks and the old ones are let go. Packing copies at most
// twice what was removed since the last time.
constexpr std::size_t kCompactMinDeadUnits = (std::size_t{8} << 20) / sizeof(char16_t);

// The pages of a fresh chunk in one call rather than one fault each, which in
// a virtual machine costs more than the copy into them.
void Prefault(char16_t* data, std::size_t units) {
#if defined(MADV_POPULATE_WRITE)
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data + units)) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)units;
#endif
}

// Large text buffers start on a huge page boundary, so that the system can
// back them with huge pages: one fault per 2 MB instead of one per 4 KB.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

// Left uninitialised on purpose: a new block's pages are touched only as rows arrive.
struct CRowBlock {
    const char16_t* text[kBlockRows];
    uint32_t length[kBlockRows];
    int64_t number[kBlockRows];
};

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

std::u16string_view CRowSnapshot::Text(std::size_t i) const {
    if (i >= size_) return {};
    const auto [block, at] = Locate(i);
    return {block->text[at], block->length[at]};
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
    std::unique_lock lock(mutex_);
    chunks_.clear();
    currentChunk_ = 0;
    blocks_.clear();
    rowCount_ = 0;
    heldUnits_ = 0;
    liveUnits_ = 0;
    ++layoutVersion_;
}

const char16_t* CRowStore::Store(std::u16string_view text) {
    if (text.empty()) return nullptr;
    // A long text gets a chunk of its own so the current chunk's tail is not abandoned.
    if (text.size() > kChunkUnits / 4) {
        Chunk big{std::shared_ptr<char16_t[]>(new char16_t[text.size()]), text.size(), text.size(), true};
        std::memcpy(big.data.get(), text.data(), text.size() * sizeof(char16_t));
        chunks_.push_back(std::move(big));
        heldUnits_ += text.size();
        return chunks_.back().data.get();
    }
    if (chunks_.empty() || chunks_[currentChunk_].capacity - chunks_[currentChunk_].used < text.size()) {
        chunks_.push_back(Chunk{NewChunk(), kChunkUnits, 0});
        currentChunk_ = chunks_.size() - 1;
        heldUnits_ += kChunkUnits;
    }
    Chunk& chunk = chunks_[currentChunk_];
    char16_t* target = chunk.data.get() + chunk.used;
    std::memcpy(target, text.data(), text.size() * sizeof(char16_t));
    chunk.used += text.size();
    return target;
}

std::shared_ptr<char16_t[]> CRowStore::NewChunk() {
    std::shared_ptr<char16_t[]> chunk;
    if (chunkAhead_.IsStarted() && chunkAhead_.IsFinished()) {
        chunkAhead_.Join();
        chunk = std::move(nextChunk_);
    } else {
        chunk.reset(new char16_t[kChunkUnits]);
    }
    if (!chunkAhead_.IsStarted()) {
        chunkAhead_.Start([this](std::stop_token) {
            std::shared_ptr<char16_t[]> ahead(new char16_t[kChunkUnits]);
            constexpr std::size_t kUnitsPerPage = 4096 / sizeof(char16_t);
            volatile char16_t* touch = ahead.get();
            for (std::size_t i = 0; i < kChunkUnits; i += kUnitsPerPage) touch[i] = 0;
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
        block.text[row & kBlockMask] = Store(added.text.substr(0, length));
        block.length[row & kBlockMask] = length;
        block.number[row & kBlockMask] = added.number;
        liveUnits_ += length;
        ++rowCount_;
    }
}

void CRowStore::AppendPacked(std::shared_ptr<char16_t[]> texts, std::span<const std::size_t> ends,
                             int64_t firstNumber) {
    if (ends.empty()) return;
    std::unique_lock lock(mutex_);
    const char16_t* base = texts.get();
    const std::size_t units = ends.back();
    // Not the current chunk: it is full, and Store never writes into it.
    chunks_.push_back(Chunk{std::move(texts), units, units, false});
    heldUnits_ += units;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        const std::size_t row = rowCount_;
        if ((row >> kBlockShift) >= blocks_.size()) blocks_.push_back(std::shared_ptr<CRowBlock>(new CRowBlock));
        const auto length = static_cast<uint32_t>(std::min<std::size_t>(ends[i] - begin, UINT32_MAX));
        CRowBlock& block = Block(row);
        block.text[row & kBlockMask] = length == 0 ? nullptr : base + begin;
        block.length[row & kBlockMask] = length;
        block.number[row & kBlockMask] = firstNumber + static_cast<int64_t>(i);
        liveUnits_ += length;
        ++rowCount_;
        begin = ends[i];
    }
}

std::shared_ptr<char16_t[]> CRowStore::NewTextBuffer(std::size_t units) {
    const std::size_t bytes = std::max<std::size_t>(units, 1) * sizeof(char16_t);
    if (bytes < kHugePage) return std::shared_ptr<char16_t[]>(new char16_t[bytes / sizeof(char16_t)]);
    auto* data = static_cast<char16_t*>(::operator new(bytes, std::align_val_t{kHugePage}));
    std::shared_ptr<char16_t[]> buffer(data, [](char16_t* p) { ::operator delete(p, std::align_val_t{kHugePage}); });
#if defined(MADV_HUGEPAGE)
    madvise(data, bytes / kHugePage * kHugePage, MADV_HUGEPAGE);
#endif
    Prefault(data, bytes / sizeof(char16_t));
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
            liveUnits_ -= from.length[read & kBlockMask];
            continue;
        }
        CRowBlock& to = Block(write);
        to.text[write & kBlockMask] = from.text[read & kBlockMask];
        to.length[write & kBlockMask] = from.length[read & kBlockMask];
        to.number[write & kBlockMask] = from.number[read & kBlockMask];
        ++write;
    }
    rowCount_ = write;
    blocks_.resize((write + kBlockRows - 1) >> kBlockShift);
    ++layoutVersion_;
    lock.unlock();
    const std::size_t deadUnits = heldUnits_ - liveUnits_;
    if (deadUnits >= kCompactMinDeadUnits && deadUnits > liveUnits_ / 2 && AnyChunkToPack()) Compact();
}

// A chunk that a snapshot holds is not packed: that would free nothing and only
// add a copy of its live texts. A snapshot taken after this look still reads
// the old chunks, which it then keeps alive.
bool CRowStore::AnyChunkToPack() const {
    return std::any_of(chunks_.begin(), chunks_.end(),
                       [](const Chunk& chunk) { return !chunk.ownText && chunk.data.use_count() == 1; });
}

// The live texts are copied into fresh chunks and fresh blocks point at them,
// all without the lock: only the owner changes the store, and readers meanwhile
// read the old chunks and blocks. The swap is what they wait for. The old
// chunks and blocks live on for as long as a snapshot holds them; a chunk that
// a snapshot holds now stays as it is (copying its texts would free nothing),
// and so does a chunk that holds one long text.
void CRowStore::Compact() {
    struct OldChunk {
        const char16_t* begin;
        std::size_t index;  // in chunks_
        bool keep;
        bool kept;
    };
    std::vector<OldChunk> old;
    old.reserve(chunks_.size());
    for (std::size_t i = 0; i < chunks_.size(); ++i)
        old.push_back({chunks_[i].data.get(), i, chunks_[i].ownText || chunks_[i].data.use_count() > 1, false});
    std::sort(old.begin(), old.end(), [](const OldChunk& a, const OldChunk& b) { return a.begin < b.begin; });

    std::vector<Chunk> chunks;
    std::size_t current = 0;
    std::size_t heldUnits = 0;
    const auto place = [&](const char16_t* text, uint32_t length) -> const char16_t* {
        if (length == 0) return text;
        auto from = std::upper_bound(old.begin(), old.end(), text,
                                     [](const char16_t* t, const OldChunk& chunk) { return t < chunk.begin; }) - 1;
        if (from->keep) {
            if (!from->kept) {
                from->kept = true;
                const Chunk& chunk = chunks_[from->index];
                // Full, so that no later text is written into it.
                chunks.push_back(Chunk{chunk.data, chunk.capacity, chunk.capacity, chunk.ownText});
                heldUnits += chunk.capacity;
            }
            return text;
        }
        if (length > kChunkUnits / 4) {  // a long text from a chunk of many
            std::shared_ptr<char16_t[]> copy(new char16_t[length]);
            std::memcpy(copy.get(), text, length * sizeof(char16_t));
            chunks.push_back(Chunk{std::move(copy), length, length, true});
            heldUnits += length;
            return chunks.back().data.get();
        }
        if (chunks.empty() || chunks[current].capacity - chunks[current].used < length) {
            chunks.push_back(Chunk{std::shared_ptr<char16_t[]>(new char16_t[kChunkUnits]), kChunkUnits, 0});
            current = chunks.size() - 1;
            heldUnits += kChunkUnits;
            Prefault(chunks.back().data.get(), kChunkUnits);
        }
        Chunk& chunk = chunks[current];
        char16_t* target = chunk.data.get() + chunk.used;
        std::memcpy(target, text, length * sizeof(char16_t));
        chunk.used += length;
        return target;
    };
    std::vector<std::shared_ptr<CRowBlock>> blocks(blocks_.size());
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const CRowBlock& from = *blocks_[b];
        auto block = std::shared_ptr<CRowBlock>(new CRowBlock);
        const std::size_t count = std::min(kBlockRows, rowCount_ - (b << kBlockShift));
        std::copy_n(from.number, count, block->number);
        std::copy_n(from.length, count, block->length);
        for (std::size_t i = 0; i < count; ++i) block->text[i] = place(from.text[i], from.length[i]);
        blocks[b] = std::move(block);
    }
    {
        std::unique_lock lock(mutex_);
        std::swap(chunks_, chunks);
        currentChunk_ = current;
        std::swap(blocks_, blocks);
        heldUnits_ = heldUnits;
        ++layoutVersion_;  // a reorder prepared before holds pointers into the old chunks
    }
    // The old chunks go outside the lock; the allocator keeps freed pages
    // unless asked to give them back.
    chunks.clear();
    blocks.clear();
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
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
            const CRowBlock& origin = *source[from >> kBlockShift];
            block->text[i] = origin.text[from & kBlockMask];
            block->length[i] = origin.length[from & kBlockMask];
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
    for (std::size_t row = n; row < end; ++row) {
        target.text[row & kBlockMask] = current.text[row & kBlockMask];
        target.length[row & kBlockMask] = current.length[row & kBlockMask];
        target.number[row & kBlockMask] = current.number[row & kBlockMask];
    }
    std::move(prepared.blocks_.begin(), prepared.blocks_.end(), blocks_.begin());
    prepared.blocks_.clear();
    ++layoutVersion_;
    return true;
}

std::size_t CRowStore::RowCount() const {
    std::shared_lock lock(mutex_);
    return rowCount_;
}

std::u16string_view CRowStore::RowText(std::size_t row) const {
    std::shared_lock lock(mutex_);
    if (row >= rowCount_) return {};
    const CRowBlock& block = Block(row);
    return {block.text[row & kBlockMask], block.length[row & kBlockMask]};
}

int64_t CRowStore::RowNumber(std::size_t row) const {
    std::shared_lock lock(mutex_);
    return row < rowCount_ ? Block(row).number[row & kBlockMask] : 0;
}

std::optional<CStoredRow> CRowStore::Row(std::size_t row) const {
    std::shared_lock lock(mutex_);
    if (row >= rowCount_) return std::nullopt;
    const CRowBlock& block = Block(row);
    const std::size_t at = row & kBlockMask;
    return CStoredRow{block.number[at], {block.text[at], block.length[at]}};
}

std::size_t CRowStore::ApproximateBytes() const {
    std::shared_lock lock(mutex_);
    std::size_t bytes = chunks_.capacity() * sizeof(Chunk) + blocks_.capacity() * sizeof(blocks_[0]);
    for (const Chunk& chunk : chunks_) bytes += chunk.capacity * sizeof(char16_t);
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
