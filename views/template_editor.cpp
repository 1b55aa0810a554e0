#include "views/template_editor.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>

#include <algorithm>

namespace {

bool IsWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

// Whole-word match at [from, from + length): a boundary is needed only where
// the word itself begins or ends with a word character, so names that begin
// and end with "%" match wherever they stand.
bool IsWholeWord(const QString& text, qsizetype from, qsizetype length) {
    const QChar first = text[from];
    const QChar last = text[from + length - 1];
    if (IsWordChar(first) && from > 0 && IsWordChar(text[from - 1])) return false;
    const qsizetype after = from + length;
    if (IsWordChar(last) && after < text.size() && IsWordChar(text[after])) return false;
    return true;
}

std::u16string ToU16(const QString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size()));
}

QStringList NamesOf(const MacroTable& table) {
    QStringList names;
    names.reserve(static_cast<qsizetype>(table.size()));
    for (const auto& entry : table)
        names << QString::fromUtf16(entry.first.data(), static_cast<qsizetype>(entry.first.size()));
    return names;
}

QFont EditorFont() {
    QFont font = QApplication::font();
    const QStringList families = QFontDatabase::families();
    if (families.contains(QStringLiteral("Tahoma"))) font.setFamily(QStringLiteral("Tahoma"));
    else font.setFamily(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    font.setPointSizeF(std::max<qreal>(font.pointSizeF(), 10.5));
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace

CTemplateHighlighter::CTemplateHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    plain_.setForeground(TemplateColors::Plain());
    auto bold = [](QColor color) {
        QTextCharFormat f;
        f.setForeground(color);
        f.setFontWeight(QFont::Bold);
        return f;
    };
    brace_ = bold(TemplateColors::Brace());
    square_ = bold(TemplateColors::Square());
    angle_ = bold(TemplateColors::Angle());
    bar_ = bold(TemplateColors::Bar());
    keyword_.setForeground(TemplateColors::SetKeyword());
    keyword_.setBackground(TemplateColors::NameBackground());
    keyword_.setFontWeight(QFont::Normal);
    macroName_.setForeground(TemplateColors::MacroName());
    macroName_.setBackground(TemplateColors::NameBackground());
    macroName_.setFontWeight(QFont::Normal);
}

void CTemplateHighlighter::highlightBlock(const QString& text) {
    ++highlightedBlocks_;
    const qsizetype n = text.size();
    if (n == 0) return;
    setFormat(0, static_cast<int>(n), plain_);

    // "#set" counts only at a line start. The line-start test looks back to
    // the last carriage return, so later paragraphs are tested as if one
    // preceded them.
    static const QString kKeyword = QStringLiteral("#set");
    const bool firstBlock = currentBlock().blockNumber() == 0;
    for (qsizetype m = text.indexOf(kKeyword); m >= 0; m = text.indexOf(kKeyword, m + kKeyword.size())) {
        if (!IsWholeWord(text, m, kKeyword.size())) continue;
        std::u16string prefix = (firstBlock ? std::u16string() : std::u16string(u"\r")) + ToU16(text.left(m));
        std::replace(prefix.begin(), prefix.end(), char16_t{0x2028}, u'\r');
        if (IsDirectiveAtLineStart(prefix + u"#set", static_cast<int>(prefix.size())))
            setFormat(static_cast<int>(m), 4, keyword_);
    }

    for (const QString& name : names_) {
        for (qsizetype m = text.indexOf(name); m >= 0; m = text.indexOf(name, m + 1)) {
            if (IsWholeWord(text, m, name.size())) setFormat(static_cast<int>(m), static_cast<int>(name.size()), macroName_);
        }
    }

    for (qsizetype i = 0; i < n; ++i) {
        switch (text[i].unicode()) {
            case u'{':
            case u'}': setFormat(static_cast<int>(i), 1, brace_); break;
            case u'[':
            case u']': setFormat(static_cast<int>(i), 1, square_); break;
            case u'<':
            case u'>': setFormat(static_cast<int>(i), 1, angle_); break;
            case u'|': setFormat(static_cast<int>(i), 1, bar_); break;
            default: break;
        }
    }
}

CColoredRichEditCtrl::CColoredRichEditCtrl(QWidget* parent) : QPlainTextEdit(parent) {
    setFont(EditorFont());
    document()->setDefaultFont(font());
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(false);
    // The colours are chosen for a white page whatever the desktop theme.
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);
    highlighter_ = new CTemplateHighlighter(document());
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CColoredRichEditCtrl::OnSelectionChange);
    connect(this, &QPlainTextEdit::selectionChanged, this, &CColoredRichEditCtrl::OnSelectionChange);
}

// The raw text, not toPlainText(), which would turn no-break spaces into
// spaces. Paragraph and line separators both become CR LF, so every line break
// still counts as one position.
std::u16string CColoredRichEditCtrl::Text() const {
    const QString raw = document()->toRawText();
    std::u16string out;
    out.reserve(static_cast<std::size_t>(raw.size()) + static_cast<std::size_t>(blockCount()));
    for (QChar c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) out += u"\r\n";
        else out += static_cast<char16_t>(c.unicode());
    }
    return out;
}

int CColoredRichEditCtrl::TextLength() const {
    return document()->characterCount() - 1;
}

void CColoredRichEditCtrl::SetText(std::u16string_view text) {
    QString plain = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    plain.replace(u'\r', u'\n');
    // CollectMacros wants CR LF line breaks, as the editor hands them out.
    std::u16string crlf;
    crlf.reserve(text.size());
    for (QChar c : plain) {
        if (c == u'\n') crlf += u"\r\n";
        else crlf += static_cast<char16_t>(c.unicode());
    }
    CollectMacros(macros_, crlf);
    highlighter_->SetMacroNames(NamesOf(macros_));
    setPlainText(plain);
}

void CColoredRichEditCtrl::SelectRange(int start, int end) {
    const int length = TextLength();
    start = std::clamp(start, 0, length);
    end = std::clamp(end, 0, length);
    QTextCursor cursor = textCursor();
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CColoredRichEditCtrl::TypeCharacter(QChar c) {
    QTextCursor cursor = textCursor();
    cursor.insertText(QString(c));
    setTextCursor(cursor);
}

void CColoredRichEditCtrl::InsertSnippet(const QString& snippet) {
    QTextCursor cursor = textCursor();
    cursor.insertText(snippet);
    setTextCursor(cursor);
    RecolorAll();
}

void CColoredRichEditCtrl::DeleteSelection() {
    QTextCursor cursor = textCursor();
    cursor.removeSelectedText();
    setTextCursor(cursor);
}

void CColoredRichEditCtrl::RecolorAll() {
    CollectMacros(macros_, Text());
    QStringList names = NamesOf(macros_);
    if (names == highlighter_->MacroNames()) return;
    highlighter_->SetMacroNames(std::move(names));
    const int scroll = verticalScrollBar()->value();
    highlighter_->rehighlight();
    verticalScrollBar()->setValue(scroll);
}

void CColoredRichEditCtrl::insertFromMimeData(const QMimeData* source) {
    QPlainTextEdit::insertFromMimeData(source);
    RecolorAll();
}

void CColoredRichEditCtrl::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const Qt::KeyboardModifiers others = event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (others == Qt::NoModifier) {
        switch (event->key()) {
            case Qt::Key_F5: TypeCharacter(shift ? u'[' : u'{'); return;
            case Qt::Key_F6: TypeCharacter(shift ? u']' : u'}'); return;
            case Qt::Key_F7: TypeCharacter(u'<'); return;
            case Qt::Key_F8: TypeCharacter(u'>'); return;
            case Qt::Key_F9: TypeCharacter(u'|'); return;
            default: break;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

QMenu* CColoredRichEditCtrl::CreateContextMenu() {
    auto* menu = new QMenu(this);
    QMenu* insert = menu->addMenu(tr("&Insert"));
    auto addInsert = [&](const QString& label, int id, auto handler) {
        QAction* action = insert->addAction(label, this, handler);
        action->setData(id);
    };
    addInsert(QStringLiteral("&{\tF5"), kInsertOpenBrace, [this] { TypeCharacter(u'{'); });
    addInsert(QStringLiteral("&}\tF6"), kInsertCloseBrace, [this] { TypeCharacter(u'}'); });
    addInsert(QStringLiteral("&[\tShift + F5"), kInsertOpenSquare, [this] { TypeCharacter(u'['); });
    addInsert(QStringLiteral("&]\tShift + F6"), kInsertCloseSquare, [this] { TypeCharacter(u']'); });
    addInsert(QStringLiteral("&<\tF7"), kInsertOpenAngle, [this] { TypeCharacter(u'<'); });
    addInsert(QStringLiteral("&>\tF8"), kInsertCloseAngle, [this] { TypeCharacter(u'>'); });
    addInsert(QStringLiteral("&|\tF9"), kInsertBar, [this] { TypeCharacter(u'|'); });
    addInsert(QStringLiteral("&{|||}"), kInsertBraceGroup, [this] { InsertSnippet(QStringLiteral("{|||}")); });
    addInsert(QStringLiteral("&[|||]"), kInsertSquareGroup, [this] { InsertSnippet(QStringLiteral("[|||]")); });
    addInsert(QStringLiteral("&#set %% ="), kInsertSetLine, [this] { InsertSnippet(QStringLiteral("#set %% = ")); });
    menu->addSeparator();
    const bool selection = CanEditSelection();
    auto addEdit = [&](const QString& label, int id, bool enabled, auto handler) {
        QAction* action = menu->addAction(label, this, handler);
        action->setData(id);
        action->setEnabled(enabled);
    };
    addEdit(tr("&Cut"), kCut, selection, [this] { cut(); });
    addEdit(tr("&Copy"), kCopy, selection, [this] { copy(); });
    addEdit(tr("&Paste"), kPaste, true, [this] { paste(); });
    addEdit(tr("&Delete"), kDelete, selection, [this] { DeleteSelection(); });
    addEdit(tr("&Select All"), kSelectAll, TextLength() > 0, [this] { selectAll(); });
    return menu;
}

void CColoredRichEditCtrl::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CColoredRichEditCtrl::OnSelectionChange() {
    const QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    if (start == end) {
        lastStart_ = start;
        lastEnd_ = end;
        emit PositionChanged(start);
    } else if (end == lastEnd_ && start != lastStart_) {
        lastStart_ = start;
        emit PositionChanged(start);
    } else if (start == lastStart_ && end != lastEnd_) {
        lastEnd_ = end;
        emit PositionChanged(end);
    }
}
