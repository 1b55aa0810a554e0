#include "views/results_model.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// Small enough that the unused tail of a chunk is no real waste, large enough
// that a million rows need only a few hundred allocations.
constexpr std::size_t kChunkUnits = std::size_t{1} << 20;

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

}  // namespace

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
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        std::shared_lock lock(mutex_);
        if (row >= texts_.size()) return {};
        switch (index.column()) {
        case kNumberColumn: return QString::number(numbers_[row]);
        case kLengthColumn: return QString::number(lengths_[row]);
        case kTextColumn:
            if (role == Qt::ToolTipRole) return {};
            return ToQString({texts_[row], lengths_[row]});
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
        case kNumberColumn: return QStringLiteral("#");
        case kLengthColumn: return QStringLiteral("Length");
        case kTextColumn: return QStringLiteral("Text");
        default: return {};
        }
    }
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

void CResultsModel::Clear() {
    beginResetModel();
    {
        std::unique_lock lock(mutex_);
        chunks_.clear();
        currentChunk_ = 0;
        storedUnits_ = 0;
        // Release the arrays too: a cleared million-row list should give its memory back.
        std::vector<const char16_t*>().swap(texts_);
        std::vector<uint32_t>().swap(lengths_);
        std::vector<int64_t>().swap(numbers_);
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
        storedUnits_ += text.size();
        return chunks_.back().data.get();
    }
    if (chunks_.empty() || chunks_[currentChunk_].capacity - chunks_[currentChunk_].used < text.size()) {
        chunks_.push_back(Chunk{std::shared_ptr<char16_t[]>(new char16_t[kChunkUnits]), kChunkUnits, 0});
        currentChunk_ = chunks_.size() - 1;
    }
    Chunk& chunk = chunks_[currentChunk_];
    char16_t* target = chunk.data.get() + chunk.used;
    std::memcpy(target, text.data(), text.size() * sizeof(char16_t));
    chunk.used += text.size();
    storedUnits_ += text.size();
    return target;
}

void CResultsModel::AppendVersions(std::vector<KeptVersion>&& batch) {
    if (batch.empty()) return;
    const std::size_t first = RowCount();
    if (first >= static_cast<std::size_t>(INT32_MAX)) return;
    const std::size_t count = std::min(batch.size(), static_cast<std::size_t>(INT32_MAX) - first);
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + count - 1));
    {
        std::unique_lock lock(mutex_);
        texts_.reserve(first + count);
        lengths_.reserve(first + count);
        numbers_.reserve(first + count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::u16string& text = batch[i].text;
            const auto length = static_cast<uint32_t>(std::min<std::size_t>(text.size(), UINT32_MAX));
            texts_.push_back(Store({text.data(), length}));
            lengths_.push_back(length);
            numbers_.push_back(batch[i].ordinal + 1);
        }
    }
    endInsertRows();
}

void CResultsModel::RemoveRows(const std::vector<std::size_t>& ascendingRows) {
    if (ascendingRows.empty()) return;
    // A reset rather than per-row removals: the view then rebuilds once, in time
    // independent of how many rows go.
    beginResetModel();
    {
        std::unique_lock lock(mutex_);
        const std::size_t count = texts_.size();
        std::size_t write = 0;
        std::size_t next = 0;  // position in ascendingRows
        for (std::size_t read = 0; read < count; ++read) {
            while (next < ascendingRows.size() && ascendingRows[next] < read) ++next;
            if (next < ascendingRows.size() && ascendingRows[next] == read) continue;
            if (write != read) {
                texts_[write] = texts_[read];
                lengths_[write] = lengths_[read];
                numbers_[write] = numbers_[read];
            }
            ++write;
        }
        texts_.resize(write);
        lengths_.resize(write);
        numbers_.resize(write);
    }
    endResetModel();
}

bool CResultsModel::Reorder(const std::vector<uint32_t>& order) {
    const std::size_t n = order.size();
    if (n == 0) return true;
    {
        std::unique_lock lock(mutex_);
        if (n > texts_.size()) return false;
        std::vector<bool> seen(n, false);
        for (uint32_t from : order) {
            if (from >= n || seen[from]) return false;
            seen[from] = true;
        }
        std::vector<const char16_t*> texts(n);
        std::vector<uint32_t> lengths(n);
        for (std::size_t i = 0; i < n; ++i) {
            texts[i] = texts_[order[i]];
            lengths[i] = lengths_[order[i]];
        }
        std::copy(texts.begin(), texts.end(), texts_.begin());
        std::copy(lengths.begin(), lengths.end(), lengths_.begin());
    }
    // Rows stay where they are (and so does the selection); only two cells of each change.
    emit dataChanged(index(0, kLengthColumn), index(static_cast<int>(n - 1), kTextColumn), {Qt::DisplayRole});
    return true;
}

std::size_t CResultsModel::RowCount() const {
    std::shared_lock lock(mutex_);
    return texts_.size();
}

std::u16string_view CResultsModel::RowText(std::size_t row) const {
    std::shared_lock lock(mutex_);
    if (row >= texts_.size()) return {};
    return {texts_[row], lengths_[row]};
}

int64_t CResultsModel::RowNumber(std::size_t row) const {
    std::shared_lock lock(mutex_);
    return row < numbers_.size() ? numbers_[row] : 0;
}

std::size_t CResultsModel::ApproximateBytes() const {
    std::shared_lock lock(mutex_);
    std::size_t bytes = 0;
    for (const Chunk& chunk : chunks_) bytes += chunk.capacity * sizeof(char16_t);
    bytes += texts_.capacity() * sizeof(const char16_t*) + lengths_.capacity() * sizeof(uint32_t) +
             numbers_.capacity() * sizeof(int64_t) + chunks_.capacity() * sizeof(Chunk);
    return bytes;
}

void CResultsModel::AddChunks(std::vector<std::shared_ptr<const char16_t[]>>& out) const {
    out.reserve(chunks_.size());
    for (const Chunk& chunk : chunks_) out.emplace_back(chunk.data);
}

CRowSnapshot CResultsModel::Snapshot(const std::vector<std::size_t>& rows) const {
    CRowSnapshot snapshot;
    std::shared_lock lock(mutex_);
    AddChunks(snapshot.chunks_);
    snapshot.texts_.reserve(rows.size());
    for (std::size_t row : rows) {
        if (row < texts_.size()) snapshot.texts_.emplace_back(texts_[row], lengths_[row]);
    }
    return snapshot;
}

CRowSnapshot CResultsModel::SnapshotAll() const {
    CRowSnapshot snapshot;
    std::shared_lock lock(mutex_);
    AddChunks(snapshot.chunks_);
    snapshot.texts_.reserve(texts_.size());
    for (std::size_t row = 0; row < texts_.size(); ++row) snapshot.texts_.emplace_back(texts_[row], lengths_[row]);
    return snapshot;
}
