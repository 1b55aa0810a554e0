// The result-set jobs and the exit save through the main window: Delete
// Identical (exact and shingles) leaving numbers with gaps, Stop during a
// delete scan, Shuffle keeping every text with its own length, and the exit
// question's answers with the window closing in every case.
#include "app/main_frame.h"
#include "app/option_dialogs.h"
#include "chrome/message_box.h"
#include "views/output_data_page.h"
#include "views/saving.h"
#include "scripted_dialogs.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

void AcceptNextDeleteDialog(int method) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, method] {
        auto* dialog = qobject_cast<CDeletingOptionsDlg*>(QApplication::activeModalWidget());
        if (!dialog) return;
        timer->stop();
        timer->deleteLater();
        (method == 0 ? dialog->ExactButton() : dialog->ShinglesButton())->setChecked(true);
        dialog->ConfirmButton()->click();
    });
    timer->start();
}

// Eight words of their own for every k, so different k share no shingle.
std::u16string Words(int k) {
    std::u16string text;
    for (char letter = 'a'; letter < 'i'; ++letter) {
        if (!text.empty()) text += u' ';
        text += u"w" + QString::number(k).toStdU16String() + static_cast<char16_t>(letter) + u"x";
    }
    return text;
}

}  // namespace

class ResultsJobsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<CMainFrame> frame_;
    CScriptedDialogs dialogs_;

    CResultsModel* Model() { return frame_->ResultsPage()->Model(); }

    void Fill(const std::vector<std::u16string>& texts) {
        std::vector<KeptVersion> batch;
        int64_t ordinal = 0;
        for (const auto& text : texts) batch.push_back({ordinal++, text});
        Model()->AppendVersions(std::move(batch));
    }

    std::vector<int64_t> Numbers() {
        std::vector<int64_t> numbers;
        for (std::size_t row = 0; row < Model()->RowCount(); ++row) numbers.push_back(Model()->RowNumber(row));
        return numbers;
    }

    bool JobDone() {
        return frame_->CanStartJob() && frame_->Run().IsResultSetIdle();
    }

    void DeleteIdentical(int method) {
        AcceptNextDeleteDialog(method);
        frame_->CommandAction(CMainFrame::kDeleteIdentical)->trigger();
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        dialogs_.Install();
        FrameConfig config;
        config.settingsFile = dir_->filePath("settings.ini");
        config.templateLocation = CTemplateFileLocation::At(dir_->filePath("DefaultText.txt"));
        frame_ = std::make_unique<CMainFrame>(config);
        frame_->show();
        frame_->Pages()->setCurrentIndex(CMainFrame::kResultsPage);
    }

    void cleanup() {
        if (frame_) {
            dialogs_.answers = {kMbResultNo};
            frame_->close();
        }
        frame_.reset();
        dialogs_.Uninstall();
    }

    void DeleteExactKeepsNumbersWithGaps() {
        Fill({u"A", u"B", u"A", u"C", u"B"});
        frame_->ResultsPage()->SelectAllVersions();
        DeleteIdentical(0);
        QTRY_VERIFY_WITH_TIMEOUT(JobDone() && !dialogs_.messages.empty(), 10000);
        QCOMPARE(Numbers(), (std::vector<int64_t>{1, 2, 4}));
        QVERIFY(Model()->RowText(2) == u"C");
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].text, QStringLiteral("All strings has been processed. 2 strings has been deleted."));
        QCOMPARE(dialogs_.messages[0].flags, static_cast<unsigned>(kMbIconInformation));
        // The text column's colours follow the new positions.
        QCOMPARE(Model()->data(Model()->index(2, 2), Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 255));
        QTRY_VERIFY(frame_->ResultsPage()->CanSelectAll());

        // Letter case matters to the exact method; nothing to delete says so.
        Model()->Clear();
        Fill({u"Cat", u"cat"});
        DeleteIdentical(0);
        QTRY_VERIFY_WITH_TIMEOUT(JobDone() && dialogs_.messages.size() == 2, 10000);
        QCOMPARE(Model()->RowCount(), std::size_t{2});
        QCOMPARE(dialogs_.messages[1].text, QStringLiteral("All strings has been processed. 0 strings has been deleted."));

        // One row: nothing changes and nothing is said.
        Model()->Clear();
        Fill({u"only"});
        DeleteIdentical(0);
        QTest::qWait(100);
        QTRY_VERIFY(JobDone());
        QCOMPARE(dialogs_.messages.size(), std::size_t{2});
        QCOMPARE(Model()->RowCount(), std::size_t{1});
        QVERIFY(frame_->ResultsPage()->CanSelectAll());
    }

    void DeleteShinglesKeepsNumbersWithGaps() {
        std::u16string nearCopy = Words(1);
        nearCopy.replace(nearCopy.size() - 4, 4, u"zzzz");  // the last word differs
        Fill({Words(1), Words(2), nearCopy, Words(3), Words(2), Words(4)});
        frame_->Deleting() = DeletingOptions{1, 3, 20};
        DeleteIdentical(1);
        QTRY_VERIFY_WITH_TIMEOUT(JobDone() && !dialogs_.messages.empty(), 10000);
        QCOMPARE(Numbers(), (std::vector<int64_t>{1, 2, 4, 6}));
        QVERIFY(Model()->RowText(3) == Words(4));
        QCOMPARE(dialogs_.messages[0].text, QStringLiteral("All strings has been processed. 2 strings has been deleted."));
    }

    void StopDuringDeleteScan() {
        // Row i holds text i / 2, so every odd row repeats the row before it:
        // wherever the Stop lands, the scanned rows hold repeats to delete and
        // the unscanned ones hold repeats to keep. The shingles scan is slow
        // enough to stop midway.
        constexpr int kRows = 200000;
        std::vector<std::u16string> texts;
        texts.reserve(kRows);
        for (int i = 0; i < kRows; ++i) texts.push_back(Words(i / 2) + u" " + Words(i / 2));
        Fill(texts);
        frame_->Deleting() = DeletingOptions{1, 4, 20};
        DeleteIdentical(1);
        QTRY_VERIFY_WITH_TIMEOUT(frame_->Run().WorkText() == u"Searching...", 10000);
        QTest::qWait(20);
        frame_->CommandAction(CMainFrame::kStop)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(JobDone() && !dialogs_.messages.empty(), 60000);

        const QRegularExpression pattern(QStringLiteral("^(\\d+) strings has been processed. (\\d+) strings has been deleted.$"));
        const QRegularExpressionMatch match = pattern.match(dialogs_.messages[0].text);
        QVERIFY2(match.hasMatch(), qPrintable(dialogs_.messages[0].text));
        const int processed = match.captured(1).toInt();
        const int deleted = match.captured(2).toInt();
        qInfo("scan stopped after %d of %d rows", processed, kRows);
        QVERIFY(processed < kRows);
        // Only the repeats among the scanned rows are gone.
        QCOMPARE(deleted, processed / 2);
        QCOMPARE(Model()->RowCount(), static_cast<std::size_t>(kRows - deleted));
        const auto firstUnscanned = static_cast<std::size_t>(processed - deleted);
        QCOMPARE(Model()->RowNumber(firstUnscanned), static_cast<int64_t>(processed + 1));
        QCOMPARE(Model()->RowNumber(Model()->RowCount() - 1), static_cast<int64_t>(kRows));
        QVERIFY(frame_->ResultsPage()->CanSelectAll());
    }

    void ShuffleKeepsEveryTextWithItsLength() {
        std::vector<std::u16string> texts;
        for (int i = 1; i <= 40; ++i) texts.push_back(std::u16string(static_cast<std::size_t>(i), u'x'));
        Fill(texts);
        frame_->ResultsPage()->List()->selectionModel()->select(
            Model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        frame_->CommandAction(CMainFrame::kShuffle)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(JobDone() && !dialogs_.messages.empty(), 10000);
        QCOMPARE(dialogs_.messages[0].text, QStringLiteral("All strings has been shuffled."));
        std::multiset<std::size_t> lengths;
        bool moved = false;
        for (int row = 0; row < 40; ++row) {
            QCOMPARE(Model()->data(Model()->index(row, 0)).toString(), QString::number(row + 1));
            const QString length = Model()->data(Model()->index(row, 1)).toString();
            const QString text = Model()->data(Model()->index(row, 2)).toString();
            QCOMPARE(length, QString::number(text.size()));
            lengths.insert(static_cast<std::size_t>(text.size()));
            moved = moved || text.size() != row + 1;
        }
        QCOMPARE(lengths.size(), std::size_t{40});
        QCOMPARE(std::set<std::size_t>(lengths.begin(), lengths.end()).size(), std::size_t{40});
        QVERIFY(moved);
        // Rows stay in place, and so does the selection.
        QCOMPARE(frame_->ResultsPage()->SelectedRows(), (std::vector<std::size_t>{3}));
    }

    void ExitQuestionClosesUnlessTheSaveIsCalledOff() {
        const auto closeWith = [this](std::deque<int> answers, std::deque<QString> files) {
            frame_->ResultsPage()->Model()->AppendVersions({{0, u"first"}, {1, u"second"}});
            dialogs_.answers = std::move(answers);
            dialogs_.files = std::move(files);
            frame_->close();
            QVERIFY(!frame_->isVisible());
            frame_.reset();
        };
        const auto reopen = [this] {
            FrameConfig config;
            config.settingsFile = dir_->filePath("settings.ini");
            config.templateLocation = CTemplateFileLocation::At(dir_->filePath("DefaultText.txt"));
            frame_ = std::make_unique<CMainFrame>(config);
            frame_->show();
        };

        closeWith({kMbResultNo}, {});
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].text, QStringLiteral("Save generated results before exit?"));
        QCOMPARE(dialogs_.fileQuestions, 0);

        reopen();
        // The file chooser is cancelled: the window stays, with its rows.
        frame_->ResultsPage()->Model()->AppendVersions({{0, u"first"}, {1, u"second"}});
        dialogs_.answers = {kMbResultYes};
        QVERIFY(!frame_->close());
        QVERIFY(frame_->isVisible());
        QCOMPARE(frame_->ResultsPage()->Model()->RowCount(), std::size_t{2});
        QCOMPARE(dialogs_.fileQuestions, 1);
        QCOMPARE(dialogs_.messages.size(), std::size_t{2});
        dialogs_.answers = {kMbResultNo};
        QVERIFY(frame_->close());
        frame_.reset();
        QCOMPARE(dialogs_.messages.size(), std::size_t{3});

        reopen();
        closeWith({kMbResultYes}, {dir_->filePath("at-exit")});
        QCOMPARE(dialogs_.fileQuestions, 2);
        std::ifstream in(fs::path(dir_->filePath("at-exit.txt").toStdString()), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        QCOMPARE(content.str(), std::string("first\r\n\r\nsecond\r\n\r\n"));
        QCOMPARE(dialogs_.messages.size(), std::size_t{5});
        QCOMPARE(dialogs_.messages[4].text, QStringLiteral("Results have been saved successfully."));
        int resultFiles = 0;
        for (const auto& entry : fs::directory_iterator(fs::path(dir_->path().toStdString())))
            resultFiles += entry.path().extension() == ".txt" && entry.path().filename() != "DefaultText.txt";
        QCOMPARE(resultFiles, 1);
    }
};

QTEST_MAIN(ResultsJobsTest)
#include "results_jobs_qtest.moc"
