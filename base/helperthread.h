#pragma once
#include <atomic>
#include <thread>

namespace marlix {

// A second thread that shares work with its owner: the owner posts a job, works on the
// same job itself, and then waits. The job hands out its pieces through an atomic
// counter of its own, so whichever thread is free takes the next piece; a helper that
// has not woken up by the time the owner is done is simply called off. Posting and
// waiting allocate nothing and take no lock. One owner thread only.
class THelperThread {
public:
    THelperThread();
    ~THelperThread();
    THelperThread(const THelperThread&) = delete;
    THelperThread& operator=(const THelperThread&) = delete;

    // Offers job(arg) to the helper. The previous job must have been waited for.
    void Post(void (*job)(void*), void* arg);
    // Returns once the helper has finished the job, or calls it off if it has not begun.
    void Wait();

private:
    enum : int { kIdle, kPosted, kRunning, kQuit };
    void Loop();

    void (*Job)(void*) = nullptr;
    void* Arg = nullptr;
    std::atomic<int> State{kIdle};
    std::thread Thread;
};

} // namespace marlix
