#include "online/newscheck.h"

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
    std::lock_guard lock(Shared->Lock);
    Shared->Fetched = nullptr;
}

void TNewsCheck::Start(std::function<void()> fetched)
{
    if (Job.Started())
        return;
    Shared->Fetched = std::move(fetched);
    Job.Start([shared = Shared, endpoints = Endpoints, folder = Folder] {
        if (!InetConnected(endpoints.Host))
            return;
        // A failed fetch leaves an empty page, whose size counts like any other.
        (void)InetDownloadToFile(folder + "info.html", endpoints.BaseUrl + "info.html");
        std::lock_guard lock(shared->Lock);
        if (shared->Fetched)
            shared->Fetched();
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
