// CBackgroundWork: one piece of work on a thread of its own, owned by the
// object that started it. The one way the program starts a thread: the
// generation run's worker, the save's writer and the row store's look-ahead
// allocation all go through it, so that every thread has an owner that stops
// it and waits for it.
//
//   CBackgroundWork worker;
//   worker.Start([&](std::stop_token stop) {
//       while (!stop.stop_requested() && MoreToDo()) DoSome();
//   });
//   ...
//   if (worker.IsFinished()) worker.Join();   // collect it without waiting
//   worker.RequestStop();                     // cooperative: the work checks its token
//   worker.Join();                            // or leave both to the destructor
//
// A program with a thread that must keep answering (the window's) calls
// YieldToInteractive once, before it starts any work: every thread started
// after that runs at a lower scheduling priority, so that when all cores are
// busy building versions the window's thread still gets a core as soon as it
// wakes, instead of waiting for a time slice.
//
// Threading: everything from the owner's thread, except IsFinished, which any
// thread may ask; the work itself sees a stop through its token. Whatever the
// work wrote is visible to the owner once Join has returned.
#pragma once

#include <atomic>
#include <functional>
#include <stop_token>
#include <thread>

class CBackgroundWork {
public:
    CBackgroundWork() = default;
    ~CBackgroundWork();  // asks the work to stop and waits for it
    CBackgroundWork(const CBackgroundWork&) = delete;
    CBackgroundWork& operator=(const CBackgroundWork&) = delete;

    // Threads started from now on run below the priority of the threads that
    // were not started here (where the system allows a thread to lower its own).
    static void YieldToInteractive();

    // Waits for the previous work (without asking it to stop), then starts this.
    void Start(std::function<void(std::stop_token)> work);
    void RequestStop();
    bool StopRequested() const;
    void Join();  // returns at once when nothing was started or it was joined

    bool IsStarted() const { return thread_.joinable(); }  // started and not yet joined
    bool IsFinished() const { return finished_.load(std::memory_order_acquire); }  // the work returned

private:
    std::atomic<bool> finished_{true};
    std::jthread thread_;
};
