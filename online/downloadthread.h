#pragma once
#include "platform/inet/inet.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace marlix {

class TDownloadlist;

// Works through the download queue one request at a time, saving each into the download
// folder. The window reads the current request and the progress, and sets the cancel
// flag when the running request was removed.
class TDownloadThread {
public:
    // `folder` (with its trailing "/") is asked for at every request, so a changed
    // setting takes effect with the next one.
    TDownloadThread(TDownloadlist& list, std::function<std::string()> folder, TInetLimits limits = {});
    ~TDownloadThread();
    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    void Start();
    // Cancels a running transfer and joins the thread.
    void Terminate();
    // One turn of the loop without its 100 ms sleep: takes the first pending request and
    // downloads it. False when nothing was pending.
    bool Step();

    std::string CurrentRequest() const;
    std::atomic<int> Progress{0};
    std::atomic<bool> Cancel{false};

private:
    bool Download(const std::string& url, const std::string& target);
    void SetCurrent(std::string request);

    TDownloadlist& List;
    std::function<std::string()> Folder;
    TInetLimits Limits;
    mutable std::mutex Mutex;
    std::string Current;
    std::atomic<bool> Terminated{false};
    std::thread Worker;
};

} // namespace marlix
