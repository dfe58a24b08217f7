#pragma once
#include "online/backgroundjob.h"
#include "online/libraryendpoints.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace marlix {

class TIniFile;

// The start-up news check, fetched on a thread of its own so that a slow or unreachable
// library never holds up the windows. When the library host resolves, the news page is
// saved as "info.html" in the program folder and `fetched` is called on that thread;
// comparing sizes (NewsSizeChanged) is left to the caller's thread.
class TNewsCheck {
public:
    TNewsCheck(TLibraryEndpoints endpoints, std::string programFolder);
    // No call of `fetched` starts once this has begun. A fetch under way is waited for
    // within the job's StopTimeout; past it, it is reported and left behind.
    ~TNewsCheck();
    TNewsCheck(const TNewsCheck&) = delete;
    TNewsCheck& operator=(const TNewsCheck&) = delete;

    // Starts the one fetch; later calls do nothing.
    void Start(std::function<void()> fetched);

private:
    // What the worker touches; it holds a share, so a worker left behind finds it alive.
    struct TShared {
        std::mutex Lock; // held while `Fetched` runs, so the destructor can cut it off
        std::function<void()> Fetched;
    };

    const TLibraryEndpoints Endpoints;
    const std::string Folder;
    std::shared_ptr<TShared> Shared = std::make_shared<TShared>();
    TBackgroundJob Job{"the news check"};
};

// Compares the size of "info.html" in `programFolder` with "InfoSize" of section "Info",
// storing the new size; true when it changed (the news window is then shown). A failed
// fetch leaves an empty page, whose size counts like any other; a missing page counts 0.
bool NewsSizeChanged(const std::string& programFolder, TIniFile& ini);

} // namespace marlix
