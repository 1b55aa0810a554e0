#include "views/output_string_dialog.h"

#include "results_font.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QResizeEvent>

#include <algorithm>

namespace {

constexpr int kMargin = 11;

// Copies with CR LF line breaks, as the results list's copy does.
class CVersionEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    QMimeData* createMimeDataFromSelection() const override {
        QString text = textCursor().selectedText();
        text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
        text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
        auto* data = new QMimeData;
        data->setText(text);
        return data;
    }
};

}  // namespace

COutputStringDialog::COutputStringDialog(const QString& title, const QString& text, QWidget* parent)
    : QDialog(parent), edit_(new CVersionEdit(this)), menu_(new QMenu(this)) {
    setObjectName(QStringLiteral("COutputStringDialog"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setSizeGripEnabled(false);
    setWindowTitle(title);
    if (!QApplication::windowIcon().isNull()) setWindowIcon(QApplication::windowIcon());

    edit_->setFont(ResultsFont());
    edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit_->setTabChangesFocus(false);
    edit_->setPlainText(text);
    QTextCursor cursor = edit_->textCursor();
    cursor.setPosition(0);
    edit_->setTextCursor(cursor);
    edit_->setContextMenuPolicy(Qt::CustomContextMenu);

    copyAction_ = menu_->addAction(tr("&Copy"), edit_, &QPlainTextEdit::copy);
    selectAllAction_ = menu_->addAction(tr("&Select All"), edit_, &QPlainTextEdit::selectAll);
    connect(edit_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ContextMenu()->exec(edit_->mapToGlobal(pos)); });

    // 362 by 180 dialog units of an 8-point dialog font.
    resize(543, 293);
}

QMenu* COutputStringDialog::ContextMenu() {
    UpdateMenu();
    return menu_;
}

void COutputStringDialog::UpdateMenu() {
    copyAction_->setEnabled(edit_->textCursor().hasSelection());
    selectAllAction_->setEnabled(!edit_->document()->isEmpty());
}

void COutputStringDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    edit_->setGeometry(kMargin, kMargin, std::max(0, width() - 2 * kMargin), std::max(0, height() - 2 * kMargin));
}
