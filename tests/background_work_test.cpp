// Background work: the owner's stop reaches the work through its token, the
// destructor stops and waits, and a new start waits for the previous work.
#include "background/background_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

TEST(BackgroundWork, OwnerStopsJoinsAndRestarts) {
    std::atomic<int> steps{0};
    std::atomic<bool> sawStop{false};
    {
        CBackgroundWork worker;
        EXPECT_FALSE(worker.IsStarted());
        worker.Join();  // nothing started: returns at once
        worker.Start([&](std::stop_token stop) {
            while (!stop.stop_requested()) {
                steps.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            sawStop.store(true);
        });
        EXPECT_TRUE(worker.IsStarted());
        while (steps.load() < 3) std::this_thread::yield();
        EXPECT_FALSE(worker.IsFinished());
    }  // the destructor asks for the stop and waits
    EXPECT_TRUE(sawStop.load());

    CBackgroundWork worker;
    int order = 0;
    int first = 0;
    int second = 0;
    worker.Start([&](std::stop_token) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        first = ++order;
    });
    worker.Start([&](std::stop_token stop) { second = stop.stop_requested() ? -1 : ++order; });
    worker.Join();
    EXPECT_EQ(first, 1);   // the first work ran to its end, unstopped
    EXPECT_EQ(second, 2);  // after it, with a fresh token
    EXPECT_TRUE(worker.IsFinished());
    EXPECT_FALSE(worker.IsStarted());

    worker.Start([](std::stop_token) {});
    worker.RequestStop();
    EXPECT_TRUE(worker.StopRequested());
    worker.Join();
}

#if defined(__linux__)
// The window's thread keeps its priority; work started after the call runs
// below it, and work started by such work runs at the same priority, not
// lower again.
TEST(BackgroundWork, WorkStartedAfterYieldingRunsBelowTheStartingThread) {
    const auto niceOf = [] { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); };
    const int owner = niceOf();
    if (owner >= 19) GTEST_SKIP() << "the test runs at the lowest priority already";
    int before = -100;
    int after = -100;
    int nested = -100;
    CBackgroundWork worker;
    worker.Start([&](std::stop_token) { before = niceOf(); });
    worker.Join();
    CBackgroundWork::YieldToInteractive();
    worker.Start([&](std::stop_token) {
        after = niceOf();
        CBackgroundWork inner;
        inner.Start([&](std::stop_token) { nested = niceOf(); });
    });
    worker.Join();
    EXPECT_EQ(before, owner);
    EXPECT_EQ(niceOf(), owner);
    EXPECT_GT(after, owner);
    EXPECT_EQ(nested, after);
}
#endif

}  // namespace
