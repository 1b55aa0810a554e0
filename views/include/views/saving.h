// Saving the result set: the Saving Options dialog that edits the versions
// separator, the file and folder choosers of the save commands, and the save
// itself, which writes on a worker thread so that the window keeps answering
// while a million versions go to disk.
//
//   std::optional<std::filesystem::path> file = ChooseResultFile(this);
//   if (!file) return;                                   // cancelled
//   CRowSnapshot rows = model->SnapshotAll();
//   ReportSaveResult(SaveRowsToFile(rows, ExpandSeparator(options.versionsSeparator), *file, this));
//
// The save works on a snapshot: the rows it writes cannot change under it,
// whatever the list does meanwhile (a run appending, a new run clearing it).
// A one-file save appears whole or not at all; a per-file save keeps the files
// it finished before a failure or a cancel.
//
// Threading: everything here is called on the user interface thread; the save
// functions return when their worker has finished, running the event loop
// meanwhile (a modal progress dialog shows when the save takes a while).
#pragma once

#include "files/result_files.h"
#include "views/results_model.h"

#include <QDialog>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

class QLineEdit;
class QLabel;
class QGroupBox;

class CSavingOptionsDlg : public QDialog {
    Q_OBJECT
public:
    CSavingOptionsDlg(SavingOptions& options, QWidget* parent = nullptr);

    QLineEdit* SeparatorEdit() const { return edit_; }
    QLabel* Hint() const { return hint_; }
    QGroupBox* Group() const { return group_; }

    void accept() override;  // stores the edit's whole text unchanged

private:
    SavingOptions& options_;
    QGroupBox* group_;
    QLineEdit* edit_;
    QLabel* hint_;
};

// Test seams: a chooser answers instead of the modal dialog; an empty string is
// a cancel. An empty function restores the dialog.
using ResultFileChooser = std::function<QString(QWidget* parent)>;
using ResultFolderChooser = std::function<QString(QWidget* parent, const QString& startFolder)>;
void SetResultFileChooser(ResultFileChooser chooser);
void SetResultFolderChooser(ResultFolderChooser chooser);

// The folder the file and folder choosers open in: the last one chosen in
// this session, at first the user's documents folder (or home).
QString ChooserStartFolder();
void RememberChooserFolder(const QString& folder);

// The toolkit's chooser of a file to save into (or of a folder), opened in
// ChooserStartFolder(); empty when cancelled. Its list of places is made wide
// enough for their names, which the default width cuts in some languages.
QString AskForSaveTarget(QWidget* parent, const QString& caption, const QString& filter, bool folder);

// The file of a one-file save. ".txt" is appended when the name has no
// extension; when that final name differs from the chosen one and exists, the
// user is asked before it is replaced, and "No" opens the chooser again.
std::optional<std::filesystem::path> ChooseResultFile(QWidget* parent);
// The folder of a per-file save.
std::optional<std::filesystem::path> ChooseResultFolder(QWidget* parent);

enum class SaveResult { kSaved, kFailed, kCancelled };

SaveResult SaveRowsToFile(const CRowSnapshot& rows, std::u16string_view expandedSeparator,
                          const std::filesystem::path& path, QWidget* parent);
SaveResult SaveRowsToSeparateFiles(const CRowSnapshot& rows, const std::filesystem::path& folder, QWidget* parent);

// Runs work on a background thread while the event loop goes on; when it takes
// a while, a window-modal progress dialog with the label and Cancel shows.
// kCancelled after Cancel, kFailed when the work returned false.
SaveResult RunWithProgress(const QString& label, int64_t total, QWidget* parent,
                           const std::function<bool(const SaveControl&)>& work);

// Message 338 after a save, 355 after a failure, nothing after a cancel.
void ReportSaveResult(SaveResult result);
