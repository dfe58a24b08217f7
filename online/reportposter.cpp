#include "online/reportposter.h"

#include "base/boundedwait.h"

#include <utility>

namespace marlix {

TReportPoster::TReportPoster(TLibraryEndpoints endpoints, TSend send)
    : Shared(std::make_shared<TShared>(std::move(endpoints), std::move(send)))
{
}

TReportPoster::~TReportPoster()
{
    if (!Worker.joinable())
        return;
    {
        std::lock_guard lock(Shared->Lock);
        Shared->Stopping = true;
        Shared->Queue.clear();
    }
    Shared->Wake.notify_all();
    if (WaitUntilDone([this] { return Shared->Finished.load(std::memory_order_acquire); }, StopTimeout)) {
        Worker.join();
        return;
    }
    ReportAbandoned("the play-count report", StopTimeout);
    Worker.detach(); // it keeps its share of the state and sends nothing more
}

void TReportPoster::Post(std::string id)
{
    {
        std::lock_guard lock(Shared->Lock);
        Shared->Queue.push_back(std::move(id));
        Shared->Outstanding.fetch_add(1, std::memory_order_relaxed);
    }
    if (!Worker.joinable())
        Worker = std::thread(Work, Shared);
    Shared->Wake.notify_one();
}

bool TReportPoster::WaitIdle(std::chrono::milliseconds timeout) const
{
    return WaitUntilDone([this] { return Shared->Outstanding.load(std::memory_order_acquire) == 0; }, timeout);
}

void TReportPoster::Work(const std::shared_ptr<TShared>& shared)
{
    TShared& s = *shared;
    for (;;) {
        std::string id;
        {
            std::unique_lock lock(s.Lock);
            s.Wake.wait(lock, [&] { return s.Stopping || !s.Queue.empty(); });
            if (s.Stopping)
                break;
            id = std::move(s.Queue.front());
            s.Queue.pop_front();
        }
        try {
            s.Send(s.Endpoints, id);
        } catch (...) {
            // A report that cannot be sent is dropped like one the server did not take.
        }
        s.Outstanding.fetch_sub(1, std::memory_order_release);
    }
    s.Finished.store(true, std::memory_order_release);
}

} // namespace marlix
