// Event-loop latency while the desktop application fills its list with a
// million versions: a 5 ms timer measures how late the event loop serves it,
// and the probe reports the worst and 99th-percentile lateness, the time until
// the list holds every version, and the process's peak resident memory.
//
//   QT_QPA_PLATFORM=offscreen phrasemill-latency-probe [versions-exponent]
//
// Runs the real window (offscreen), with settings and template file in a
// temporary folder.
#include "app/main_frame.h"
#include "views/options_panel.h"
#include "latency_probe.h"
#include "chrome/message_box.h"
#include "views/output_data_page.h"
#include "views/results_model.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int exponent = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 7) : 6;

    QTemporaryDir folder;
    FrameConfig config;
    config.settingsFile = folder.filePath("settings.ini");
    config.templateLocation = CTemplateFileLocation::At(folder.filePath("DefaultText.txt"));
    SetMessageBoxHook([](const QString& text, unsigned) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return 1;
    });
    CMainFrame frame(config);
    frame.show();

    // exponent groups of ten words: 10^exponent versions of about 8 * exponent characters.
    std::u16string text;
    for (int g = 0; g < exponent; ++g) {
        text += u"{alpha|bravo|charlie|delta|echo|foxtrot|golf|hotel|india|juliet}";
        text += g + 1 < exponent ? u" " : u".";
    }
    frame.DataPage()->Editor()->SetText(text);
    frame.DataPage()->Options()->VersionsCountBox()->setCurrentIndex(0);  // "Max"
    int64_t target = 1;
    for (int g = 0; g < exponent; ++g) target *= 10;

    CLatencyProbe probe;
    QElapsedTimer fill;
    CResultsModel* model = frame.ResultsPage()->Model();
    bool done = false;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (static_cast<int64_t>(model->RowCount()) >= target || frame.CanStartJob()) {
            done = true;
            app.quit();
        }
    });

    QTimer::singleShot(200, [&] {
        fill.start();
        probe.Start();
        frame.CommandAction(CMainFrame::kGenerate)->trigger();
        watch.start();
    });
    QTimer::singleShot(600000, &app, &QApplication::quit);
    app.exec();
    const double fillSeconds = static_cast<double>(fill.elapsed()) / 1000.0;
    probe.Stop();

    std::printf("versions wanted        %lld\n", static_cast<long long>(target));
    std::printf("rows in the list       %zu%s\n", model->RowCount(), done ? "" : " (timed out)");
    std::printf("time to fill the list  %.2f s\n", fillSeconds);
    probe.PrintLateness();
    PrintPeakRss();
    frame.close();
    return done ? 0 : 1;
}
