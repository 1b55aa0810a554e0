// Help on a desktop without a browser or help viewer: F1 opens the bundled
// document inside the program, its contents list jumps to the sections with
// Back and Forward, and its search finds phrases of the document.
#include "app/help_window.h"
#include "app/main_frame.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
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
        QCOMPARE(headings, QStringList({"Phrasemill 2.0", "The template language", "Checking a template", "Macros",
                                        "Options", "The Results page", "Keys", "Files", "Command line"}));
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
};

QTEST_MAIN(HelpWindowTest)
#include "help_window_qtest.moc"
