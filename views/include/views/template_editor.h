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
// Colouring is display only. A typed character re-colours its own paragraph
// (QSyntaxHighlighter works per block); the macro table, which depends on the
// whole text, is rebuilt only by setting the text, pasting or dropping, and the
// three snippet inserts, and the whole text is re-coloured only when that
// rebuild changes the set of macro names.
// Thread safety: user interface thread only.
#pragma once

#include "engine/macros.h"

#include <QPlainTextEdit>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <string>

class QMenu;

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

class CTemplateHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    explicit CTemplateHighlighter(QTextDocument* document);
    void SetMacroNames(QStringList names) { names_ = std::move(names); }
    const QStringList& MacroNames() const { return names_; }
    int HighlightedBlocks() const { return highlightedBlocks_; }  // blocks coloured so far

protected:
    void highlightBlock(const QString& text) override;

private:
    QStringList names_;
    QTextCharFormat plain_, brace_, square_, angle_, bar_, keyword_, macroName_;
    int highlightedBlocks_ = 0;
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
