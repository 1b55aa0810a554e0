#include "views/saving.h"

#include "background/background_work.h"
#include "chrome/message_box.h"
#include "chrome/string_table.h"
#include "views/worker_job.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <system_error>

namespace {

ResultFileChooser& FileChooser() {
    static ResultFileChooser chooser;
    return chooser;
}

ResultFolderChooser& FolderChooser() {
    static ResultFolderChooser chooser;
    return chooser;
}

QString& LastChosenFolder() {
    static QString folder;
    return folder;
}

std::filesystem::path ToPath(const QString& text) {
    return PathFromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                             static_cast<std::size_t>(text.size())));
}

QString FromPath(const std::filesystem::path& path) {
    return QString::fromStdU16String(path.u16string());
}

// Short saves finish before anything is shown; longer ones get a modal
// progress dialog so that the list cannot be used while its rows are written.
constexpr int kProgressDelayMs = 400;
constexpr int kProgressPollMs = 40;

}  // namespace

SaveResult RunWithProgress(const QString& label, int64_t total, QWidget* parent,
                           const std::function<bool(const SaveControl&)>& save) {
    std::atomic<int64_t> done{0};
    std::atomic<bool> finished{false};
    bool saved = false;
    bool cancelled = false;

    QWidget* owner = parent ? parent->window() : nullptr;
    QProgressDialog progress(label, QCoreApplication::translate("Saving", "Cancel"), 0,
                             static_cast<int>(std::min<int64_t>(total, INT32_MAX)), owner);
    progress.setWindowTitle(LoadStringById(kIdsProductName));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(kProgressDelayMs);
    progress.setMinimumWidth(320);
    progress.setValue(0);

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kProgressPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished.load()) {
            loop.quit();
            return;
        }
        progress.setValue(static_cast<int>(std::min<int64_t>(done.load(), progress.maximum())));
    });

    // Declared after the loop and the dialog that the work reaches, so that it
    // is stopped and joined before they go.
    CHandBack handBack;
    CBackgroundWork worker;
    QObject::connect(&progress, &QProgressDialog::canceled, [&] {
        cancelled = true;
        worker.RequestStop();
    });
    worker.Start([&](std::stop_token stop) {
        SaveControl control;
        control.progress = [&done](int64_t n) { done.store(n, std::memory_order_relaxed); };
        control.cancelled = [&stop] { return stop.stop_requested(); };
        saved = save(control);
        finished.store(true);
        handBack.Post([&loop] { loop.quit(); });
    });
    poll.start();
    loop.exec();
    // The loop also ends early when the application quits; the snapshot and
    // the worker's state live on this stack, so the worker is waited for.
    worker.Join();
    poll.stop();
    progress.reset();
    progress.hide();
    if (saved) return SaveResult::kSaved;
    return cancelled ? SaveResult::kCancelled : SaveResult::kFailed;
}

namespace {

SaveResult RunSave(int64_t total, QWidget* parent, const std::function<bool(const SaveControl&)>& save) {
    return RunWithProgress(QCoreApplication::translate("Saving", "Saving results..."), total, parent, save);
}

}  // namespace

CSavingOptionsDlg::CSavingOptionsDlg(SavingOptions& options, QWidget* parent)
    : QDialog(parent),
      options_(options),
      group_(new QGroupBox(tr("Custom versions separator"), this)),
      edit_(new QLineEdit(group_)),
      hint_(new QLabel(tr("<br> - \"Enter\" symbol"), group_)) {
    setObjectName(QStringLiteral("CSavingOptionsDlg"));
    setWindowTitle(tr("Saving options"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    if (!QApplication::windowIcon().isNull()) setWindowIcon(QApplication::windowIcon());

    hint_->setTextFormat(Qt::PlainText);
    edit_->setText(QString::fromStdU16String(options_.versionsSeparator));
    edit_->setMinimumWidth(260);

    auto* groupLayout = new QVBoxLayout(group_);
    groupLayout->addWidget(edit_);
    groupLayout->addWidget(hint_);

    auto* ok = new QPushButton(tr("Ok"), this);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    ok->setObjectName(QStringLiteral("ok"));
    cancel->setObjectName(QStringLiteral("cancel"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->addWidget(group_);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
}

void CSavingOptionsDlg::accept() {
    options_.versionsSeparator = edit_->text().toStdU16String();
    QDialog::accept();
}

QString ChooserStartFolder() {
    if (!LastChosenFolder().isEmpty() && QFileInfo(LastChosenFolder()).isDir()) return LastChosenFolder();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void RememberChooserFolder(const QString& folder) { LastChosenFolder() = folder; }

QString AskForSaveTarget(QWidget* parent, const QString& caption, const QString& filter, bool folder) {
    QFileDialog dialog(parent, caption, ChooserStartFolder(), filter);
    dialog.setAcceptMode(folder ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(folder ? QFileDialog::Directory : QFileDialog::AnyFile);
    if (folder) dialog.setOption(QFileDialog::ShowDirsOnly);
    // Absent when the desktop's own chooser is used.
    if (auto* places = dialog.findChild<QListView*>(QStringLiteral("sidebar"))) {
        const int wanted = places->sizeHintForColumn(0) + 2 * places->frameWidth() +
                           places->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, places);
        places->setMinimumWidth(std::min(wanted, dialog.width() / 2));
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

void SetResultFileChooser(ResultFileChooser chooser) { FileChooser() = std::move(chooser); }

void SetResultFolderChooser(ResultFolderChooser chooser) { FolderChooser() = std::move(chooser); }

std::optional<std::filesystem::path> ChooseResultFile(QWidget* parent) {
    for (;;) {
        QString chosen;
        if (FileChooser()) {
            chosen = FileChooser()(parent);
        } else {
            // The dialog asks itself before replacing the file as named.
            chosen = AskForSaveTarget(parent, QString(),
                                      QCoreApplication::translate("Saving", "Text Files (*.txt);;All Files (*.*)"), false);
        }
        if (chosen.isEmpty()) return std::nullopt;
        RememberChooserFolder(QFileInfo(chosen).absolutePath());
        const std::filesystem::path asChosen = ToPath(chosen);
        const std::filesystem::path final = WithDefaultExtension(asChosen);
        std::error_code error;
        if (final != asChosen && std::filesystem::exists(final, error)) {
            const QString question = QCoreApplication::translate("Saving", "%1 already exists.\nDo you want to replace it?")
                                         .arg(QDir::toNativeSeparators(FromPath(final)));
            if (ShowMessageText(question, kMbYesNoQuestion) != kMbResultYes) continue;
        }
        return final;
    }
}

std::optional<std::filesystem::path> ChooseResultFolder(QWidget* parent) {
    const QString start = ChooserStartFolder();
    QString chosen;
    if (FolderChooser()) {
        chosen = FolderChooser()(parent, start);
    } else {
        chosen = AskForSaveTarget(parent, QCoreApplication::translate("Saving", "Choose folder for saving results"),
                                  QString(), true);
    }
    if (chosen.isEmpty()) return std::nullopt;
    RememberChooserFolder(chosen);
    return ToPath(chosen);
}

SaveResult SaveRowsToFile(const CRowSnapshot& rows, std::u16string_view expandedSeparator,
                          const std::filesystem::path& path, QWidget* parent) {
    const auto count = static_cast<int64_t>(rows.Size());
    if (count == 0) return SaveResult::kFailed;
    return RunSave(count, parent, [&](const SaveControl& control) {
        std::u16string scratch;
        const auto version = [&rows, &scratch](int64_t i) { return rows.Text(static_cast<std::size_t>(i)).View(scratch); };
        return SaveVersionsToFile(version, count,
                                  expandedSeparator, path, control);
    });
}

SaveResult SaveRowsToSeparateFiles(const CRowSnapshot& rows, const std::filesystem::path& folder, QWidget* parent) {
    const auto count = static_cast<int64_t>(rows.Size());
    if (count == 0) return SaveResult::kFailed;
    return RunSave(count, parent, [&](const SaveControl& control) {
        std::u16string scratch;
        const auto version = [&rows, &scratch](int64_t i) { return rows.Text(static_cast<std::size_t>(i)).View(scratch); };
        return SaveVersionsToSeparateFiles(version,
                                           count, folder, control);
    });
}

void ReportSaveResult(SaveResult result) {
    switch (result) {
    case SaveResult::kSaved: ShowMessageById(kIdsResultsSaved, kMbIconInformation); break;
    case SaveResult::kFailed: ShowMessageById(kIdsSavingErrors, kMbIconExclamation); break;
    case SaveResult::kCancelled: break;
    }
}
