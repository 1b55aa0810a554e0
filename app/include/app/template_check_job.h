// The template check of the window's commands. A small text is checked at
// once; a large one on a thread of its own, so the window keeps answering,
// and Stop or closing the window ends it within a few milliseconds.
//
//   CTemplateCheckJob job;
//   job.Start(editor->Text(), [this](TemplateCheckResult check) { ContinueWith(check); });
//   ...
//   job.Stop();   // the result of a stopped check is never delivered
//
// A check that runs out of memory delivers a failed result with the
// out-of-memory message; no exception leaves the thread.
// Thread safety: every member from the user interface thread; the result is
// delivered there too (never after the job is gone), and the destructor stops
// the thread and waits for it.
#pragma once

#include "engine/template_check.h"
#include "views/worker_job.h"

#include <atomic>
#include <functional>
#include <string>

class CTemplateCheckJob {
public:
    // Texts from this many code units on are checked on the job's thread.
    static constexpr std::size_t kBackgroundLength = 1 << 16;

    using Done = std::function<void(TemplateCheckResult)>;

    // Stops a check still running, then checks text; done runs on this
    // thread, at once for a small text.
    void Start(std::u16string text, Done done);
    void Stop() { job_.Stop(); }
    bool IsRunning() const { return job_.IsRunning(); }

    // The check with the out-of-memory case turned into a failed result.
    static TemplateCheckResult Check(std::u16string_view text, const std::atomic<bool>* stop);

private:
    CWorkerJob<TemplateCheckResult> job_;
};
