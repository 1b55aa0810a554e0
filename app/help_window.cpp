#include "app/help_window.h"

#include "app/translations.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

// The document lives in the static pm_app library, whose resource initialiser
// the linker would drop without a reference.
static void InitHelpResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

constexpr int kMaxMatches = 500;
constexpr int kContextUnits = 40;  // shown on each side of a match in the list

}  // namespace

CHelpWindow::CHelpWindow(const QUrl& document, QWidget* parent) : QDialog(parent) {
    InitHelpResources();
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Phrasemill Help"));
    setSizeGripEnabled(true);

    back_ = new QToolButton(this);
    back_->setText(tr("Back"));
    back_->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    back_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    back_->setShortcut(QKeySequence::Back);
    forward_ = new QToolButton(this);
    forward_->setText(tr("Forward"));
    forward_->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
    forward_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    forward_->setShortcut(QKeySequence::Forward);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addStretch(1);

    pages_ = new QTabWidget(this);
    contents_ = new QTreeWidget(pages_);
    contents_->setHeaderHidden(true);
    contents_->setColumnCount(1);
    pages_->addTab(contents_, tr("Contents"));

    auto* searchPage = new QWidget(pages_);
    auto* searchLayout = new QVBoxLayout(searchPage);
    auto* searchLabel = new QLabel(tr("&Find the words:"), searchPage);
    searchField_ = new QLineEdit(searchPage);
    searchField_->setClearButtonEnabled(true);
    searchLabel->setBuddy(searchField_);
    matches_ = new QListWidget(searchPage);
    matches_->setWordWrap(true);
    searchLayout->addWidget(searchLabel);
    searchLayout->addWidget(searchField_);
    searchLayout->addWidget(matches_, 1);
    pages_->addTab(searchPage, tr("Search"));

    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(true);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(pages_);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 590});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(splitter, 1);
    resize(820, 560);

    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::historyChanged, this, &CHelpWindow::UpdateHistoryButtons);
    connect(contents_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { ShowContentsEntry(item->data(0, Qt::UserRole).toInt()); });
    connect(contents_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { ShowContentsEntry(item->data(0, Qt::UserRole).toInt()); });
    connect(searchField_, &QLineEdit::textEdited, this, [this](const QString& phrase) { Search(phrase); });
    connect(searchField_, &QLineEdit::returnPressed, this, [this] {
        if (Search(searchField_->text()) > 0) ShowMatch(0);
    });
    connect(matches_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { ShowMatch(matches_->row(item)); });
    connect(matches_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ShowMatch(matches_->row(item)); });

    browser_->setSource(document);
    ReadHeadings();
    UpdateHistoryButtons();
}

QString HelpDocumentIn(const QString& folder, const QString& language) {
    const QDir dir(folder);
    if (!language.isEmpty()) {
        const QString translated = dir.filePath(QStringLiteral("phrasemill-help_%1.html").arg(language));
        if (QFileInfo::exists(translated)) return translated;
    }
    return dir.filePath(QStringLiteral("phrasemill-help.html"));
}

QUrl CHelpWindow::BundledDocument() {
    InitHelpResources();
    return QUrl(QStringLiteral("qrc") + HelpDocumentIn(QStringLiteral(":/help"), InterfaceLanguage()));
}

// Headings are the blocks the HTML marked h1 to h6; a heading's anchor is the
// id its element carries.
void CHelpWindow::ReadHeadings() {
    headings_.clear();
    contents_->clear();
    std::vector<QTreeWidgetItem*> parents;  // the open item of each level above
    for (QTextBlock block = browser_->document()->begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level <= 0) continue;
        Heading heading{block.text().simplified(), QString(), level, block.position()};
        for (auto it = block.begin(); !it.atEnd() && heading.anchor.isEmpty(); ++it) {
            const QStringList names = it.fragment().charFormat().anchorNames();
            if (!names.isEmpty()) heading.anchor = names.front();
        }
        while (!parents.empty() && headings_[parents.back()->data(0, Qt::UserRole).toInt()].level >= level)
            parents.pop_back();
        auto* item = parents.empty() ? new QTreeWidgetItem(contents_) : new QTreeWidgetItem(parents.back());
        item->setText(0, heading.text);
        item->setData(0, Qt::UserRole, static_cast<int>(headings_.size()));
        parents.push_back(item);
        headings_.push_back(std::move(heading));
    }
    contents_->expandAll();
}

void CHelpWindow::ShowContentsEntry(int index) {
    if (index < 0 || index >= static_cast<int>(headings_.size())) return;
    const Heading& heading = headings_[static_cast<std::size_t>(index)];
    if (heading.anchor.isEmpty()) {
        ShowPosition(heading.position, heading.position);
        return;
    }
    // Through the source, so that Back returns here.
    QUrl target = browser_->source();
    target.setFragment(heading.anchor);
    browser_->setSource(target);
}

int CHelpWindow::Search(const QString& phrase) {
    found_.clear();
    matches_->clear();
    const QString wanted = phrase.simplified();
    if (wanted.isEmpty()) return 0;
    QTextDocument* document = browser_->document();
    for (QTextCursor at = document->find(wanted, 0); !at.isNull() && found_.size() < kMaxMatches;
         at = document->find(wanted, at)) {
        found_.push_back({at.selectionStart(), at.selectionEnd()});
        const QTextBlock block = at.block();
        const int inBlock = at.selectionStart() - block.position();
        const int from = std::max(0, inBlock - kContextUnits);
        QString context = block.text().mid(from, inBlock - from + wanted.size() + kContextUnits).simplified();
        if (from > 0) context.prepend(QChar(0x2026));
        if (inBlock + wanted.size() + kContextUnits < block.length() - 1) context.append(QChar(0x2026));
        matches_->addItem(QStringLiteral("%1: %2").arg(HeadingAbove(at.selectionStart()), context));
    }
    if (found_.empty()) {
        auto* none = new QListWidgetItem(tr("No match for \"%1\".").arg(wanted), matches_);
        none->setFlags(Qt::NoItemFlags);
    }
    return static_cast<int>(found_.size());
}

void CHelpWindow::ShowMatch(int index) {
    if (index < 0 || index >= static_cast<int>(found_.size())) return;
    const Match& match = found_[static_cast<std::size_t>(index)];
    ShowPosition(match.start, match.end);
    matches_->setCurrentRow(index);
}

void CHelpWindow::ShowPosition(int start, int end) {
    QTextCursor cursor(browser_->document());
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    browser_->setTextCursor(cursor);
    browser_->ensureCursorVisible();
}

QString CHelpWindow::HeadingAbove(int position) const {
    QString text;
    for (const Heading& heading : headings_) {
        if (heading.position > position) break;
        text = heading.text;
    }
    return text;
}

void CHelpWindow::UpdateHistoryButtons() {
    back_->setEnabled(browser_->isBackwardAvailable());
    forward_->setEnabled(browser_->isForwardAvailable());
}
