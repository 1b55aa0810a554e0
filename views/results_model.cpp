#include "views/results_model.h"

#include "chrome/string_table.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {

// Small enough that the unused tail of a chunk is no real waste, large enough
// that a million rows need only a few hundred allocations.
constexpr std::size_t kChunkUnits = std::size_t{1} << 20;
constexpr std::size_t kShownUnits = 4096;
constexpr std::size_t kBlockShift = 14;
constexpr std::size_t kBlockRows = std::size_t{1} << kBlockShift;
constexpr std::size_t kBlockMask = kBlockRows - 1;

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

}  // namespace

// Left uninitialised on purpose: a new block's pages are touched only as rows arrive.
struct CRowBlock {
    const char16_t* text[kBlockRows];
    uint32_t length[kBlockRows];
    int64_t number[kBlockRows];
};

struct CPreparedReorder {
    std::vector<uint32_t> order;
    uint64_t layoutVersion = 0;
    bool valid = false;  // order is a permutation of rows that existed
    std::vector<std::shared_ptr<CRowBlock>> blocks;  // rows 0 .. order.size() permuted
};

CRowSnapshot::CRowSnapshot() = default;
CRowSnapshot::~CRowSnapshot() = default;
CRowSnapshot::CRowSnapshot(CRowSnapshot&&) noexcept = default;
CRowSnapshot& CRowSnapshot::operator=(CRowSnapshot&&) noexcept = default;

std::u16string_view CRowSnapshot::Text(std::size_t i) const {
    if (i >= size_) return {};
    // The span holding snapshot row i: the last one with before_ <= i.
    const auto span = static_cast<std::size_t>(std::upper_bound(before_.begin(), before_.end(), i) - before_.begin()) - 1;
    const std::size_t row = spans_[span].first + (i - before_[span]);
    const CRowBlock& block = *blocks_[row >> kBlockShift];
    return {block.text[row & kBlockMask], block.length[row & kBlockMask]};
}

CResultsModel::CResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

CResultsModel::~CResultsModel() = default;

int CResultsModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(std::min<std::size_t>(RowCount(), static_cast<std::size_t>(INT32_MAX)));
}

int CResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole: {
        std::shared_lock lock(mutex_);
        if (row >= rowCount_) return {};
        const CRowBlock& block = Block(row);
        const std::size_t at = row & kBlockMask;
        switch (index.column()) {
        case kNumberColumn: return QString::number(block.number[at]);
        case kLengthColumn: return QString::number(block.length[at]);
        case kTextColumn:
            // A cell shows at most a few thousand characters, however long the version.
            return ToQString({block.text[at], std::min<std::size_t>(block.length[at], kShownUnits)});
        default: return {};
        }
    }
    case Qt::BackgroundRole:
        if (index.column() != kTextColumn) return kNumberBackground;
        return row % 2 == 0 ? kEvenTextBackground : kOddTextBackground;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant CResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case kNumberColumn: return LoadStringById(kIdsColumnNumber);
        case kLengthColumn: return LoadStringById(kIdsColumnLength);
        case kTextColumn: return LoadStringById(kIdsColumnText);
        default: return {};
        }
    }
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

CRowBlock& CResultsModel::Block(std::size_t row) const {
    return *blocks_[row >> kBlockShift];
}

void CResultsModel::Clear() {
    beginResetModel();
    {
        std::unique_lock lock(mutex_);
        chunks_.clear();
        currentChunk_ = 0;
        blocks_.clear();
        rowCount_ = 0;
        ++layoutVersion_;
    }
    endResetModel();
}

const char16_t* CResultsModel::Store(std::u16string_view text) {
    if (text.empty()) return nullptr;
    // A long text gets a chunk of its own so the current chunk's tail is not abandoned.
    if (text.size() > kChunkUnits / 4) {
        Chunk big{std::shared_ptr<char16_t[]>(new char16_t[text.size()]), text.size(), text.size()};
        std::memcpy(big.data.get(), text.data(), text.size() * sizeof(char16_t));
        chunks_.push_back(std::move(big));
        return chunks_.back().data.get();
    }
    if (chunks_.empty() || chunks_[currentChunk_].capacity - chunks_[currentChunk_].used < text.size()) {
        chunks_.push_back(Chunk{NewChunk(), kChunkUnits, 0});
        currentChunk_ = chunks_.size() - 1;
    }
    Chunk& chunk = chunks_[currentChunk_];
    char16_t* target = chunk.data.get() + chunk.used;
    std::memcpy(target, text.data(), text.size() * sizeof(char16_t));
    chunk.used += text.size();
    return target;
}

std::shared_ptr<char16_t[]> CResultsModel::NewChunk() {
    std::shared_ptr<char16_t[]> chunk;
    if (nextChunk_.valid() && nextChunk_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        chunk = nextChunk_.get();
    } else {
        chunk.reset(new char16_t[kChunkUnits]);
    }
    if (!nextChunk_.valid()) {
        nextChunk_ = std::async(std::launch::async, [] {
            std::shared_ptr<char16_t[]> ahead(new char16_t[kChunkUnits]);
            constexpr std::size_t kUnitsPerPage = 4096 / sizeof(char16_t);
            volatile char16_t* touch = ahead.get();
            for (std::size_t i = 0; i < kChunkUnits; i += kUnitsPerPage) touch[i] = 0;
            return ahead;
        });
    }
    return chunk;
}

void CResultsModel::AppendVersions(std::vector<KeptVersion>&& batch) {
    if (batch.empty()) return;
    const std::size_t first = RowCount();
    if (first >= static_cast<std::size_t>(INT32_MAX)) return;
    const std::size_t count = std::min(batch.size(), static_cast<std::size_t>(INT32_MAX) - first);
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + count - 1));
    {
        std::unique_lock lock(mutex_);
        // Rows past rowCount_ are invisible to snapshots, so a shared last block may be filled further.
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t row = rowCount_;
            if ((row >> kBlockShift) >= blocks_.size()) blocks_.push_back(std::shared_ptr<CRowBlock>(new CRowBlock));
            const std::u16string& text = batch[i].text;
            const auto length = static_cast<uint32_t>(std::min<std::size_t>(text.size(), UINT32_MAX));
            CRowBlock& block = Block(row);
            block.text[row & kBlockMask] = Store({text.data(), length});
            block.length[row & kBlockMask] = length;
            block.number[row & kBlockMask] = batch[i].ordinal + 1;
            ++rowCount_;
        }
    }
    endInsertRows();
}

void CResultsModel::MakeBlocksWritable(std::size_t firstRow, std::size_t lastRow) {
    if (firstRow >= lastRow) return;
    for (std::size_t b = firstRow >> kBlockShift; b <= ((lastRow - 1) >> kBlockShift); ++b) {
        // New references are taken only under the shared lock, which the caller
        // excludes, so a count of one cannot grow meanwhile.
        if (blocks_[b].use_count() > 1) blocks_[b] = std::make_shared<CRowBlock>(*blocks_[b]);
    }
}

void CResultsModel::RemoveRows(const std::vector<std::size_t>& ascendingRows) {
    if (ascendingRows.empty()) return;
    // A reset rather than per-row removals: the view then rebuilds once, in time
    // independent of how many rows go.
    beginResetModel();
    {
        std::unique_lock lock(mutex_);
        const std::size_t count = rowCount_;
        std::size_t next = 0;  // position in ascendingRows
        std::size_t read = ascendingRows.front();
        std::size_t write = std::min(read, count);
        MakeBlocksWritable(write, count);
        for (; read < count; ++read) {
            while (next < ascendingRows.size() && ascendingRows[next] < read) ++next;
            if (next < ascendingRows.size() && ascendingRows[next] == read) continue;
            CRowBlock& from = Block(read);
            CRowBlock& to = Block(write);
            to.text[write & kBlockMask] = from.text[read & kBlockMask];
            to.length[write & kBlockMask] = from.length[read & kBlockMask];
            to.number[write & kBlockMask] = from.number[read & kBlockMask];
            ++write;
        }
        rowCount_ = write;
        blocks_.resize((write + kBlockRows - 1) >> kBlockShift);
        ++layoutVersion_;
    }
    endResetModel();
}

bool CResultsModel::Reorder(const std::vector<uint32_t>& order) {
    return ApplyReorder(*PrepareReorder(order));
}

std::shared_ptr<CPreparedReorder> CResultsModel::PrepareReorder(std::vector<uint32_t> order) const {
    auto prepared = std::make_shared<CPreparedReorder>();
    prepared->order = std::move(order);
    const std::size_t n = prepared->order.size();
    std::vector<std::shared_ptr<const CRowBlock>> source;
    {
        // Holding references makes the UI thread copy a block before changing it,
        // so the rows can be read below without the lock.
        std::shared_lock lock(mutex_);
        if (n > rowCount_) return prepared;
        prepared->layoutVersion = layoutVersion_;
        source.assign(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>((n + kBlockRows - 1) >> kBlockShift));
    }
    std::vector<bool> seen(n, false);
    for (uint32_t from : prepared->order) {
        if (from >= n || seen[from]) return prepared;
        seen[from] = true;
    }
    prepared->blocks.resize(source.size());
    for (std::size_t b = 0; b < source.size(); ++b) {
        auto block = std::shared_ptr<CRowBlock>(new CRowBlock);
        const std::size_t first = b << kBlockShift;
        const std::size_t count = std::min(kBlockRows, n - first);
        std::copy_n(source[b]->number, count, block->number);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t from = prepared->order[first + i];
            const CRowBlock& origin = *source[from >> kBlockShift];
            block->text[i] = origin.text[from & kBlockMask];
            block->length[i] = origin.length[from & kBlockMask];
        }
        prepared->blocks[b] = std::move(block);
    }
    prepared->valid = true;
    return prepared;
}

bool CResultsModel::ApplyReorder(CPreparedReorder& prepared) {
    const std::size_t n = prepared.order.size();
    if (n == 0) return true;
    {
        std::unique_lock lock(mutex_);
        if (!prepared.valid || prepared.layoutVersion != layoutVersion_) {
            lock.unlock();
            if (!prepared.valid) return false;
            // The rows moved since the preparation: prepare again from what they are now.
            std::shared_ptr<CPreparedReorder> again = PrepareReorder(std::move(prepared.order));
            return again->valid && ApplyReorder(*again);
        }
        // Rows appended after the preparation that share its last block.
        const std::size_t last = prepared.blocks.size() - 1;
        const std::size_t end = std::min(rowCount_, (last + 1) << kBlockShift);
        const CRowBlock& current = *blocks_[last];
        CRowBlock& target = *prepared.blocks[last];
        for (std::size_t row = n; row < end; ++row) {
            target.text[row & kBlockMask] = current.text[row & kBlockMask];
            target.length[row & kBlockMask] = current.length[row & kBlockMask];
            target.number[row & kBlockMask] = current.number[row & kBlockMask];
        }
        std::move(prepared.blocks.begin(), prepared.blocks.end(), blocks_.begin());
        prepared.blocks.clear();
        ++layoutVersion_;
    }
    // Rows stay where they are (and so does the selection); only two cells of each change.
    emit dataChanged(index(0, kLengthColumn), index(static_cast<int>(n - 1), kTextColumn), {Qt::DisplayRole});
    return true;
}

std::size_t CResultsModel::RowCount() const {
    std::shared_lock lock(mutex_);
    return rowCount_;
}

std::u16string_view CResultsModel::RowText(std::size_t row) const {
    std::shared_lock lock(mutex_);
    if (row >= rowCount_) return {};
    const CRowBlock& block = Block(row);
    return {block.text[row & kBlockMask], block.length[row & kBlockMask]};
}

int64_t CResultsModel::RowNumber(std::size_t row) const {
    std::shared_lock lock(mutex_);
    return row < rowCount_ ? Block(row).number[row & kBlockMask] : 0;
}

std::size_t CResultsModel::ApproximateBytes() const {
    std::shared_lock lock(mutex_);
    std::size_t bytes = chunks_.capacity() * sizeof(Chunk) + blocks_.capacity() * sizeof(blocks_[0]);
    for (const Chunk& chunk : chunks_) bytes += chunk.capacity * sizeof(char16_t);
    bytes += blocks_.size() * sizeof(CRowBlock);
    return bytes;
}

void CResultsModel::AddShared(CRowSnapshot& snapshot) const {
    snapshot.chunks_.reserve(chunks_.size());
    for (const Chunk& chunk : chunks_) snapshot.chunks_.emplace_back(chunk.data);
    snapshot.blocks_.assign(blocks_.begin(), blocks_.end());
}

CRowSnapshot CResultsModel::Snapshot(const std::vector<std::pair<std::size_t, std::size_t>>& spans) const {
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

CRowSnapshot CResultsModel::SnapshotAll() const {
    return Snapshot({{0, RowCount()}});
}
