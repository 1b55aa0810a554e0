// Event-loop latency while the Results page works on a big result set: Delete
// Identical (exact or shingles) and Shuffle on the worker, and the one-file
// and per-file saves. A 5 ms timer measures how late the event loop serves it;
// the probe reports the worst and 99th-percentile lateness, the time the
// command took, the resident memory before and after it and the peak.
//
//   QT_QPA_PLATFORM=offscreen phrasemill-results-probe delete-exact [rows]
//   ... delete-shingles | shuffle | save-one | save-files | model-ops
//
// Runs the real window (offscreen), with settings, template and result files
// in a temporary folder. Rows: half of them repeat an earlier row.
#include "app/main_frame.h"
#include "app/option_dialogs.h"
#include "latency_probe.h"
#include "chrome/message_box.h"
#include "views/output_data_page.h"
#include "views/results_model.h"
#include "views/saving.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

const char16_t* const kWords[] = {u"alpha", u"bravo", u"charlie", u"delta", u"echo", u"foxtrot", u"golf",
                                  u"hotel", u"india", u"juliet", u"kilo", u"lima", u"mike", u"november",
                                  u"oscar", u"papa"};

// A sentence of ten words picked by the hexadecimal digits of k.
std::u16string Sentence(uint64_t k) {
    std::u16string text;
    uint64_t seed = k * 0x9E3779B97F4A7C15ull + 12345;
    for (int w = 0; w < 10; ++w) {
        if (w) text += u' ';
        text += kWords[(seed >> (w * 4)) & 15];
    }
    text += u'.';
    return text;
}

void Fill(CResultsModel& model, int64_t rows) {
    const int64_t distinct = std::max<int64_t>(1, rows / 2);
    std::vector<KeptVersion> batch;
    for (int64_t i = 0; i < rows; ++i) {
        batch.push_back({i, Sentence(static_cast<uint64_t>(i % distinct))});
        if (batch.size() == 65536 || i + 1 == rows) model.AppendVersions(std::exchange(batch, {}));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string scenario = argc > 1 ? argv[1] : "delete-exact";
    const int64_t rows = argc > 2 ? std::max(1LL, std::atoll(argv[2])) : (scenario == "save-files" ? 100000 : 1000000);

    QTemporaryDir folder;
    FrameConfig config;
    config.settingsFile = folder.filePath("settings.ini");
    config.templateLocation = CTemplateFileLocation::At(folder.filePath("DefaultText.txt"));
    QString lastMessage;
    SetMessageBoxHook([&](const QString& text, unsigned) {
        if (lastMessage.isEmpty()) lastMessage = text;  // quitting closes the window: keep the command's own
        return 7;  // OK for reports, No for the exit question
    });
    const QString resultFile = folder.filePath("results.txt");
    const QString resultFolder = folder.filePath("separate");
    std::filesystem::create_directory(resultFolder.toStdString());
    SetResultFileChooser([&](QWidget*) { return resultFile; });
    SetResultFolderChooser([&](QWidget*, const QString&) { return resultFolder; });

    CMainFrame frame(config);
    frame.resize(1000, 700);
    frame.show();
    frame.Pages()->setCurrentIndex(CMainFrame::kResultsPage);
    COutputDataPage* page = frame.ResultsPage();
    CResultsModel* model = page->Model();
    QElapsedTimer filling;
    filling.start();
    Fill(*model, rows);
    const double fillSeconds = static_cast<double>(filling.elapsed()) / 1000.0;

    QApplication::processEvents();
    const long rssBeforeKb = CurrentRssKb();
    QElapsedTimer command;
    CLatencyProbe probe;

    // The deleting options dialog opens modally; confirm it with the method wanted.
    QTimer confirm;
    confirm.setInterval(2);
    QObject::connect(&confirm, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<CDeletingOptionsDlg*>(QApplication::activeModalWidget());
        if (!dialog) return;
        confirm.stop();
        (scenario == "delete-shingles" ? dialog->ShinglesButton() : dialog->ExactButton())->setChecked(true);
        dialog->ConfirmButton()->click();
    });

    bool done = false;
    std::optional<double> jobSeconds;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (frame.CanStartJob() && frame.Run().IsResultSetIdle() && !lastMessage.isEmpty() && !jobSeconds)
            jobSeconds = static_cast<double>(command.elapsed()) / 1000.0;
        // The command is done once the texts are packed and the memory handed back.
        if (jobSeconds && !model->IsTidying()) {
            done = true;
            app.quit();
        }
    });

    QTimer::singleShot(200, [&] {
        command.start();
        probe.Start();
        if (scenario == "delete-exact" || scenario == "delete-shingles") {
            frame.Deleting() = DeletingOptions{scenario == "delete-shingles" ? 1 : 0, 7, 20};
            confirm.start();
            frame.CommandAction(CMainFrame::kDeleteIdentical)->trigger();
            watch.start();
        } else if (scenario == "shuffle") {
            frame.CommandAction(CMainFrame::kShuffle)->trigger();
            watch.start();
        } else if (scenario == "save-one") {
            page->SaveAll();  // returns when written, the event loop running meanwhile
            done = true;
            app.quit();
        } else if (scenario == "save-files") {
            page->SaveAllToDifferentFiles();
            done = true;
            app.quit();
        } else if (scenario == "model-ops") {
            // The UI thread's share of the jobs, timed alone.
            std::vector<uint32_t> order(model->RowCount());
            for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(order.size() - 1 - i);
            QElapsedTimer step;
            step.start();
            std::shared_ptr<CPreparedReorder> prepared = model->PrepareReorder(order);
            std::printf("prepare reorder        %.1f ms (worker side)\n", static_cast<double>(step.nsecsElapsed()) / 1e6);
            step.restart();
            model->ApplyReorder(*prepared);
            std::printf("apply reorder          %.1f ms\n", static_cast<double>(step.nsecsElapsed()) / 1e6);
            QApplication::processEvents();
            std::vector<std::size_t> remove;
            for (std::size_t i = 1; i < model->RowCount(); i += 2) remove.push_back(i);
            step.restart();
            model->RemoveRows(remove);
            std::printf("remove every other row %.1f ms\n", static_cast<double>(step.nsecsElapsed()) / 1e6);
            step.restart();
            QApplication::processEvents();
            std::printf("events after removal   %.1f ms\n", static_cast<double>(step.nsecsElapsed()) / 1e6);
            lastMessage = QStringLiteral("timed");
            done = true;
            app.quit();
        } else {
            std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
            app.quit();
        }
    });
    QTimer::singleShot(1800000, &app, &QApplication::quit);
    app.exec();
    const double commandSeconds = static_cast<double>(command.elapsed()) / 1000.0;
    probe.Stop();
    const long rssAfterKb = CurrentRssKb();

    std::printf("scenario               %s\n", scenario.c_str());
    std::printf("rows before            %lld (filled in %.2f s)\n", static_cast<long long>(rows), fillSeconds);
    std::printf("rows after             %zu\n", model->RowCount());
    std::printf("message                %s\n", qPrintable(lastMessage));
    std::printf("command time           %.2f s%s\n", commandSeconds, done ? "" : " (timed out)");
    if (jobSeconds) std::printf("job on the worker      %.2f s (the rest: packing and freeing)\n", *jobSeconds);
    probe.PrintLateness();
    std::printf("RSS before, after      %.1f MiB, %.1f MiB (list held %.1f MiB after)\n",
                static_cast<double>(rssBeforeKb) / 1024.0, static_cast<double>(rssAfterKb) / 1024.0,
                static_cast<double>(model->ApproximateBytes()) / 1048576.0);
    PrintPeakRss();
    if (scenario == "save-one") {
        std::error_code error;
        std::printf("file size              %lld bytes\n",
                    static_cast<long long>(std::filesystem::file_size(resultFile.toStdString(), error)));
    }
    SetResultFileChooser({});
    SetResultFolderChooser({});
    frame.close();
    return done ? 0 : 1;
}
