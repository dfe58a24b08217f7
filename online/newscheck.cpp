#include "online/newscheck.h"

#include "base/boundedwait.h"
#include "platform/inet/inet.h"
#include "settings/inifile.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace marlix {

TNewsCheck::TNewsCheck(TLibraryEndpoints endpoints, std::string programFolder)
    : Endpoints(std::move(endpoints)), Folder(std::move(programFolder))
{
}

TNewsCheck::~TNewsCheck()
{
    if (!Worker.joinable())
        return;
    {
        std::lock_guard lock(Shared->Lock);
        Shared->Fetched = nullptr;
    }
    if (WaitUntilDone([this] { return Shared->Finished.load(std::memory_order_acquire); }, StopTimeout)) {
        Worker.join();
        return;
    }
    ReportAbandoned("the news check", StopTimeout);
    Worker.detach(); // it may still save the page, but calls nobody
}

void TNewsCheck::Start(std::function<void()> fetched)
{
    if (Worker.joinable())
        return;
    Shared->Fetched = std::move(fetched);
    Worker = std::thread([shared = Shared, endpoints = Endpoints, folder = Folder] {
        if (InetConnected(endpoints.Host)) {
            // A failed fetch leaves an empty page, whose size counts like any other.
            (void)InetDownloadToFile(folder + "info.html", endpoints.BaseUrl + "info.html");
            std::lock_guard lock(shared->Lock);
            if (shared->Fetched)
                shared->Fetched();
        }
        shared->Finished.store(true, std::memory_order_release);
    });
}

bool NewsSizeChanged(const std::string& programFolder, TIniFile& ini)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(programFolder + "info.html", ec);
    const int now = ec ? 0 : static_cast<int>(std::min<std::uintmax_t>(size, 0x7fffffff));
    if (now == ini.ReadInteger("Info", "InfoSize", 0))
        return false;
    ini.WriteInteger("Info", "InfoSize", now);
    return true;
}

} // namespace marlix
