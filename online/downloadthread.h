#pragma once
#include "platform/inet/inet.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace marlix {

class TDownloadlist;

struct TDownloadRequest;

// Works through the download queue one request at a time, saving each into the download
// folder. The window reads the current request and the progress, and sets the cancel
// flag when the running request was removed. A transfer stopped by Terminate keeps its
// request pending and its partial file, which the next run of that request continues.
class TDownloadThread {
public:
    // `folder` (with its trailing "/") is asked for at every request, so a changed
    // setting takes effect with the next one.
    TDownloadThread(TDownloadlist& list, std::function<std::string()> folder, TInetLimits limits = {});
    ~TDownloadThread();
    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    void Start();
    // Stops a running transfer and joins the thread.
    void Terminate();
    // One turn of the loop without its wait: takes the first pending request and
    // downloads it. False when nothing was pending.
    bool Step();
    // Ends the worker's wait for work now (a request was queued).
    void Nudge();

    std::string CurrentRequest() const;
    // Cancels the running transfer when it is still `request`: a window that found that
    // request removed never stops the one that followed it.
    void CancelIfCurrent(const std::string& request);
    // Where the last download that succeeded was saved.
    std::string SavedFile() const;
    std::atomic<int> Progress{0};
    std::atomic<bool> Cancel{false};
    // The largest download taken, in bytes; read at every request.
    std::atomic<uint64_t> MaxBytes;

private:
    enum class TOutcome { Done, Failed, Interrupted };
    TOutcome Save(const TDownloadRequest& request);
    TOutcome Download(const std::string& url, const std::filesystem::path& target);
    bool Publish(const std::filesystem::path& part, const std::filesystem::path& target);
    void SetCurrent(std::string request, bool clearCancel = false);

    TDownloadlist& List;
    std::function<std::string()> Folder;
    TInetLimits Limits;
    mutable std::mutex Mutex;
    std::condition_variable Wake; // with Mutex: ends the worker's wait at Terminate or Nudge
    bool Nudged = false;          // under Mutex
    std::string Current;
    std::string Saved;
    std::atomic<bool> Terminated{false};
    std::thread Worker;
};

} // namespace marlix
