// The "Results" page: the results list (number, length, text of every kept
// version), its selection, context menu, keys, clipboard copy, the viewer of
// one version, and the save commands with their drop-down menu.
//
//   COutputDataPage page(run);
//   page.Model()->AppendVersions(std::move(batch));
//   if (page.CanCopySelected()) page.CopySelectedVersions();
//   page.SaveMenu()->popup(point);      // the Results toolbar's Save
//   if (!page.OfferSaveOnExit()) return;   // closing: false keeps the window open
//
// Command availability follows the run's flags: the copy, select and save
// commands need the result-set idle flag (cleared while a job rewrites the
// rows); Select All and the "all" saves also need the running flag clear. A
// save in progress makes the list commands unavailable until it ends; it
// writes a snapshot of the rows, so a run may go on appending meanwhile.
// Threading: user interface thread only; the model's RowText may be read by
// the worker (see results_model.h).
#pragma once

#include "files/result_files.h"
#include "views/results_model.h"
#include "views/saving.h"

#include <QTableView>
#include <QWidget>

#include <cstddef>
#include <utility>
#include <vector>

class CGenerationRun;
class COutputDataPage;
class QAction;
class QMenu;

// The list: full-row multiple selection, fixed row height, the cell colours
// of the model, and the Ctrl keys of the page.
class CColoredListCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CColoredListCtrl(COutputDataPage& page, QWidget* parent = nullptr);

    // Moves to a row without scrolling sideways: the text column is wider than
    // the view, and a click in it would otherwise push "#" and "Length" out.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;  // only the left button opens the viewer

private:
    COutputDataPage& page_;
};

class COutputDataPage : public QWidget {
    Q_OBJECT
public:
    // Command ids of menus 317 and 319.
    enum CommandId : int {
        kCopySelected = 32779,
        kSelectAll = 32802,
        kSaveSelected = 32784,
        kSaveAll = 32778,
        kSaveSelectedToDifferentFiles = 32785,
        kSaveAllToDifferentFiles = 32803,
        kSavingOptions = 32833,
    };

    explicit COutputDataPage(CGenerationRun& run, QWidget* parent = nullptr);
    ~COutputDataPage() override;

    CResultsModel* Model() const { return model_; }
    QTableView* List() const { return list_; }
    SavingOptions& Saving() { return saving_; }

    // Ascending selected rows, one by one or as merged [first, last) spans.
    std::vector<std::size_t> SelectedRows() const;
    std::vector<std::pair<std::size_t, std::size_t>> SelectedSpans() const;
    bool HasSelection() const;

    bool CanCopySelected() const;  // >= 1 selected and result-set idle
    bool CanSelectAll() const;     // >= 1 row, not running, result-set idle
    bool IsCommandEnabled(int commandId) const;
    bool IsSaving() const { return savingInProgress_; }

    void CopySelectedVersions();
    void SelectAllVersions();
    void ShowVersion(std::size_t row);
    void SaveSelected();                  // 32784
    SaveResult SaveAll();                 // 32778
    void SaveSelectedToDifferentFiles();  // 32785
    void SaveAllToDifferentFiles();       // 32803
    void EditSavingOptions();             // 32833
    // Runs a command by id if it is available now; false when it is not.
    bool RunCommand(int commandId);

    QMenu* ContextMenu();  // menu 317, availability as of now
    QMenu* SaveMenu();     // menu 319, availability refreshed when it opens
    // "Save generated results before exit?" when rows exist; Yes saves all.
    // False when the window should stay open: the save failed or its file
    // dialog was cancelled, or the question itself was dismissed (Esc).
    bool OfferSaveOnExit();

    // The list's keys (Ctrl+A/C/D/S); true when the key was one of them.
    bool HandleListKey(QKeyEvent* event);
    // The same keys pressed while the main window (not the list) has the focus
    // on this page: they act only with a row selected; true when one acted.
    bool HandleWindowKey(QKeyEvent* event);

signals:
    void CommandStateChanged();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QAction* AddCommand(QMenu* menu, int id, const QString& text);
    void UpdateMenu(QMenu* menu);
    SaveResult SaveRowsToOneFile(bool selectedOnly);
    void SaveRowsToFolder(bool selectedOnly);
    void AfterSave();
    void InitColumnWidths();
    void FitNumberColumn();  // widened, never narrowed, to show the largest number whole

    CGenerationRun& run_;
    CResultsModel* model_;
    CColoredListCtrl* list_;
    SavingOptions saving_;
    QMenu* contextMenu_ = nullptr;
    QMenu* saveMenu_ = nullptr;
    bool columnsInitialised_ = false;
    bool savingInProgress_ = false;
};
