// The Analyze command's work, on a thread of its own: the template check,
// then the exact number of versions (the engine's big-integer count) and the
// uniqueness forecast. Progress can be read at any time; Stop or closing the
// window ends it within milliseconds.
//
//   CTemplateAnalysisJob job;
//   job.Start({editor->Text(), 7, 20}, [this](CAnalysisOutcome outcome) { Show(outcome); });
//   progressBar->setValue(job.Progress());   // 0 to kProgressRange
//   job.Stop();   // the outcome of a stopped analysis is never delivered
//
// A template that fails the check delivers that check (as Check Syntax shows
// it); running out of memory delivers a failed check with that message.
// Thread safety: every member from the user interface thread, except
// Progress; the outcome is delivered there too (never after the job is gone),
// and the destructor stops the thread and waits for it.
#pragma once

#include "engine/template_check.h"
#include "views/analysis_panel.h"
#include "views/worker_job.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

struct CAnalysisRequest {
    std::u16string editorText;  // CR LF line breaks
    int32_t shingleLength = 7;  // the similarity test of a "skip similar" run
    int32_t allowedPercent = 20;
};

struct CAnalysisOutcome {
    TemplateCheckResult check;  // not passed: the template's defect; nothing else is set
    // The engine refused a template that passed the check: its kind and
    // position in the expanded text, as a run's summary gives them.
    int32_t loadErrorKind = 0;
    int32_t loadErrorPosition = -1;
    CTemplateAnalysis analysis;
};

class CTemplateAnalysisJob {
public:
    static constexpr int kProgressRange = 1000;
    using Done = std::function<void(CAnalysisOutcome)>;

    // Stops an analysis still running, then starts this one; done runs on
    // this thread.
    void Start(CAnalysisRequest request, Done done);
    void Stop() { job_.Stop(); }
    bool IsRunning() const { return job_.IsRunning(); }
    int Progress() const { return progress_.load(std::memory_order_relaxed); }

    // The whole analysis, on the calling thread.
    static CAnalysisOutcome Analyze(const CAnalysisRequest& request, const std::atomic<bool>& stop,
                                    const std::function<void(double)>& progress);

private:
    std::atomic<int> progress_{0};
    CWorkerJob<CAnalysisOutcome> job_;  // after what its work uses
};
