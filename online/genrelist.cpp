#include "online/genrelist.h"

#include "settings/inifile.h"

#include <utility>

namespace marlix {

bool FetchGenres(const TLibraryEndpoints& endpoints, const std::string& programFolder, const TInetLimits& limits)
{
    std::string body;
    return InetFetchWhole(endpoints.BaseUrl + "genres.txt", body, limits) &&
        WriteFileAtomic(programFolder + "genres.txt", body);
}

TGenreFetch::TGenreFetch(TLibraryEndpoints endpoints, std::string programFolder, TInetLimits limits)
    : Endpoints(std::move(endpoints)), Folder(std::move(programFolder)), Limits(limits)
{
}

void TGenreFetch::Start()
{
    if (Endpoints.Host.empty())
        return;
    Job.Start([ok = Ok, endpoints = Endpoints, folder = Folder, limits = Limits] {
        ok->store(FetchGenres(endpoints, folder, limits), std::memory_order_release);
    });
}

} // namespace marlix
