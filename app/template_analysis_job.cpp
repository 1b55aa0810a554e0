#include "app/template_analysis_job.h"

#include "engine/string_generator.h"
#include "text/messages.h"

#include <QMetaObject>

#include <new>
#include <utility>

CTemplateAnalysisJob::~CTemplateAnalysisJob() { Stop(); }

CAnalysisOutcome CTemplateAnalysisJob::Analyze(const CAnalysisRequest& request, const std::atomic<bool>& stop,
                                               const std::function<void(double)>& progress) {
    CAnalysisOutcome outcome;
    try {
        outcome.check = CheckTemplateText(request.editorText, &stop);
        if (!outcome.check.passed || outcome.check.stopped) return outcome;
        outcome.analysis.editorText = request.editorText;
        {
            SyntaxStringGenerator::CStringGenerator engine;
            const SyntaxStringGenerator::LoadResult load = engine.LoadTemplate(outcome.check.templateText, &stop);
            if (load.stopped) {
                outcome.check.stopped = true;
                return outcome;
            }
            if (!load.Ok()) {
                outcome.loadErrorKind = load.errorKind;
                outcome.loadErrorPosition = load.errorPosition;
                return outcome;
            }
            outcome.analysis.exactCount = engine.GetExactVersionCount().get_str();
        }
        ForecastOptions options;
        options.shingleLength = request.shingleLength;
        options.allowedPercent = request.allowedPercent;
        options.stop = &stop;
        options.progress = progress;
        outcome.analysis.forecast = ForecastTemplate(request.editorText, options);
        if (outcome.analysis.forecast.stopped || stop.load()) {
            outcome.check.stopped = true;
            return outcome;
        }
        outcome.analysis.allowedPercent = request.allowedPercent;
    } catch (const std::bad_alloc&) {
        outcome = CAnalysisOutcome();
        outcome.check.passed = false;
        outcome.check.message = std::u16string(MessageText(kIdsOutOfMemory));
    }
    return outcome;
}

void CTemplateAnalysisJob::Start(CAnalysisRequest request, QObject* receiver, Done done) {
    Stop();
    stop_.store(false);
    progress_.store(0);
    running_.store(true);
    const uint64_t ticket = ticket_;
    // The receiver owns the job, so it outlives the thread, which the
    // receiver's destruction stops and joins.
    worker_.Start([this, request = std::move(request), receiver, ticket, done = std::move(done)](std::stop_token) {
        CAnalysisOutcome outcome = Analyze(request, stop_, [this](double share) {
            progress_.store(static_cast<int>(share * kProgressRange), std::memory_order_relaxed);
        });
        if (outcome.check.stopped || stop_.load()) {
            running_.store(false);
            return;
        }
        // Delivered on the receiver's thread, unless the job was stopped or
        // restarted meanwhile (Qt drops it when the receiver is gone).
        QMetaObject::invokeMethod(
            receiver,
            [this, ticket, outcome = std::move(outcome), done]() mutable {
                if (ticket != ticket_) return;
                running_.store(false);
                done(std::move(outcome));
            },
            Qt::QueuedConnection);
    });
}

void CTemplateAnalysisJob::Stop() {
    ++ticket_;
    stop_.store(true);
    worker_.RequestStop();
    worker_.Join();
    running_.store(false);
}
