#pragma once
#include "online/downloadlist.h"
#include "online/downloadthread.h"
#include "online/librarycontrol.h"
#include "online/libraryendpoints.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace marlix {

class TSettingFunction;

// "nMaxDownloadMB" in bytes; the built-in cap when it is not above 0.
uint64_t DownloadLimitBytes(const TSettingFunction& function);

// The online library's process-wide parts, created with the program and kept until exit:
// where the library is, the download queue with its thread, and the control loop's
// library duties.
class TOnlineLibrary {
public:
    TOnlineLibrary(std::string programFolder, TSettingFunction& function,
                   TLibraryEndpoints endpoints = TLibraryEndpoints::FromEnvironment());
    ~TOnlineLibrary();

    // Makes the favourites and download folders when missing, takes over
    // "download.txt" and starts the download thread.
    void Start();
    // Stops the thread and keeps unfinished requests in "download.txt"; false when that
    // file could not be written.
    bool Shutdown();
    // The download folder the thread uses from its next request on (the setting is the
    // main thread's; the thread reads this copy).
    void SetDownloadFolder(std::string folder);
    std::string DownloadFolder() const;

    const std::string Folder;
    TSettingFunction& Function;
    const TLibraryEndpoints Endpoints;
    TDownloadlist Downloads;
    TDownloadThread Thread;
    TLibraryControl Control;

private:
    mutable std::mutex FolderMutex;
    std::string FolderCopy;
};

} // namespace marlix
