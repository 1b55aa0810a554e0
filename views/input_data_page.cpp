#include "views/input_data_page.h"

#include "views/options_panel.h"
#include "chrome/message_box.h"
#include "chrome/string_table.h"
#include "files/result_files.h"
#include "files/template_file.h"
#include "views/saving.h"
#include "views/template_encoding.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

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
    lint_ = new CLintUnderliner(editor_, this);
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
    loadedFile_ = location_.FileToLoad();
    codePage_ = 0;
    backupFile_.clear();
    DecodedTemplate decoded;
    if (!loadedFile_.isEmpty()) {
        QFile file(loadedFile_);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            decoded = DecodeTemplateBytes(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        }
    }
    editor_->SetText(decoded.text);
    loadedText_ = editor_->Text();
    codePage_ = decoded.codePage;
    if (codePage_ == 0) return;
    backupFile_ = FreeBackupName(loadedFile_);
    // Said once the window is up, not in the middle of building it.
    QTimer::singleShot(0, this, [this, file = loadedFile_, codePage = codePage_, backup = backupFile_] {
        ShowMessageText(tr("\"%1\" is not UTF-8 text; it was read as %2.\r\nIf you change the template, the "
                           "original file is kept as \"%3\" and the template is saved in UTF-8.")
                            .arg(QFileInfo(file).fileName(), QLatin1String(CodePageName(codePage)),
                                 QFileInfo(backup).fileName()),
                        kMbIconInformation);
    });
}

QString CInputDataPage::FreeBackupName(const QString& file) {
    QString name = file + QStringLiteral(".bak");
    for (int n = 1; QFileInfo::exists(name) && n < 1000; ++n) name = file + QStringLiteral(".%1.bak").arg(n);
    return name;
}

bool CInputDataPage::KeepOriginalBefore(const QString& target) {
    if (codePage_ == 0 || target != loadedFile_ || !QFileInfo::exists(loadedFile_)) return true;
    if (backupFile_.isEmpty() || QFileInfo::exists(backupFile_)) backupFile_ = FreeBackupName(loadedFile_);
    return QFile::copy(loadedFile_, backupFile_);
}

bool CInputDataPage::WriteDefaultText(const QString& target, const std::u16string& text) {
    if (target == location_.fallbackFile) QDir().mkpath(QFileInfo(target).absolutePath());
    if (!KeepOriginalBefore(target) || !SaveDefaultTemplate(ToPath(target), text)) return false;
    if (target == loadedFile_) codePage_ = 0;
    loadedText_ = text;
    return true;
}

bool CInputDataPage::SaveDefaultText() {
    const std::u16string text = editor_->Text();
    // A template the user did not change keeps its file byte for byte,
    // whatever encoding and line breaks it was written with.
    if (text == loadedText_) return true;
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return QChar(c).isSpace(); })) return true;
    const QString target = location_.FileToWrite();
    if (WriteDefaultText(target, text)) return true;
    // The program's folder refused the file after all (read-only medium,
    // permissions that the folder test cannot see): keep it in the user's folder.
    if (location_.fallbackFile.isEmpty() || target == location_.fallbackFile) return false;
    return WriteDefaultText(location_.fallbackFile, text);
}

void CInputDataPage::SaveInputText() {
    if (editor_->TextLength() == 0) return;
    const QString path = AskForSaveTarget(this, QString(), tr("Text Files (*.txt);;All Files (*)"), false);
    if (path.isEmpty()) return;
    RememberChooserFolder(QFileInfo(path).absolutePath());
    SaveInputTextTo(path);
}

bool CInputDataPage::SaveInputTextTo(const QString& path) {
    const std::filesystem::path target = WithDefaultExtension(ToPath(path));
    const bool saved = WriteTextFile(editor_->Text(), target, true);
    ShowMessageById(saved ? kIdsInputSaved : kIdsInputNotSaved, saved ? kMbIconInformation : kMbIconExclamation);
    return saved;
}
