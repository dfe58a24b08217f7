#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace marlix {

// One job on a thread of its own, so a slow or unreachable library never holds up the
// windows. Its owner never waits long: the destructor waits StopTimeout for a job under
// way, then reports it and leaves it behind. The job must therefore touch only what it
// owns (copies, or shares of the state it reports through).
class TBackgroundJob {
public:
    // `what` names the job in the report of one left behind.
    explicit TBackgroundJob(const char* what) : What(what) {}
    ~TBackgroundJob();
    TBackgroundJob(const TBackgroundJob&) = delete;
    TBackgroundJob& operator=(const TBackgroundJob&) = delete;

    // Starts the one run; later calls do nothing.
    void Start(std::function<void()> job);
    bool Started() const { return Worker.joinable(); }
    // The job has returned.
    bool Finished() const { return Done->load(std::memory_order_acquire); }

    std::chrono::milliseconds StopTimeout{2000};

private:
    const char* What;
    std::shared_ptr<std::atomic<bool>> Done = std::make_shared<std::atomic<bool>>(false);
    std::thread Worker;
};

} // namespace marlix
