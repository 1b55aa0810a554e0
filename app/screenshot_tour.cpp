// A tour of every window, menu and dialog of the desktop application, each one
// photographed: scripts/take-screenshots runs it under a window manager once
// per language and scale. A picture is taken of the whole screen with
// ImageMagick's `import -window root` (so the window manager's frames show)
// and cut to the window and what it opened; without `import` the window
// grabs itself.
//
//   LANG=ru_RU.UTF-8 QT_SCALE_FACTOR=2 phrasemill-screenshot-tour OUT_FOLDER ru-200 TEMPLATE_FILE
//   -> OUT_FOLDER/ru-200-01-data-page.png, ru-200-02-editor-menu.png, ...
//
// Thread safety: one thread, the user interface's.
#include "app/help_window.h"
#include "app/main_frame.h"
#include "app/translations.h"
#include "chrome/message_box.h"
#include "views/options_panel.h"
#include "views/output_data_page.h"
#include "views/results_model.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>

#include <cstdio>
#include <functional>

namespace {

constexpr int kSettleMs = 600;

class CTour {
public:
    CTour(QString folder, QString prefix) : folder_(std::move(folder)), prefix_(std::move(prefix)) {
        importer_ = QStandardPaths::findExecutable(QStringLiteral("import"));
    }

    int Count() const { return count_; }

    static void Settle(int ms = kSettleMs) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    // Pictures the screen cut to the union of the windows' frames, with a
    // margin for the shadows and borders of the window manager.
    void Shoot(const QString& name, const QList<QWidget*>& windows) {
        ++count_;
        const QString file =
            QDir(folder_).filePath(QStringLiteral("%1-%2-%3.png").arg(prefix_).arg(count_, 2, 10, QChar(u'0')).arg(name));
        QRect area;
        for (QWidget* w : windows) area |= w->isWindow() ? w->frameGeometry() : QRect(w->mapToGlobal(QPoint()), w->size());
        area.adjust(-4, -4, 4, 4);
        QImage picture;
        if (!importer_.isEmpty() && QProcess::execute(importer_, {"-window", "root", file}) == 0) picture.load(file);
        if (picture.isNull()) {
            windows.front()->window()->grab().save(file);
            std::printf("%s (grabbed)\n", qPrintable(file));
            return;
        }
        const qreal ratio = windows.front()->devicePixelRatioF();
        const QRect pixels(area.topLeft() * ratio, area.size() * ratio);
        picture.copy(pixels.intersected(picture.rect())).save(file);
        std::printf("%s\n", qPrintable(file));
    }

    // Opens what open() starts (a modal dialog or message box, at once or
    // after a background check), pictures it over the window once it is up
    // and closes it with close().
    void ShootModal(const QString& name, QWidget* behind, const std::function<void()>& open,
                    const std::function<void(QDialog*)>& close) {
        QTimer poll;
        poll.setInterval(50);
        QElapsedTimer shown;
        bool done = false;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            if (!shown.isValid()) {
                shown.start();
                return;
            }
            if (shown.elapsed() < kSettleMs) return;
            poll.stop();
            Shoot(name, {behind, dialog});
            done = true;
            close(dialog);
        });
        poll.start();
        open();
        QElapsedTimer waited;
        waited.start();
        while (!done && waited.elapsed() < 20000) Settle(50);
        poll.stop();
        if (!done) std::fprintf(stderr, "%s: nothing opened\n", qPrintable(name));
        Settle(200);
    }

    void ShootMenu(const QString& name, QWidget* behind, QMenu* menu, const QPoint& at) {
        menu->popup(at);
        Settle();
        Shoot(name, {behind, menu});
        menu->hide();
        Settle(100);
    }

private:
    QString folder_;
    QString prefix_;
    QString importer_;
    int count_ = 0;
};

void Reject(QDialog* dialog) { dialog->reject(); }

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: phrasemill-screenshot-tour OUT_FOLDER PREFIX TEMPLATE_FILE\n");
        return 2;
    }
    ConfigureApplication();
    InstallTranslations(QLocale::system());
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    CTour tour(folder, QString::fromLocal8Bit(argv[2]));

    QTemporaryDir scratch;
    const QString templateFile = scratch.filePath(QStringLiteral("DefaultText.txt"));
    QFile::copy(QString::fromLocal8Bit(argv[3]), templateFile);
    FrameConfig config;
    config.settingsFile = scratch.filePath(QStringLiteral("settings.ini"));
    config.templateLocation = CTemplateFileLocation::At(templateFile);
    CMainFrame frame(config);
    frame.resize(900, 640);
    frame.show();
    CTour::Settle(1500);

    tour.Shoot(QStringLiteral("data-page"), {&frame});
    CColoredRichEditCtrl* editor = frame.DataPage()->Editor();
    QMenu* editorMenu = editor->CreateContextMenu();
    tour.ShootMenu(QStringLiteral("editor-menu"), &frame, editorMenu, editor->mapToGlobal(QPoint(120, 80)));
    COptionsDialogP1* options = frame.DataPage()->Options();
    tour.ShootModal(QStringLiteral("auto-correction-options"), &frame, [&] { emit options->EditCorrectionRequested(); },
                    Reject);
    tour.ShootModal(QStringLiteral("deleting-options"), &frame, [&] { emit options->EditDeletingRequested(); }, Reject);
    tour.ShootModal(QStringLiteral("syntax-correct"), &frame,
                    [&] { frame.CommandAction(CMainFrame::kCheckSyntax)->trigger(); }, Reject);
    const std::u16string text = editor->Text();
    editor->SetText(u"{A red apple|A green pear");
    tour.ShootModal(QStringLiteral("syntax-error"), &frame,
                    [&] { frame.CommandAction(CMainFrame::kCheckSyntax)->trigger(); }, Reject);
    editor->SetText(text);
    tour.ShootModal(QStringLiteral("about"), &frame, [&] { frame.CommandAction(CMainFrame::kAbout)->trigger(); },
                    Reject);
    {
        CHelpWindow help(CHelpWindow::BundledDocument(), &frame);
        help.show();
        CTour::Settle(1000);
        tour.Shoot(QStringLiteral("help-window"), {&help});
        // A word of the page in the interface's language, typed on the search page.
        help.Pages()->setCurrentIndex(1);
        help.SearchField()->setText(InterfaceLanguage() == QLatin1String("ru") ? QStringLiteral("шингл")
                                                                             : QStringLiteral("shingle"));
        if (help.Search(help.SearchField()->text()) > 0) help.ShowMatch(0);
        CTour::Settle();
        tour.Shoot(QStringLiteral("help-search"), {&help});
    }

    // The analysis panel docked beside the pages: first for the template as
    // it is, then for one with findings of every kind, edited after the
    // analysis so that the panel says its numbers are out of date.
    const auto analyze = [&] {
        frame.CommandAction(CMainFrame::kAnalyze)->trigger();
        QElapsedTimer analysing;
        analysing.start();
        while (frame.AnalysisJob().IsRunning() && analysing.elapsed() < 30000) CTour::Settle(100);
        CTour::Settle();
    };
    analyze();
    tour.Shoot(QStringLiteral("analysis-panel"), {&frame});
    editor->SetText(u"#set %city% = {Paris|Rome}\r\n#set %unused% = {north|south}\r\n"
                    u"{Welcome|Welcome|Hello} to %city%{!} {} Our guides show you %sights% "
                    u"[only the old town] and [<, >the river|the markets|the hills]. "
                    u"{Book|Reserve} {a tour|a walk} {today|this week}.");
    analyze();
    editor->moveCursor(QTextCursor::End);
    editor->insertPlainText(QStringLiteral(" "));
    CTour::Settle(1500);
    tour.Shoot(QStringLiteral("analysis-findings"), {&frame});
    editor->SetText(text);
    frame.AnalysisDock()->hide();
    frame.resize(900, 640);
    CTour::Settle();

    options->SkipSimilarBox()->setChecked(false);
    options->VersionsCountBox()->setCurrentIndex(options->VersionsCountBox()->findText(QStringLiteral("1000")));
    frame.CommandAction(CMainFrame::kGenerate)->trigger();
    QElapsedTimer clock;
    clock.start();
    while ((!frame.CanStartJob() || frame.ResultsPage()->Model()->RowCount() == 0) && clock.elapsed() < 30000)
        CTour::Settle(100);
    CTour::Settle();
    tour.Shoot(QStringLiteral("results-page"), {&frame});

    COutputDataPage* results = frame.ResultsPage();
    tour.ShootMenu(QStringLiteral("results-menu"), &frame, results->ContextMenu(),
                   results->mapToGlobal(QPoint(200, 120)));
    QWidget* saveButton = frame.ResultsBar()->widgetForAction(frame.CommandAction(CMainFrame::kSave));
    tour.ShootMenu(QStringLiteral("save-menu"), &frame, results->SaveMenu(),
                   saveButton->mapToGlobal(QPoint(0, saveButton->height())));
    tour.ShootModal(QStringLiteral("saving-options"), &frame,
                    [&] { results->RunCommand(COutputDataPage::kSavingOptions); }, Reject);
    tour.ShootModal(QStringLiteral("version-viewer"), &frame, [&] { results->ShowVersion(0); }, Reject);
    tour.ShootModal(QStringLiteral("save-file-chooser"), &frame,
                    [&] { results->RunCommand(COutputDataPage::kSaveAll); }, Reject);
    tour.ShootModal(QStringLiteral("save-folder-chooser"), &frame,
                    [&] { results->RunCommand(COutputDataPage::kSaveAllToDifferentFiles); }, Reject);
    tour.ShootModal(QStringLiteral("delete-identical"), &frame,
                    [&] { frame.CommandAction(CMainFrame::kDeleteIdentical)->trigger(); }, Reject);
    // The question at exit; "No" lets the window close.
    tour.ShootModal(QStringLiteral("save-before-exit"), &frame, [&] { frame.close(); },
                    [](QDialog* box) { box->done(kMbResultNo); });
    std::printf("%d pictures\n", tour.Count());
    return tour.Count() > 0 ? 0 : 1;
}
