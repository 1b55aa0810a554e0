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
// Thread safety: user interface thread only.
#pragma once

#include "engine/macros.h"

#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTextLayout>

#include <string>

class QMenu;
class QTimer;

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

// Colours one paragraph, or the stretch [from, to) of it, from scratch:
// plain text, then "#set" at a line start, then whole-word macro names, then
// the brackets. The paragraph is the first of the text when firstBlock is set
// (a "#set" there counts as at a line start only after spaces alone).
QList<QTextLayout::FormatRange> TemplateColoring(const QString& paragraph, bool firstBlock, const QStringList& names,
                                                 const TemplateFormats& formats, qsizetype from, qsizetype to);

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
    void SetText(std::u16string_view text);
    void SelectRange(int start, int end);

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

private:
    void OnSelectionChange();

    CTemplateHighlighter* highlighter_;
    MacroTable macros_;
    int lastStart_ = 0;
    int lastEnd_ = 0;
};
