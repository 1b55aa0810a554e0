#include "app/template_analysis_job.h"

#include "engine/string_generator.h"
#include "text/messages.h"

#include <new>
#include <optional>
#include <utility>

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

void CTemplateAnalysisJob::Start(CAnalysisRequest request, Done done) {
    job_.Stop();
    progress_.store(0);
    job_.Start(
        [this, request = std::move(request)](const std::atomic<bool>& stop) -> std::optional<CAnalysisOutcome> {
            CAnalysisOutcome outcome = Analyze(request, stop, [this](double share) {
                progress_.store(static_cast<int>(share * kProgressRange), std::memory_order_relaxed);
            });
            if (outcome.check.stopped) return std::nullopt;
            return outcome;
        },
        std::move(done));
}
