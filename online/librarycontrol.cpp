#include "online/librarycontrol.h"

#include "online/downloadlist.h"
#include "online/librarysearch.h"
#include "online/playcount.h"
#include "settings/setting.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace marlix {

TLibraryControl::TLibraryControl(TLibraryEndpoints endpoints, const TSettingFunction& function,
                                 TDownloadlist& downloads)
    : Report(TPlayCountReport::Report), Endpoints(std::move(endpoints)), Function(function), Downloads(downloads)
{
}

void TLibraryControl::PlayedToEnd(const std::string& fileName)
{
    std::error_code ec;
    if (!std::filesystem::exists(Function.SearchResultPath, ec))
        return;
    bool library = false;
    for (const auto& r : TLibrarySearch::Results(Function.SearchResultPath)) {
        if (r.Mp3 == fileName && r.Id != fileName && TLibrarySearch::IsLibraryId(r.Id)) {
            if (!Poster)
                Poster = std::make_unique<TReportPoster>(Endpoints, Report);
            Poster->Post(r.Id);
            library = true;
            break;
        }
    }
    // "Library tracks only" keeps other tracks out of the download queue.
    if (Function.bDownload && (library || !Function.bDownloadTonkaraOnly))
        Candidates.push_back(fileName);
}

bool TLibraryControl::WaitReportsSent(std::chrono::milliseconds timeout) const
{
    return !Poster || Poster->WaitIdle(timeout);
}

namespace {

// A page the pane may open on the server's word: http or https only, never a local file
// or a script.
bool IsWebPage(const std::string& url)
{
    std::string scheme = url.substr(0, url.find("://"));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
    return url.find("://") != std::string::npos && (scheme == "http" || scheme == "https");
}

} // namespace

std::string TLibraryControl::HomeOf(const std::string& fileName) const
{
    for (const auto& r : TLibrarySearch::Results(Function.SearchResultPath))
        if (r.Mp3 == fileName)
            return IsWebPage(r.Home) ? r.Home : std::string();
    return {};
}

void TLibraryControl::MakeRequests()
{
    if (Candidates.empty())
        return;
    MakeDownloadRequests(Candidates, Function.SearchResultPath, Function.DownloadPath, Downloads);
    Candidates.clear();
}

} // namespace marlix
