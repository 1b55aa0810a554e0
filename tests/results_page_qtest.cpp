// The Results page on its own: command availability while idle, running and
// during a result-set job (menus and keys), the clipboard copy, the version
// viewer, the Saving Options dialog, every save layout through the page's
// commands (bytes, separators, file names, ".txt"), failures and the exit
// question.
#include "run/generation_run.h"
#include "chrome/message_box.h"
#include "views/output_data_page.h"
#include "views/output_string_dialog.h"
#include "views/saving.h"
#include "scripted_dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStyle>
#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// Runs act on the next modal widget that appears; the returned timer may be
// deleted to give up waiting.
QTimer* OnNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start();
    return timer;
}

// Holds the worker inside the first callback that calls Hold() until Release().
class CGateSink : public CRunSink {
public:
    void AppendVersions(std::vector<KeptVersion>&&) override {}
    void ClearResults() override { Hold(); }
    void ResultSetIdleChanged(bool idle) override {
        if (!idle) Hold();
    }
    void WaitUntilHeld() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return held_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    void Hold() {
        std::unique_lock lock(mutex_);
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool open_ = false;
};

}  // namespace

class ResultsPageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CGenerationRun> run_;
    std::unique_ptr<COutputDataPage> page_;
    CScriptedDialogs dialogs_;
    std::deque<QString> folders_;
    QStringList folderStarts_;
    std::unique_ptr<QTemporaryDir> dir_;

    fs::path Dir() const { return fs::path(dir_->path().toStdString()); }
    QString InDir(const QString& name) const { return dir_->filePath(name); }

    void Fill(const std::vector<std::u16string>& texts, int64_t firstOrdinal = 0) {
        std::vector<KeptVersion> batch;
        for (const auto& text : texts) batch.push_back({firstOrdinal++, text});
        page_->Model()->AppendVersions(std::move(batch));
    }

    void Select(std::initializer_list<int> rows) {
        QItemSelectionModel* selection = page_->List()->selectionModel();
        selection->clear();
        for (int row : rows) {
            selection->select(page_->Model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    QAction* MenuAction(QMenu* menu, int id) {
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator() && action->data().toInt() == id) return action;
        }
        return nullptr;
    }

    // Availability as the context menu, the drop-down menu and the page report it.
    QString Enabled() {
        QMenu* context = page_->ContextMenu();
        QMenu* save = page_->SaveMenu();
        QString flags;
        for (int id : {32779, 32802, 32784, 32778, 32785, 32803, 32833}) {
            const bool enabled = MenuAction(context, id)->isEnabled();
            QAction* inSaveMenu = MenuAction(save, id);
            if (inSaveMenu && inSaveMenu->isEnabled() != enabled) return QStringLiteral("menus disagree");
            if (page_->IsCommandEnabled(id) != enabled) return QStringLiteral("page disagrees");
            flags += enabled ? QLatin1Char('1') : QLatin1Char('0');
        }
        return flags;
    }

    void Key(int key) { QTest::keyClick(page_->List(), static_cast<Qt::Key>(key), Qt::ControlModifier); }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        run_ = std::make_unique<CGenerationRun>();
        page_ = std::make_unique<COutputDataPage>(*run_);
        page_->resize(700, 400);
        page_->show();
        folders_.clear();
        folderStarts_.clear();
        dialogs_.Install();
        SetResultFolderChooser([this](QWidget*, const QString& start) {
            folderStarts_ << start;
            if (folders_.empty()) return QString();
            QString folder = folders_.front();
            folders_.pop_front();
            return folder;
        });
        QApplication::clipboard()->setText(QStringLiteral("untouched"));
    }

    void cleanup() {
        if (run_) {
            run_->Stop();
            run_->Wait();
        }
        page_.reset();
        run_.reset();
        dialogs_.Uninstall();
        SetResultFolderChooser({});
    }

    void MenusHoldTheirItemsInOrder() {
        const auto texts = [](QMenu* menu) {
            QStringList list;
            for (QAction* action : menu->actions()) list << (action->isSeparator() ? QStringLiteral("-") : action->text());
            return list;
        };
        QCOMPARE(texts(page_->ContextMenu()),
                 QStringList({"&Copy Selected\tCtrl+C", "Select All\tCtrl+A", "-", "&Save Selected\tCtrl+S",
                              "&Save All", "-", "&Save Selected to different files\tCtrl+D",
                              "Save All to different files", "-", "&Saving Options..."}));
        QCOMPARE(texts(page_->SaveMenu()),
                 QStringList({"&Save Selected\tCtrl+S", "&Save All", "-", "&Save Selected to different files\tCtrl+D",
                              "&Save All to different files", "-", "&Saving Options..."}));
    }

    void AvailabilityWhileIdle() {
        // Order: copy, select all, save selected, save all, selected to files, all to files, options.
        QCOMPARE(Enabled(), QStringLiteral("0000001"));
        Fill({u"a", u"b", u"c"});
        QCOMPARE(Enabled(), QStringLiteral("0101011"));
        Select({1});
        QCOMPARE(Enabled(), QStringLiteral("1111111"));
        QVERIFY(page_->CanCopySelected());
        QVERIFY(page_->CanSelectAll());
        // Ctrl+A on an empty list works without effect.
        page_->Model()->Clear();
        Key(Qt::Key_A);
        QVERIFY(!page_->HasSelection());
        QCOMPARE(Enabled(), QStringLiteral("0000001"));
    }

    void ClickingATextCellKeepsTheNumberColumnsInView() {
        Fill({std::u16string(3000, u'x'), u"b", u"c"});
        QTableView* list = page_->List();
        QApplication::processEvents();
        QVERIFY(list->horizontalScrollBar()->maximum() > 0);
        const QRect cell = list->visualRect(page_->Model()->index(1, 2));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center() + QPoint(cell.width() / 3, 0));
        QCOMPARE(list->currentIndex().row(), 1);
        QCOMPARE(list->horizontalScrollBar()->value(), 0);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentIndex().row(), 2);
        QCOMPARE(list->horizontalScrollBar()->value(), 0);
    }

    void AvailabilityWhileRunning() {
        Fill({u"a", u"b", u"c"});
        Select({0});
        CGateSink sink;
        RunRequest request;
        request.templateText = u"{x|y|z}";
        request.options.versionsCount = 3;
        request.options.randomOrder = false;
        QVERIFY(run_->StartGeneration(request, sink));
        sink.WaitUntilHeld();
        QVERIFY(run_->IsRunning());
        // Copy and the "selected" saves stay; Select All and the "all" saves wait for the run.
        QCOMPARE(Enabled(), QStringLiteral("1010101"));
        // The list's keys do not look at the running flag.
        page_->List()->selectionModel()->clear();
        Key(Qt::Key_A);
        QCOMPARE(page_->SelectedRows().size(), std::size_t{3});
        Key(Qt::Key_C);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("a\r\n\r\nb\r\n\r\nc\r\n\r\n"));
        sink.Release();
        run_->Wait();
        QVERIFY(!run_->IsRunning());
        QCOMPARE(Enabled(), QStringLiteral("1111111"));
    }

    void AvailabilityDuringAJob() {
        Fill({u"a", u"b", u"a"});
        Select({0, 2});
        CGateSink sink;
        QVERIFY(run_->StartDeleteIdentical(*page_->Model(), DeletingOptions{}, sink));
        sink.WaitUntilHeld();
        QVERIFY(!run_->IsResultSetIdle());
        QCOMPARE(Enabled(), QStringLiteral("0000001"));
        QVERIFY(!page_->RunCommand(32779));
        // Every Ctrl key of the list does nothing while the rows are being rewritten.
        page_->List()->selectionModel()->clear();
        Key(Qt::Key_A);
        QVERIFY(!page_->HasSelection());
        Select({1});
        Key(Qt::Key_C);
        Key(Qt::Key_S);
        Key(Qt::Key_D);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("untouched"));
        QCOMPARE(dialogs_.fileQuestions, 0);
        QVERIFY(folderStarts_.isEmpty());
        sink.Release();
        run_->Wait();
        QVERIFY(run_->IsResultSetIdle());
        QCOMPARE(Enabled(), QStringLiteral("1111111"));
    }

    void CopiesSelectedRowsInRowOrder() {
        Fill({u"one", u"two", u"three", u"four", u"five", u"six"});
        Key(Qt::Key_C);  // nothing selected: nothing copied
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("untouched"));
        Select({4, 1});
        Key(Qt::Key_C);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("two\r\n\r\nfive\r\n\r\n"));
        QApplication::clipboard()->setText(QStringLiteral("untouched"));
        QVERIFY(page_->RunCommand(32779));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("two\r\n\r\nfive\r\n\r\n"));

        // The main window's keys need a selected row, even for Ctrl+A.
        QKeyEvent selectAll(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(page_->HandleWindowKey(&selectAll));
        QCOMPARE(page_->SelectedRows().size(), std::size_t{6});
        page_->List()->selectionModel()->clear();
        QVERIFY(!page_->HandleWindowKey(&selectAll));
        QVERIFY(!page_->HasSelection());
    }

    void ViewerShowsTheRowAndDiscardsEdits() {
        std::vector<std::u16string> texts(7, u"short");
        texts[6] = u"exactly thirty characters long";
        Fill(texts);
        QCOMPARE(texts[6].size(), std::size_t{30});
        QTableView* list = page_->List();
        list->scrollTo(page_->Model()->index(6, 0));
        const QPoint inRow = list->visualRect(page_->Model()->index(6, 2)).center();

        QString title;
        QString shown;
        bool copyBefore = true;
        bool copyAfter = false;
        bool selectAll = false;
        QRect editRect;
        QSize client;
        QString family;
        OnNextModal([&](QWidget* modal) {
            auto* viewer = qobject_cast<COutputStringDialog*>(modal);
            if (!viewer) {
                modal->close();
                return;
            }
            title = viewer->windowTitle();
            shown = viewer->Edit()->toPlainText();
            QMenu* menu = viewer->ContextMenu();
            copyBefore = menu->actions().at(0)->isEnabled();
            selectAll = menu->actions().at(1)->isEnabled();
            QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("&Copy"));
            QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("&Select All"));
            viewer->Edit()->selectAll();
            copyAfter = viewer->ContextMenu()->actions().at(0)->isEnabled();
            editRect = viewer->Edit()->geometry();
            client = viewer->size();
            family = viewer->Edit()->font().families().value(0);
            QTest::keyClicks(viewer->Edit(), "replaced");
            QTest::keyClick(viewer, Qt::Key_Escape);
        });
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, inRow);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, inRow);
        QCOMPARE(title, QStringLiteral("Version #7 (length 30) "));
        QCOMPARE(shown, QStringLiteral("exactly thirty characters long"));
        QVERIFY(!copyBefore);
        QVERIFY(selectAll);
        QVERIFY(copyAfter);
        QCOMPARE(editRect, QRect(11, 11, client.width() - 22, client.height() - 22));
        QCOMPARE(family, QStringLiteral("Tahoma"));
        QVERIFY(page_->Model()->RowText(6) == u"exactly thirty characters long");
        QVERIFY(!QApplication::activeModalWidget());

        // Below the last row nothing opens.
        bool opened = false;
        QPointer<QTimer> watcher = OnNextModal([&](QWidget* modal) {
            opened = true;
            modal->close();
        });
        list->scrollToTop();
        const QPoint below(20, list->viewport()->height() - 3);
        QVERIFY(!list->indexAt(below).isValid());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, below);
        QTest::qWait(50);
        QVERIFY(!opened);
        delete watcher.data();
    }

    void CopiesOnceAsUtf8EvenWhenLarge() {
        const std::u16string odd = u"\u0416\U0001F600 \xD800x";  // Cyrillic, an emoji, a lone surrogate
        Fill({odd, u"plain"});
        Select({0, 1});
        page_->CopySelectedVersions();
        const QMimeData* data = QApplication::clipboard()->mimeData();
        QVERIFY(data);
        QCOMPARE(data->data(QStringLiteral("text/plain;charset=utf-8")),
                 QByteArray("\xD0\x96\xF0\x9F\x98\x80 \xEF\xBF\xBDx\r\n\r\nplain\r\n\r\n"));
        QCOMPARE(QApplication::clipboard()->text(), QString::fromUtf8("Ж😀 \uFFFDx\r\n\r\nplain\r\n\r\n"));

        // Past eight megabytes the text is built off the window's thread.
        const std::u16string row(40, u'r');
        std::vector<KeptVersion> batch;
        for (int64_t i = 0; i < 250000; ++i) batch.push_back({i + 2, row});
        page_->Model()->AppendVersions(std::move(batch));
        page_->SelectAllVersions();
        page_->CopySelectedVersions();
        const QByteArray copied = QApplication::clipboard()->mimeData()->data(QStringLiteral("text/plain;charset=utf-8"));
        QCOMPARE(copied.size(), qsizetype{15 + 9 + 250000 * 44});
        QVERIFY(copied.endsWith(QByteArray(40, 'r') + "\r\n\r\n"));
        QVERIFY(!QApplication::overrideCursor());
    }

    void NumberColumnShowsLargeNumbersWhole() {
        QTableView* list = page_->List();
        const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
        QCOMPARE(list->columnWidth(0), 50);
        for (int64_t ordinal : {int64_t{1234566}, int64_t{99999999}, int64_t{7}}) {
            Fill({u"v"}, ordinal);
            const QString widest = QString::number(page_->Model()->RowNumber(page_->Model()->RowCount() - 1));
            QVERIFY2(list->columnWidth(0) >= list->fontMetrics().horizontalAdvance(widest) + 2 * margin,
                     qPrintable(widest));
        }
        QVERIFY(list->columnWidth(0) >= list->fontMetrics().horizontalAdvance("100000000"));
    }

    void ViewerOpensOnLeftButtonAndCopiesCrLf() {
        Fill({u"line one\r\nline two", u"other"});
        QTableView* list = page_->List();
        const QPoint inRow = list->visualRect(page_->Model()->index(0, 2)).center();
        bool opened = false;
        QPointer<QTimer> watcher = OnNextModal([&](QWidget* modal) {
            opened = true;
            modal->close();
        });
        QTest::mouseDClick(list->viewport(), Qt::MiddleButton, {}, inRow);
        QTest::mouseDClick(list->viewport(), Qt::RightButton, {}, inRow);
        QTest::qWait(50);
        QVERIFY(!opened);
        delete watcher.data();

        COutputStringDialog viewer(QStringLiteral("Version #1 (length 18) "),
                                   QString::fromStdU16String(std::u16string(page_->Model()->RowText(0))), page_.get());
        QCOMPARE(viewer.Edit()->document()->blockCount(), 2);
        viewer.Edit()->selectAll();
        viewer.ContextMenu()->actions().at(0)->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("line one\r\nline two"));
        QApplication::clipboard()->clear();
        QTest::keyClick(viewer.Edit(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("line one\r\nline two"));
    }

    void SavingOptionsDialogStoresOnOkOnly() {
        page_->Saving().versionsSeparator = u"<br><br>";
        QString shown;
        OnNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<CSavingOptionsDlg*>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Saving options"));
            QCOMPARE(dialog->Group()->title(), QStringLiteral("Custom versions separator"));
            QCOMPARE(dialog->Hint()->text(), QStringLiteral("<br> - \"Enter\" symbol"));
            shown = dialog->SeparatorEdit()->text();
            dialog->SeparatorEdit()->setText(QStringLiteral(" x<br> "));
            dialog->findChild<QPushButton*>(QStringLiteral("ok"))->click();
        });
        QVERIFY(page_->RunCommand(32833));
        QCOMPARE(shown, QStringLiteral("<br><br>"));
        QVERIFY(page_->Saving().versionsSeparator == u" x<br> ");

        OnNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<CSavingOptionsDlg*>(modal);
            dialog->SeparatorEdit()->clear();
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        page_->EditSavingOptions();
        QVERIFY(page_->Saving().versionsSeparator == u" x<br> ");

        OnNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<CSavingOptionsDlg*>(modal);
            dialog->SeparatorEdit()->clear();
            dialog->findChild<QPushButton*>(QStringLiteral("ok"))->click();
        });
        page_->EditSavingOptions();
        QVERIFY(page_->Saving().versionsSeparator.empty());  // an empty separator is accepted
    }

    void OneFileLayoutsAndSeparators() {
        Fill({u"A", u"B"});
        dialogs_.files = {InDir("default")};
        page_->SaveAll();
        QCOMPARE(ReadFile(Dir() / "default.txt"), std::string("A\r\n\r\nB\r\n\r\n"));
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].text, QStringLiteral("Results have been saved successfully."));
        QCOMPARE(dialogs_.messages[0].flags, static_cast<unsigned>(kMbIconInformation));

        page_->Saving().versionsSeparator = u"---<br>";
        dialogs_.files = {InDir("hyphens.txt")};
        page_->SaveAll();
        QCOMPARE(ReadFile(Dir() / "hyphens.txt"), std::string("A---\r\nB---\r\n"));

        page_->Saving().versionsSeparator = u"<BR>";
        dialogs_.files = {InDir("capitals.txt")};
        page_->SaveAll();
        QCOMPARE(ReadFile(Dir() / "capitals.txt"), std::string("A<BR>B<BR>"));

        page_->Saving().versionsSeparator = u"";
        dialogs_.files = {InDir("empty.txt")};
        page_->SaveAll();
        QCOMPARE(ReadFile(Dir() / "empty.txt"), std::string("AB"));
        QVERIFY(page_->Saving().versionsSeparator.empty());  // the stored text is not expanded

        // Non-ASCII text is written as UTF-8.
        page_->Model()->Clear();
        Fill({u"\u00e9t\u00e9"});
        page_->Saving().versionsSeparator = u"<br>";
        dialogs_.files = {InDir("accents.txt")};
        page_->SaveAll();
        QCOMPARE(ReadFile(Dir() / "accents.txt"), std::string("\xc3\xa9t\xc3\xa9\r\n"));
        QCOMPARE(dialogs_.messages.size(), std::size_t{5});
    }

    void SaveSelectedWritesRowOrderAndReplaces() {
        Fill({u"first", u"second", u"third"});
        WriteFile(Dir() / "existing.txt", "old contents that are longer than the new ones");
        Select({2, 0});  // rows #3 and #1
        dialogs_.files = {InDir("existing.txt")};
        Key(Qt::Key_S);
        QCOMPARE(ReadFile(Dir() / "existing.txt"), std::string("first\r\n\r\nthird\r\n\r\n"));
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].flags, static_cast<unsigned>(kMbIconInformation));
        // The selection and the rows are as they were.
        QCOMPARE(page_->SelectedRows(), (std::vector<std::size_t>{0, 2}));
        QCOMPARE(page_->Model()->RowCount(), std::size_t{3});
    }

    void FileNameGetsTxtOnlyWithoutExtension() {
        Fill({u"v"});
        QVERIFY(fs::create_directory(Dir() / "my.dir"));
        dialogs_.files = {InDir("out"), InDir("out.csv"), InDir("my.dir/out")};
        page_->SaveAll();
        page_->SaveAll();
        page_->SaveAll();
        QVERIFY(fs::exists(Dir() / "out.txt"));
        QVERIFY(!fs::exists(Dir() / "out"));
        QVERIFY(fs::exists(Dir() / "out.csv"));
        QVERIFY(!fs::exists(Dir() / "out.csv.txt"));
        QVERIFY(fs::exists(Dir() / "my.dir" / "out.txt"));
        QCOMPARE(dialogs_.messages.size(), std::size_t{3});
    }

    void AppendedExtensionIsConfirmedBeforeReplacing() {
        Fill({u"new"});
        WriteFile(Dir() / "report.txt", "keep me");
        // "No" returns to the chooser; cancelling it then saves nothing.
        dialogs_.files = {InDir("report")};
        dialogs_.answers = {kMbResultNo};
        page_->SaveAll();
        QCOMPARE(dialogs_.fileQuestions, 2);
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QVERIFY(dialogs_.messages[0].text.contains(QStringLiteral("report.txt")));
        QCOMPARE(dialogs_.messages[0].flags, static_cast<unsigned>(kMbYesNoQuestion));
        QCOMPARE(ReadFile(Dir() / "report.txt"), std::string("keep me"));

        // "Yes" replaces it.
        dialogs_.messages.clear();
        dialogs_.files = {InDir("report")};
        dialogs_.answers = {kMbResultYes};
        page_->SaveAll();
        QCOMPARE(ReadFile(Dir() / "report.txt"), std::string("new\r\n\r\n"));
        QCOMPARE(dialogs_.messages.size(), std::size_t{2});
        QCOMPARE(dialogs_.messages[1].text, QStringLiteral("Results have been saved successfully."));

        // A name chosen with its extension is not asked about again (the dialog did).
        dialogs_.messages.clear();
        dialogs_.files = {InDir("report.txt")};
        page_->SaveAll();
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].flags, static_cast<unsigned>(kMbIconInformation));
    }

    void SeparateFilesLayoutAndNames() {
        std::vector<std::u16string> texts;
        for (int i = 1; i <= 12; ++i) texts.push_back(u"version " + QString::number(i).toStdU16String());
        Fill(texts);
        page_->Saving().versionsSeparator = u"SEPARATOR";  // not used by this layout
        WriteFile(Dir() / "result0000012.txt", "left from a larger save");
        WriteFile(Dir() / "result0000003.txt", "old");
        folders_ = {dir_->path()};
        QVERIFY(page_->RunCommand(32803));
        // The chooser starts in the documents folder, then where it was last left.
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(folderStarts_, QStringList({QFileInfo(documents).isDir() ? documents : QDir::homePath()}));
        for (int n = 0; n < 12; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "result%07d.txt", n);
            QCOMPARE(ReadFile(Dir() / name), "version " + std::to_string(n + 1) + "\r\n\r\n");
        }
        QCOMPARE(ReadFile(Dir() / "result0000012.txt"), std::string("left from a larger save"));
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].text, QStringLiteral("Results have been saved successfully."));

        // Selected rows #2, #5 and #7 become files 0, 1 and 2; the chooser
        // opens in the folder of the save before.
        QTemporaryDir second;
        Select({6, 1, 4});
        folders_ = {second.path()};
        Key(Qt::Key_D);
        QCOMPARE(folderStarts_.value(1), dir_->path());
        const fs::path base(second.path().toStdString());
        QCOMPARE(ReadFile(base / "result0000000.txt"), std::string("version 2\r\n\r\n"));
        QCOMPARE(ReadFile(base / "result0000001.txt"), std::string("version 5\r\n\r\n"));
        QCOMPARE(ReadFile(base / "result0000002.txt"), std::string("version 7\r\n\r\n"));
        QVERIFY(!fs::exists(base / "result0000003.txt"));

        // Cancelling the folder chooser ends the command silently.
        dialogs_.messages.clear();
        page_->SaveAllToDifferentFiles();
        QVERIFY(dialogs_.messages.empty());
    }

    void FailuresReportMessage355() {
        Fill({u"A", u"B"});
        dialogs_.files = {InDir("missing-folder/out.txt")};
        page_->SaveAll();
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].text, QStringLiteral("There were errors during saving. Some data might be lost."));
        QCOMPARE(dialogs_.messages[0].flags, static_cast<unsigned>(kMbIconExclamation));
        QVERIFY(!fs::exists(Dir() / "missing-folder"));

        // A folder standing where the file should go.
        QVERIFY(fs::create_directory(Dir() / "taken.txt"));
        Select({0});
        dialogs_.files = {InDir("taken.txt")};
        page_->SaveSelected();
        QCOMPARE(dialogs_.messages.size(), std::size_t{2});
        QCOMPARE(dialogs_.messages[1].flags, static_cast<unsigned>(kMbIconExclamation));

        // Per-file save into a folder that is not there.
        folders_ = {InDir("no-such-folder")};
        page_->SaveAllToDifferentFiles();
        QCOMPARE(dialogs_.messages.size(), std::size_t{3});
        QCOMPARE(dialogs_.messages[2].text, QStringLiteral("There were errors during saving. Some data might be lost."));

        // Cancelling the file chooser shows nothing.
        page_->SaveAll();
        QCOMPARE(dialogs_.messages.size(), std::size_t{3});
        QCOMPARE(page_->Model()->RowCount(), std::size_t{2});
    }

    void CancelledSaveKeepsWhatWasWrittenAndSaysNothing() {
        // Long enough for the progress dialog to appear.
        constexpr int kRows = 100000;
        std::vector<KeptVersion> batch;
        for (int i = 0; i < kRows; ++i) batch.push_back({i, u"version text"});
        page_->Model()->AppendVersions(std::move(batch));
        bool cancelled = false;
        OnNextModal([&](QWidget* modal) {
            auto* progress = qobject_cast<QProgressDialog*>(modal);
            if (!progress) {
                modal->close();
                return;
            }
            for (QPushButton* button : progress->findChildren<QPushButton*>()) button->click();
            cancelled = true;
        });
        folders_ = {dir_->path()};
        page_->SaveAllToDifferentFiles();
        QVERIFY(cancelled);
        QVERIFY(dialogs_.messages.empty());
        int files = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Dir())) ++files;
        QVERIFY(files > 0 && files < kRows);
        QVERIFY(fs::exists(Dir() / "result0000000.txt"));
        QVERIFY(!page_->IsSaving());
        QVERIFY(page_->CanSelectAll());
    }

    void ExitQuestionAnswers() {
        // An empty list asks nothing.
        QVERIFY(page_->OfferSaveOnExit());
        QVERIFY(dialogs_.messages.empty());
        QCOMPARE(dialogs_.fileQuestions, 0);

        Fill({u"kept"});
        dialogs_.answers = {kMbResultNo};
        QVERIFY(page_->OfferSaveOnExit());
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].text, QStringLiteral("Save generated results before exit?"));
        QCOMPARE(dialogs_.messages[0].flags, static_cast<unsigned>(kMbYesNoQuestion));
        QCOMPARE(dialogs_.fileQuestions, 0);

        dialogs_.answers = {kMbResultYes};  // then the file chooser is cancelled: stay open
        QVERIFY(!page_->OfferSaveOnExit());
        QCOMPARE(dialogs_.fileQuestions, 1);
        QCOMPARE(dialogs_.messages.size(), std::size_t{2});

        dialogs_.answers = {kMbResultYes};
        dialogs_.files = {InDir("on-exit")};
        QVERIFY(page_->OfferSaveOnExit());
        QCOMPARE(ReadFile(Dir() / "on-exit.txt"), std::string("kept\r\n\r\n"));
        QCOMPARE(dialogs_.messages.size(), std::size_t{4});
        QCOMPARE(dialogs_.messages[3].text, QStringLiteral("Results have been saved successfully."));
        int files = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Dir())) ++files;
        QCOMPARE(files, 1);
    }
};

QTEST_MAIN(ResultsPageTest)
#include "results_page_qtest.moc"
