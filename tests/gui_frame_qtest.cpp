// The main window as a user drives it: the command enable rules, the template
// check's selections and messages, whole generations from the editor to the
// list, Stop and closing while a run is under way, the result-set jobs, the
// status bar, and the settings that the window keeps.
#include "app/load_error_source.h"
#include "app/main_frame.h"
#include "views/options_panel.h"
#include "chrome/message_box.h"
#include "views/output_data_page.h"
#include "views/results_model.h"
#include "time_bounds.h"
#include "views/saving.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>

#include <QScopeGuard>

#include <deque>
#include <memory>

namespace {

struct Shown {
    QString text;
    unsigned flags = 0;
};

// 10^groups versions in series order.
std::u16string LargeTemplate(int groups) {
    std::u16string text;
    for (int g = 0; g < groups; ++g) text += u"{a|b|c|d|e|f|g|h|i|j}";
    return text;
}

std::u16string Row(CResultsModel* model, std::size_t row) {
    return std::u16string(model->RowText(row));
}

}  // namespace

class GuiFrameTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> folder_;
    std::vector<Shown> shown_;
    int answer_ = 7;

    std::unique_ptr<CMainFrame> MakeFrame() {
        FrameConfig config;
        config.settingsFile = folder_->filePath("settings.ini");
        config.templateLocation = CTemplateFileLocation::At(folder_->filePath("DefaultText.txt"));
        return std::make_unique<CMainFrame>(config);
    }
    // The run's end reaches the commands through the window's event queue, a
    // little after the run itself is idle: a command triggered before then
    // is still disabled and does nothing.
    static void WaitIdle(CMainFrame& frame) {
        QTRY_VERIFY_WITH_TIMEOUT(frame.CanStartJob() && frame.CommandAction(CMainFrame::kGenerate)->isEnabled(), 30000);
        QApplication::processEvents();
    }
    static void UseSeriesWithoutCorrection(CMainFrame& frame) {
        COptionsDialogP1* panel = frame.DataPage()->Options();
        panel->GenerationTypeBox()->setCurrentIndex(0);
        panel->AutoCorrectionBox()->setChecked(false);
        panel->SkipSimilarBox()->setChecked(false);
        panel->VersionsCountBox()->setEditText("Max");
    }

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        shown_.clear();
        answer_ = 7;
        SetMessageBoxHook([this](const QString& text, unsigned flags) {
            shown_.push_back({text, flags});
            return (flags & kMbYesNo) ? answer_ : 1;
        });
    }
    void cleanup() { SetMessageBoxHook({}); }

    void commandEnableRules();
    void checkSelectionsAndMessages();
    void generationFromEditorToList();
    void lengthRangeAndLoadFailure();
    void loadErrorSources();
    void stopDuringRun();
    void closingDuringRun();
    void largeTemplateCheckedOffTheWindowThread();
    void exitSaveFailureKeepsWindow();
    void resultSetJobs();
    void toolbarClickAfterPageSwitch();
    void statusBarAndPositions();
    void settingsSurviveARestart();
    void helpFileChoice();
    void applicationNames();
};

void GuiFrameTest::commandEnableRules() {
    auto frame = MakeFrame();
    auto enabled = [&](int id) { return frame->CommandAction(id)->isEnabled(); };
    QCOMPARE(frame->DataPage()->Editor()->TextLength(), 0);
    frame->UpdateCommands();
    QVERIFY(!enabled(CMainFrame::kSave));
    QVERIFY(enabled(CMainFrame::kCheckSyntax));
    QVERIFY(enabled(CMainFrame::kGenerate));
    QVERIFY(!enabled(CMainFrame::kStop));
    QVERIFY(enabled(CMainFrame::kAbout));
    QVERIFY(enabled(CMainFrame::kHelp));
    QCOMPARE(frame->CommandAction(CMainFrame::kHelp)->shortcut(), QKeySequence(Qt::Key_F1));

    frame->DataPage()->Editor()->SetText(u"x");
    QVERIFY(enabled(CMainFrame::kSave));
    frame->DataPage()->Editor()->SetText(u"");
    frame->Pages()->setCurrentIndex(CMainFrame::kResultsPage);
    QVERIFY(enabled(CMainFrame::kSave));  // the Results page's Save is its menu
    QVERIFY(frame->ResultsBar()->isVisibleTo(frame.get()));
    QVERIFY(!frame->DataBar()->isVisibleTo(frame.get()));
    QCOMPARE(frame->CommandAction(CMainFrame::kSave)->text(), QString("Save        "));
    QCOMPARE(frame->CommandAction(CMainFrame::kGenerate)->text(), QString("Generate!  "));
    QCOMPARE(frame->CommandAction(CMainFrame::kDeleteIdentical)->text(), QString("Delete Identical"));

    frame->Pages()->setCurrentIndex(CMainFrame::kDataPage);
    frame->DataPage()->Editor()->SetText(LargeTemplate(8));
    UseSeriesWithoutCorrection(*frame);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    QVERIFY(frame->Run().IsRunning());
    frame->UpdateCommands();
    QVERIFY(!enabled(CMainFrame::kGenerate));
    QVERIFY(!enabled(CMainFrame::kDeleteIdentical));
    QVERIFY(!enabled(CMainFrame::kShuffle));
    QVERIFY(enabled(CMainFrame::kStop));
    QVERIFY(enabled(CMainFrame::kSave));
    QVERIFY(enabled(CMainFrame::kCheckSyntax));
    // A second Generate! while running starts nothing and says nothing.
    frame->OnGenerate();
    QVERIFY(shown_.empty());
    frame->CommandAction(CMainFrame::kStop)->trigger();
    WaitIdle(*frame);
    frame->UpdateCommands();
    QVERIFY(!enabled(CMainFrame::kStop));
    QVERIFY(enabled(CMainFrame::kGenerate));
    QVERIFY(enabled(CMainFrame::kShuffle));
}

void GuiFrameTest::checkSelectionsAndMessages() {
    auto frame = MakeFrame();
    CColoredRichEditCtrl* editor = frame->DataPage()->Editor();
    frame->CommandAction(CMainFrame::kCheckSyntax)->trigger();
    QCOMPARE(shown_.size(), std::size_t{1});
    QCOMPARE(shown_[0].text, QString("Syntax is correct.         "));
    QCOMPARE(shown_[0].flags, unsigned{kMbIconInformation});

    editor->SetText(u"{a|b}\r\nc\r\nd}e");
    frame->CommandAction(CMainFrame::kCheckSyntax)->trigger();
    QCOMPARE(shown_.back().text, QString("Extra bracket } at position 10"));
    QCOMPARE(shown_.back().flags, unsigned{kMbIconExclamation});
    QCOMPARE(editor->textCursor().selectionStart(), 9);
    QCOMPARE(editor->textCursor().selectedText(), QString("}"));

    editor->SetText(u"x\r\n#set y\r\nz");
    frame->CommandAction(CMainFrame::kCheckSyntax)->trigger();
    QVERIFY(shown_.back().text.startsWith("Incorrect variable definition at position 2.\r\n"));
    QCOMPARE(editor->textCursor().selectedText(), QString("#set"));

    editor->SetText(u"#set %v% = {a\r\n%v%");
    frame->CommandAction(CMainFrame::kCheckSyntax)->trigger();
    QCOMPARE(shown_.back().text, QString(" Unclosed bracket { at position 12 in macro definition."));
    QCOMPARE(editor->textCursor().selectedText(), QString("{"));

    // Generate! checks quietly: a correct template says nothing, a defect is
    // reported the same way and nothing starts.
    const std::size_t before = shown_.size();
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    QCOMPARE(shown_.size(), before + 1);
    QVERIFY(!frame->Run().IsRunning());
    QCOMPARE(frame->Pages()->currentIndex(), int(CMainFrame::kDataPage));
    editor->SetText(u"{a|b}");
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    QCOMPARE(shown_.size(), before + 1);
}

void GuiFrameTest::generationFromEditorToList() {
    auto frame = MakeFrame();
    // Texts of both widths that the list keeps: Latin-1 and beyond.
    frame->DataPage()->Editor()->SetText(u"#set %x% = {x|y}\r\n{a|b\u00e9|c\u0416} %x%");
    UseSeriesWithoutCorrection(*frame);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    QCOMPARE(frame->Pages()->currentIndex(), int(CMainFrame::kResultsPage));
    WaitIdle(*frame);
    CResultsModel* model = frame->ResultsPage()->Model();
    QCOMPARE(model->RowCount(), std::size_t{6});
    for (std::size_t i = 0; i < 6; ++i) QCOMPARE(model->RowNumber(i), int64_t(i + 1));
    QVERIFY(!frame->Generation().randomOrder);
    QVERIFY(!frame->Generation().autoCorrection);
    std::vector<std::u16string> texts;
    for (std::size_t i = 0; i < 6; ++i) texts.push_back(Row(model, i));
    std::sort(texts.begin(), texts.end());
    QCOMPARE(texts, (std::vector<std::u16string>{u"a x", u"a y", u"b\u00e9 x", u"b\u00e9 y", u"c\u0416 x", u"c\u0416 y"}));
    frame->RefreshStatus();
    QCOMPARE(frame->StatusPane(1)->text(), QString("Max possible versions:   6"));
    QCOMPARE(frame->StatusPane(2)->text(), QString("Generated versions:   6"));
    QCOMPARE(frame->StatusPane(3)->text(), QString());
    QVERIFY(frame->Progress()->isHidden());
    QVERIFY(shown_.empty());

    // Characters beyond the BMP, and a lone surrogate, which the list keeps as it is.
    std::u16string lone = u"{e?|f}";
    lone[2] = 0xDC00;
    for (const std::u16string& text : {std::u16string(u"{d\U0001F600|f}"), lone}) {
        frame->Pages()->setCurrentIndex(CMainFrame::kDataPage);
        frame->DataPage()->Editor()->SetText(text);
        frame->CommandAction(CMainFrame::kGenerate)->trigger();
        WaitIdle(*frame);
        texts.clear();
        for (std::size_t i = 0; i < model->RowCount(); ++i) {
            texts.push_back(Row(model, i));
            QCOMPARE(model->data(model->index(int(i), CResultsModel::kLengthColumn)).toString(),
                     QString::number(texts.back().size()));
        }
        std::sort(texts.begin(), texts.end());
        QCOMPARE(texts, (std::vector<std::u16string>{text.substr(1, text.size() - 4), u"f"}));
    }

    // Auto-correction, a count and a length range from the panel.
    frame->Pages()->setCurrentIndex(CMainFrame::kDataPage);
    frame->DataPage()->Editor()->SetText(u"{hello|hi|hey}  ,world{|.}");
    COptionsDialogP1* panel = frame->DataPage()->Options();
    panel->AutoCorrectionBox()->setChecked(true);
    panel->LengthLimitBox()->setChecked(true);
    panel->MinLengthBox()->setEditText("10");
    panel->MaxLengthBox()->setEditText("12");
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    texts.clear();
    for (std::size_t i = 0; i < model->RowCount(); ++i) texts.push_back(Row(model, i));
    std::sort(texts.begin(), texts.end());
    QCOMPARE(texts, (std::vector<std::u16string>{u"Hello, world", u"Hey, world", u"Hey, world.", u"Hi, world."}));
    QCOMPARE(frame->Run().AttemptCount(), int64_t{6});

    panel->VersionsCountBox()->setEditText("2");
    panel->LengthLimitBox()->setChecked(false);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    QCOMPARE(model->RowCount(), std::size_t{2});
    QCOMPARE(frame->Run().AttemptCount(), int64_t{2});
}

void GuiFrameTest::lengthRangeAndLoadFailure() {
    auto frame = MakeFrame();
    frame->DataPage()->Editor()->SetText(u"{a|b}");
    UseSeriesWithoutCorrection(*frame);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    QCOMPARE(frame->ResultsPage()->Model()->RowCount(), std::size_t{2});

    // The range is compared even while it is switched off.
    frame->Pages()->setCurrentIndex(CMainFrame::kDataPage);
    COptionsDialogP1* panel = frame->DataPage()->Options();
    panel->LengthLimitBox()->setChecked(false);
    panel->MinLengthBox()->setEditText("100");
    panel->MaxLengthBox()->setEditText("50");
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    QCOMPARE(shown_.size(), std::size_t{1});
    QCOMPARE(shown_[0].text, QString("Min string length restriction more than max."));
    QCOMPARE(shown_[0].flags, unsigned{kMbIconExclamation});
    QVERIFY(!frame->Run().IsRunning());
    QCOMPARE(frame->Pages()->currentIndex(), int(CMainFrame::kDataPage));

    // The check sees the text before macro substitution, the engine after it:
    // the load's defect is reported and the previous results stay.
    panel->MaxLengthBox()->setEditText("Unlimited");
    frame->DataPage()->Editor()->SetText(u"#set %s% = x>\r\n[a%s%|b]");
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    QCOMPARE(shown_.size(), std::size_t{2});
    // Reported where the user wrote it: the macro use, the definition selected.
    QCOMPARE(shown_[1].text, QString("Incorrect syntax for <> brackets at position 17 in the value of %s%."));
    QCOMPARE(shown_[1].flags, unsigned{kMbIconExclamation});
    QCOMPARE(frame->ResultsPage()->Model()->RowCount(), std::size_t{2});
    QCOMPARE(frame->Pages()->currentIndex(), int(CMainFrame::kDataPage));
    QCOMPARE(frame->DataPage()->Editor()->textCursor().selectedText(), QString("#set %s% = x>"));
}

void GuiFrameTest::loadErrorSources() {
    struct Case {
        const char16_t* editor;
        int64_t expandedIndex;
        bool found;
        int position;
        const char16_t* macro;
        int definitionStart, definitionEnd;
    };
    // "q [%b%] z" after %a%, "q [x] z" after %b%: values count as the outer use.
    const char16_t* nested = u"#set %a% = [%b%]\r\n#set %b% = x\r\nq %a% z";
    const Case cases[] = {
        {nested, 3, true, 32, u"%a%", 0, 16},
        {nested, 2, true, 32, u"%a%", 0, 16},
        {nested, 0, true, 30, u"", -1, -1},
        {nested, 6, true, 36, u"", -1, -1},
        {nested, 7, false, -1, u"", -1, -1},
        {u"%x%x%x%\r\n  #set %x% = 1\r\n", 1, true, 3, u"", -1, -1},
        {u"%x%x%x%\r\n  #set %x% = 1\r\n", 2, true, 4, u"%x%", 10, 22},
        {u"a\r\nb\r\n#set %v% = {1|2}\r\nc%v%", 6, true, 21, u"", -1, -1},
        {u"a\r\nb\r\n#set %v% = {1|2}\r\nc%v%", 8, true, 22, u"%v%", 4, 20},
        {u"#set bad\r\n", 0, false, -1, u"", -1, -1},
    };
    for (const Case& c : cases) {
        const LoadErrorSource source = FindLoadErrorSource(c.editor, c.expandedIndex);
        const QString what = QString::fromUtf16(c.editor) + " @" + QString::number(c.expandedIndex);
        QVERIFY2(source.found == c.found, qPrintable(what));
        if (!c.found) continue;
        QVERIFY2(source.editorPosition == c.position, qPrintable(what + " -> " + QString::number(source.editorPosition)));
        QCOMPARE(source.macroName, std::u16string(c.macro));
        QCOMPARE(source.definitionStart, c.definitionStart);
        QCOMPARE(source.definitionEnd, c.definitionEnd);
    }
}

void GuiFrameTest::stopDuringRun() {
    auto frame = MakeFrame();
    frame->show();
    frame->DataPage()->Editor()->SetText(LargeTemplate(9));
    UseSeriesWithoutCorrection(*frame);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    CResultsModel* model = frame->ResultsPage()->Model();
    QTRY_VERIFY_WITH_TIMEOUT(model->RowCount() > 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(frame->Progress()->isVisible(), 5000);
    QCOMPARE(frame->StatusPane(3)->text(), QString("Generating..."));
    frame->CommandAction(CMainFrame::kStop)->trigger();
    QVERIFY(!frame->Run().IsRunning());
    QVERIFY(frame->Progress()->isHidden());
    WaitIdle(*frame);
    const std::size_t rows = model->RowCount();
    QVERIFY(rows > 0);
    QVERIFY(rows < 1000000000);
    QCOMPARE(static_cast<int64_t>(rows), frame->Run().KeptCount());
    QCOMPARE(Row(model, 0), std::u16string(u"aaaaaaaaa"));
    frame->RefreshStatus();
    QCOMPARE(frame->StatusPane(3)->text(), QString());
    QVERIFY(frame->StatusPane(2)->text().startsWith("Generated versions:   "));
    QVERIFY(frame->StatusPane(2)->text().size() > QString("Generated versions:   ").size());
    QCOMPARE(frame->StatusPane(1)->text(), QString("Max possible versions:   1 000 000 000"));
    QVERIFY(shown_.empty());
}

void GuiFrameTest::closingDuringRun() {
    {
        auto frame = MakeFrame();
        frame->show();
        frame->DataPage()->Editor()->SetText(u"  " + LargeTemplate(9) + u"\r\n");
        UseSeriesWithoutCorrection(*frame);
        frame->CommandAction(CMainFrame::kGenerate)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(frame->ResultsPage()->Model()->RowCount() > 0, 20000);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(frame->close());
        QVERIFY(clock.elapsed() < 5000 * kSanitizerSlowdown);
        QVERIFY(!frame->Run().IsRunning());
        // The run was stopped first, then the question came.
        QCOMPARE(shown_.size(), std::size_t{1});
        QCOMPARE(shown_[0].text, QString("Save generated results before exit?"));
        QCOMPARE(shown_[0].flags, unsigned{kMbYesNoQuestion});
    }
    QFile saved(folder_->filePath("DefaultText.txt"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray::fromStdString(std::string(9, ' ')).replace(' ', "{a|b|c|d|e|f|g|h|i|j}"));
    CSettingsStore store(folder_->filePath("settings.ini"));
    QCOMPARE(store.ReadBinary(kMainValue).size(), 16);
    QCOMPARE(store.ReadBinary(kDeletingValue).size(), 12);
    QCOMPARE(store.ReadBinary(kCorrectionValue).size(), 8);

    // Destroying the window while a worker runs, without closing it first.
    shown_.clear();
    auto frame = MakeFrame();
    frame->DataPage()->Editor()->SetText(LargeTemplate(9));
    UseSeriesWithoutCorrection(*frame);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(frame->ResultsPage()->Model()->RowCount() > 0, 20000);
    frame.reset();
    QVERIFY(shown_.empty());
}

// A template past the background size is checked on a thread of its own:
// an error found there is selected as usual, Stop ends the check and nothing
// starts, closing does not wait for the check, and an undisturbed check goes
// on into the run.
void GuiFrameTest::largeTemplateCheckedOffTheWindowThread() {
    std::u16string text;
    while (text.size() < CTemplateCheckJob::kBackgroundLength) text += u"{a|b} ";
    auto frame = MakeFrame();
    frame->show();
    CColoredRichEditCtrl* editor = frame->DataPage()->Editor();
    editor->SetText(text + u"}");
    UseSeriesWithoutCorrection(*frame);
    const auto enabled = [&](int id) { return frame->CommandAction(id)->isEnabled(); };

    frame->CommandAction(CMainFrame::kCheckSyntax)->trigger();
    QVERIFY(shown_.empty());
    QTRY_COMPARE_WITH_TIMEOUT(shown_.size(), std::size_t{1}, 20000);
    QVERIFY(shown_[0].text.startsWith("Extra bracket } at position "));
    QCOMPARE(editor->textCursor().selectedText(), QString("}"));
    shown_.clear();

    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    QVERIFY(!frame->Run().IsWorkerActive());
    QVERIFY(enabled(CMainFrame::kStop));
    QVERIFY(!enabled(CMainFrame::kGenerate));
    frame->CommandAction(CMainFrame::kStop)->trigger();
    QTest::qWait(200);
    frame->UpdateCommands();
    QVERIFY(enabled(CMainFrame::kGenerate));
    QVERIFY(!enabled(CMainFrame::kStop));
    QVERIFY(shown_.empty());

    QTextCursor end(editor->document());
    end.movePosition(QTextCursor::End);
    end.deletePreviousChar();
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    QVERIFY(!frame->Run().IsWorkerActive());
    QTRY_VERIFY_WITH_TIMEOUT(frame->ResultsPage()->Model()->RowCount() > 0, 20000);
    frame->CommandAction(CMainFrame::kStop)->trigger();
    WaitIdle(*frame);
    QVERIFY(shown_.empty());

    frame->CommandAction(CMainFrame::kCheckSyntax)->trigger();
    QElapsedTimer clock;
    clock.start();
    frame.reset();
    QVERIFY(clock.elapsed() < 2000 * kSanitizerSlowdown);
    QVERIFY(shown_.empty());
}

void GuiFrameTest::exitSaveFailureKeepsWindow() {
    auto frame = MakeFrame();
    frame->show();
    frame->DataPage()->Editor()->SetText(u"{a|b}");
    UseSeriesWithoutCorrection(*frame);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    CResultsModel* model = frame->ResultsPage()->Model();
    QCOMPARE(model->RowCount(), std::size_t{2});
    const QString templateFile = folder_->filePath("DefaultText.txt");
    std::deque<QString> files;
    SetResultFileChooser([&files](QWidget*) {
        if (files.empty()) return QString();
        QString file = files.front();
        files.pop_front();
        return file;
    });
    const auto restoreChooser = qScopeGuard([] { SetResultFileChooser({}); });

    struct Case {
        const char* what;
        int answer;
        QString file;  // empty: the file dialog is cancelled
        bool closes;
    };
    const Case cases[] = {
        {"file dialog cancelled", kMbResultYes, QString(), false},
        {"file cannot be written", kMbResultYes, folder_->filePath("missing/folder/out.txt"), false},
        {"question dismissed", kMbResultCancel, QString(), false},
        {"saved", kMbResultYes, folder_->filePath("out.txt"), true},
    };
    for (const Case& c : cases) {
        shown_.clear();
        answer_ = c.answer;
        files.clear();
        if (!c.file.isEmpty()) files.push_back(c.file);
        QCOMPARE(frame->close(), c.closes);
        QVERIFY2(frame->isVisible() != c.closes, c.what);
        QCOMPARE(shown_.front().text, QString("Save generated results before exit?"));
        QCOMPARE(model->RowCount(), std::size_t{2});
        if (c.closes) break;
        QVERIFY2(!QFile::exists(templateFile), c.what);
        // The window that stayed open still runs jobs.
        frame->Pages()->setCurrentIndex(CMainFrame::kDataPage);
        frame->CommandAction(CMainFrame::kGenerate)->trigger();
        WaitIdle(*frame);
        QCOMPARE(model->RowCount(), std::size_t{2});
    }
    QCOMPARE(shown_.back().text, QString("Results have been saved successfully."));
    QVERIFY(QFile::exists(folder_->filePath("out.txt")));
    QVERIFY(QFile::exists(templateFile));
}

void GuiFrameTest::resultSetJobs() {
    auto frame = MakeFrame();
    frame->DataPage()->Editor()->SetText(u"{a|b|a|c|b}");
    UseSeriesWithoutCorrection(*frame);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    CResultsModel* model = frame->ResultsPage()->Model();
    QCOMPARE(model->RowCount(), std::size_t{5});

    // Cancel in delete mode starts nothing.
    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("Delete"));
        dialog->findChildren<QPushButton*>().last()->click();
    });
    frame->CommandAction(CMainFrame::kDeleteIdentical)->trigger();
    WaitIdle(*frame);
    QCOMPARE(model->RowCount(), std::size_t{5});
    QVERIFY(shown_.empty());

    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text() == "Delete") button->click();
    });
    frame->CommandAction(CMainFrame::kDeleteIdentical)->trigger();
    WaitIdle(*frame);
    QCOMPARE(model->RowCount(), std::size_t{3});
    QCOMPARE(model->RowNumber(2), int64_t{4});  // numbers keep their gaps
    QCOMPARE(shown_.size(), std::size_t{1});
    QCOMPARE(shown_[0].text, QString("All strings has been processed. 2 strings has been deleted."));
    QCOMPARE(shown_[0].flags, unsigned{kMbIconInformation});
    QVERIFY(frame->Run().IsResultSetIdle());

    frame->CommandAction(CMainFrame::kShuffle)->trigger();
    WaitIdle(*frame);
    QCOMPARE(model->RowCount(), std::size_t{3});
    std::vector<std::u16string> texts{Row(model, 0), Row(model, 1), Row(model, 2)};
    std::sort(texts.begin(), texts.end());
    QCOMPARE(texts, (std::vector<std::u16string>{u"a", u"b", u"c"}));
    QCOMPARE(shown_.size(), std::size_t{2});

    // Ctrl+C that reaches the window itself copies the selected version.
    QApplication::clipboard()->clear();
    frame->ResultsPage()->List()->selectRow(1);
    QTest::keyClick(frame.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString::fromStdU16String(Row(model, 1)) + "\r\n\r\n");

    // Both jobs do nothing on an empty list.
    frame->Pages()->setCurrentIndex(CMainFrame::kDataPage);
    frame->DataPage()->Editor()->SetText(u"a");
    frame->DataPage()->Options()->LengthLimitBox()->setChecked(true);
    frame->DataPage()->Options()->MinLengthBox()->setEditText("5");
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    QCOMPARE(model->RowCount(), std::size_t{0});
    frame->CommandAction(CMainFrame::kShuffle)->trigger();
    frame->CommandAction(CMainFrame::kDeleteIdentical)->trigger();
    QVERIFY(!frame->Run().IsRunning());
    QCOMPARE(shown_.size(), std::size_t{2});
}

void GuiFrameTest::toolbarClickAfterPageSwitch() {
    auto frame = MakeFrame();
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    frame->DataPage()->Editor()->SetText(u"{a|b|c|d|e|f|g|h}");
    UseSeriesWithoutCorrection(*frame);
    const int interval = QApplication::doubleClickInterval();
    const auto restore = qScopeGuard([interval] { QApplication::setDoubleClickInterval(interval); });
    QApplication::setDoubleClickInterval(60000);  // however slow the machine, the click is "soon"

    QTest::mouseClick(frame->DataBar()->widgetForAction(frame->CommandAction(CMainFrame::kGenerate)), Qt::LeftButton);
    QCOMPARE(frame->Pages()->currentIndex(), int(CMainFrame::kResultsPage));
    WaitIdle(*frame);
    CResultsModel* model = frame->ResultsPage()->Model();
    QCOMPARE(model->RowCount(), std::size_t{8});
    QWidget* shuffle = frame->ResultsBar()->widgetForAction(frame->CommandAction(CMainFrame::kShuffle));
    QTest::mouseClick(shuffle, Qt::LeftButton);
    WaitIdle(*frame);
    QVERIFY(shown_.empty());
    for (std::size_t i = 0; i < 8; ++i) QCOMPARE(Row(model, i), std::u16string(1, char16_t(u'a' + i)));

    QApplication::setDoubleClickInterval(0);
    QTest::mouseClick(shuffle, Qt::LeftButton);
    WaitIdle(*frame);
    QCOMPARE(shown_.size(), std::size_t{1});  // the shuffle's report
}

void GuiFrameTest::statusBarAndPositions() {
    auto frame = MakeFrame();
    frame->resize(1000, 600);
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    const int w = frame->statusBar()->width();
    // The proportions are the least each pane gets.
    QVERIFY(frame->StatusPane(0)->width() >= w / 10);
    QVERIFY(frame->StatusPane(1)->width() >= w / 4);
    QVERIFY(frame->StatusPane(2)->width() >= w / 4);
    QVERIFY(frame->StatusPane(3)->width() >= w / 10);
    QVERIFY(frame->Progress()->x() >= static_cast<int>(0.7 * w + 40));
    QCOMPARE(frame->Progress()->x() + frame->Progress()->width(), static_cast<int>(0.7 * w + 40) + static_cast<int>(0.3 * w - 60));

    CColoredRichEditCtrl* editor = frame->DataPage()->Editor();
    QCOMPARE(frame->StatusPane(0)->text(), QString("Position: 0"));
    editor->SetText(u"ab\r\ncd");
    editor->SelectRange(4, 4);
    QCOMPARE(frame->StatusPane(0)->text(), QString("Position: 4"));
    QCOMPARE(frame->StatusPane(1)->text(), QString());
    frame->Pages()->setCurrentIndex(CMainFrame::kResultsPage);
    QCOMPARE(frame->StatusPane(0)->text(), QString());
    QCOMPARE(frame->StatusPane(1)->text(), QString("Max possible versions:   "));
    QCOMPARE(frame->StatusPane(2)->text(), QString("Generated versions:   "));

    // Long values are shown whole, never cut.
    auto whole = [&](int pane) {
        const QLabel* label = frame->StatusPane(pane);
        return label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width();
    };
    frame->Pages()->setCurrentIndex(CMainFrame::kDataPage);
    emit editor->PositionChanged(986825);
    QCOMPARE(frame->StatusPane(0)->text(), QString("Position: 986825"));
    QVERIFY(whole(0));
    frame->DataPage()->Editor()->SetText(LargeTemplate(5) + u"{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}");
    UseSeriesWithoutCorrection(*frame);
    COptionsDialogP1* panel = frame->DataPage()->Options();
    panel->VersionsCountBox()->setEditText("99999");
    panel->SkipSimilarBox()->setChecked(true);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    frame->RefreshStatus();
    QCOMPARE(frame->StatusPane(1)->text(), QString("Max possible versions:   25 600 000"));
    QCOMPARE(frame->StatusPane(2)->text(), QString("Generated versions:   99 999 / 99 999"));
    QVERIFY(whole(1));
    QVERIFY(whole(2));
    frame->Pages()->setCurrentIndex(CMainFrame::kDataPage);
    frame->DataPage()->Editor()->SetText(LargeTemplate(2) + u"{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}{a|b}");
    panel->VersionsCountBox()->setEditText("1");
    panel->SkipSimilarBox()->setChecked(false);
    frame->CommandAction(CMainFrame::kGenerate)->trigger();
    WaitIdle(*frame);
    frame->RefreshStatus();
    QCOMPARE(frame->StatusPane(1)->text(), QString("Max possible versions:   6 710 886 400"));
    QVERIFY(whole(1));
}

void GuiFrameTest::settingsSurviveARestart() {
    {
        auto frame = MakeFrame();
        frame->Deleting() = DeletingOptions{1, 5, 40};
        frame->Correction().removeExtraSpaces = 0;
        frame->ResultsPage()->Saving().versionsSeparator = u"<br>--<br>";
        COptionsDialogP1* panel = frame->DataPage()->Options();
        panel->LengthLimitBox()->setChecked(false);
        panel->SkipSimilarBox()->setChecked(true);
        panel->GenerationTypeBox()->setCurrentIndex(0);
        frame->close();
    }
    auto frame = MakeFrame();
    QCOMPARE(frame->Deleting(), (DeletingOptions{1, 5, 40}));
    QCOMPARE(frame->Correction().removeExtraSpaces, uint8_t{0});
    QCOMPARE(frame->ResultsPage()->Saving().versionsSeparator, std::u16string(u"<br>--<br>"));
    COptionsDialogP1* panel = frame->DataPage()->Options();
    QVERIFY(!panel->LengthLimitBox()->isChecked());
    QVERIFY(panel->SkipSimilarBox()->isChecked());
    QVERIFY(panel->AutoCorrectionBox()->isChecked());
    QCOMPARE(panel->GenerationTypeBox()->currentText(), QString("In Series"));
    // The versions count and the range start afresh.
    QCOMPARE(panel->VersionsCountBox()->currentText(), QString("Max"));
    QCOMPARE(panel->MaxLengthBox()->currentText(), QString("Unlimited"));
}

void GuiFrameTest::applicationNames() {
    ConfigureApplication();
    QCOMPARE(QCoreApplication::organizationName(), QString("Quillbrook"));
    QCOMPARE(QCoreApplication::applicationName(), QString("Phrasemill"));
    // A display name of its own would be appended to every window title.
    QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
}

void GuiFrameTest::helpFileChoice() {
    const QString folder = folder_->path();
    const QString html = QDir(folder).filePath("phrasemill-help.html");
    const QString chm = QDir(folder).filePath("phrasemill-help.chm");
    const QString russian = QDir(folder).filePath("phrasemill-help_ru.html");
    const auto create = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    };
    QCOMPARE(CMainFrame::HelpFileToOpen(folder, true, QString()), html);  // no .chm yet
    QVERIFY(create(chm));
    QCOMPARE(CMainFrame::HelpFileToOpen(folder, true, QString()), chm);
    QCOMPARE(CMainFrame::HelpFileToOpen(folder, false, QString()), html);
    // A language without pages of its own reads the English ones; with them,
    // its own, even where a viewer would show the (English) compiled help.
    QCOMPARE(CMainFrame::HelpFileToOpen(folder, true, "ru"), chm);
    QVERIFY(create(russian));
    QCOMPARE(CMainFrame::HelpFileToOpen(folder, true, "ru"), russian);
    QCOMPARE(CMainFrame::HelpFileToOpen(folder, false, "ru"), russian);
    QCOMPARE(CMainFrame::HelpFileToOpen(folder, true, QString()), chm);
}

QTEST_MAIN(GuiFrameTest)
#include "gui_frame_qtest.moc"
