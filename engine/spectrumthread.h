#pragma once
#include <atomic>
#include <functional>
#include <thread>

namespace marlix {

class TMainThread;

// Paces the spectrum analyser: at the lowest priority it has the main thread run one
// processing pass, sleeps 2 ms and repeats until stopped. It does no work of its own.
// With `due`, a turn on which it answers false skips the pass (and the main thread's
// wake-up) and the next look comes after 10 ms.
class TSpectrumThread {
public:
    TSpectrumThread(TMainThread& dispatcher, std::function<void()> pass, std::function<bool()> due = {});
    ~TSpectrumThread();
    TSpectrumThread(const TSpectrumThread&) = delete;
    TSpectrumThread& operator=(const TSpectrumThread&) = delete;

    // Main thread: ends the loop, pumping the main thread's queue meanwhile so the
    // pass the thread waits on can still run.
    void Stop();

private:
    void Run();

    TMainThread& Dispatcher;
    std::function<void()> Pass;
    std::function<bool()> Due;
    std::atomic<bool> Terminated{false};
    std::atomic<bool> Ended{false};
    std::thread Thread;
};

} // namespace marlix
