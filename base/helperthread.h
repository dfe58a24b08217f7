#pragma once
#include <atomic>
#include <thread>

namespace marlix {

// A second thread that runs one job at a time for its owner: the owner posts a job,
// does its own share meanwhile, and waits for the job before it uses the result.
// Posting and waiting allocate nothing and take no lock (an atomic word the two
// threads wait on). One owner thread only.
class THelperThread {
public:
    THelperThread();
    ~THelperThread();
    THelperThread(const THelperThread&) = delete;
    THelperThread& operator=(const THelperThread&) = delete;

    // Runs job(arg) on the helper. The previous job must have been waited for.
    void Post(void (*job)(void*), void* arg);
    // Returns once the posted job has run.
    void Wait();

private:
    enum : int { kIdle, kPosted, kQuit };
    void Loop();

    void (*Job)(void*) = nullptr;
    void* Arg = nullptr;
    std::atomic<int> State{kIdle};
    std::thread Thread;
};

} // namespace marlix
