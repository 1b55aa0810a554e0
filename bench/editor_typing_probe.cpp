// Cost of typing into a large template: starts the real window (offscreen)
// with a template of about one megabyte in its template file, written either
// as one long paragraph or as many short lines (with "findings", a group of
// one alternative every few pieces gives the lint thousands of findings to
// underline), and reports
//   - the time from start until the window serves its event loop, and until
//     it stays responsive (no 5 ms timer tick later than 50 ms from then on),
//   - the processor time of each typed key (press, release, the events it
//     posts and a repaint of the editor), for plain letters, brackets, Delete
//     and Backspace in the middle of the text,
//   - the process's peak resident memory.
//
//   QT_QPA_PLATFORM=offscreen phrasemill-editor-probe paragraph|lines [kilobytes] [findings]
#include "app/main_frame.h"
#include "chrome/message_box.h"
#include "latency_probe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// A macro definition line, then groups, separators and macro uses, either in
// one paragraph or broken into lines of about 80 characters.
QByteArray LargeTemplate(bool oneParagraph, int kilobytes, bool findings) {
    static const char* const kPieces[] = {
        "{alpha|bravo|charlie} ", "%name% ", "[one|two|three<, >] ", "plain words here ", "#set not a keyword ",
        "{x|{y|z}} ", "delta echo ",
    };
    QByteArray text = "#set %name% = {value|other}\r\n";
    const int wanted = kilobytes * 1024;
    int lineLength = 0;
    for (std::size_t i = 0; text.size() < wanted; ++i) {
        const char* piece = findings && i % std::size(kPieces) == 3 ? "{lonely} " : kPieces[i % std::size(kPieces)];
        text += piece;
        lineLength += static_cast<int>(std::strlen(piece));
        if (!oneParagraph && lineLength >= 80) {
            text += "\r\n";
            lineLength = 0;
        }
    }
    return text;
}

void SendKey(QWidget* target, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

}  // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    const double cpuAtStart = CpuMs();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool oneParagraph = argc < 2 || std::strcmp(argv[1], "lines") != 0;
    const int kilobytes = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 65536) : 1024;
    const bool findings = argc > 3 && std::strcmp(argv[3], "findings") == 0;

    QTemporaryDir folder;
    {
        QFile file(folder.filePath("DefaultText.txt"));
        if (!file.open(QIODevice::WriteOnly)) return 2;
        file.write(LargeTemplate(oneParagraph, kilobytes, findings));
    }
    FrameConfig config;
    config.settingsFile = folder.filePath("settings.ini");
    config.templateLocation = CTemplateFileLocation::At(folder.filePath("DefaultText.txt"));
    SetMessageBoxHook([](const QString& text, unsigned) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return 1;
    });

    CMainFrame frame(config);
    frame.show();
    CColoredRichEditCtrl* editor = frame.DataPage()->Editor();

    // Start-up: the first served tick, then the last tick that came more than
    // 50 ms late within the first ten seconds.
    double firstServedMs = -1;
    double lastLateMs = 0;
    double cpuAtFirstServed = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(CLatencyProbe::kIntervalMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = static_cast<double>(sinceStart.nsecsElapsed()) / 1e6;
        if (firstServedMs < 0) {
            firstServedMs = now;
            cpuAtFirstServed = CpuMs();
        } else if (static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 > 50) {
            lastLateMs = now;
        }
        sinceTick.restart();
        if (now > 10000) app.quit();
    });
    sinceTick.start();
    tick.start();
    app.exec();
    tick.stop();
    const double startCpuMs = CpuMs() - cpuAtStart;

    // Typing in the middle of the text, with the caret shown.
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(editor->TextLength() / 2);
    editor->setTextCursor(cursor);
    editor->setFocus();
    QApplication::processEvents();
    struct Key {
        const char* name;
        int key;
        QString text;
    };
    const Key keys[] = {
        {"letter", Qt::Key_A, QStringLiteral("a")},        {"space", Qt::Key_Space, QStringLiteral(" ")},
        {"{", Qt::Key_BraceLeft, QStringLiteral("{")},     {"|", Qt::Key_Bar, QStringLiteral("|")},
        {"}", Qt::Key_BraceRight, QStringLiteral("}")},    {"%", Qt::Key_Percent, QStringLiteral("%")},
        {"Backspace", Qt::Key_Backspace, QString()},       {"Delete", Qt::Key_Delete, QString()},
        {"Enter", Qt::Key_Return, QStringLiteral("\r")},   {"Backspace", Qt::Key_Backspace, QString()},
    };
    constexpr int kRounds = 5;
    std::vector<double> costs;
    double worst = 0;
    const char* worstKey = "";
    for (int round = 0; round < kRounds; ++round) {
        for (const Key& key : keys) {
            const double before = CpuMs();
            SendKey(editor, key.key, key.text);
            QApplication::processEvents();
            editor->viewport()->repaint();
            QApplication::processEvents();
            const double cost = CpuMs() - before;
            costs.push_back(cost);
            if (cost > worst) {
                worst = cost;
                worstKey = key.name;
            }
        }
    }
    std::sort(costs.begin(), costs.end());

    std::printf("template               %s, %d KiB, %d characters\n", oneParagraph ? "one paragraph" : "lines",
                kilobytes, editor->TextLength());
    std::printf("event loop served at   %.0f ms (processor %.0f ms)\n", firstServedMs, cpuAtFirstServed - cpuAtStart);
    std::printf("responsive from        %.0f ms (processor until 10 s: %.0f ms)\n",
                std::max(lastLateMs, firstServedMs), startCpuMs);
    std::printf("underlines drawn       %lld\n", static_cast<long long>(editor->extraSelections().size()));
    std::printf("keys typed             %zu\n", costs.size());
    std::printf("processor per key p50  %.2f ms\n", costs[costs.size() / 2]);
    std::printf("processor per key max  %.2f ms (%s)\n", worst, worstKey);
    PrintPeakRss();
    frame.close();
    return 0;
}
