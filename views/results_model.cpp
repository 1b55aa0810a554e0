#include "views/results_model.h"

#include "chrome/string_table.h"

#include <algorithm>

namespace {

constexpr std::size_t kShownUnits = 4096;
constexpr std::size_t kTipUnits = 600;
constexpr int kTipLines = 12;
constexpr char16_t kLineBreakMark = 0x21B5;  // DOWNWARDS ARROW WITH CORNER LEFTWARDS

constexpr std::size_t kMaxViewRows = static_cast<std::size_t>(INT32_MAX);

bool IsLineBreak(char16_t c) {
    return c == u'\r' || c == u'\n' || c == 0x2028 || c == 0x2029;
}

// A cell is one line: every line break of the version (CR LF counting as one)
// is drawn as a mark, so that the lines after the first stay visible.
QString CellText(CStoredText text) {
    std::u16string scratch;
    const std::u16string_view shown = text.Prefix(kShownUnits).View(scratch);
    QString cell;
    cell.reserve(static_cast<qsizetype>(shown.size()));
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const char16_t c = shown[i];
        if (!IsLineBreak(c)) {
            cell.append(QChar(c));
            continue;
        }
        if (c == u'\r' && i + 1 < shown.size() && shown[i + 1] == u'\n') ++i;
        cell.append(QChar(kLineBreakMark));
    }
    return cell;
}

// The start of the version with its real line breaks.
QString TipText(CStoredText text) {
    std::u16string scratch;
    const std::u16string_view head = text.Prefix(kTipUnits).View(scratch);
    std::size_t end = head.size();
    int lines = 1;
    for (std::size_t i = 0; i < end; ++i) {
        if (head[i] == u'\n' && ++lines > kTipLines) {
            end = i;
            break;
        }
    }
    QString tip(reinterpret_cast<const QChar*>(head.data()), static_cast<qsizetype>(end));
    if (end < text.size()) tip.append(QChar(0x2026));
    return tip;
}

}  // namespace

CResultsModel::CResultsModel(QObject* parent) : QAbstractTableModel(parent) {
    // By name, so that the queued call is made and freed inside Qt alone.
    rows_.SetPackedNotifier([this] { QMetaObject::invokeMethod(this, "AdoptPackedTexts", Qt::QueuedConnection); });
    announceTimer_.setSingleShot(true);
    announceTimer_.setInterval(kAnnounceMilliseconds);
    connect(&announceTimer_, &QTimer::timeout, this, [this] {
        // Rows that came meanwhile go out now, and the next ones wait a full interval again.
        if (shownRows_ < AnnounceableRows()) {
            AnnouncePending();
            announceTimer_.start();
        }
    });
}

CResultsModel::~CResultsModel() = default;

// The rows stay what they were, only their texts moved: the views need not hear of it.
void CResultsModel::AdoptPackedTexts() {
    rows_.AdoptPacked();
}

int CResultsModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(shownRows_);
}

std::size_t CResultsModel::AnnounceableRows() const {
    return std::min(RowCount(), kMaxViewRows);
}

void CResultsModel::AnnouncePending() {
    const std::size_t rows = AnnounceableRows();
    if (rows <= shownRows_) return;
    beginInsertRows({}, static_cast<int>(shownRows_), static_cast<int>(rows - 1));
    shownRows_ = rows;
    endInsertRows();
}

int CResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole: {
        const std::optional<CRowView> stored = rows_.Row(row);
        if (!stored) return {};
        switch (index.column()) {
        case kNumberColumn: return QString::number(stored->number);
        case kLengthColumn: return QString::number(stored->text.size());
        // A cell shows at most a few thousand characters, however long the version.
        case kTextColumn: return CellText(stored->text);
        default: return {};
        }
    }
    case Qt::ToolTipRole: {
        if (index.column() != kTextColumn) return {};
        const std::optional<CRowView> stored = rows_.Row(row);
        if (!stored) return {};
        return TipText(stored->text);
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

void CResultsModel::Clear() {
    announceTimer_.stop();
    beginResetModel();
    rows_.Clear();
    shownRows_ = 0;
    endResetModel();
}

void CResultsModel::AppendVersions(std::vector<KeptVersion>&& batch) {
    AnnouncePending();
    const std::size_t first = RowCount();
    if (batch.empty() || first >= kMaxViewRows) return;
    const std::size_t count = std::min(batch.size(), kMaxViewRows - first);
    std::vector<CStoredRow> rows(count);
    for (std::size_t i = 0; i < count; ++i) rows[i] = {batch[i].ordinal + 1, batch[i].text};
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + count - 1));
    rows_.Append(rows);
    shownRows_ = first + count;
    endInsertRows();
}

void CResultsModel::AppendPacked(std::shared_ptr<char[]> buffer, std::span<const CStoredText> texts,
                                 int64_t firstOrdinal, Announce announce) {
    const std::size_t first = RowCount();
    if (texts.empty() || first >= kMaxViewRows) return;
    const std::size_t count = std::min(texts.size(), kMaxViewRows - first);
    rows_.AppendPacked(std::move(buffer), texts.first(count), firstOrdinal + 1);
    // The first rows after a quiet spell go out at once, later ones with the timer.
    if (announce == Announce::kNow || !announceTimer_.isActive()) AnnouncePending();
    if (announce == Announce::kBatched && !announceTimer_.isActive()) announceTimer_.start();
}

void CResultsModel::RemoveRows(const std::vector<std::size_t>& ascendingRows) {
    if (ascendingRows.empty()) return;
    // A reset rather than per-row removals: the view then rebuilds once, in time
    // independent of how many rows go.
    beginResetModel();
    rows_.RemoveRows(ascendingRows);
    shownRows_ = AnnounceableRows();
    endResetModel();
}

bool CResultsModel::Reorder(const std::vector<uint32_t>& order) {
    return ApplyReorder(*PrepareReorder(order));
}

std::shared_ptr<CPreparedReorder> CResultsModel::PrepareReorder(std::vector<uint32_t> order) const {
    return rows_.PrepareReorder(std::move(order));
}

bool CResultsModel::ApplyReorder(CPreparedReorder& prepared) {
    AnnouncePending();
    const std::size_t n = prepared.Size();
    if (!rows_.ApplyReorder(prepared)) return false;
    // Rows stay where they are (and so does the selection); only two cells of each change.
    if (n > 0) emit dataChanged(index(0, kLengthColumn), index(static_cast<int>(n - 1), kTextColumn), {Qt::DisplayRole});
    return true;
}

std::size_t CResultsModel::RowCount() const { return rows_.RowCount(); }

CStoredText CResultsModel::RowText(std::size_t row) const { return rows_.RowText(row); }

std::u16string_view CResultsModel::RowText(std::size_t row, std::u16string& scratch) const {
    return rows_.RowText(row).View(scratch);
}

int64_t CResultsModel::RowNumber(std::size_t row) const { return rows_.RowNumber(row); }

std::size_t CResultsModel::ApproximateBytes() const { return rows_.ApproximateBytes(); }

CRowSnapshot CResultsModel::Snapshot(const std::vector<std::pair<std::size_t, std::size_t>>& spans) const {
    return rows_.Snapshot(spans);
}

CRowSnapshot CResultsModel::SnapshotAll() const { return rows_.SnapshotAll(); }
