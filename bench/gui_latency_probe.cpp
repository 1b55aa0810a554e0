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
#include "app/options_panel.h"
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
#include <fstream>
#include <string>
#include <vector>

namespace {

long PeakRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

}  // namespace

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

    std::vector<double> lateness;
    lateness.reserve(1 << 20);
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double ms = static_cast<double>(sinceTick.nsecsElapsed()) / 1e6;
        lateness.push_back(std::max(0.0, ms - 5.0));
        sinceTick.restart();
    });

    QElapsedTimer fill;
    CResultsModel* model = frame.ResultsPage()->Model();
    bool done = false;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (static_cast<int64_t>(model->RowCount()) >= target || (!frame.Run().IsRunning() && !frame.Sink().HasPending())) {
            done = true;
            app.quit();
        }
    });

    QTimer::singleShot(200, [&] {
        fill.start();
        sinceTick.start();
        tick.start();
        frame.CommandAction(CMainFrame::kGenerate)->trigger();
        watch.start();
    });
    QTimer::singleShot(600000, &app, &QApplication::quit);
    app.exec();
    const double fillSeconds = static_cast<double>(fill.elapsed()) / 1000.0;
    tick.stop();

    std::vector<double> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());
    auto percentile = [&](double p) {
        if (sorted.empty()) return 0.0;
        const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1));
        return sorted[index];
    };
    std::printf("versions wanted        %lld\n", static_cast<long long>(target));
    std::printf("rows in the list       %zu%s\n", model->RowCount(), done ? "" : " (timed out)");
    std::printf("time to fill the list  %.2f s\n", fillSeconds);
    std::printf("timer ticks            %zu\n", sorted.size());
    std::printf("lateness p50           %.2f ms\n", percentile(0.50));
    std::printf("lateness p99           %.2f ms\n", percentile(0.99));
    std::printf("lateness max           %.2f ms\n", sorted.empty() ? 0.0 : sorted.back());
    std::printf("peak RSS               %.1f MiB\n", static_cast<double>(PeakRssKb()) / 1024.0);
    frame.close();
    return done ? 0 : 1;
}
