#include "views/template_editor.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <vector>

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

TemplateFormats::TemplateFormats() {
    plain.setForeground(TemplateColors::Plain());
    auto bold = [](QColor color) {
        QTextCharFormat f;
        f.setForeground(color);
        f.setFontWeight(QFont::Bold);
        return f;
    };
    brace = bold(TemplateColors::Brace());
    square = bold(TemplateColors::Square());
    angle = bold(TemplateColors::Angle());
    bar = bold(TemplateColors::Bar());
    keyword.setForeground(TemplateColors::SetKeyword());
    keyword.setBackground(TemplateColors::NameBackground());
    keyword.setFontWeight(QFont::Normal);
    macroName.setForeground(TemplateColors::MacroName());
    macroName.setBackground(TemplateColors::NameBackground());
    macroName.setFontWeight(QFont::Normal);
}

QList<QTextLayout::FormatRange> TemplateColoring(const QString& text, BlockStart start, const QStringList& names,
                                                 const TemplateFormats& formats, qsizetype from, qsizetype to) {
    enum Kind : unsigned char { kPlain, kBrace, kSquare, kAngle, kBar, kKeyword, kMacroName };
    from = std::clamp<qsizetype>(from, 0, text.size());
    to = std::clamp<qsizetype>(to, from, text.size());
    std::vector<Kind> kinds(static_cast<std::size_t>(to - from), kPlain);
    auto mark = [&](qsizetype start, qsizetype length, Kind kind) {
        for (qsizetype i = std::max(start, from); i < std::min(start + length, to); ++i)
            kinds[static_cast<std::size_t>(i - from)] = kind;
    };

    // "#set" counts only at a line start: only white space lies between it
    // and the last line separator or paragraph start before it; in the first
    // paragraph, which no line break precedes, only spaces.
    static const QString kSetWord = QStringLiteral("#set");
    auto atLineStart = [&](qsizetype m) {
        bool onlySpaces = true;
        for (qsizetype p = m - 1; p >= 0; --p) {
            const char16_t c = text[p].unicode();
            if (c == 0x2028 || c == u'\r') return true;
            if (!(c == u' ' || (c >= u'\t' && c <= u'\r'))) return false;
            if (c != u' ') onlySpaces = false;
        }
        switch (start) {
        case BlockStart::kTextStart: return onlySpaces;
        case BlockStart::kLineStart: return true;
        case BlockStart::kContinuation: return false;
        }
        return false;
    };
    for (qsizetype m = text.indexOf(kSetWord, std::max<qsizetype>(0, from - kSetWord.size() + 1)); m >= 0 && m < to;
         m = text.indexOf(kSetWord, m + kSetWord.size())) {
        if (IsWholeWord(text, m, kSetWord.size()) && atLineStart(m)) mark(m, kSetWord.size(), kKeyword);
    }
    for (const QString& name : names) {
        for (qsizetype m = text.indexOf(name, std::max<qsizetype>(0, from - name.size() + 1)); m >= 0 && m < to;
             m = text.indexOf(name, m + 1)) {
            if (IsWholeWord(text, m, name.size())) mark(m, name.size(), kMacroName);
        }
    }
    for (qsizetype i = from; i < to; ++i) {
        Kind& kind = kinds[static_cast<std::size_t>(i - from)];
        switch (text[i].unicode()) {
            case u'{':
            case u'}': kind = kBrace; break;
            case u'[':
            case u']': kind = kSquare; break;
            case u'<':
            case u'>': kind = kAngle; break;
            case u'|': kind = kBar; break;
            default: break;
        }
    }

    const QTextCharFormat* const byKind[] = {&formats.plain,   &formats.brace,   &formats.square,  &formats.angle,
                                             &formats.bar,     &formats.keyword, &formats.macroName};
    QList<QTextLayout::FormatRange> ranges;
    for (qsizetype i = from; i < to;) {
        const Kind kind = kinds[static_cast<std::size_t>(i - from)];
        qsizetype e = i + 1;
        while (e < to && kinds[static_cast<std::size_t>(e - from)] == kind) ++e;
        ranges.append({static_cast<int>(i), static_cast<int>(e - i), *byKind[kind]});
        i = e;
    }
    return ranges;
}

namespace {

constexpr int kContinuationProperty = QTextFormat::UserProperty + 1;

QTextBlockFormat ContinuationFormat() {
    QTextBlockFormat format;
    format.setProperty(kContinuationProperty, true);
    return format;
}

bool IsSpaceOrTab(QChar c) {
    return c == u' ' || c == u'\t';
}

// A piece may begin here: after white space, with a character that cannot be
// the start of "#set" or of a macro name, so that no coloured word is cut.
bool IsPieceStart(const QString& text, qsizetype i) {
    if (i <= 0 || i >= text.size() || !IsSpaceOrTab(text[i - 1])) return false;
    const QChar c = text[i];
    return !IsSpaceOrTab(c) && c != u'#' && c != u'%' && !c.isLowSurrogate();
}

}  // namespace

bool IsContinuation(const QTextBlock& block) {
    return block.blockFormat().boolProperty(kContinuationProperty);
}

BlockStart StartOf(const QTextBlock& block) {
    if (IsContinuation(block)) return BlockStart::kContinuation;
    return block.blockNumber() == 0 ? BlockStart::kTextStart : BlockStart::kLineStart;
}

QList<qsizetype> PieceBreaks(const QString& paragraph) {
    QList<qsizetype> breaks;
    if (paragraph.size() <= kLongParagraph) return breaks;
    constexpr qsizetype kSearch = kPieceLength / 4;
    qsizetype start = 0;
    while (paragraph.size() - start > kPieceLength + kPieceLength / 2) {
        const qsizetype wanted = start + kPieceLength;
        qsizetype at = -1;
        for (qsizetype d = 0; d <= kSearch && at < 0; ++d) {
            if (IsPieceStart(paragraph, wanted + d)) at = wanted + d;
            else if (IsPieceStart(paragraph, wanted - d)) at = wanted - d;
        }
        if (at < 0) at = paragraph[wanted].isLowSurrogate() ? wanted + 1 : wanted;  // no white space near: anywhere
        breaks.append(at);
        start = at;
    }
    return breaks;
}

CTemplateHighlighter::CTemplateHighlighter(QPlainTextEdit* editor) : QObject(editor), editor_(editor) {
    sweep_ = new QTimer(this);
    sweep_->setInterval(0);
    connect(sweep_, &QTimer::timeout, this, [this] { ColorSlice(false); });
    QTextDocument* document = editor->document();
    blockCount_ = document->blockCount();
    connect(document, &QTextDocument::contentsChange, this, &CTemplateHighlighter::OnContentsChange);
}

void CTemplateHighlighter::SetMacroNames(QStringList names) {
    names_ = std::move(names);
    longestName_ = 0;
    for (const QString& name : names_) longestName_ = std::max(longestName_, name.size());
}

namespace {

constexpr int kColoured = 1;
constexpr int kUncoloured = 0;
// Characters coloured synchronously from the visible part or from an edit
// before the rest is left to the slices; a paragraph that begins within the
// budget is coloured whole.
constexpr int kSynchronousBudget = 16 * 1024;
constexpr qint64 kSliceNanoseconds = 8'000'000;

bool IsWhiteSpace(QChar c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// The ranges of a paragraph after an edit at offset p that removed `removed`
// and added `added` characters, with the stretch [from, to) of the new
// offsets (from <= p, p + added <= to) taken from `window`.
QList<QTextLayout::FormatRange> Spliced(const QList<QTextLayout::FormatRange>& old, int p, int removed, int added,
                                        int from, int to, const QList<QTextLayout::FormatRange>& window) {
    QList<QTextLayout::FormatRange> out;
    out.reserve(old.size() + window.size() + 2);
    auto append = [&](const QTextLayout::FormatRange& range) {
        if (!out.isEmpty() && out.last().start + out.last().length == range.start && out.last().format == range.format)
            out.last().length += range.length;
        else
            out.append(range);
    };
    for (const QTextLayout::FormatRange& range : old) {
        if (range.start >= from) break;
        out.append({range.start, std::min(range.start + range.length, from) - range.start, range.format});
    }
    for (const QTextLayout::FormatRange& range : window) append(range);
    const int shift = added - removed;
    for (const QTextLayout::FormatRange& range : old) {
        const int end = range.start + range.length;
        if (end <= p + removed) continue;
        const int start = std::max(range.start, p + removed) + shift;
        const int clipped = std::max(start, to);
        if (end + shift > clipped) append({clipped, end + shift - clipped, range.format});
    }
    return out;
}

}  // namespace

bool CTemplateHighlighter::ColouringPending() const {
    return sweep_->isActive();
}

// Colours a whole paragraph. Outside an edit the caller has the layout
// re-done (markContentsDirty inside an edit block).
void CTemplateHighlighter::ColorBlock(QTextBlock block) {
    ++highlightedBlocks_;
    const QString text = block.text();
    block.layout()->setFormats(TemplateColoring(text, StartOf(block), names_, formats_, 0, text.size()));
    block.setUserState(kColoured);
}

void CTemplateHighlighter::ColorStretch(QTextBlock block, int position, int removed, int added) {
    const QString text = block.text();
    const int p = position - block.position();
    const int reach = static_cast<int>(std::max<qsizetype>(longestName_, 4)) + 1;
    int to = p + added + reach;
    // A "#set" after white space alone may have moved to or from a line start.
    int q = p + added;
    while (q < text.size() && IsWhiteSpace(text[q])) ++q;
    to = std::min(static_cast<int>(text.size()), std::max(to, q + 5));
    const int from = std::max(0, p - reach);
    const QList<QTextLayout::FormatRange> window =
        TemplateColoring(text, StartOf(block), names_, formats_, from, to);
    block.layout()->setFormats(Spliced(block.layout()->formats(), p, removed, added, from, to, window));
}

void CTemplateHighlighter::MarkUncoloured(QTextBlock block, const QTextBlock& last) {
    sweepFrom_ = std::min(sweepFrom_, block.blockNumber());
    for (; block.isValid(); block = block.next()) {
        block.setUserState(kUncoloured);
        if (block == last) break;
    }
    sweep_->start();
}

void CTemplateHighlighter::OnContentsChange(int position, int removed, int added) {
    if (applying_) return;
    QTextDocument* document = editor_->document();
    const QTextBlock first = document->findBlock(position);
    const QTextBlock last = document->findBlock(position + added);
    const bool sameBlocks = document->blockCount() == blockCount_;
    blockCount_ = document->blockCount();
    if (!first.isValid()) return;
    if (sameBlocks && first == last && first.userState() == kColoured) {
        ColorStretch(first, position, removed, added);
        return;
    }
    // The layout of every paragraph the change touches is re-done after
    // this signal, so those coloured now need nothing more.
    MarkUncoloured(first, last);
    int budget = 0;
    for (QTextBlock block = first; block.isValid() && budget < kSynchronousBudget; block = block.next()) {
        ColorBlock(block);
        budget += block.length();
        if (block == last) break;
    }
}

void CTemplateHighlighter::ColorSlice(bool visibleOnly) {
    QTextDocument* document = editor_->document();
    QElapsedTimer clock;
    clock.start();
    QTextCursor edit(document);
    applying_ = true;
    edit.beginEditBlock();
    auto color = [&](QTextBlock block) {
        ColorBlock(block);
        document->markContentsDirty(block.position(), block.length());
    };
    int budget = 0;
    for (QTextBlock block = editor_->cursorForPosition(QPoint(0, 0)).block(); block.isValid() && budget < kSynchronousBudget;
         block = block.next()) {
        if (block.userState() != kColoured) color(block);
        budget += block.length();
    }
    if (!visibleOnly) {
        QTextBlock block = document->findBlockByNumber(sweepFrom_);
        for (; block.isValid(); block = block.next()) {
            if (clock.nsecsElapsed() > kSliceNanoseconds) break;
            if (block.userState() != kColoured) color(block);
        }
        if (block.isValid()) {
            sweepFrom_ = block.blockNumber();
        } else {
            sweepFrom_ = document->blockCount();
            sweep_->stop();
        }
    }
    edit.endEditBlock();
    applying_ = false;
}

void CTemplateHighlighter::RecolorEverything() {
    QTextDocument* document = editor_->document();
    MarkUncoloured(document->firstBlock(), document->lastBlock());
    ColorSlice(true);
}

void CTemplateHighlighter::FinishColouring() {
    while (sweep_->isActive()) ColorSlice(false);
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
    highlighter_ = new CTemplateHighlighter(this);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CColoredRichEditCtrl::OnSelectionChange);
    connect(this, &QPlainTextEdit::selectionChanged, this, &CColoredRichEditCtrl::OnSelectionChange);
}

// The raw text, not toPlainText(), which would turn no-break spaces into
// spaces. Paragraph and line separators both become CR LF, so every line break
// still counts as one position; the breaks between pieces are left out.
std::u16string CColoredRichEditCtrl::Text() const {
    std::u16string out;
    out.reserve(static_cast<std::size_t>(document()->characterCount()) + static_cast<std::size_t>(blockCount()));
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (block.blockNumber() > 0 && !IsContinuation(block)) out += u"\r\n";
        const QString text = block.text();
        for (QChar c : text) {
            if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) out += u"\r\n";
            else out += static_cast<char16_t>(c.unicode());
        }
    }
    return out;
}

int CColoredRichEditCtrl::ContinuationsUpTo(const QTextBlock& last) const {
    if (!mayHaveContinuations_) return 0;
    int count = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        count += IsContinuation(block) ? 1 : 0;
        if (block == last) break;
    }
    return count;
}

int CColoredRichEditCtrl::TextLength() const {
    return document()->characterCount() - 1 - ContinuationsUpTo(document()->lastBlock());
}

int CColoredRichEditCtrl::FromDocument(int position) const {
    return position - ContinuationsUpTo(document()->findBlock(position));
}

// A position at a piece break is both the end of one block and the start of
// the next: the character there is the next block's first.
int CColoredRichEditCtrl::ToDocument(int position, bool endOfRange) const {
    if (!mayHaveContinuations_) return position;
    int continuations = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        continuations += IsContinuation(block) ? 1 : 0;
        const int blockEnd = block.position() + block.length() - 1 - continuations;  // in editor positions
        const bool atBreak = position == blockEnd && IsContinuation(block.next());
        if (position < blockEnd || (position == blockEnd && (!atBreak || endOfRange)) || !block.next().isValid())
            return position + continuations;
    }
    return position;
}

void CColoredRichEditCtrl::InsertParagraphs(QTextCursor& cursor, const QString& text) {
    const QStringList paragraphs = text.split(u'\n');
    for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        // A new paragraph gets a plain block format, not a copy of a piece's.
        if (i > 0) cursor.insertBlock(QTextBlockFormat());
        const QString& paragraph = paragraphs[i];
        qsizetype from = 0;
        for (qsizetype at : PieceBreaks(paragraph)) {
            cursor.insertText(paragraph.mid(from, at - from));
            cursor.insertBlock(ContinuationFormat());
            mayHaveContinuations_ = true;
            from = at;
        }
        cursor.insertText(paragraph.mid(from));
    }
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
    setPlainText(QString());
    mayHaveContinuations_ = false;
    // Built with the undo stack off, so that undo can never turn a piece break
    // into a line break; one edit block, so that the colouring sees one change.
    document()->setUndoRedoEnabled(false);
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    InsertParagraphs(cursor, plain);
    cursor.endEditBlock();
    document()->setUndoRedoEnabled(true);
    QTextCursor start(document());
    setTextCursor(start);
}

void CColoredRichEditCtrl::SelectRange(int start, int end) {
    const int length = TextLength();
    start = std::clamp(start, 0, length);
    end = std::clamp(end, 0, length);
    QTextCursor cursor = textCursor();
    cursor.setPosition(ToDocument(start, start > end));
    cursor.setPosition(ToDocument(end, end > start), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

std::vector<std::pair<int, int>> CColoredRichEditCtrl::DocumentRanges(const std::vector<EditorRange>& ranges) const {
    // The piece breaks in editor positions: a position counts the breaks
    // before it, and those at it too unless it ends a range.
    std::vector<int> breaks;
    if (mayHaveContinuations_) {
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
            if (IsContinuation(block)) breaks.push_back(block.position() - 1 - static_cast<int>(breaks.size()));
        }
    }
    const int length = TextLength();
    const auto toDocument = [&](int position, bool endOfRange) {
        position = std::clamp(position, 0, length);
        const auto counted = endOfRange ? std::lower_bound(breaks.begin(), breaks.end(), position)
                                        : std::upper_bound(breaks.begin(), breaks.end(), position);
        return position + static_cast<int>(counted - breaks.begin());
    };
    std::vector<std::pair<int, int>> out;
    out.reserve(ranges.size());
    for (const EditorRange& range : ranges)
        out.emplace_back(toDocument(range.start, range.start > range.end), toDocument(range.end, range.end > range.start));
    return out;
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
    highlighter_->RecolorEverything();
    verticalScrollBar()->setValue(scroll);
}

void CColoredRichEditCtrl::insertFromMimeData(const QMimeData* source) {
    if (source && source->hasText()) {
        QString text = source->text();
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(u'\r', u'\n');
        QTextCursor cursor = textCursor();
        cursor.beginEditBlock();
        InsertParagraphs(cursor, text);
        cursor.endEditBlock();
        setTextCursor(cursor);
        ensureCursorVisible();
    }
    RecolorAll();
}

QMimeData* CColoredRichEditCtrl::createMimeDataFromSelection() const {
    if (!mayHaveContinuations_) return QPlainTextEdit::createMimeDataFromSelection();
    const QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    QString text;
    for (QTextBlock block = document()->findBlock(start); block.isValid() && block.position() <= end;
         block = block.next()) {
        if (block.position() > start && !IsContinuation(block)) text += u'\n';
        const int from = std::max(start, block.position()) - block.position();
        const int to = std::min(end, block.position() + block.length() - 1) - block.position();
        if (to > from) text += block.text().mid(from, to - from);
    }
    text.replace(QChar::LineSeparator, u'\n');
    auto* data = new QMimeData;
    data->setText(text);
    return data;
}

void CColoredRichEditCtrl::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const Qt::KeyboardModifiers others = event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (mayHaveContinuations_ && others == Qt::NoModifier && !shift) {
        // A piece break is no character: step over it to the one behind.
        QTextCursor cursor = textCursor();
        switch (event->key()) {
        case Qt::Key_Backspace:
            if (!cursor.hasSelection() && cursor.atBlockStart() && IsContinuation(cursor.block())) {
                while (cursor.atBlockStart() && IsContinuation(cursor.block())) cursor.movePosition(QTextCursor::PreviousCharacter);
                cursor.deletePreviousChar();
                setTextCursor(cursor);
                return;
            }
            break;
        case Qt::Key_Delete:
            if (!cursor.hasSelection() && cursor.atBlockEnd() && IsContinuation(cursor.block().next())) {
                while (cursor.atBlockEnd() && IsContinuation(cursor.block().next())) cursor.movePosition(QTextCursor::NextCharacter);
                cursor.deleteChar();
                setTextCursor(cursor);
                return;
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // A line break inside a piece begins a paragraph, not another piece.
            cursor.insertBlock(QTextBlockFormat());
            setTextCursor(cursor);
            ensureCursorVisible();
            return;
        default: break;
        }
    }
    if (mayHaveContinuations_ && (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) &&
        (others & ~Qt::ControlModifier) == Qt::NoModifier) {
        // A move that only crossed a piece break stands where it stood in the
        // text: one more of the same move reaches the character behind it.
        const int before = textCursor().position();
        const int beforeInText = FromDocument(before);
        QPlainTextEdit::keyPressEvent(event);
        const int after = textCursor().position();
        if (after != before && FromDocument(after) == beforeInText) QPlainTextEdit::keyPressEvent(event);
        return;
    }
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
    const int start = FromDocument(cursor.selectionStart());
    const int end = FromDocument(cursor.selectionEnd());
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
