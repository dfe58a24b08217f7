#include "online/onlinelibrary.h"

#include "settings/setting.h"

#include <filesystem>

namespace marlix {

uint64_t DownloadLimitBytes(const TSettingFunction& function)
{
    constexpr uint64_t kMiB = uint64_t{1} << 20;
    if (function.nMaxDownloadMB <= 0)
        return TInetLimits().DownloadCap;
    return static_cast<uint64_t>(function.nMaxDownloadMB) * kMiB;
}

TOnlineLibrary::TOnlineLibrary(std::string programFolder, TSettingFunction& function, TLibraryEndpoints endpoints)
    : Folder(std::move(programFolder)),
      Function(function),
      Endpoints(std::move(endpoints)),
      Thread(Downloads, [this] { return DownloadFolder(); }),
      Control(Endpoints, function, Downloads),
      FolderCopy(function.DownloadPath)
{
}

void TOnlineLibrary::SetDownloadFolder(std::string folder)
{
    std::lock_guard lock(FolderMutex);
    FolderCopy = std::move(folder);
}

std::string TOnlineLibrary::DownloadFolder() const
{
    std::lock_guard lock(FolderMutex);
    return FolderCopy;
}

TOnlineLibrary::~TOnlineLibrary()
{
    Thread.Terminate();
}

void TOnlineLibrary::Start()
{
    std::error_code ec;
    std::filesystem::create_directories(Function.FavoritePath, ec);
    std::filesystem::create_directories(Function.DownloadPath, ec);
    Downloads.LoadUnfinished(Folder + "download.txt");
    Thread.MaxBytes = DownloadLimitBytes(Function);
    Thread.Start();
}

bool TOnlineLibrary::Shutdown()
{
    Thread.Terminate();
    return Downloads.SaveUnfinished(Folder + "download.txt");
}

} // namespace marlix
