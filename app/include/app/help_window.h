// CHelpWindow: the HTML help read inside the program, for desktops where no
// browser or help viewer takes the document. The contents list holds the
// document's headings; the search page lists every place where a phrase
// occurs, with the heading it stands under, and jumps there; Back and Forward
// follow the jumps made through the contents and through links; Esc closes.
//
//   auto* help = new CHelpWindow(CHelpWindow::BundledDocument(), this);
//   help->show();
//   help->Search(QStringLiteral("shingle"));   // as if typed and Enter pressed
//   help->ShowMatch(0);                       // the first place selected
//
// The bundled documents are compiled into the program, so the window works
// whatever was installed beside it; it shows the one in the interface's
// language.
// Thread safety: user interface thread only.
#pragma once

#include <QDialog>
#include <QUrl>

#include <vector>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QToolButton;
class QTreeWidget;

// The help document in folder (on disk, or ":/help") for a translation's
// language: phrasemill-help_LANG.html when the folder has it, the English
// phrasemill-help.html otherwise (and for the empty language).
QString HelpDocumentIn(const QString& folder, const QString& language);

class CHelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit CHelpWindow(const QUrl& document, QWidget* parent = nullptr);

    static QUrl BundledDocument();  // in InterfaceLanguage()

    QTextBrowser* Browser() const { return browser_; }
    QTreeWidget* Contents() const { return contents_; }
    QListWidget* Matches() const { return matches_; }
    QLineEdit* SearchField() const { return searchField_; }
    QTabWidget* Pages() const { return pages_; }

    void ShowContentsEntry(int index);  // in document order, headings of every level
    int Search(const QString& phrase);  // lists the places; returns how many
    void ShowMatch(int index);          // selects the place in the document

private:
    struct Heading {
        QString text;
        QString anchor;  // empty: the heading has none, position is used
        int level = 0;
        int position = 0;
    };
    struct Match {
        int start = 0;
        int end = 0;
    };
    void ReadHeadings();
    void ShowPosition(int start, int end);
    QString HeadingAbove(int position) const;
    void UpdateHistoryButtons();

    QTextBrowser* browser_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QTreeWidget* contents_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    QListWidget* matches_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* forward_ = nullptr;
    std::vector<Heading> headings_;
    std::vector<Match> found_;
};
