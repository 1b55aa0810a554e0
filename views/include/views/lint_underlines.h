// The lint findings under the template editor's text: a muted wavy underline
// under each finding's text, its message as the tooltip, and the current list
// for whoever shows it (the analysis panel's findings).
//
//   auto* lint = new CLintUnderliner(editor, page);
//   connect(lint, &CLintUnderliner::FindingsChanged, panel, [&] { Show(lint->Findings()); });
//   lint->LintNow();   // instead of waiting for the pause after the last key
//
// The template is linted on a worker (the syntax check first: a template that
// does not pass has no findings) once the text has not changed for
// kPauseMilliseconds, so typing costs one timer restart per key. The
// underlines are the editor's extra selections, laid over the text when it is
// painted: the colouring is never redone for them. Only the findings on the
// visible lines are handed to the editor, so a template with thousands of
// findings paints as fast as one without. The findings keep plain document
// positions, moved along by each edit until the next lint replaces them
// (a text cursor each would cost every key a pass over all of them).
// Thread safety: user interface thread only; the destructor stops the worker
// and waits for it.
#pragma once

#include "background/background_work.h"
#include "insight/lint.h"
#include "views/worker_job.h"

#include <QObject>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <vector>

class QWidget;

class CColoredRichEditCtrl;

struct CShownFinding {
    CLintFinding finding;
    int start = 0;  // the finding's text in document positions, following edits
    int end = 0;
};

class CLintUnderliner : public QObject {
    Q_OBJECT
public:
    static constexpr int kPauseMilliseconds = 400;

    CLintUnderliner(CColoredRichEditCtrl* editor, QObject* parent = nullptr);
    ~CLintUnderliner() override;

    const std::vector<CShownFinding>& Findings() const { return findings_; }
    // The finding under a document position, or null.
    const CShownFinding* FindingAt(int documentPosition) const;
    QTextCursor Selecting(const CShownFinding& shown) const;  // a cursor over its text
    void LintNow();
    bool IsLinting() const { return busy_; }

    static QTextCharFormat UnderlineFormat(LintSeverity severity);

signals:
    void FindingsChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnTextChanged();
    void OnContentsChange(int position, int removed, int added);
    void Deliver(std::vector<CLintFinding> findings);
    void ShowVisibleUnderlines();

    CColoredRichEditCtrl* editor_;
    QWidget* viewport_;
    QTimer pause_;
    std::vector<CShownFinding> findings_;
    uint64_t revision_ = 0;  // counts the edits; a lint of an older text is dropped
    bool busy_ = false;
    bool again_ = false;     // the text changed while the worker was busy
    std::atomic<bool> stop_{false};
    CHandBack handBack_;      // the worker's findings, to this thread
    CBackgroundWork worker_;  // last: stopped before the members it uses go
};
