// Help on a desktop without a browser or help viewer (or with one that no
// program for HTML stands behind): F1 opens the bundled document inside the
// program, its contents list jumps to the sections with Back and Forward, and
// its search finds phrases of the document. Every shipped translation has the
// whole help, current with the English page, and F1 shows it.
#include "app/help_window.h"
#include "app/main_frame.h"
#include "app/translations.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>

#include <memory>

class HelpWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;

    std::unique_ptr<CMainFrame> MakeFrame(bool viewerTakesIt, int* offered) {
        FrameConfig config;
        config.settingsFile = folder_.filePath("settings.ini");
        config.templateLocation = CTemplateFileLocation::At(folder_.filePath("DefaultText.txt"));
        config.openHelpExternally = [viewerTakesIt, offered] {
            ++*offered;
            return viewerTakesIt;
        };
        return std::make_unique<CMainFrame>(config);
    }

    static QByteArray Bytes(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // What a translation keeps of the English page: its blocks in order
    // (headings, paragraphs, table rows and cells), its anchors and link targets.
    static QStringList Shape(const QString& html) {
        static const QRegularExpression marks(
            QStringLiteral("<(h[1-6]|p|pre|table|tr|th|td|nav|ul|ol|li)\\b|\\b(id|href)=\"([^\"]*)\""));
        QStringList shape;
        for (auto it = marks.globalMatch(html); it.hasNext();) {
            const QRegularExpressionMatch mark = it.next();
            shape << (mark.hasCaptured(1) ? mark.captured(1) : mark.captured(2) + u'=' + mark.captured(3));
        }
        return shape;
    }

    static QStringList Headings(const QString& html) {
        static const QRegularExpression heading(QStringLiteral("<h[2-6][^>]*>(.*?)</h[2-6]>"));
        QStringList headings;
        for (auto it = heading.globalMatch(html); it.hasNext();) headings << it.next().captured(1);
        return headings;
    }

    // Neighbouring links of one line that nothing but punctuation parts, as
    // "first|second".
    static QStringList LinksRunTogether(QTextDocument* document, int* links) {
        static const QRegularExpression space(QStringLiteral("\\s"));
        QStringList joined;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            QString target;
            QString text;
            QString between;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                const QString href = fragment.charFormat().anchorHref();
                if (href.isEmpty()) {
                    between += fragment.text();
                } else if (href == target && between.isEmpty()) {
                    text += fragment.text();
                } else {
                    ++*links;
                    if (!target.isEmpty() && !between.contains(space)) joined << text + u'|' + fragment.text();
                    target = href;
                    text = fragment.text();
                    between.clear();
                }
            }
        }
        return joined;
    }

    static int ContentsIndex(CHelpWindow& help, const QString& heading) {
        const QList<QTreeWidgetItem*> items = help.Contents()->findItems(heading, Qt::MatchExactly | Qt::MatchRecursive);
        return items.isEmpty() ? -1 : items.front()->data(0, Qt::UserRole).toInt();
    }

private slots:
    void viewerTakesTheHelp() {
        int offered = 0;
        auto frame = MakeFrame(true, &offered);
        frame->CommandAction(CMainFrame::kHelp)->trigger();
        QCOMPARE(offered, 1);
        QVERIFY(frame->HelpWindow() == nullptr);
    }

    void withoutViewerTheHelpOpensInside() {
        int offered = 0;
        auto frame = MakeFrame(false, &offered);
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        QTest::keyClick(frame.get(), Qt::Key_F1);
        QCOMPARE(offered, 1);
        QPointer<CHelpWindow> help = frame->HelpWindow();
        QVERIFY(help != nullptr);
        QVERIFY(help->isVisible());
        QVERIFY(help->Browser()->toPlainText().contains("Phrasemill turns one template into many different texts"));

        // A second F1 brings the same window forward.
        frame->CommandAction(CMainFrame::kHelp)->trigger();
        QCOMPARE(frame->HelpWindow(), help.data());

        // Esc closes it, and the next F1 opens a fresh one.
        QTest::keyClick(help->Browser(), Qt::Key_Escape);
        QTRY_VERIFY(help.isNull());
        frame->CommandAction(CMainFrame::kHelp)->trigger();
        QVERIFY(frame->HelpWindow() != nullptr);
        QVERIFY(frame->HelpWindow()->isVisible());
    }

    void contentsJumpWithBackAndForward() {
        CHelpWindow help(CHelpWindow::BundledDocument());
        help.show();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        QStringList headings;
        for (QTreeWidgetItemIterator it(help.Contents()); *it; ++it) headings << (*it)->text(0);
        QCOMPARE(headings, QStringList({"Phrasemill 2.0", "The template language", "Checking a template",
                                        "Analysing a template", "Macros", "Options", "The Results page", "Keys",
                                        "Files", "Command line"}));
        // The sections nest under the title, the check under the language.
        QCOMPARE(help.Contents()->topLevelItemCount(), 1);
        QCOMPARE(help.Contents()->findItems("Checking a template", Qt::MatchExactly | Qt::MatchRecursive)
                     .front()->parent()->text(0),
                 QString("The template language"));

        QScrollBar* scroll = help.Browser()->verticalScrollBar();
        QCOMPARE(scroll->value(), 0);
        help.ShowContentsEntry(ContentsIndex(help, "Keys"));
        QCOMPARE(help.Browser()->source().fragment(), QString("keys"));
        const int atKeys = scroll->value();
        QVERIFY(atKeys > 0);
        const QTextCursor top = help.Browser()->cursorForPosition(QPoint(4, 4));
        QVERIFY(top.block().text().contains("Keys") || top.block().next().text().contains("Keys"));

        help.ShowContentsEntry(ContentsIndex(help, "Macros"));
        QVERIFY(scroll->value() < atKeys);
        help.Browser()->backward();
        QCOMPARE(help.Browser()->source().fragment(), QString("keys"));
        QCOMPARE(scroll->value(), atKeys);
        QVERIFY(help.Browser()->isForwardAvailable());
        help.Browser()->forward();
        QCOMPARE(help.Browser()->source().fragment(), QString("macros"));
    }

    void searchFindsPhrasesAcrossTheDocument() {
        CHelpWindow help(CHelpWindow::BundledDocument());
        help.show();
        QVERIFY(QTest::qWaitForWindowExposed(&help));

        // Typed into the field: the list names the section of each place.
        QTest::keyClicks(help.SearchField(), "shingle LENGTH");
        QCOMPARE(help.Matches()->count(), 1);
        QVERIFY(help.Matches()->item(0)->text().startsWith("Options: "));
        QVERIFY(help.Matches()->item(0)->text().contains("shingle length"));
        QTest::keyClick(help.SearchField(), Qt::Key_Return);
        QCOMPARE(help.Browser()->textCursor().selectedText(), QString("shingle length"));

        // A phrase in several sections: every place is listed, each one selectable.
        const int versions = help.Search("versions");
        QVERIFY(versions > 5);
        help.ShowMatch(versions - 1);
        const QTextCursor last = help.Browser()->textCursor();
        QCOMPARE(last.selectedText().toLower(), QString("versions"));
        help.ShowMatch(0);
        QVERIFY(help.Browser()->textCursor().selectionStart() < last.selectionStart());

        QCOMPARE(help.Search("no such phrase anywhere"), 0);
        QCOMPARE(help.Matches()->count(), 1);  // says so
        QVERIFY(!(help.Matches()->item(0)->flags() & Qt::ItemIsEnabled));
    }

    void linksInARowStandApart() {
        for (const QString& language : QStringList{QString()} + ShippedTranslations()) {
            CHelpWindow help(QUrl(QStringLiteral("qrc") + HelpDocumentIn(QStringLiteral(":/help"), language)));
            int links = 0;
            const QStringList joined = LinksRunTogether(help.Browser()->document(), &links);
            QVERIFY2(links >= 7, qPrintable(language));  // the row of sections at the top
            QVERIFY2(joined.isEmpty(), qPrintable(language + u' ' + joined.join(QStringLiteral(", "))));
        }
    }

    void everyTranslationHasTheWholeCurrentHelp() {
        const QString englishFile = HelpDocumentIn(QStringLiteral(":/help"), QString());
        const QByteArray english = Bytes(englishFile);
        QVERIFY(!english.isEmpty());
        const QString digest = QString::fromLatin1(QCryptographicHash::hash(english, QCryptographicHash::Md5).toHex());
        static const QRegularExpression mark(
            QStringLiteral("<meta name=\"translated-from\" content=\"phrasemill-help.html ([0-9a-f]{32})\">"));
        QVERIFY(!ShippedTranslations().isEmpty());
        for (const QString& language : ShippedTranslations()) {
            const QString file = HelpDocumentIn(QStringLiteral(":/help"), language);
            QVERIFY2(file != englishFile, qPrintable(QStringLiteral("no help page in ") + language));
            const QString translated = QString::fromUtf8(Bytes(file));
            QCOMPARE(Shape(translated), Shape(QString::fromUtf8(english)));
            const QStringList headings = Headings(translated);
            const QStringList englishHeadings = Headings(QString::fromUtf8(english));
            for (qsizetype i = 0; i < headings.size(); ++i)
                QVERIFY2(headings[i] != englishHeadings[i], qPrintable(headings[i] + QStringLiteral(" is not translated")));
            // The mark names the English page the translation was made from:
            // a change there waits for the translation to follow it.
            const QRegularExpressionMatch from = mark.match(translated);
            QVERIFY2(from.hasMatch(), qPrintable(file + QStringLiteral(" has no translated-from mark")));
            QVERIFY2(from.captured(1) == digest,
                     qPrintable(file + QStringLiteral(" was translated from an earlier English page; bring it up "
                                                      "to date and set its translated-from mark to ") + digest));
        }
    }

    void helpFollowsTheInterfaceLanguage() {
        const auto english = qScopeGuard([] { InstallTranslations(QLocale(QLocale::English, QLocale::UnitedStates)); });
        int offered = 0;
        const int englishHeadings = [] {
            CHelpWindow help(CHelpWindow::BundledDocument());
            return help.Contents()->topLevelItem(0)->childCount();
        }();
        QVERIFY(InstallTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
        auto frame = MakeFrame(false, &offered);
        frame->CommandAction(CMainFrame::kHelp)->trigger();
        CHelpWindow* help = frame->HelpWindow();
        QVERIFY(help != nullptr);
        QCOMPARE(help->windowTitle(), QStringLiteral("Справка Phrasemill"));
        QVERIFY(help->Browser()->toPlainText().contains(QStringLiteral("Phrasemill превращает один шаблон")));
        QCOMPARE(help->Contents()->topLevelItem(0)->childCount(), englishHeadings);
        QVERIFY(help->Search(QStringLiteral("шингл")) > 0);
    }

    // Qt hands a document to xdg-open and counts it as opened once xdg-open
    // starts; xdg-mime tells whether anything would open it. The desktop here
    // is a folder of scripts on PATH and folders of desktop entries.
    void desktopWithoutHtmlHandler() {
        QTemporaryDir desktop;
        QVERIFY(desktop.isValid());
        const QDir root(desktop.path());
        for (const char* folder : {"bin", "data-home/applications/kde4", "data-dirs/applications", "help"})
            QVERIFY(root.mkpath(folder));
        const QByteArray saved[] = {qgetenv("PATH"), qgetenv("XDG_DATA_HOME"), qgetenv("XDG_DATA_DIRS")};
        const auto restore = qScopeGuard([&] {
            qputenv("PATH", saved[0]);
            qputenv("XDG_DATA_HOME", saved[1]);
            qputenv("XDG_DATA_DIRS", saved[2]);
        });
        qputenv("PATH", root.filePath("bin").toLocal8Bit());
        qputenv("XDG_DATA_HOME", root.filePath("data-home").toLocal8Bit());
        qputenv("XDG_DATA_DIRS", root.filePath("data-dirs").toLocal8Bit());
        const auto write = [&](const QString& path, const QByteArray& text) {
            QFile file(root.filePath(path));
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
            file.write(text);
            file.close();
            return file.setPermissions(file.permissions() | QFile::ExeOwner);
        };
        const auto script = [](const char* body) {
            return QByteArray("#!/bin/sh\nPATH=/usr/bin:/bin\n") + body + '\n';
        };
        QVERIFY(write("data-home/applications/browser.desktop", "[Desktop Entry]\n"));
        QVERIFY(write("data-dirs/applications/system-browser.desktop", "[Desktop Entry]\n"));
        QVERIFY(write("data-home/applications/kde4/browser.desktop", "[Desktop Entry]\n"));

        using Handler = CMainFrame::HtmlHandler;
        const struct {
            const char* xdgMime;  // null: not installed
            Handler expected;
        } cases[] = {
            {nullptr, Handler::kNotAsked},
            {"exit 0", Handler::kNone},  // answers nothing
            {"echo browser.desktop; exit 3", Handler::kNone},
            {"echo gone.desktop", Handler::kNone},  // registered, since uninstalled
            {"echo browser.desktop", Handler::kFound},
            {"echo system-browser.desktop", Handler::kFound},
            {"echo kde4-browser.desktop", Handler::kFound},
            {"exec sleep 30", Handler::kNone},  // no answer in time
        };
        for (const auto& [xdgMime, expected] : cases) {
            QFile::remove(root.filePath("bin/xdg-mime"));
            if (xdgMime) QVERIFY(write("bin/xdg-mime", script(xdgMime)));
            QCOMPARE(CMainFrame::FindHtmlHandler(500), expected);
        }

        // Without a handler the page is not handed over (so F1 shows it inside
        // the program); with one, the page of the interface's language is.
        QVERIFY(write("help/phrasemill-help.html", "<html></html>"));
        QVERIFY(write("help/phrasemill-help_ru.html", "<html></html>"));
        QStringList handedOver;
        const auto openUrl = [&handedOver](const QUrl& url) {
            handedOver << url.toLocalFile();
            return true;
        };
        QVERIFY(write("bin/xdg-mime", script("exit 0")));
        QVERIFY(!CMainFrame::OpenHelpExternally(root.filePath("help"), openUrl));
        QVERIFY(handedOver.isEmpty());
        QVERIFY(write("bin/xdg-mime", script("echo browser.desktop")));
        QVERIFY(CMainFrame::OpenHelpExternally(root.filePath("help"), openUrl));
        const auto english = qScopeGuard([] { InstallTranslations(QLocale(QLocale::English, QLocale::UnitedStates)); });
        QVERIFY(InstallTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
        QVERIFY(CMainFrame::OpenHelpExternally(root.filePath("help"), openUrl));
        QCOMPARE(handedOver, QStringList({root.filePath("help/phrasemill-help.html"),
                                          root.filePath("help/phrasemill-help_ru.html")}));
    }
};

QTEST_MAIN(HelpWindowTest)
#include "help_window_qtest.moc"
