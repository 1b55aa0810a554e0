#include "background/background_work.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

constexpr int kNoYield = -100;
// The nice value of threads started here once YieldToInteractive was called.
std::atomic<int> backgroundNice{kNoYield};

#if defined(__linux__)
// On Linux the nice value belongs to the thread, and raising it needs no
// right.
int OwnNice() {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    return errno == 0 ? nice : kNoYield;
}
#endif

}  // namespace

void CBackgroundWork::YieldToInteractive() {
#if defined(__linux__)
    // Ten steps give a waking thread of the caller's nice value about ten
    // times the share of a busy background thread. Every background thread
    // gets the same value, whichever thread starts it, so that they share
    // the cores evenly among themselves.
    constexpr int kNiceSteps = 10;
    constexpr int kLowestPriority = 19;
    const int own = OwnNice();
    if (own != kNoYield) backgroundNice.store(std::min(own + kNiceSteps, kLowestPriority));
#endif
}

CBackgroundWork::~CBackgroundWork() {
    RequestStop();
    Join();
}

void CBackgroundWork::Start(std::function<void(std::stop_token)> work) {
    Join();
    finished_.store(false, std::memory_order_relaxed);
    thread_ = std::jthread([this, work = std::move(work), nice = backgroundNice.load()](std::stop_token stop) {
#if defined(__linux__)
        if (nice != kNoYield && OwnNice() < nice) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
#else
        (void)nice;
#endif
        work(std::move(stop));
        finished_.store(true, std::memory_order_release);
    });
}

void CBackgroundWork::RequestStop() { thread_.request_stop(); }

bool CBackgroundWork::StopRequested() const { return thread_.get_stop_token().stop_requested(); }

void CBackgroundWork::Join() {
    if (thread_.joinable()) thread_.join();
}
