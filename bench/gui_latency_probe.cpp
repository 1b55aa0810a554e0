// Event-loop latency while the desktop application fills its list with a
// million versions: a 5 ms timer measures how late the event loop serves it,
// and the probe reports the worst and 99th-percentile lateness, the time until
// the list holds every version, the process's CPU time meanwhile (against two
// cores' worth of the fill, how busy the machine was), and the process's peak
// resident memory.
//
//   QT_QPA_PLATFORM=offscreen phrasemill-latency-probe [versions-exponent]
//   QT_QPA_PLATFORM=offscreen phrasemill-latency-probe TEMPLATE-FILE VERSIONS
//
// The second form runs a UTF-8 template file as `phrasemill-cli generate -n
// VERSIONS` does by default: random order, auto-correction with every rule,
// nothing skipped. Runs the real window (offscreen), with settings and
// template file in a temporary folder.
#include "app/main_frame.h"
#include "views/options_panel.h"
#include "latency_probe.h"
#include "chrome/message_box.h"
#include "views/output_data_page.h"
#include "views/results_model.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ConfigureApplication();  // as the program itself: the run's threads yield to the window's
    const bool fromFile = argc > 2;
    const int exponent = argc > 1 && !fromFile ? std::clamp(std::atoi(argv[1]), 1, 7) : 6;

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

    std::u16string text;
    int64_t target = 1;
    COptionsDialogP1* options = frame.DataPage()->Options();
    if (fromFile) {
        QFile file(QString::fromLocal8Bit(argv[1]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", argv[1]);
            return 2;
        }
        text = QString::fromUtf8(file.readAll()).toStdU16String();
        target = std::max(1LL, std::atoll(argv[2]));
        // The box takes five digits when typed; set directly it holds any count.
        options->VersionsCountBox()->setEditText(QString::number(target));
        options->GenerationTypeBox()->setCurrentIndex(1);  // "Random"
        options->AutoCorrectionBox()->setChecked(true);
        frame.Correction() = AutoCorrectionOptions{};
        options->SkipSimilarBox()->setChecked(false);
        options->LengthLimitBox()->setChecked(false);
    } else {
        // exponent groups of ten words: 10^exponent versions of about 8 * exponent characters.
        for (int g = 0; g < exponent; ++g) {
            text += u"{alpha|bravo|charlie|delta|echo|foxtrot|golf|hotel|india|juliet}";
            text += g + 1 < exponent ? u" " : u".";
        }
        options->VersionsCountBox()->setCurrentIndex(0);  // "Max"
        for (int g = 0; g < exponent; ++g) target *= 10;
    }
    frame.DataPage()->Editor()->SetText(text);

    CLatencyProbe probe;
    QElapsedTimer fill;
    double cpuAtStart = 0;
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
        cpuAtStart = ProcessCpuSeconds();
        probe.Start();
        frame.CommandAction(CMainFrame::kGenerate)->trigger();
        watch.start();
    });
    QTimer::singleShot(600000, &app, &QApplication::quit);
    app.exec();
    const double fillSeconds = static_cast<double>(fill.elapsed()) / 1000.0;
    const double fillCpuSeconds = ProcessCpuSeconds() - cpuAtStart;
    probe.Stop();

    std::printf("versions wanted        %lld\n", static_cast<long long>(target));
    std::printf("rows in the list       %zu%s\n", model->RowCount(), done ? "" : " (timed out)");
    std::printf("time to fill the list  %.2f s\n", fillSeconds);
    std::printf("CPU while filling      %.2f s (%.2f cores)\n", fillCpuSeconds,
                fillSeconds > 0 ? fillCpuSeconds / fillSeconds : 0.0);
    probe.PrintLateness();
    PrintPeakRss();
    frame.close();
    return done ? 0 : 1;
}
