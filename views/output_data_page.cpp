#include "views/output_data_page.h"

#include "run/generation_run.h"
#include "chrome/message_box.h"
#include "chrome/string_table.h"
#include "views/output_string_dialog.h"
#include "results_font.h"
#include "views/saving.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QStyle>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

// Draws a text cell from the start of its text that can show in the cell: a
// version of thousands of characters was shaped whole (to elide it, to
// measure it, to draw it) for the hundred characters that fit, which made one
// repaint of the list cost tens of milliseconds.
class CTextCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int width = std::max(option->rect.width(), 1);
        qsizetype units = width / NarrowestAdvance(option->fontMetrics, option->font) + 2;
        if (option->text.size() <= units) return;
        if (option->text.at(units - 1).isHighSurrogate()) ++units;
        QString start = option->text.left(units);
        // Other characters may be narrower (or have no width at all): then the
        // start must be measured to be sure that it overflows the cell.
        const bool plain = std::all_of(start.cbegin(), start.cend(), [](QChar c) { return IsPlain(c); });
        if (plain || option->fontMetrics.horizontalAdvance(start) > width) option->text = std::move(start);
    }

private:
    // Printable Latin-1 characters, whose advances NarrowestAdvance knows.
    static bool IsPlain(QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0x20 && u < 0x7F) || (u >= 0xA0 && u <= 0xFF && u != 0xAD);
    }

    int NarrowestAdvance(const QFontMetrics& metrics, const QFont& font) const {
        const QString key = font.key();
        if (key != fontKey_) {
            int narrowest = INT_MAX;
            for (char16_t u = 0x20; u <= 0xFF; ++u) {
                if (IsPlain(QChar(u))) narrowest = std::min(narrowest, metrics.horizontalAdvance(QChar(u)));
            }
            narrowest_ = std::max(narrowest, 1);
            fontKey_ = key;
        }
        return narrowest_;
    }

    mutable QString fontKey_;
    mutable int narrowest_ = 1;
};

}  // namespace

CColoredListCtrl::CColoredListCtrl(COutputDataPage& page, QWidget* parent) : QTableView(parent), page_(page) {
    setObjectName(QStringLiteral("CColoredListCtrl"));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setFont(ResultsFont());
    setContextMenuPolicy(Qt::NoContextMenu);  // the page shows menu 317
    setItemDelegateForColumn(CResultsModel::kTextColumn, new CTextCellDelegate(this));

    // A million rows: every row the same height, no per-row measuring.
    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(fontMetrics().height() + 3);

    QHeaderView* columns = horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setSectionsMovable(false);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setFont(QApplication::font());
    columns->setSectionResizeMode(QHeaderView::Interactive);
}

void CColoredListCtrl::scrollTo(const QModelIndex& index, ScrollHint hint) {
    const int horizontal = horizontalScrollBar()->value();
    QTableView::scrollTo(index, hint);
    horizontalScrollBar()->setValue(horizontal);
}

void CColoredListCtrl::keyPressEvent(QKeyEvent* event) {
    if (page_.HandleListKey(event)) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void CColoredListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        // The second press of another button's double click is just a press.
        mousePressEvent(event);
        return;
    }
    QTableView::mouseDoubleClickEvent(event);
}

COutputDataPage::COutputDataPage(CGenerationRun& run, QWidget* parent)
    : QWidget(parent), run_(run), model_(new CResultsModel(this)), list_(new CColoredListCtrl(*this, this)) {
    setObjectName(QStringLiteral("COutputDataPage"));
    list_->setModel(model_);
    list_->setGeometry(rect());
    InitColumnWidths();

    connect(model_, &QAbstractItemModel::rowsInserted, this, &COutputDataPage::FitNumberColumn);
    connect(model_, &QAbstractItemModel::rowsInserted, this, &COutputDataPage::CommandStateChanged);
    connect(model_, &QAbstractItemModel::modelReset, this, &COutputDataPage::CommandStateChanged);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &COutputDataPage::CommandStateChanged);
    connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) ShowVersion(static_cast<std::size_t>(index.row()));
    });

    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("menu317"));
    AddCommand(contextMenu_, kCopySelected, tr("&Copy Selected\tCtrl+C"));
    AddCommand(contextMenu_, kSelectAll, tr("Select All\tCtrl+A"));
    contextMenu_->addSeparator();
    AddCommand(contextMenu_, kSaveSelected, tr("&Save Selected\tCtrl+S"));
    AddCommand(contextMenu_, kSaveAll, tr("&Save All"));
    contextMenu_->addSeparator();
    AddCommand(contextMenu_, kSaveSelectedToDifferentFiles, tr("&Save Selected to different files\tCtrl+D"));
    AddCommand(contextMenu_, kSaveAllToDifferentFiles, tr("Save All to different files"));
    contextMenu_->addSeparator();
    AddCommand(contextMenu_, kSavingOptions, tr("&Saving Options..."));

    saveMenu_ = new QMenu(this);
    saveMenu_->setObjectName(QStringLiteral("menu319"));
    AddCommand(saveMenu_, kSaveSelected, tr("&Save Selected\tCtrl+S"));
    AddCommand(saveMenu_, kSaveAll, tr("&Save All"));
    saveMenu_->addSeparator();
    AddCommand(saveMenu_, kSaveSelectedToDifferentFiles, tr("&Save Selected to different files\tCtrl+D"));
    AddCommand(saveMenu_, kSaveAllToDifferentFiles, tr("&Save All to different files"));
    saveMenu_->addSeparator();
    AddCommand(saveMenu_, kSavingOptions, tr("&Saving Options..."));
    connect(saveMenu_, &QMenu::aboutToShow, this, [this] { UpdateMenu(saveMenu_); });
    connect(contextMenu_, &QMenu::aboutToShow, this, [this] { UpdateMenu(contextMenu_); });
}

COutputDataPage::~COutputDataPage() = default;

QAction* COutputDataPage::AddCommand(QMenu* menu, int id, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    // Queued: the command may open a modal dialog, which should not run inside the menu's own loop.
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); }, Qt::QueuedConnection);
    return action;
}

void COutputDataPage::UpdateMenu(QMenu* menu) {
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator()) action->setEnabled(IsCommandEnabled(action->data().toInt()));
    }
}

QMenu* COutputDataPage::ContextMenu() {
    UpdateMenu(contextMenu_);
    return contextMenu_;
}

QMenu* COutputDataPage::SaveMenu() {
    UpdateMenu(saveMenu_);
    return saveMenu_;
}

void COutputDataPage::contextMenuEvent(QContextMenuEvent* event) {
    ContextMenu()->popup(event->globalPos());
    event->accept();
}

void COutputDataPage::InitColumnWidths() {
    list_->setColumnWidth(CResultsModel::kNumberColumn, 50);
    list_->setColumnWidth(CResultsModel::kLengthColumn, 65);
    list_->setColumnWidth(CResultsModel::kTextColumn, std::min(list_->viewport()->width() + 200, 32767));
}

// Numbers only grow down the list (deletions keep the gaps, shuffles leave
// them in place), so the last row's number is the widest.
void COutputDataPage::FitNumberColumn() {
    const std::size_t rows = model_->RowCount();
    if (rows == 0) return;
    const int margin = list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list_) + 1;
    const int needed =
        list_->fontMetrics().horizontalAdvance(QString::number(model_->RowNumber(rows - 1))) + 2 * margin + 4;
    if (needed > list_->columnWidth(CResultsModel::kNumberColumn))
        list_->setColumnWidth(CResultsModel::kNumberColumn, needed);
}

void COutputDataPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    list_->setGeometry(rect());
}

void COutputDataPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The text column is sized once, from the list's width when the page first appears.
    if (!columnsInitialised_) {
        columnsInitialised_ = true;
        list_->setGeometry(rect());
        InitColumnWidths();
    }
}

std::vector<std::pair<std::size_t, std::size_t>> COutputDataPage::SelectedSpans() const {
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    for (const QItemSelectionRange& range : list_->selectionModel()->selection()) {
        if (range.isValid()) ranges.emplace_back(range.top(), static_cast<std::size_t>(range.bottom()) + 1);
    }
    std::sort(ranges.begin(), ranges.end());
    // Ranges of a selection may overlap or touch; merge them.
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (const auto& range : ranges) {
        if (!spans.empty() && range.first <= spans.back().second) {
            spans.back().second = std::max(spans.back().second, range.second);
        } else {
            spans.push_back(range);
        }
    }
    return spans;
}

std::vector<std::size_t> COutputDataPage::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (const auto& [first, last] : SelectedSpans()) {
        for (std::size_t row = first; row < last; ++row) rows.push_back(row);
    }
    return rows;
}

bool COutputDataPage::HasSelection() const { return list_->selectionModel()->hasSelection(); }

bool COutputDataPage::CanCopySelected() const {
    return !savingInProgress_ && HasSelection() && run_.IsResultSetIdle();
}

bool COutputDataPage::CanSelectAll() const {
    return !savingInProgress_ && model_->RowCount() > 0 && !run_.IsRunning() && run_.IsResultSetIdle();
}

bool COutputDataPage::IsCommandEnabled(int commandId) const {
    switch (commandId) {
    case kCopySelected:
    case kSaveSelected:
    case kSaveSelectedToDifferentFiles: return CanCopySelected();
    case kSelectAll:
    case kSaveAll:
    case kSaveAllToDifferentFiles: return CanSelectAll();
    case kSavingOptions: return !savingInProgress_;
    default: return false;
    }
}

bool COutputDataPage::RunCommand(int commandId) {
    if (!IsCommandEnabled(commandId)) return false;
    switch (commandId) {
    case kCopySelected: CopySelectedVersions(); break;
    case kSelectAll: SelectAllVersions(); break;
    case kSaveSelected: SaveSelected(); break;
    case kSaveAll: SaveAll(); break;
    case kSaveSelectedToDifferentFiles: SaveSelectedToDifferentFiles(); break;
    case kSaveAllToDifferentFiles: SaveAllToDifferentFiles(); break;
    case kSavingOptions: EditSavingOptions(); break;
    default: return false;
    }
    return true;
}

bool COutputDataPage::HandleListKey(QKeyEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) return false;
    const int key = event->key();
    if (key != Qt::Key_A && key != Qt::Key_C && key != Qt::Key_D && key != Qt::Key_S) return false;
    // The keys are swallowed even when they do nothing, so the view's own
    // Ctrl+A and Ctrl+C cannot bypass the result-set idle flag.
    if (!run_.IsResultSetIdle() || savingInProgress_) return true;
    switch (key) {
    case Qt::Key_A: SelectAllVersions(); break;
    case Qt::Key_C:
        if (HasSelection()) CopySelectedVersions();
        break;
    case Qt::Key_D:
        if (HasSelection()) SaveSelectedToDifferentFiles();
        break;
    case Qt::Key_S:
        if (HasSelection()) SaveSelected();
        break;
    default: break;
    }
    return true;
}

bool COutputDataPage::HandleWindowKey(QKeyEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier) || savingInProgress_) return false;
    if (!HasSelection() || !run_.IsResultSetIdle()) return false;
    switch (event->key()) {
    case Qt::Key_A: SelectAllVersions(); return true;
    case Qt::Key_C: CopySelectedVersions(); return true;
    case Qt::Key_D: SaveSelectedToDifferentFiles(); return true;
    case Qt::Key_S: SaveSelected(); return true;
    default: return false;
    }
}

namespace {

// Copies above this many bytes are built on a worker, with the wait cursor
// and (when slow) a progress dialog, so the window never freezes.
constexpr std::size_t kLargeCopyBytes = 8u << 20;

std::size_t Utf8Length(std::u16string_view text) {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x80) bytes += 1;
        else if (c < 0x800) bytes += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1])) bytes += 4, ++i;
        else bytes += 3;  // lone surrogates become U+FFFD
    }
    return bytes;
}

// Writes UTF-8 at out; out has room for Utf8Length(text) bytes.
char* WriteUtf8(std::u16string_view text, char* out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1])) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(c)) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            *out++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *out++ = static_cast<char>(0xC0 | (c >> 6));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out++ = static_cast<char>(0xE0 | (c >> 12));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | (c >> 18));
            *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

// The clipboard gets the text once, as UTF-8 sized exactly beforehand: no
// second copy in another encoding, no growing buffer.
void COutputDataPage::CopySelectedVersions() {
    const CRowSnapshot rows = model_->Snapshot(SelectedSpans());
    if (rows.Size() == 0) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    QByteArray utf8;
    const auto build = [&rows, &utf8](const SaveControl& control) {
        constexpr std::size_t kCheckEvery = 4096;
        std::size_t bytes = 0;
        std::u16string scratch;
        for (std::size_t i = 0; i < rows.Size(); ++i) {
            if (i % kCheckEvery == 0 && control.cancelled && control.cancelled()) return false;
            bytes += Utf8Length(rows.Text(i).View(scratch)) + 4;
        }
        utf8.resize(static_cast<qsizetype>(bytes));
        char* out = utf8.data();
        for (std::size_t i = 0; i < rows.Size(); ++i) {
            if (i % kCheckEvery == 0) {
                if (control.cancelled && control.cancelled()) return false;
                if (control.progress) control.progress(static_cast<int64_t>(i));
            }
            out = WriteUtf8(rows.Text(i).View(scratch), out);
            out = std::copy_n("\r\n\r\n", 4, out);
        }
        return true;
    };
    std::size_t units = 0;
    for (std::size_t i = 0; i < rows.Size(); ++i) units += rows.Text(i).size() + 4;
    if (units < kLargeCopyBytes) {
        build(SaveControl{});
    } else if (RunWithProgress(tr("Copying versions..."), static_cast<int64_t>(rows.Size()), this, build) !=
               SaveResult::kSaved) {
        return;
    }
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain;charset=utf-8"), utf8);
    QApplication::clipboard()->setMimeData(data);
}

void COutputDataPage::SelectAllVersions() {
    const int rows = model_->rowCount();
    if (rows == 0) return;
    list_->selectionModel()->select(
        QItemSelection(model_->index(0, 0), model_->index(rows - 1, CResultsModel::kColumnCount - 1)),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void COutputDataPage::ShowVersion(std::size_t row) {
    if (row >= model_->RowCount()) return;
    std::u16string scratch;
    const std::u16string_view text = model_->RowText(row, scratch);
    const QString title = FormatStringById(
        kIdsVersionTitle, {QString::number(model_->RowNumber(row)), QString::number(text.size())});
    COutputStringDialog viewer(title, QStringView(text.data(), static_cast<qsizetype>(text.size())).toString(), this);
    viewer.exec();
}

void COutputDataPage::AfterSave() {
    list_->setFocus();
    list_->viewport()->update();
}

SaveResult COutputDataPage::SaveRowsToOneFile(bool selectedOnly) {
    const std::optional<std::filesystem::path> file = ChooseResultFile(this);
    if (!file) return SaveResult::kCancelled;
    savingInProgress_ = true;
    emit CommandStateChanged();
    const auto done = qScopeGuard([this] {
        savingInProgress_ = false;
        emit CommandStateChanged();
    });
    // Taken after the dialog: the rows saved are the ones the user sees now.
    const CRowSnapshot snapshot = selectedOnly ? model_->Snapshot(SelectedSpans()) : model_->SnapshotAll();
    const std::u16string separator = ExpandSeparator(saving_.versionsSeparator);
    const SaveResult result = SaveRowsToFile(snapshot, separator, *file, this);
    ReportSaveResult(result);
    return result;
}

void COutputDataPage::SaveRowsToFolder(bool selectedOnly) {
    const std::optional<std::filesystem::path> folder = ChooseResultFolder(list_);
    if (!folder) return;
    savingInProgress_ = true;
    emit CommandStateChanged();
    const auto done = qScopeGuard([this] {
        savingInProgress_ = false;
        emit CommandStateChanged();
    });
    const CRowSnapshot snapshot = selectedOnly ? model_->Snapshot(SelectedSpans()) : model_->SnapshotAll();
    if (snapshot.Size() == 0) return;
    ReportSaveResult(SaveRowsToSeparateFiles(snapshot, *folder, this));
}

void COutputDataPage::SaveSelected() {
    if (savingInProgress_ || !HasSelection()) return;
    SaveRowsToOneFile(true);
    AfterSave();
}

SaveResult COutputDataPage::SaveAll() {
    if (savingInProgress_) return SaveResult::kCancelled;
    const SaveResult result = SaveRowsToOneFile(false);
    AfterSave();
    return result;
}

void COutputDataPage::SaveSelectedToDifferentFiles() {
    if (savingInProgress_ || !HasSelection()) return;
    SaveRowsToFolder(true);
    AfterSave();
}

void COutputDataPage::SaveAllToDifferentFiles() {
    if (savingInProgress_) return;
    SaveRowsToFolder(false);
    AfterSave();
}

void COutputDataPage::EditSavingOptions() {
    CSavingOptionsDlg dialog(saving_, window());
    dialog.exec();
}

bool COutputDataPage::OfferSaveOnExit() {
    if (savingInProgress_ || model_->RowCount() == 0) return true;
    switch (ShowMessageById(kIdsSaveBeforeExit, kMbYesNoQuestion)) {
    case kMbResultYes: return SaveAll() == SaveResult::kSaved;
    case kMbResultCancel: return false;
    default: return true;
    }
}
