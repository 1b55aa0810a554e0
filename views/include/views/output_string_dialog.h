// The single-version viewer: one result row's text in full, in an editable
// field whose changes are thrown away when the viewer closes. Opened modally
// by a double click on a row of the Results page. Copying from it gives CR LF
// line breaks.
//
//   COutputStringDialog viewer(QStringLiteral("Version #7 (length 30) "), text, this);
//   viewer.exec();   // Esc or the close box
//
// Threading: user interface thread only.
#pragma once

#include <QDialog>
#include <QString>

class QMenu;
class QPlainTextEdit;

class COutputStringDialog : public QDialog {
    Q_OBJECT
public:
    COutputStringDialog(const QString& title, const QString& text, QWidget* parent = nullptr);

    QPlainTextEdit* Edit() const { return edit_; }
    // Menu 318 with its items' availability as of now.
    QMenu* ContextMenu();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateMenu();

    QPlainTextEdit* edit_;
    QMenu* menu_;
    QAction* copyAction_;
    QAction* selectAllAction_;
};
