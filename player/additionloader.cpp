#include "player/additionloader.h"

#include "base/boundedwait.h"
#include "player/namelist.h"
#include "player/pending.h"
#include "player/playlist.h"

#include <utility>

namespace marlix {

TAdditionLoader::TAdditionLoader(TPendingAdditions& pending) : Shared(std::make_shared<TShared>(pending)) {}

TAdditionLoader::~TAdditionLoader()
{
    if (!Worker.joinable())
        return;
    Cancel();
    {
        std::lock_guard lock(Shared->Lock);
        Shared->Stopping = true;
    }
    Shared->Wake.notify_all();
    if (WaitUntilDone([this] { return Shared->Finished.load(std::memory_order_acquire); }, StopTimeout)) {
        Worker.join();
        return;
    }
    ReportAbandoned("the playlist loader", StopTimeout);
    Worker.detach(); // it keeps its share of the state and adds nothing once cancelled
}

void TAdditionLoader::AddNames(std::vector<std::string> names, std::string extensions, bool keepOthers)
{
    Queue(TJob{std::move(names), std::move(extensions), keepOthers, false});
}

void TAdditionLoader::AddM3U(std::string file)
{
    Queue(TJob{{std::move(file)}, {}, false, true});
}

void TAdditionLoader::Queue(TJob job)
{
    {
        std::lock_guard lock(Shared->Lock);
        Shared->Queue.push_back(std::move(job));
        ++Shared->Outstanding;
    }
    if (!Worker.joinable())
        Worker = std::thread(Work, Shared);
    Shared->Wake.notify_one();
}

void TAdditionLoader::Cancel()
{
    std::lock_guard lock(Shared->Lock);
    Shared->Outstanding -= static_cast<int>(Shared->Queue.size());
    Shared->Queue.clear();
    if (Shared->Running && !Shared->Cancelled) {
        Shared->Cancelled = true;
        --Shared->Outstanding;
    }
}

void TAdditionLoader::SetGate(std::function<void()> gate)
{
    std::lock_guard lock(Shared->Lock);
    Shared->Gate = std::move(gate);
}

TLoadProgress TAdditionLoader::Progress() const
{
    const TShared& s = *Shared;
    return {Busy(), s.ReadingM3U.load(), s.Found.load(), s.BytesDone.load(), s.BytesTotal.load()};
}

bool TAdditionLoader::Busy() const
{
    return Shared->Outstanding.load(std::memory_order_acquire) > 0;
}

bool TAdditionLoader::WaitIdle(std::chrono::milliseconds timeout) const
{
    return WaitUntilDone([this] { return !Busy(); }, timeout);
}

void TAdditionLoader::Work(const std::shared_ptr<TShared>& shared)
{
    TShared& s = *shared;
    for (;;) {
        TJob job;
        std::function<void()> gate;
        {
            std::unique_lock lock(s.Lock);
            s.Wake.wait(lock, [&] { return s.Stopping || !s.Queue.empty(); });
            if (s.Stopping)
                break;
            job = std::move(s.Queue.front());
            s.Queue.pop_front();
            s.Running = true;
            s.Cancelled = false;
            s.Found = 0;
            s.BytesDone = 0;
            s.BytesTotal = 0;
            s.ReadingM3U = job.IsM3U;
            gate = s.Gate;
        }
        if (gate)
            gate();
        const std::vector<std::string> entries = Run(s, job);
        s.Found.store(entries.size(), std::memory_order_relaxed);
        // Under the lock, so that nothing is added once Cancel has returned.
        std::lock_guard lock(s.Lock);
        s.Running = false;
        s.ReadingM3U = false;
        if (!s.Cancelled) {
            s.Pending.Add(entries);
            s.Outstanding.fetch_sub(1, std::memory_order_release);
        }
    }
    s.Finished.store(true, std::memory_order_release);
}

std::vector<std::string> TAdditionLoader::Run(TShared& s, const TJob& job)
{
    std::vector<std::string> entries;
    if (job.IsM3U) {
        TPlaylist::LoadM3U(job.Names.front(), entries, [&s](uint64_t done, uint64_t total) {
            s.BytesTotal.store(total, std::memory_order_relaxed);
            s.BytesDone.store(done, std::memory_order_relaxed);
            return !s.Cancelled.load(std::memory_order_relaxed);
        });
        return entries;
    }
    return ExpandNames(job.Names, job.Extensions, job.KeepOthers, [&s](size_t found) {
        s.Found.store(found, std::memory_order_relaxed);
        return !s.Cancelled.load(std::memory_order_relaxed);
    });
}

} // namespace marlix
