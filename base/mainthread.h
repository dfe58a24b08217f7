#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace marlix {

// The one queue of work handed to the main thread ("synchronised calls"). Worker
// threads post a call and wait for it; the main thread runs queued calls from its
// loop: the desktop program from the Qt event loop, the CLI and the tests by calling
// Pump. A main thread that waits for a worker must keep pumping (WaitPumping), so a
// worker blocked on a synchronised call is never deadlocked.
class TMainThread {
public:
    // The process-wide queue; its main thread is the one that first asked for it,
    // unless SetMainThread says otherwise. It lives until the process ends.
    static TMainThread& Instance();

    void SetMainThread(std::thread::id id);
    bool IsMainThread() const;

    // Runs `call` on the main thread and waits for it; on the main thread it runs at
    // once. Returns false, without running it, when the queue is shut down.
    bool Synchronize(const std::function<void()>& call);
    // Runs every queued call; returns how many ran. Main thread only.
    int Pump();
    // Pumps until `done` answers true, sleeping `step` between looks. Main thread only.
    void WaitPumping(const std::function<bool()>& done, std::chrono::milliseconds step = std::chrono::milliseconds(1));

    // Refuses further calls and releases every waiting one unrun (at exit).
    void Shutdown();
    // Accepts calls again (tests).
    void Restart();

    // Called when work is queued (the desktop program wakes its event loop here).
    void SetWakeUp(std::function<void()> wake);

private:
    struct TCall {
        std::function<void()> Fn;
        bool Done = false;
        bool Ran = false;
    };

    std::mutex Lock;
    std::condition_variable Finished;
    std::deque<std::shared_ptr<TCall>> Queue;
    std::thread::id MainId = std::this_thread::get_id();
    std::function<void()> WakeUp;
    bool Closed = false;
};

} // namespace marlix
