#include "app/template_check_job.h"

#include "text/messages.h"

#include <new>
#include <optional>
#include <utility>

TemplateCheckResult CTemplateCheckJob::Check(std::u16string_view text, const std::atomic<bool>* stop) {
    try {
        return CheckTemplateText(text, stop);
    } catch (const std::bad_alloc&) {
        TemplateCheckResult failed;
        failed.passed = false;
        failed.message = std::u16string(MessageText(kIdsOutOfMemory));
        return failed;
    }
}

void CTemplateCheckJob::Start(std::u16string text, Done done) {
    job_.Stop();
    if (text.size() < kBackgroundLength) {
        done(Check(text, nullptr));
        return;
    }
    job_.Start(
        [text = std::move(text)](const std::atomic<bool>& stop) mutable -> std::optional<TemplateCheckResult> {
            TemplateCheckResult check = Check(text, &stop);
            std::u16string().swap(text);
            if (check.stopped) return std::nullopt;
            return check;
        },
        std::move(done));
}
