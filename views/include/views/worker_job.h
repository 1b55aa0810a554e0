// Work done on another thread, handed back to the thread that owns it.
//
// CWorkerJob<Result> runs one computation at a time on a thread of its own
// and gives its result to a function on the thread that made the job: the
// window's template check and its analysis.
//
//   CWorkerJob<int> job;
//   job.Start([](const std::atomic<bool>& stop) -> std::optional<int> {
//       const int count = Count(stop);
//       return stop.load() ? std::nullopt : std::optional<int>(count);
//   }, [this](int count) { Show(count); });
//   ...
//   job.Stop();   // the result of a stopped job is never delivered
//
// CHandBack is the hand-over underneath, for work that keeps its own thread:
//
//   handBack.Post([this, findings = std::move(findings)]() mutable { Show(std::move(findings)); });
//
// The posted function waits in a queue under a lock, and only a call without
// any state of its own is queued through Qt: Qt's event queue orders its
// events by locks that a thread checker cannot see, while the lock here makes
// the hand-over of whatever the function holds plain to it.
// Thread safety: CHandBack::Post from any thread, the posted functions run on
// the hand-back's thread, and those still queued when it goes are dropped.
// CWorkerJob: every member from the owner's thread, which the job's result is
// delivered to (never after the job is gone); the destructor stops the thread
// and waits for it.
#pragma once

#include "background/background_work.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class CHandBack : public QObject {
    Q_OBJECT
public:
    explicit CHandBack(QObject* parent = nullptr) : QObject(parent) {}

    // Any thread: apply runs on this object's thread, after those posted before it.
    void Post(std::function<void()> apply);

private:
    Q_INVOKABLE void RunPosted();

    std::mutex mutex_;
    std::vector<std::function<void()>> posted_;
};

template <typename Result>
class CWorkerJob {
public:
    // Runs on the job's thread; no result when it stopped.
    using Work = std::function<std::optional<Result>(const std::atomic<bool>& stop)>;
    using Done = std::function<void(Result)>;

    CWorkerJob() = default;
    ~CWorkerJob() { Stop(); }
    CWorkerJob(const CWorkerJob&) = delete;
    CWorkerJob& operator=(const CWorkerJob&) = delete;

    // Stops a job still running, then starts work; done gets its result on
    // this thread unless the job is stopped or started again meanwhile.
    void Start(Work work, Done done) {
        Stop();
        stop_.store(false);
        running_.store(true);
        worker_.Start([this, ticket = ticket_, work = std::move(work), done = std::move(done)](std::stop_token) mutable {
            std::optional<Result> result = work(stop_);
            if (!result || stop_.load()) {
                running_.store(false);
                return;
            }
            handBack_.Post([this, ticket, result = std::move(*result), done = std::move(done)]() mutable {
                if (ticket != ticket_) return;
                running_.store(false);
                done(std::move(result));
            });
        });
    }

    void Stop() {
        ++ticket_;
        stop_.store(true);
        worker_.RequestStop();
        worker_.Join();
        running_.store(false);
    }

    bool IsRunning() const { return running_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    uint64_t ticket_ = 0;  // the current job; a delivery of an older one is dropped
    CHandBack handBack_;
    CBackgroundWork worker_;  // last: stopped before the members it uses go
};
