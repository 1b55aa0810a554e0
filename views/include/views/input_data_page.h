// The "Data" page: the template editor (with its lint underlines) and the
// options panel beneath it, and the template text file: "DefaultText.txt"
// loaded when the page is made and written back at exit, and the Save
// command's file.
//
//   CInputDataPage page(stored, CTemplateFileLocation::ForProgram());   // stored: MainSettings
//   page.LoadDefaultText();      // once, at start
//   page.SaveInputText();        // the Save command (file dialog, messages 342/343)
//   page.SaveDefaultText();      // at exit: trimmed; a blank text keeps the file
//
// A template the user did not change is never written back. A template file
// that is not UTF-8 is read as a Windows code page (the user is told which);
// before the first write over it, its original bytes are copied beside it
// ("DefaultText.txt.bak"), and the new text is written in UTF-8.
//
// The template file lives next to the program; when that folder cannot be
// written it goes to the user's application data folder instead, and at start
// the newer of the two is loaded, so the template is never lost.
// Thread safety: user interface thread only.
#pragma once

#include "views/lint_underlines.h"
#include "views/options_panel.h"
#include "views/template_editor.h"

#include <QString>
#include <QWidget>

#include <string>

class COptionsDialogP1;

struct CTemplateFileLocation {
    QString programFile;  // "DefaultText.txt" next to the program
    QString fallbackFile; // the same name in the user's application data folder

    static CTemplateFileLocation ForProgram();
    static CTemplateFileLocation At(const QString& file);  // one fixed file (tests)
    QString FileToLoad() const;   // the newer of the existing ones; empty when none
    QString FileToWrite() const;  // the program's file when its folder is writable
};

class CInputDataPage : public QWidget {
    Q_OBJECT
public:
    CInputDataPage(const MainSettings& stored, CTemplateFileLocation location, QWidget* parent = nullptr);

    CColoredRichEditCtrl* Editor() const { return editor_; }
    CLintUnderliner* Lint() const { return lint_; }
    COptionsDialogP1* Options() const { return options_; }
    const CTemplateFileLocation& Location() const { return location_; }

    void LoadDefaultText();
    bool SaveDefaultText();  // false when the text could be written nowhere
    void SaveInputText();
    // The save itself, after the file dialog: ".txt" added when the name has no
    // ".", the whole text written as it is; shows message 342 or 343.
    bool SaveInputTextTo(const QString& path);

    int LoadedCodePage() const { return codePage_; }  // 0 for UTF-8
    const QString& BackupFile() const { return backupFile_; }

private:
    static QString FreeBackupName(const QString& file);
    bool KeepOriginalBefore(const QString& target);  // false when the copy failed
    bool WriteDefaultText(const QString& target, const std::u16string& text);

    CColoredRichEditCtrl* editor_;
    CLintUnderliner* lint_;
    COptionsDialogP1* options_;
    CTemplateFileLocation location_;
    QString loadedFile_;
    std::u16string loadedText_;  // the editor's text right after loading
    int codePage_ = 0;
    QString backupFile_;  // where the original bytes go before the first write
};
