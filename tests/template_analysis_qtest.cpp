// The Analyze command and the lint underlines as a user meets them: the panel
// with the exact count, the forecast and rows that select their text in the
// editor (also past the pieces of a long paragraph and below "#set" lines),
// Stop and closing during an analysis, a defective template reported as Check
// Syntax reports it, and the underlines that follow the findings.
#include "app/main_frame.h"
#include "chrome/message_box.h"
#include "insight/lint.h"
#include "time_bounds.h"
#include "views/analysis_panel.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTextBlock>
#include <QToolBar>
#include <QTreeWidget>

#include <ctime>
#include <memory>

namespace {

constexpr int kAnalysisMs = 30000 * kSanitizerSlowdown;  // a whole analysis
// Stop and close wait for the job's thread, which on a busy machine may wait
// a while for a core: "at once" is judged by the processor time the process
// spends until the job has ended, and the wall clock only guards against a
// job that never ends.
constexpr int kStopCpuMs = 1000 * kSanitizerSlowdown;
constexpr int kStopWallMs = 20000 * kSanitizerSlowdown;

int64_t ProcessCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

struct Shown {
    QString text;
    unsigned flags = 0;
};

// Editor positions count a line break once.
QString Flat(const std::u16string& editorText) {
    QString text = QString::fromStdU16String(editorText);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QString Selected(CColoredRichEditCtrl* editor) {
    QString text = editor->textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

QTreeWidgetItem* RowWithCode(CAnalysisPanel* panel, CLintUnderliner* lint, const std::string& code) {
    QTreeWidgetItem* section = panel->FindingsSection();
    for (int i = 0; i < section->childCount(); ++i) {
        if (lint->Findings()[static_cast<std::size_t>(i)].finding.code == code) return section->child(i);
    }
    return nullptr;
}

}  // namespace

class TemplateAnalysisTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> folder_;
    std::vector<Shown> shown_;

    std::unique_ptr<CMainFrame> MakeFrame() {
        FrameConfig config;
        config.settingsFile = folder_->filePath("settings.ini");
        config.templateLocation = CTemplateFileLocation::At(folder_->filePath("DefaultText.txt"));
        auto frame = std::make_unique<CMainFrame>(config);
        frame->show();
        return frame;
    }
    static void Click(CAnalysisPanel* panel, QTreeWidgetItem* item) {
        QTreeWidget* rows = panel->Rows();
        rows->scrollToItem(item);
        const QRect rect = rows->visualItemRect(item);
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, QPoint(rect.left() + 8, rect.center().y()));
    }

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        shown_.clear();
        SetMessageBoxHook([this](const QString& text, unsigned flags) {
            shown_.push_back({text, flags});
            return 1;
        });
    }
    void cleanup() { SetMessageBoxHook({}); }

    void panelShowsCountForecastAndSelectsText();
    void findingsSelectTextPastPiecesAndSetLines();
    void stopClosingAndDefects();
    void underlinesFollowTheFindings();
};

void TemplateAnalysisTest::panelShowsCountForecastAndSelectsText() {
    auto frame = MakeFrame();
    CColoredRichEditCtrl* editor = frame->DataPage()->Editor();
    // 10^24 * 3 versions: past 2^64, so only the exact count gets every digit.
    std::u16string text = u"Dear {reader|friend|customer},\r\n";
    for (int g = 0; g < 24; ++g) text += u"{a|b|c|d|e|f|g|h|i|j} ";
    text += u"\r\nthis closing line has more than twelve words in it and every version shares all of them";
    editor->SetText(text);
    QAction* analyze = frame->CommandAction(CMainFrame::kAnalyze);
    QCOMPARE(analyze->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    QVERIFY(frame->DataBar()->actions().contains(analyze));

    analyze->trigger();
    QVERIFY(frame->AnalysisDock()->isVisible());
    QVERIFY(frame->Progress()->isVisible());
    QVERIFY(frame->CommandAction(CMainFrame::kStop)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!frame->AnalysisJob().IsRunning(), kAnalysisMs);
    QVERIFY(shown_.empty());
    QVERIFY(!frame->Progress()->isVisible());
    CAnalysisPanel* panel = frame->AnalysisPanel();
    QString summary = panel->Summary()->text();
    summary.remove(QLocale().groupSeparator()).remove(QChar(0x200B));
    QVERIFY2(summary.contains("Versions: 3" + QString(24, u'0') + "\n"), qPrintable(summary));
    QVERIFY(summary.contains("random pairs: mean "));
    QVERIFY(summary.contains("run keeps: about "));
    QVERIFY(!panel->OutdatedNote()->isVisible());

    // The 25 groups are ranked; a row selects its group in the editor.
    QVERIFY(panel->VarietySection()->childCount() > 0);
    const QString flat = Flat(text);
    Click(panel, panel->VarietySection()->child(0));
    const QString group = Selected(editor);
    QVERIFY2(group.startsWith(u'{') && group.endsWith(u'}') && flat.contains(group), qPrintable(group));
    QVERIFY(panel->StretchesSection()->childCount() > 0);  // the longest first
    Click(panel, panel->StretchesSection()->child(0));
    QVERIFY(Selected(editor).contains("this closing line"));

    // After an edit before it the row still selects the same text, and the
    // numbers say they belong to an earlier text.
    QTextCursor start(editor->document());
    start.insertText("Hello ");
    Click(panel, panel->StretchesSection()->child(0));
    QVERIFY(Selected(editor).contains("this closing line"));
    QTRY_VERIFY(panel->OutdatedNote()->isVisible());
}

void TemplateAnalysisTest::findingsSelectTextPastPiecesAndSetLines() {
    auto frame = MakeFrame();
    CColoredRichEditCtrl* editor = frame->DataPage()->Editor();
    CLintUnderliner* lint = frame->DataPage()->Lint();
    std::u16string paragraph;
    while (paragraph.size() < 3 * kLongParagraph) paragraph += u"{a|b} %x% ";
    const std::u16string text = u"#set %x% = {c|d}\r\n#set %unused% = y\r\n" + paragraph + u"{lonely} {e|e}";
    editor->SetText(text);
    QVERIFY(editor->document()->blockCount() > 4);  // the paragraph is held in pieces

    // The batch mapping agrees with the editor's own one, at piece breaks too.
    std::vector<EditorRange> ranges;
    std::vector<int> starts;
    for (QTextBlock block = editor->document()->begin(); block.isValid(); block = block.next()) {
        if (!IsContinuation(block)) continue;
        const int at = editor->FromDocument(block.position());
        for (int p : {at - 1, at, at + 1}) ranges.push_back({p, p + 1});
        ranges.push_back({at - 1, at});
        ranges.push_back({at, at});
    }
    const std::vector<std::pair<int, int>> positions = editor->DocumentRanges(ranges);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        QCOMPARE(positions[i].first, editor->ToDocument(ranges[i].start, ranges[i].start > ranges[i].end));
        QCOMPARE(positions[i].second, editor->ToDocument(ranges[i].end, ranges[i].end > ranges[i].start));
    }

    frame->CommandAction(CMainFrame::kAnalyze)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!frame->AnalysisJob().IsRunning() && !lint->IsLinting(), kAnalysisMs);
    CAnalysisPanel* panel = frame->AnalysisPanel();
    QCOMPARE(panel->FindingsSection()->childCount(), static_cast<int>(lint->Findings().size()));
    const QString flat = Flat(text);
    const std::pair<std::string, QString> cases[] = {
        {"single-alternative", "{lonely}"}, {"duplicate-alternative", "e"}, {"unused-macro", "%unused%"}};
    for (const auto& [code, expected] : cases) {
        QTreeWidgetItem* row = RowWithCode(panel, lint, code);
        QVERIFY2(row, code.c_str());
        Click(panel, row);
        const CLintFinding& finding = lint->Findings()[static_cast<std::size_t>(panel->FindingsSection()->indexOfChild(row))].finding;
        const QTextCursor cursor = editor->textCursor();
        QCOMPARE(editor->FromDocument(cursor.selectionStart()), finding.selectionStart);
        QCOMPARE(editor->FromDocument(cursor.selectionEnd()), finding.selectionEnd);
        QCOMPARE(Selected(editor), flat.mid(finding.selectionStart, finding.selectionEnd - finding.selectionStart));
        QVERIFY2(Selected(editor).contains(expected), qPrintable(Selected(editor)));
    }
}

void TemplateAnalysisTest::stopClosingAndDefects() {
    auto frame = MakeFrame();
    CColoredRichEditCtrl* editor = frame->DataPage()->Editor();
    QAction* analyze = frame->CommandAction(CMainFrame::kAnalyze);
    QAction* stop = frame->CommandAction(CMainFrame::kStop);

    // A defect is shown as Check Syntax shows it: the message and the selection.
    editor->SetText(u"{a|b} {c|d");
    analyze->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(shown_.size(), std::size_t{1}, 20000);
    QVERIFY(shown_[0].flags & kMbIconExclamation);
    const QString analyzeMessage = shown_[0].text;
    const QTextCursor analyzeSelection = editor->textCursor();
    shown_.clear();
    frame->CommandAction(CMainFrame::kCheckSyntax)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(shown_.size(), std::size_t{1}, 20000);
    QCOMPARE(shown_[0].text, analyzeMessage);
    QCOMPARE(editor->textCursor().selectionStart(), analyzeSelection.selectionStart());
    QCOMPARE(editor->textCursor().selectionEnd(), analyzeSelection.selectionEnd());
    shown_.clear();

    // A template whose forecast takes a good while: Stop ends it at once.
    std::u16string text;
    while (text.size() < 400'000) text += u"{alpha beta|gamma delta|epsilon zeta} word word ";
    editor->SetText(text);
    analyze->trigger();
    QVERIFY(frame->AnalysisJob().IsRunning());
    QVERIFY(!frame->CommandAction(CMainFrame::kGenerate)->isEnabled());
    QTest::qWait(100);
    QElapsedTimer clock;
    clock.start();
    int64_t cpuBefore = ProcessCpuMs();
    stop->trigger();
    QVERIFY2(ProcessCpuMs() - cpuBefore < kStopCpuMs, qPrintable(QString::number(ProcessCpuMs() - cpuBefore)));
    QVERIFY(clock.elapsed() < kStopWallMs);
    QVERIFY(!frame->AnalysisJob().IsRunning());
    QVERIFY(frame->AnalysisPanel()->Summary()->text().contains("stopped"));
    QTest::qWait(100);
    QVERIFY(frame->AnalysisPanel()->Summary()->text().contains("stopped"));
    frame->UpdateCommands();
    QVERIFY(!stop->isEnabled());
    QVERIFY(analyze->isEnabled());
    QVERIFY(frame->CommandAction(CMainFrame::kGenerate)->isEnabled());

    // Closing the window during an analysis stops and joins it.
    analyze->trigger();
    QTest::qWait(100);
    QVERIFY(frame->AnalysisJob().IsRunning());
    clock.restart();
    cpuBefore = ProcessCpuMs();
    frame->close();
    frame.reset();
    QVERIFY2(ProcessCpuMs() - cpuBefore < 2 * kStopCpuMs, qPrintable(QString::number(ProcessCpuMs() - cpuBefore)));
    QVERIFY(clock.elapsed() < kStopWallMs);
    QVERIFY(shown_.empty());
}

void TemplateAnalysisTest::underlinesFollowTheFindings() {
    auto frame = MakeFrame();
    CColoredRichEditCtrl* editor = frame->DataPage()->Editor();
    CLintUnderliner* lint = frame->DataPage()->Lint();
    frame->AnalysisDock()->show();
    editor->SetText(u"Hello {world}, {a|b} and {c|d}.");
    QTRY_COMPARE_WITH_TIMEOUT(editor->extraSelections().size(), 1, 5000);
    const QTextEdit::ExtraSelection underline = editor->extraSelections()[0];
    QCOMPARE(underline.cursor.selectedText(), QString("{world}"));
    QCOMPARE(underline.format.underlineStyle(), QTextCharFormat::WaveUnderline);
    QVERIFY(!underline.format.hasProperty(QTextFormat::ForegroundBrush));
    QCOMPARE(lint->Findings().size(), std::size_t{1});
    const CShownFinding* at = lint->FindingAt(8);
    QVERIFY(at && at->finding.code == "single-alternative" && !at->finding.message.empty());
    QVERIFY(!lint->FindingAt(16));
    QCOMPARE(frame->AnalysisPanel()->FindingsSection()->childCount(), 1);

    // Typing moves the underline with its text until the next lint.
    QTextCursor start(editor->document());
    start.insertText("Oh. ");
    QCOMPARE(editor->extraSelections()[0].cursor.selectedText(), QString("{world}"));
    QCOMPARE(lint->Selecting(lint->Findings()[0]).selectedText(), QString("{world}"));
    start.setPosition(11);
    start.setPosition(14, QTextCursor::KeepAnchor);
    start.insertText("W");  // "wor" in "{world}": an edit inside the finding
    QCOMPARE(lint->Selecting(lint->Findings()[0]).selectedText(), QString("{Wld}"));

    // A clean template has none, and an incorrect one none either.
    editor->SetText(u"Hello {world|there}, {a|b} and {c|d}.");
    QTRY_VERIFY_WITH_TIMEOUT(editor->extraSelections().isEmpty(), 5000);
    QVERIFY(lint->Findings().empty());
    QCOMPARE(frame->AnalysisPanel()->FindingsSection()->childCount(), 0);
    editor->SetText(u"Hello {world}, {a|b");
    QTest::qWait(3 * CLintUnderliner::kPauseMilliseconds);
    QTRY_VERIFY(!lint->IsLinting());
    QVERIFY(editor->extraSelections().isEmpty());
}

QTEST_MAIN(TemplateAnalysisTest)
#include "template_analysis_qtest.moc"
