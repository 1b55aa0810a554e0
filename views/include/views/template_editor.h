// The template editor: a plain-text editor that colours the template language
// as the user types (brackets bold in their colours, "#set" at a line start,
// macro names), with the insert commands on its context menu and on F5 to F9,
// the usual edit commands, and a caret position report in which a line break
// counts one character.
//
//   CColoredRichEditCtrl editor;
//   editor.SetText(u"{a|b}");              // colours everything
//   std::u16string text = editor.Text();    // CR LF line breaks
//   editor.SelectRange(3, 4);               // e.g. the offending bracket
//
// Colouring is display only and lives in the paragraphs' layouts, not in the
// text. An edit inside one paragraph re-colours only the stretch it can
// affect: the edited characters, the macro names and "#set" words that touch
// them, and a "#set" that the edit moves to or from a line start. Edits that
// add or remove paragraphs re-colour the paragraphs they touch. Setting the
// text or a change of the macro names marks every paragraph uncoloured; the
// visible ones are coloured at once and the rest in short slices from the
// event loop. The macro table, which depends on the whole text, is rebuilt
// only by setting the text, pasting or dropping, and the three snippet
// inserts, and the whole text is re-coloured only when that rebuild changes
// the set of macro names.
//
// Long paragraphs are held in pieces (see kLongParagraph): typing into a
// megabyte-long paragraph then lays out one piece, not the paragraph. The
// pieces are invisible to everything outside: Text(), TextLength(), the
// positions reported and selected, and the clipboard all count the paragraph
// as one; Backspace and Delete step over a piece break to the character
// behind it, and so do the arrow keys (with Shift and Ctrl too).
// Thread safety: user interface thread only.
#pragma once

#include "engine/macros.h"

#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTextBlock>
#include <QTextLayout>

#include <string>
#include <utility>
#include <vector>

class QMenu;
class QTimer;

// A stretch of the text in editor positions (a line break counts one).
struct EditorRange {
    int start = 0;
    int end = 0;
};

// Colours of the template language's elements.
struct TemplateColors {
    static QColor Plain() { return QColor(0, 0, 0); }
    static QColor Brace() { return QColor(255, 0, 64); }
    static QColor Square() { return QColor(0, 10, 255); }
    static QColor Angle() { return QColor(69, 181, 17); }
    static QColor Bar() { return QColor(69, 181, 17); }
    static QColor MacroName() { return QColor(0, 0, 0); }
    static QColor SetKeyword() { return QColor(181, 75, 7); }
    static QColor NameBackground() { return QColor(255, 255, 255); }
};

// The seven character formats of the template language.
struct TemplateFormats {
    TemplateFormats();
    QTextCharFormat plain, brace, square, angle, bar, keyword, macroName;
};

// What precedes a block of the document: nothing, a line break, or (for a
// piece of a long paragraph) more of the same line.
enum class BlockStart { kTextStart, kLineStart, kContinuation };

// Colours one block, or the stretch [from, to) of it, from scratch: plain
// text, then "#set" at a line start, then whole-word macro names, then the
// brackets. At the text's start a "#set" counts as at a line start only after
// spaces alone; in a continuation block only after a line break inside it.
QList<QTextLayout::FormatRange> TemplateColoring(const QString& paragraph, BlockStart start, const QStringList& names,
                                                 const TemplateFormats& formats, qsizetype from, qsizetype to);

// A paragraph longer than kLongParagraph characters is held as several blocks
// of about kPieceLength characters, each later one marked as a continuation:
// the text layout, which is redone for a whole block at every key, then
// stays small. The breaks between the pieces are not part of the text.
constexpr int kLongParagraph = 8192;
constexpr int kPieceLength = 2048;
bool IsContinuation(const QTextBlock& block);
BlockStart StartOf(const QTextBlock& block);
// The pieces of one paragraph: breaks after white space, before a character
// that begins no "#set" or macro name, where there is one near the length.
QList<qsizetype> PieceBreaks(const QString& paragraph);

class CTemplateHighlighter : public QObject {
    Q_OBJECT
public:
    explicit CTemplateHighlighter(QPlainTextEdit* editor);
    void SetMacroNames(QStringList names);
    const QStringList& MacroNames() const { return names_; }
    const TemplateFormats& Formats() const { return formats_; }
    int HighlightedBlocks() const { return highlightedBlocks_; }  // whole paragraphs coloured so far

    void RecolorEverything();     // the visible paragraphs now, the others lazily
    void FinishColouring();       // every paragraph still uncoloured, now
    bool ColouringPending() const;

private:
    void OnContentsChange(int position, int removed, int added);
    void ColorStretch(QTextBlock block, int position, int removed, int added);
    void ColorBlock(QTextBlock block);
    void ColorSlice(bool visibleOnly);
    void MarkUncoloured(QTextBlock from, const QTextBlock& last);

    QPlainTextEdit* editor_;
    QStringList names_;
    qsizetype longestName_ = 0;
    TemplateFormats formats_;
    int highlightedBlocks_ = 0;
    int blockCount_ = 1;
    int sweepFrom_ = 0;  // no uncoloured paragraph before this one
    bool applying_ = false;
    QTimer* sweep_;
};

class CColoredRichEditCtrl : public QPlainTextEdit {
    Q_OBJECT
public:
    // Menu command ids of the editor's context menu.
    enum Command {
        kInsertOpenBrace = 32824,
        kInsertCloseBrace = 32818,
        kInsertOpenSquare = 32819,
        kInsertCloseSquare = 32820,
        kInsertOpenAngle = 32827,
        kInsertCloseAngle = 32828,
        kInsertBar = 32821,
        kInsertBraceGroup = 32830,
        kInsertSquareGroup = 32832,
        kInsertSetLine = 32822,
        kCut = 32786,
        kCopy = 32787,
        kPaste = 32788,
        kDelete = 32789,
        kSelectAll = 32790,
    };

    explicit CColoredRichEditCtrl(QWidget* parent = nullptr);

    std::u16string Text() const;  // CR LF line breaks
    int TextLength() const;       // a line break counts one
    // Editor positions (a line break counts one) and the document's, which
    // also count the breaks between the pieces of long paragraphs. At a piece
    // break the end of a range stays before the break, anything else goes after it.
    int ToDocument(int position, bool endOfRange = false) const;
    int FromDocument(int position) const;
    void SetText(std::u16string_view text);
    void SelectRange(int start, int end);
    // The document positions (start, end) that SelectRange would select for
    // each range, found in one pass over the blocks however many there are.
    std::vector<std::pair<int, int>> DocumentRanges(const std::vector<EditorRange>& ranges) const;

    // To type a character: as if the user had typed it over the selection.
    void TypeCharacter(QChar c);
    // To insert a snippet: replaces the selection, caret after it, then the
    // macro table is rebuilt.
    void InsertSnippet(const QString& snippet);
    void DeleteSelection();
    bool CanEditSelection() const { return textCursor().hasSelection(); }

    void RecolorAll();  // rebuild the macro table; re-colour all when its names changed
    QMenu* CreateContextMenu();  // menu 156 with its availability set
    CTemplateHighlighter* Highlighter() const { return highlighter_; }
    const MacroTable& Macros() const { return macros_; }

signals:
    void PositionChanged(int position);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    void OnSelectionChange();
    // Inserts text (LF line breaks) at the cursor, long paragraphs in pieces.
    void InsertParagraphs(QTextCursor& cursor, const QString& text);
    int ContinuationsUpTo(const QTextBlock& last) const;

    CTemplateHighlighter* highlighter_;
    MacroTable macros_;
    bool mayHaveContinuations_ = false;  // no piece breaks unless a long paragraph came in
    int lastStart_ = 0;
    int lastEnd_ = 0;
};
