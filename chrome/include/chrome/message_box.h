// The program's own message box: the product caption, one stock icon chosen
// by the flags, the text sized to fit (up to 600 pixels wide, wrapped over as
// many lines as it needs) and OK or Yes/No (keys Y and N, with or without
// Alt). Returns the id of the button pressed: 1 OK, 6 Yes, 7 No, 2 Esc or the
// close box.
//
//   if (ShowMessageById(kIdsSaveBeforeExit, kMbYesNoQuestion) == kMbResultYes) SaveAll();
//   ShowMessageText(QString::fromStdU16String(check.message), kMbIconExclamation);
//
// Tests install a hook that answers instead of a modal box.
// Thread safety: user interface thread only.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;

enum : unsigned {
    kMbYesNo = 0x04,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconExclamation = 0x30,
    kMbIconInformation = 0x40,
    kMbYesNoQuestion = 0x24,
};

enum : int { kMbResultOk = 1, kMbResultCancel = 2, kMbResultYes = 6, kMbResultNo = 7 };

class CXPThemeMessageBox : public QDialog {
    Q_OBJECT
public:
    CXPThemeMessageBox(const QString& text, unsigned flags, QWidget* parent = nullptr);

    QLabel* IconLabel() const { return icon_; }
    QLabel* TextLabel() const { return text_; }
    QPushButton* Button1() const { return button1_; }
    QPushButton* Button2() const { return button2_; }
    bool Widened() const { return widened_; }

    void reject() override;  // Esc and the close box: 2

protected:
    void keyPressEvent(QKeyEvent* event) override;  // Y and N in a question

private:
    void Arrange();

    unsigned flags_;
    QString message_;
    QLabel* icon_;
    QLabel* text_;
    QPushButton* button1_;
    QPushButton* button2_;
    bool widened_ = false;
};

int ShowMessageText(const QString& text, unsigned flags);
int ShowMessageById(int stringId, unsigned flags);

using MessageBoxHook = std::function<int(const QString& text, unsigned flags)>;
void SetMessageBoxHook(MessageBoxHook hook);
