#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace marlix {

class TPendingAdditions;

// What the loader is doing, read without locks.
struct TLoadProgress {
    bool Busy = false;       // a job is queued or running whose entries are still to come
    bool ReadingM3U = false; // the running job reads a playlist file (else it walks folders)
    size_t Found = 0;        // entries the running job has found so far
    uint64_t BytesDone = 0;  // of the playlist file being read
    uint64_t BytesTotal = 0;
};

// Turns names into playlist entries away from the windows' thread: folders are walked
// into their files, and a playlist file given alone is read into its lines. Jobs run
// one after another on one worker thread, in the order they were given; each job's
// entries reach the pending additions in one piece, so the playlist never takes half
// of a folder. Jobs are given, and the loader owned, by one thread (the main thread);
// progress may be read from any.
class TAdditionLoader {
public:
    explicit TAdditionLoader(TPendingAdditions& pending);
    // Cancels everything and waits for the worker a bounded time; a worker stuck in the
    // file system (a dead mount) is reported and left behind.
    ~TAdditionLoader();
    TAdditionLoader(const TAdditionLoader&) = delete;
    TAdditionLoader& operator=(const TAdditionLoader&) = delete;

    // Queues names as ExpandNames takes them (`extensions` the comma-separated list of a
    // folder's files to take; other names kept when `keepOthers` is set).
    void AddNames(std::vector<std::string> names, std::string extensions, bool keepOthers);
    // Queues the reading of an ".m3u" file into its lines (LoadM3U's rules).
    void AddM3U(std::string file);
    // Drops the queued jobs and stops the running one; none of them adds anything.
    void Cancel();

    TLoadProgress Progress() const;
    bool Busy() const;
    // Waits until no job is left, at most `timeout`; true when none is left.
    bool WaitIdle(std::chrono::milliseconds timeout) const;

    // How long the destructor waits for a stuck worker.
    std::chrono::milliseconds StopTimeout{3000};
    // Called on the worker before each job: tests hold the worker there to look at the
    // loader (and its windows) while a job is under way.
    void SetGate(std::function<void()> gate);

private:
    struct TJob {
        std::vector<std::string> Names; // or the playlist file alone
        std::string Extensions;
        bool KeepOthers = false;
        bool IsM3U = false;
    };
    // Everything the worker touches; it holds a share, so a worker left behind finds it alive.
    struct TShared {
        explicit TShared(TPendingAdditions& pending) : Pending(pending) {}
        TPendingAdditions& Pending;
        std::mutex Lock;
        std::condition_variable Wake;
        std::deque<TJob> Queue;
        std::function<void()> Gate;
        bool Running = false; // a job is being worked on
        bool Stopping = false;
        std::atomic<bool> Cancelled{false}; // the running job is abandoned
        std::atomic<int> Outstanding{0};    // jobs whose entries may still arrive
        std::atomic<bool> ReadingM3U{false};
        std::atomic<size_t> Found{0};
        std::atomic<uint64_t> BytesDone{0};
        std::atomic<uint64_t> BytesTotal{0};
        std::atomic<bool> Finished{false};
    };

    void Queue(TJob job);
    static void Work(const std::shared_ptr<TShared>& shared);
    static std::vector<std::string> Run(TShared& shared, const TJob& job);

    std::shared_ptr<TShared> Shared;
    std::thread Worker;
};

} // namespace marlix
