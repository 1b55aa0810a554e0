#include "app/template_check_job.h"

#include "text/messages.h"

#include <QMetaObject>

#include <new>
#include <utility>

CTemplateCheckJob::~CTemplateCheckJob() { Stop(); }

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

void CTemplateCheckJob::Start(std::u16string text, QObject* receiver, Done done) {
    Stop();
    if (text.size() < kBackgroundLength) {
        done(Check(text, nullptr));
        return;
    }
    stop_.store(false);
    running_.store(true);
    const uint64_t ticket = ticket_;
    // The receiver owns the job, so it outlives the thread, which the
    // receiver's destruction stops and joins.
    worker_.Start([this, text = std::move(text), receiver, ticket, done = std::move(done)](std::stop_token) mutable {
        TemplateCheckResult check = Check(text, &stop_);
        std::u16string().swap(text);
        if (check.stopped || stop_.load()) {
            running_.store(false);
            return;
        }
        // Delivered on the receiver's thread, unless the job was stopped or
        // restarted meanwhile (Qt drops it when the receiver is gone).
        QMetaObject::invokeMethod(
            receiver,
            [this, ticket, check = std::move(check), done = std::move(done)]() mutable {
                if (ticket != ticket_) return;
                running_.store(false);
                done(std::move(check));
            },
            Qt::QueuedConnection);
    });
}

void CTemplateCheckJob::Stop() {
    ++ticket_;
    stop_.store(true);
    worker_.RequestStop();
    worker_.Join();
    running_.store(false);
}
