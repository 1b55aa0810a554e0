#include "app/main_frame.h"

#include "app/help_window.h"
#include "app/load_error_source.h"
#include "app/option_dialogs.h"
#include "app/translations.h"
#include "background/background_work.h"
#include "views/analysis_panel.h"
#include "views/options_panel.h"
#include "chrome/message_box.h"
#include "chrome/string_table.h"
#include "engine/syntax_check.h"
#include "engine/template_check.h"
#include "views/output_data_page.h"
#include "views/results_model.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDate>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>

// The icons live in the static pm_gui library, whose resource initialiser the
// linker would drop without a reference.
static void InitGuiResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

QString FromU16(const std::u16string& s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

class CWaitCursor {
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

constexpr int kIdleMilliseconds = 100;
constexpr int kSeparator = 0;
// Set on the commands that came after the toolbar texts: they carry their own label.
constexpr const char* kOwnLabel = "ownLabel";

}  // namespace

void ConfigureApplication() {
    // The settings and the fallback template folder hang below these names.
    QApplication::setOrganizationName(QStringLiteral("Quillbrook"));
    QApplication::setApplicationName(QStringLiteral("Phrasemill"));
    // No display name: the window system would append it to every dialog's
    // title, and the narrow dialogs would show their own title cut short.
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quillbrook.Phrasemill"));
    // Runs, saves and jobs use every core; the window must still answer.
    CBackgroundWork::YieldToInteractive();
}

CMainFrame::CMainFrame(FrameConfig config, QWidget* parent) : QMainWindow(parent), config_(std::move(config)) {
    InitGuiResources();
    setWindowTitle(LoadStringById(kIdsProductName));
    setWindowIcon(QIcon(QStringLiteral(":/icons/phrasemill.svg")));
    settings_ = config_.settingsFile.isEmpty() ? std::make_unique<CSettingsStore>()
                                               : std::make_unique<CSettingsStore>(config_.settingsFile);

    CreateActions();
    dataBar_ = CreateToolBar(tr("Data"), kIdsDataToolbar,
                             {kSave, kCheckSyntax, kAnalyze, kGenerate, kSeparator, kStop, kSeparator, kAbout,
                              kSeparator, kHelp});
    resultsBar_ = CreateToolBar(tr("Results"), kIdsResultsToolbar,
                                {kSave, kDeleteIdentical, kShuffle, kSeparator, kStop, kSeparator, kAbout, kSeparator,
                                 kHelp});

    auto* container = new QWidget(this);
    auto* containerLayout = new QVBoxLayout(container);
    containerLayout->setContentsMargins(5, 5, 3, 0);
    pages_ = new QTabWidget(container);
    pages_->setContextMenuPolicy(Qt::NoContextMenu);
    containerLayout->addWidget(pages_);
    setCentralWidget(container);

    dataPage_ = new CInputDataPage(settings_->ReadMain(),
                                   config_.templateLocation.value_or(CTemplateFileLocation::ForProgram()), pages_);
    resultsPage_ = new COutputDataPage(run_, pages_);
    pages_->addTab(dataPage_, tr("Data"));
    pages_->addTab(resultsPage_, tr("Results"));
    sink_ = new CQtRunSink(*this, *resultsPage_->Model(), this);

    analysisPanel_ = new CAnalysisPanel(dataPage_->Editor(), dataPage_->Lint());
    analysisDock_ = new QDockWidget(tr("Analysis"), this);
    analysisDock_->setObjectName(QStringLiteral("analysisDock"));
    analysisDock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    analysisDock_->setWidget(analysisPanel_);
    analysisDock_->toggleViewAction()->setVisible(false);
    addDockWidget(Qt::RightDockWidgetArea, analysisDock_);
    analysisDock_->hide();
    connect(analysisPanel_, &CAnalysisPanel::TextChosen, this, [this] { pages_->setCurrentIndex(kDataPage); });

    for (int i = 0; i < 4; ++i) {
        panes_[i] = new QLabel(statusBar());
        panes_[i]->setTextFormat(Qt::PlainText);
        statusBar()->addWidget(panes_[i]);
    }
    progress_ = new QProgressBar(statusBar());
    progress_->setTextVisible(false);
    progress_->hide();
    statusBar()->installEventFilter(this);
    positionText_ = FormatStringById(kIdsPositionFormat, {QStringLiteral("0")});

    correction_ = settings_->ReadCorrection();
    deleting_ = settings_->ReadDeleting();
    resultsPage_->Saving().versionsSeparator = settings_->ReadSeparator().toStdU16String();

    connect(pages_, &QTabWidget::currentChanged, this, &CMainFrame::OnPageChanged);
    connect(dataPage_->Editor(), &CColoredRichEditCtrl::PositionChanged, this, &CMainFrame::OnPositionChanged);
    connect(dataPage_->Editor(), &QPlainTextEdit::textChanged, this, &CMainFrame::UpdateCommands);
    connect(dataPage_->Options(), &COptionsDialogP1::EditCorrectionRequested, this,
            &CMainFrame::EditCorrectionOptions);
    connect(dataPage_->Options(), &COptionsDialogP1::EditDeletingRequested, this, &CMainFrame::EditDeletingOptions);
    connect(resultsPage_, &COutputDataPage::CommandStateChanged, this, &CMainFrame::UpdateCommands);

    dataPage_->LoadDefaultText();
    idleTimer_ = new QTimer(this);
    idleTimer_->setInterval(kIdleMilliseconds);
    connect(idleTimer_, &QTimer::timeout, this, [this] {
        UpdateCommands();
        if (progress_->isVisible())
            progress_->setValue(analysisJob_.IsRunning() ? analysisJob_.Progress()
                                                         : static_cast<int>(sink_->LatestProgress()));
        // While a job runs the worker's throttled refresh keeps the panes current.
        if (!run_.IsRunning()) RefreshStatus();
    });
    idleTimer_->start();

    OnPageChanged(kDataPage);
    sincePageSwitch_.invalidate();  // the first page is shown, not switched to
    resize(900, 640);
    UpdateCommands();
}

CMainFrame::~CMainFrame() {
    ShutDown();
    if (!settingsWritten_) WriteSettings();
}

void CMainFrame::CreateActions() {
    struct Definition {
        int id;
        const char* icon;
        const char* tip;
    };
    const Definition definitions[] = {
        {kSave, "save", QT_TR_NOOP("Save")},
        {kCheckSyntax, "check", QT_TR_NOOP("Check the template's syntax")},
        {kAnalyze, "analyze",
         QT_TR_NOOP("Analyze the template: exact number of versions, uniqueness forecast and findings")},
        {kGenerate, "generate", QT_TR_NOOP("Generate versions")},
        {kStop, "stop", QT_TR_NOOP("Stop the running job")},
        {kDeleteIdentical, "delete-identical", QT_TR_NOOP("Delete identical or similar versions")},
        {kShuffle, "shuffle", QT_TR_NOOP("Shuffle the versions")},
        {kAbout, "about", QT_TR_NOOP("About Phrasemill")},
        {kHelp, "help", QT_TR_NOOP("Help")},
    };
    for (const Definition& d : definitions) {
        auto* action = new QAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(d.icon))), QString(), this);
        action->setToolTip(tr(d.tip));
        action->setData(d.id);
        actions_[d.id] = action;
    }
    actions_[kHelp]->setShortcut(QKeySequence(Qt::Key_F1));
    actions_[kHelp]->setShortcutContext(Qt::ApplicationShortcut);
    addAction(actions_[kHelp]);
    actions_[kAnalyze]->setText(tr("Analyze"));
    actions_[kAnalyze]->setProperty(kOwnLabel, true);
    actions_[kAnalyze]->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    addAction(actions_[kAnalyze]);
    connect(actions_[kSave], &QAction::triggered, this, &CMainFrame::OnSave);
    connect(actions_[kCheckSyntax], &QAction::triggered, this, [this] { CheckTemplate(true); });
    connect(actions_[kAnalyze], &QAction::triggered, this, &CMainFrame::OnAnalyze);
    connect(actions_[kGenerate], &QAction::triggered, this, &CMainFrame::OnGenerate);
    connect(actions_[kStop], &QAction::triggered, this, &CMainFrame::OnStop);
    connect(actions_[kDeleteIdentical], &QAction::triggered, this, &CMainFrame::OnDeleteIdentical);
    connect(actions_[kShuffle], &QAction::triggered, this, &CMainFrame::OnShuffle);
    connect(actions_[kAbout], &QAction::triggered, this, &CMainFrame::OnAbout);
    connect(actions_[kHelp], &QAction::triggered, this, &CMainFrame::OnHelp);
}

QToolBar* CMainFrame::CreateToolBar(const QString& title, int textsId, const std::vector<int>& layout) {
    QToolBar* bar = addToolBar(title);
    bar->setObjectName(title);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(32, 32));
    bar->toggleViewAction()->setVisible(false);
    auto* indent = new QWidget(bar);
    indent->setFixedWidth(16);
    bar->addWidget(indent);
    // The texts keep their trailing spaces: they were chosen to give the
    // buttons even widths.
    QString texts = LoadStringById(textsId);
    while (texts.startsWith(u'\n') || texts.startsWith(u'\r')) texts.remove(0, 1);
    while (texts.endsWith(u'\n') || texts.endsWith(u'\r')) texts.chop(1);
    const QStringList labels = texts.split(u'\n');
    int next = 0;
    for (int id : layout) {
        if (id == kSeparator) {
            bar->addSeparator();
            continue;
        }
        QAction* action = actions_.at(id);
        // One action serves both bars; the label is set once, from the first bar.
        if (!action->property(kOwnLabel).toBool()) {
            if (action->text().isEmpty() && next < labels.size()) action->setText(labels[next]);
            ++next;
        }
        bar->addAction(action);
        if (QWidget* button = bar->widgetForAction(action)) button->installEventFilter(this);
    }
    return bar;
}

QAction* CMainFrame::CommandAction(int commandId) const {
    const auto it = actions_.find(commandId);
    return it == actions_.end() ? nullptr : it->second;
}

bool CMainFrame::CanStartJob() const {
    return !run_.IsRunning() && !run_.IsWorkerActive() && !sink_->HasPending() && !checkJob_.IsRunning() &&
           !analysisJob_.IsRunning();
}

void CMainFrame::UpdateCommands() {
    const bool dataPage = pages_->currentIndex() == kDataPage;
    const bool running = run_.IsRunning();
    actions_[kSave]->setEnabled(!dataPage || dataPage_->Editor()->TextLength() > 0);
    actions_[kCheckSyntax]->setEnabled(true);
    actions_[kAnalyze]->setEnabled(CanStartJob());
    actions_[kGenerate]->setEnabled(CanStartJob());
    actions_[kStop]->setEnabled(running || checkJob_.IsRunning() || analysisJob_.IsRunning());
    actions_[kDeleteIdentical]->setEnabled(CanStartJob());
    actions_[kShuffle]->setEnabled(CanStartJob());
    actions_[kAbout]->setEnabled(true);
    actions_[kHelp]->setEnabled(true);
}

void CMainFrame::RefreshStatus() {
    const bool dataPage = pages_->currentIndex() == kDataPage;
    panes_[0]->setText(dataPage ? positionText_ : QString());
    panes_[1]->setText(dataPage ? QString()
                                : LoadStringById(kIdsMaxPossibleCaption) + FromU16(run_.MaxPossibleValue()));
    panes_[2]->setText(dataPage ? QString() : LoadStringById(kIdsGeneratedCaption) + FromU16(run_.GeneratedValue()));
    panes_[3]->setText(TranslateFormattedText(run_.WorkText()));
    for (int i = 0; i < 4; ++i) {
        if (NeededPaneWidth(i) > panes_[i]->width()) {
            LayoutStatusBar();
            break;
        }
    }
}

// The widest text a pane can show now: the caret can stand anywhere in the
// text, the version count can reach "10 000 000 000", the other panes grow
// with what they show.
int CMainFrame::NeededPaneWidth(int pane) const {
    constexpr int kPadding = 8;
    const QFontMetrics metrics(panes_[pane]->font());
    int needed = metrics.horizontalAdvance(panes_[pane]->text());
    if (pane == 0) {
        const QString digits(QString::number(dataPage_->Editor()->TextLength()).size(), u'8');
        needed = std::max(needed, metrics.horizontalAdvance(FormatStringById(kIdsPositionFormat, {digits})));
    } else if (pane == 1) {
        const QString widest = LoadStringById(kIdsMaxPossibleCaption) + FromU16(CGenerationRun::MaxPossibleText(1e10));
        needed = std::max(needed, metrics.horizontalAdvance(widest));
    }
    return needed + kPadding;
}

// The panes keep their proportions of the bar at least and widen to their
// texts; the progress bar stands right of them.
void CMainFrame::LayoutStatusBar() {
    constexpr int kPaneGap = 6;  // the status bar's spacing and frames between two panes
    const int w = statusBar()->width();
    const int proportions[4] = {w / 10, w / 4, w / 4, w / 10};
    int right = 0;
    for (int i = 0; i < 4; ++i) {
        const int width = std::max(proportions[i], NeededPaneWidth(i));
        panes_[i]->setFixedWidth(width);
        right += width + kPaneGap;
    }
    const int barHeight = 16;
    const int y = std::max(2, (statusBar()->height() - barHeight) / 2);
    const int x = std::max(static_cast<int>(0.7 * w + 40), right + 8);
    progress_->setGeometry(x, y, std::max(0, static_cast<int>(0.7 * w + 40) + static_cast<int>(0.3 * w - 60) - x),
                           barHeight);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == statusBar() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        LayoutStatusBar();
    // A page switch swaps the toolbars under the mouse: the second click of a
    // double click on Generate! would land on Shuffle.
    if ((event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
        sincePageSwitch_.isValid() && sincePageSwitch_.elapsed() < QApplication::doubleClickInterval()) {
        auto* button = qobject_cast<QToolButton*>(watched);
        if (button && (button->parentWidget() == dataBar_ || button->parentWidget() == resultsBar_)) return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::OnPageChanged(int index) {
    sincePageSwitch_.start();
    const bool dataPage = index == kDataPage;
    dataBar_->setVisible(dataPage);
    resultsBar_->setVisible(!dataPage);
    if (dataPage) dataPage_->Editor()->setFocus();
    RefreshStatus();
    UpdateCommands();
}

void CMainFrame::OnPositionChanged(int position) {
    positionText_ = FormatStringById(kIdsPositionFormat, {QString::number(position)});
    RefreshStatus();
}

void CMainFrame::OnSave() {
    if (pages_->currentIndex() == kDataPage) {
        dataPage_->SaveInputText();
        return;
    }
    QMenu* menu = resultsPage_->SaveMenu();
    QWidget* button = resultsBar_->widgetForAction(actions_[kSave]);
    const QPoint at = button ? button->mapToGlobal(QPoint(0, button->height())) : mapToGlobal(QPoint(16, 45));
    menu->popup(at);
}

void CMainFrame::CheckTemplate(bool interactive) {
    CWaitCursor wait;
    checkJob_.Start(dataPage_->Editor()->Text(), [this, interactive](TemplateCheckResult check) {
        CColoredRichEditCtrl* editor = dataPage_->Editor();
        if (!check.passed) {
            editor->SelectRange(check.selectionStart, check.selectionEnd);
            ShowMessageText(TranslateFormattedText(check.message), kMbIconExclamation);
        } else if (interactive) {
            ShowMessageText(TranslateFormattedText(check.message), kMbIconInformation);
        }
        editor->setFocus();
        UpdateCommands();
    });
    UpdateCommands();
}

// The analysis runs on its worker with the status bar's progress bar, like a
// generation; a template that fails the check is shown as Check Syntax shows it.
void CMainFrame::OnAnalyze() {
    if (!CanStartJob()) return;
    pages_->setCurrentIndex(kDataPage);
    CAnalysisRequest request;
    {
        CWaitCursor wait;
        request.editorText = dataPage_->Editor()->Text();
    }
    request.shingleLength = deleting_.shingleLength;
    request.allowedPercent = deleting_.allowedPercent;
    analysisPanel_->ShowRunning();
    if (!analysisDock_->isVisible()) {
        // As wide as the panel's titles (a third of the window at least), as
        // far as the screen leaves room beside the pages; the window grows
        // when the pages would have to shrink below their minimum.
        const int pagesMinimum = minimumSizeHint().width() +
                                 style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent, nullptr, this);
        int dockWidth = std::max(analysisPanel_->sizeHint().width(), width() / 3);
        int windowWidth = std::max(width(), pagesMinimum + dockWidth);
        if (const QScreen* shownOn = screen()) {
            const int room = shownOn->availableGeometry().width() - (frameGeometry().width() - width());
            windowWidth = std::min(windowWidth, std::max(width(), room));
            dockWidth = std::min(dockWidth, windowWidth - pagesMinimum);
            // On a screen too narrow for the pages and the panel at its
            // usual minimum, the panel narrows rather than reach past the edge.
            constexpr int kNarrowestPanel = 160;
            if (dockWidth < analysisPanel_->minimumWidth())
                analysisPanel_->setMinimumWidth(std::max(kNarrowestPanel, dockWidth));
        }
        dockWidth = std::max(dockWidth, analysisPanel_->minimumWidth());
        analysisDock_->show();
        if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) && windowWidth > width())
            resize(windowWidth, height());
        resizeDocks({analysisDock_}, {dockWidth}, Qt::Horizontal);
        // Once the window manager has applied the new width.
        QTimer::singleShot(0, this, [this, dockWidth] { resizeDocks({analysisDock_}, {dockWidth}, Qt::Horizontal); });
    }
    analysisDock_->raise();
    dataPage_->Lint()->LintNow();
    analysisJob_.Start(std::move(request), [this](CAnalysisOutcome outcome) { AnalysisDone(std::move(outcome)); });
    progress_->setRange(0, CTemplateAnalysisJob::kProgressRange);
    progress_->setValue(0);
    progress_->show();
    LayoutStatusBar();
    UpdateCommands();
}

void CMainFrame::AnalysisDone(CAnalysisOutcome outcome) {
    progress_->setValue(0);
    progress_->hide();
    UpdateCommands();
    CColoredRichEditCtrl* editor = dataPage_->Editor();
    if (!outcome.check.passed) {
        const QString message = TranslateFormattedText(outcome.check.message);
        analysisPanel_->ShowFailed(message);
        editor->SelectRange(outcome.check.selectionStart, outcome.check.selectionEnd);
        ShowMessageText(message, kMbIconExclamation);
        editor->setFocus();
        return;
    }
    if (outcome.loadErrorKind != 0 || !outcome.analysis.forecast.ok) {
        const QString message = tr("The template passes the check but cannot be loaded.");
        analysisPanel_->ShowFailed(message);
        if (outcome.loadErrorKind == 0 ||
            !ReportLoadError(outcome.analysis.editorText, outcome.loadErrorKind, outcome.loadErrorPosition))
            ShowMessageText(message, kMbIconExclamation);
        return;
    }
    analysisPanel_->ShowAnalysis(outcome.analysis);
}

// A large template is checked off the window thread (Stop ends the check);
// generation starts once the check has passed.
void CMainFrame::OnGenerate() {
    std::u16string editorText;
    {
        CWaitCursor wait;
        editorText = dataPage_->Editor()->Text();
    }
    checkJob_.Start(editorText, [this, editorText](TemplateCheckResult check) mutable {
        GenerateChecked(std::move(check), std::move(editorText));
    });
    UpdateCommands();
}

void CMainFrame::GenerateChecked(TemplateCheckResult check, std::u16string editorText) {
    RunRequest request;
    request.correction = correction_;
    request.deleting = deleting_;
    if (!check.passed) {
        CColoredRichEditCtrl* editor = dataPage_->Editor();
        editor->SelectRange(check.selectionStart, check.selectionEnd);
        ShowMessageText(TranslateFormattedText(check.message), kMbIconExclamation);
        editor->setFocus();
        return;
    }
    if (!CanStartJob()) return;
    COptionsDialogP1* panel = dataPage_->Options();
    const LengthRange range = panel->ReadLengthRange();
    if (range.maxLength < range.minLength) {
        ShowMessageById(kIdsMinAboveMax, kMbIconExclamation);
        return;
    }
    panel->ReadGenerationOptions(generation_);
    request.templateText = std::move(check.templateText);
    request.options = generation_;
    if (!run_.StartGeneration(std::move(request), *sink_)) return;
    runEditorText_ = std::move(editorText);
    pages_->setCurrentIndex(kResultsPage);
    UpdateCommands();
}

void CMainFrame::OnStop() {
    checkJob_.Stop();
    if (analysisJob_.IsRunning()) {
        analysisJob_.Stop();
        analysisPanel_->ShowStopped();
    }
    run_.Stop();
    OnJobEnded();
    RefreshStatus();
    UpdateCommands();
}

void CMainFrame::OnDeleteIdentical() {
    if (!CanStartJob() || resultsPage_->Model()->RowCount() == 0) return;
    CDeletingOptionsDlg dialog(deleting_, CDeletingOptionsDlg::kDeleteMode, this);
    if (dialog.exec() != QDialog::Accepted) return;
    if (!CanStartJob()) return;
    // The job reads the rows' texts in place on the worker: texts packed after
    // an earlier removal wait until it has handed its result back.
    resultsPage_->Model()->HoldPacking();
    packingHeld_ = run_.StartDeleteIdentical(*resultsPage_->Model(), deleting_, *sink_);
    if (!packingHeld_) resultsPage_->Model()->ReleasePacking();
    UpdateCommands();
}

void CMainFrame::OnShuffle() {
    if (!CanStartJob() || resultsPage_->Model()->RowCount() == 0) return;
    run_.StartShuffle(*resultsPage_->Model(), *sink_);
    UpdateCommands();
}

void CMainFrame::EditCorrectionOptions() {
    CStringHandlingOptions dialog(correction_, this);
    dialog.exec();
}

void CMainFrame::EditDeletingOptions() {
    CDeletingOptionsDlg dialog(deleting_, CDeletingOptionsDlg::kOptionsMode, this);
    dialog.exec();
}

void CMainFrame::OnAbout() {
    QDialog about(this);
    about.setWindowTitle(tr("About Phrasemill 2.0"));
    auto* icon = new QLabel(&about);
    icon->setPixmap(windowIcon().pixmap(48, 48));
    // The compiler's date ("Dec  9 2026"), written in the interface's language.
    const QDate built = QDate::fromString(QStringLiteral(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
    const QLocale locale = InterfaceLocale();
    const QString date = locale.language() == QLocale::English || !built.isValid()
                             ? QStringLiteral(__DATE__)
                             : locale.toString(built, QStringLiteral("d MMMM yyyy"));
    auto* label = new QLabel(tr("%1 Built on %2").arg(LoadStringById(kIdsProductName), date), &about);
    label->setObjectName(QStringLiteral("aboutText"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
    connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(label, 1);
    auto* layout = new QVBoxLayout(&about);
    layout->addLayout(row);
    layout->addWidget(buttons);
    about.setFixedSize(about.sizeHint().expandedTo(QSize(300, 0)));
    about.exec();
}

QString CMainFrame::HelpFolder() {
    const QDir programFolder(QCoreApplication::applicationDirPath());
    if (programFolder.exists(QStringLiteral("phrasemill-help.html"))) return programFolder.path();
    const QString installed = QDir::cleanPath(programFolder.filePath(QStringLiteral(PHRASEMILL_DATA_FROM_BIN)));
    if (QDir(installed).exists(QStringLiteral("phrasemill-help.html"))) return installed;
    return programFolder.path();
}

QString CMainFrame::HelpFileToOpen(const QString& folder, bool chmViewerAvailable, const QString& language) {
    const QString html = HelpDocumentIn(folder, language);
    const QString chm = QDir(folder).filePath(LoadStringById(kIdsHelpFile));
    if (chmViewerAvailable && QFileInfo::exists(chm) && html == HelpDocumentIn(folder, QString())) return chm;
    return html;
}

CMainFrame::HtmlHandler CMainFrame::FindHtmlHandler(int timeoutMs) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty()) return HtmlHandler::kNotAsked;
    QProcess query;
    query.setStandardInputFile(QProcess::nullDevice());
    query.setStandardErrorFile(QProcess::nullDevice());
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!query.waitForStarted(timeoutMs)) return HtmlHandler::kNotAsked;
    if (!query.waitForFinished(timeoutMs)) {
        query.kill();
        query.waitForFinished(timeoutMs);
        return HtmlHandler::kNone;
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) return HtmlHandler::kNone;
    const QString entry = QString::fromLocal8Bit(query.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
    if (!entry.endsWith(QLatin1String(".desktop"))) return HtmlHandler::kNone;
    // A desktop entry's id writes its subfolders with "-": kde4-browser.desktop
    // may be kde4/browser.desktop.
    QString path = entry;
    for (qsizetype dash = 0;;) {
        if (!QStandardPaths::locate(QStandardPaths::ApplicationsLocation, path).isEmpty()) return HtmlHandler::kFound;
        dash = entry.indexOf(u'-', dash);
        if (dash < 0) return HtmlHandler::kNone;
        path = entry;
        path[dash++] = u'/';
    }
}

// A compiled help file needs a viewer that the desktop may not have; the HTML
// copy opens in any browser. False when neither was taken.
bool CMainFrame::OpenHelpExternally(const QString& folder, const std::function<bool(const QUrl&)>& openUrl) {
#ifdef Q_OS_WIN
    const bool chmViewer = true;
    QString viewer;
#else
    QString viewer;
    for (const char* candidate : {"xchm", "kchmviewer"}) {
        viewer = QStandardPaths::findExecutable(QLatin1String(candidate));
        if (!viewer.isEmpty()) break;
    }
    const bool chmViewer = !viewer.isEmpty();
#endif
    const QString file = HelpFileToOpen(folder, chmViewer, InterfaceLanguage());
    if (file.endsWith(QLatin1String(".chm"))) {
        if (!viewer.isEmpty() ? QProcess::startDetached(viewer, {file}) : openUrl(QUrl::fromLocalFile(file)))
            return true;
    }
    const QString html = HelpFileToOpen(folder, false, InterfaceLanguage());
    if (!QFileInfo::exists(html)) return false;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    constexpr int kHandlerQueryMs = 2000;
    if (FindHtmlHandler(kHandlerQueryMs) == HtmlHandler::kNone) return false;
#endif
    return openUrl(QUrl::fromLocalFile(html));
}

CHelpWindow* CMainFrame::HelpWindow() const {
    return helpWindow_.data();
}

// Without a browser or a help viewer the document is read inside the program.
void CMainFrame::OnHelp() {
    const bool opened = config_.openHelpExternally ? config_.openHelpExternally()
                                                   : OpenHelpExternally(HelpFolder(), QDesktopServices::openUrl);
    if (opened) return;
    if (!helpWindow_) helpWindow_ = new CHelpWindow(CHelpWindow::BundledDocument(), this);
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

void CMainFrame::OnJobStarted(int64_t range, JobKind) {
    progress_->setRange(0, static_cast<int>(range));
    progress_->setValue(0);
    progress_->show();
    LayoutStatusBar();
    RefreshStatus();
}

void CMainFrame::OnJobEnded() {
    progress_->setValue(0);
    progress_->hide();
    RefreshStatus();
    UpdateCommands();
}

void CMainFrame::OnStatusRefresh() {
    if (progress_->isVisible()) progress_->setValue(static_cast<int>(sink_->LatestProgress()));
    RefreshStatus();
}

void CMainFrame::OnRunFinished(const RunSummary& summary, bool detached) {
    RefreshStatus();
    UpdateCommands();
    if (detached || summary.reason.empty()) return;
    if (summary.end == RunEnd::kDone || summary.end == RunEnd::kStopped) return;
    // A template that passed the check can still fail to load (the check sees
    // the text before macro substitution); say why instead of showing nothing.
    if (summary.end == RunEnd::kLoadFailed && summary.loadErrorKind != 0 &&
        ReportLoadError(runEditorText_, summary.loadErrorKind, summary.loadErrorPosition))
        return;
    ShowMessageText(TranslateFormattedText(summary.reason), kMbIconExclamation);
}

// The engine's position counts in the macro-expanded text: shown and selected
// in the editor's terms instead, the macro named when its value holds the defect.
bool CMainFrame::ReportLoadError(const std::u16string& editorText, int32_t kind, int32_t position) {
    const LoadErrorSource source = FindLoadErrorSource(editorText, int64_t{position} - 1);
    if (!source.found) return false;
    CColoredRichEditCtrl* editor = dataPage_->Editor();
    const bool unchanged = editor->Text() == editorText;
    QString message;
    if (source.macroName.empty()) {
        message = TranslateFormattedText(SyntaxMessage(kind, source.editorPosition + 1));
        if (unchanged) editor->SelectRange(source.editorPosition, source.editorPosition + 1);
    } else {
        message = tr("%1 in the value of %2.").arg(TranslateFormattedText(SyntaxMessage(kind, source.editorPosition + 1)),
                                                  FromU16(source.macroName));
        if (unchanged && source.definitionStart >= 0) editor->SelectRange(source.definitionStart, source.definitionEnd);
    }
    pages_->setCurrentIndex(kDataPage);
    ShowMessageText(message, kMbIconExclamation);
    editor->setFocus();
    return true;
}

void CMainFrame::OnJobMessage(const std::u16string& message, bool detached) {
    if (detached) return;
    ShowMessageText(TranslateFormattedText(message), kMbIconInformation);
}

void CMainFrame::OnResultSetIdleChanged(bool idle) {
    // Idle again comes from the worker once the job no longer reads the rows.
    if (idle && packingHeld_) {
        packingHeld_ = false;
        resultsPage_->Model()->ReleasePacking();
    }
    UpdateCommands();
}

void CMainFrame::StopWorker() {
    // The worker may be waiting for room in the list's queue: release it, stop
    // it, and wait (it stops within one version) before anything it uses goes.
    sink_->Detach();
    run_.Stop();
    run_.Wait();
    sink_->Drain();
    sink_->Reattach();
    progress_->hide();
}

void CMainFrame::ShutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    checkJob_.Stop();
    analysisJob_.Stop();
    StopWorker();
    sink_->Detach();  // from now on nothing reaches the window
    idleTimer_->stop();
}

void CMainFrame::WriteSettings() {
    settings_->WriteCorrection(correction_);
    settings_->WriteDeleting(deleting_);
    settings_->WriteSeparator(FromU16(resultsPage_->Saving().versionsSeparator));
    settings_->WriteMain(dataPage_->Options()->CurrentSettings());
    settings_->Sync();
    settingsWritten_ = true;
}

// Keys that reach the window itself (the list has its own handling).
void CMainFrame::keyPressEvent(QKeyEvent* event) {
    if (pages_->currentIndex() == kResultsPage) resultsPage_->HandleWindowKey(event);
    QMainWindow::keyPressEvent(event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (shutDown_) {
        event->accept();
        return;
    }
    StopWorker();
    RefreshStatus();
    // Results the user asked to keep are never dropped: when their save fails
    // or is called off, the window stays open with the list as it was.
    if (!resultsPage_->OfferSaveOnExit()) {
        event->ignore();
        UpdateCommands();
        return;
    }
    ShutDown();
    dataPage_->SaveDefaultText();
    WriteSettings();
    event->accept();
}
