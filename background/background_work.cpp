#include "background/background_work.h"

#include <utility>

CBackgroundWork::~CBackgroundWork() {
    RequestStop();
    Join();
}

void CBackgroundWork::Start(std::function<void(std::stop_token)> work) {
    Join();
    finished_.store(false, std::memory_order_relaxed);
    thread_ = std::jthread([this, work = std::move(work)](std::stop_token stop) {
        work(std::move(stop));
        finished_.store(true, std::memory_order_release);
    });
}

void CBackgroundWork::RequestStop() { thread_.request_stop(); }

bool CBackgroundWork::StopRequested() const { return thread_.get_stop_token().stop_requested(); }

void CBackgroundWork::Join() {
    if (thread_.joinable()) thread_.join();
}
