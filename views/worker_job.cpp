#include "views/worker_job.h"

#include <QMetaObject>

void CHandBack::Post(std::function<void()> apply) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = posted_.empty();
        posted_.push_back(std::move(apply));
    }
    // By name, so that the queued call is made and freed inside Qt alone.
    if (first) QMetaObject::invokeMethod(this, "RunPosted", Qt::QueuedConnection);
}

void CHandBack::RunPosted() {
    std::vector<std::function<void()>> posted;
    {
        std::lock_guard lock(mutex_);
        posted.swap(posted_);
    }
    for (std::function<void()>& apply : posted) apply();
}
