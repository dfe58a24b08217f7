#pragma once
#include "online/libraryendpoints.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace marlix {

// Sends play-count reports away from the windows' thread, so a slow or unreachable
// library never stalls the control loop. One worker, started with the first report,
// sends them one at a time in the order they were given. Reports are given, and the
// poster owned, by one thread.
class TReportPoster {
public:
    using TSend = std::function<void(const TLibraryEndpoints&, const std::string& id)>;

    TReportPoster(TLibraryEndpoints endpoints, TSend send);
    // Takes no more reports and lets a post under way finish within StopTimeout; a worker
    // stuck on a dead server is reported and left behind. Reports still queued are dropped:
    // the play count is best-effort and never reports failure.
    ~TReportPoster();
    TReportPoster(const TReportPoster&) = delete;
    TReportPoster& operator=(const TReportPoster&) = delete;

    // Queues the report of library track `id` and returns at once.
    void Post(std::string id);
    // Waits until every report given so far has been sent, at most `timeout`; true when
    // none is left.
    bool WaitIdle(std::chrono::milliseconds timeout) const;

    // How long the destructor waits for a post under way.
    std::chrono::milliseconds StopTimeout{2000};

private:
    // Everything the worker touches; it holds a share, so a worker left behind finds it alive.
    struct TShared {
        TShared(TLibraryEndpoints endpoints, TSend send) : Endpoints(std::move(endpoints)), Send(std::move(send)) {}
        const TLibraryEndpoints Endpoints;
        const TSend Send;
        std::mutex Lock;
        std::condition_variable Wake;
        std::deque<std::string> Queue;
        bool Stopping = false;
        std::atomic<int> Outstanding{0}; // reports given and not yet sent
        std::atomic<bool> Finished{false};
    };

    static void Work(const std::shared_ptr<TShared>& shared);

    std::shared_ptr<TShared> Shared;
    std::thread Worker;
};

} // namespace marlix
