// The main window: a toolbar per page, the "Data" and "Results" pages, the
// status bar with its four panes and the progress bar, the command table with
// its enable rules, and the commands Check Syntax, Analyze (its panel docks
// beside the pages), Generate!, Stop, Save, Delete Identical, Shuffle, About
// and Help. It owns the generation run, the
// option records and the settings store, and closes in order: the worker is
// stopped and waited for, the results save is offered (a failed or cancelled
// save keeps the window open), the template file and the settings are written.
//
//   CMainFrame frame;                       // the user's settings and template file
//   CMainFrame frame({iniFile, CTemplateFileLocation::At(file)});   // tests
//   frame.DataPage()->Editor()->SetText(u"{a|b}");
//   frame.CommandAction(CMainFrame::kGenerate)->trigger();
//
// Thread safety: user interface thread only; the run reports through CQtRunSink.
#pragma once

#include "app/qt_run_sink.h"
#include "app/template_analysis_job.h"
#include "app/template_check_job.h"
#include "run/generation_run.h"
#include "app/settings_store.h"
#include "views/input_data_page.h"
#include "files/result_files.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class CAnalysisPanel;
class CHelpWindow;
class COutputDataPage;
class QAction;
class QDockWidget;
class QLabel;
class QProgressBar;
class QTabWidget;
class QTimer;
class QToolBar;
class QUrl;

// The application's names (organization, application, desktop entry); once,
// before the window is made.
void ConfigureApplication();

struct FrameConfig {
    QString settingsFile;  // empty: the user's settings
    std::optional<CTemplateFileLocation> templateLocation;  // default: next to the program
    // Hands the help to a viewer outside the program; false when none took it.
    // Empty: a CHM viewer or the desktop's handler of HTML files.
    std::function<bool()> openHelpExternally;
};

class CMainFrame : public QMainWindow, private CRunSinkClient {
    Q_OBJECT
public:
    enum CommandId : int {
        kSave = 32772,
        kCheckSyntax = 32773,
        kGenerate = 32775,
        kStop = 32791,
        kDeleteIdentical = 32793,
        kShuffle = 32794,
        kAbout = 57664,
        kHelp = 32798,
        kAnalyze = 32799,
    };
    enum Page { kDataPage = 0, kResultsPage = 1 };

    explicit CMainFrame(FrameConfig config = {}, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CInputDataPage* DataPage() const { return dataPage_; }
    COutputDataPage* ResultsPage() const { return resultsPage_; }
    CGenerationRun& Run() { return run_; }
    CQtRunSink& Sink() { return *sink_; }
    QAction* CommandAction(int commandId) const;
    QToolBar* DataBar() const { return dataBar_; }
    QToolBar* ResultsBar() const { return resultsBar_; }
    QTabWidget* Pages() const { return pages_; }
    QLabel* StatusPane(int index) const { return panes_[index]; }
    QProgressBar* Progress() const { return progress_; }
    CAnalysisPanel* AnalysisPanel() const { return analysisPanel_; }
    QDockWidget* AnalysisDock() const { return analysisDock_; }
    const CTemplateAnalysisJob& AnalysisJob() const { return analysisJob_; }

    AutoCorrectionOptions& Correction() { return correction_; }
    DeletingOptions& Deleting() { return deleting_; }
    const GenerationOptions& Generation() const { return generation_; }
    const QString& PositionText() const { return positionText_; }

    void UpdateCommands();    // evaluate every enable rule now
    void RefreshStatus();     // the four panes from the run's values
    bool CanStartJob() const; // no worker or analysis, and nothing of the last run still on its way to the list

    // The commands.
    void OnSave();
    void CheckTemplate(bool interactive);
    void OnAnalyze();
    void OnGenerate();
    void OnStop();
    void OnDeleteIdentical();
    void OnShuffle();
    void OnAbout();
    void OnHelp();
    void EditCorrectionOptions();
    void EditDeletingOptions();

    // The help documents next to the program; which one Help opens: the
    // document of the interface's language, the compiled (English) help when
    // a viewer for it is available and the language is English.
    static QString HelpFolder();
    static QString HelpFileToOpen(const QString& folder, bool chmViewerAvailable, const QString& language);
    // Hands the help in folder to a CHM viewer or to openUrl (the desktop's
    // handler); false when nothing took it.
    static bool OpenHelpExternally(const QString& folder, const std::function<bool(const QUrl&)>& openUrl);
    // Whether the desktop names a program for HTML documents: xdg-mime's
    // answer, checked against the installed desktop entries. Qt reports a
    // document as opened once xdg-open has started, even when xdg-open finds
    // nothing to open it with. kNotAsked: no xdg-mime to ask.
    enum class HtmlHandler { kFound, kNone, kNotAsked };
    static HtmlHandler FindHtmlHandler(int timeoutMs);
    CHelpWindow* HelpWindow() const;  // null until Help found no viewer, and once it is closed

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void GenerateChecked(TemplateCheckResult check, std::u16string editorText);
    void CreateActions();
    QToolBar* CreateToolBar(const QString& title, int textsId, const std::vector<int>& layout);
    void OnPageChanged(int index);
    void LayoutStatusBar();
    int NeededPaneWidth(int pane) const;
    void OnPositionChanged(int position);
    // False when the defect cannot be traced to the editor.
    bool ReportLoadError(const std::u16string& editorText, int32_t kind, int32_t position);
    void AnalysisDone(CAnalysisOutcome outcome);
    void StopWorker();  // stops a running job and waits; the window stays usable
    void ShutDown();
    void WriteSettings();

    // CRunSinkClient
    void OnJobStarted(int64_t range, JobKind kind) override;
    void OnJobEnded() override;
    void OnStatusRefresh() override;
    void OnRunFinished(const RunSummary& summary, bool detached) override;
    void OnJobMessage(const std::u16string& message, bool detached) override;
    void OnResultSetIdleChanged(bool idle) override;

    FrameConfig config_;
    std::unique_ptr<CSettingsStore> settings_;
    AutoCorrectionOptions correction_;
    DeletingOptions deleting_;
    GenerationOptions generation_;
    CGenerationRun run_;
    CTemplateCheckJob checkJob_;
    CTemplateAnalysisJob analysisJob_;
    QToolBar* dataBar_ = nullptr;
    QToolBar* resultsBar_ = nullptr;
    QTabWidget* pages_ = nullptr;
    CInputDataPage* dataPage_ = nullptr;
    COutputDataPage* resultsPage_ = nullptr;
    QLabel* panes_[4] = {};
    QProgressBar* progress_ = nullptr;
    CAnalysisPanel* analysisPanel_ = nullptr;
    QDockWidget* analysisDock_ = nullptr;
    CQtRunSink* sink_ = nullptr;
    QTimer* idleTimer_ = nullptr;
    std::map<int, QAction*> actions_;
    QString positionText_;
    std::u16string runEditorText_;  // the editor text of the last Generate!
    QElapsedTimer sincePageSwitch_;
    QPointer<CHelpWindow> helpWindow_;
    bool shutDown_ = false;
    bool settingsWritten_ = false;
    bool packingHeld_ = false;  // while Delete Identical reads the rows
};
