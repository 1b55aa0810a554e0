#include "views/input_data_page.h"

#include "views/options_panel.h"
#include "chrome/message_box.h"
#include "chrome/string_table.h"
#include "files/result_files.h"
#include "files/template_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {

std::filesystem::path ToPath(const QString& file) {
    return std::filesystem::path(file.toStdU16String());
}

}  // namespace

CTemplateFileLocation CTemplateFileLocation::ForProgram() {
    const QString name = LoadStringById(kIdsDefaultTextFile);
    CTemplateFileLocation location;
    location.programFile = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!data.isEmpty()) location.fallbackFile = QDir(data).filePath(name);
    return location;
}

CTemplateFileLocation CTemplateFileLocation::At(const QString& file) {
    CTemplateFileLocation location;
    location.programFile = file;
    return location;
}

QString CTemplateFileLocation::FileToLoad() const {
    const QFileInfo program(programFile);
    const QFileInfo fallback(fallbackFile);
    const bool hasProgram = !programFile.isEmpty() && program.isFile();
    const bool hasFallback = !fallbackFile.isEmpty() && fallback.isFile();
    if (hasProgram && hasFallback) return fallback.lastModified() > program.lastModified() ? fallbackFile : programFile;
    if (hasProgram) return programFile;
    if (hasFallback) return fallbackFile;
    return {};
}

QString CTemplateFileLocation::FileToWrite() const {
    const QFileInfo folder(QFileInfo(programFile).absolutePath());
    if (fallbackFile.isEmpty() || (folder.isDir() && folder.isWritable())) return programFile;
    return fallbackFile;
}

CInputDataPage::CInputDataPage(const MainSettings& stored, CTemplateFileLocation location, QWidget* parent)
    : QWidget(parent), location_(std::move(location)) {
    editor_ = new CColoredRichEditCtrl(this);
    options_ = new COptionsDialogP1(stored, this);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(options_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(editor_, 1);
    layout->addLayout(bottom);
}

void CInputDataPage::LoadDefaultText() {
    const QString file = location_.FileToLoad();
    std::u16string text;
    if (file.isEmpty() || !LoadTemplateFile(ToPath(file), text)) text.clear();
    editor_->SetText(text);
}

bool CInputDataPage::SaveDefaultText() {
    const std::u16string text = editor_->Text();
    const QString target = location_.FileToWrite();
    if (target == location_.fallbackFile) QDir().mkpath(QFileInfo(target).absolutePath());
    if (SaveDefaultTemplate(ToPath(target), text)) return true;
    // The program's folder refused the file after all (read-only medium,
    // permissions that the folder test cannot see): keep it in the user's folder.
    if (location_.fallbackFile.isEmpty() || target == location_.fallbackFile) return false;
    QDir().mkpath(QFileInfo(location_.fallbackFile).absolutePath());
    return SaveDefaultTemplate(ToPath(location_.fallbackFile), text);
}

void CInputDataPage::SaveInputText() {
    if (editor_->TextLength() == 0) return;
    const QString path = QFileDialog::getSaveFileName(this, QString(), QString(),
                                                      tr("Text Files (*.txt);;All Files (*)"));
    if (path.isEmpty()) return;
    SaveInputTextTo(path);
}

bool CInputDataPage::SaveInputTextTo(const QString& path) {
    const std::filesystem::path target = WithDefaultExtension(ToPath(path));
    const bool saved = WriteTextFile(editor_->Text(), target, true);
    ShowMessageById(saved ? kIdsInputSaved : kIdsInputNotSaved, saved ? kMbIconInformation : kMbIconExclamation);
    return saved;
}
