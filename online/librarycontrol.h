#pragma once
#include "online/libraryendpoints.h"

#include <functional>
#include <string>
#include <vector>

namespace marlix {

class TDownloadlist;
class TSettingFunction;

// The control loop's library duties: report a library track played to its end, find the
// page of the track that starts, and turn finished tracks into download requests.
class TLibraryControl {
public:
    TLibraryControl(TLibraryEndpoints endpoints, const TSettingFunction& function, TDownloadlist& downloads);

    // A track played to its end. Reports it when the result file lists it as a library
    // track; queues it as a download candidate when downloading is on.
    void PlayedToEnd(const std::string& fileName);
    // The "Home" page of the first result whose "MP3" is `fileName`; empty when none.
    std::string HomeOf(const std::string& fileName) const;
    // Candidates into requests; the list is empty afterwards.
    void MakeRequests();

    std::vector<std::string> Candidates;
    // Sends the report; the play-count post unless a test replaces it.
    std::function<void(const TLibraryEndpoints&, const std::string& id)> Report;

private:
    TLibraryEndpoints Endpoints;
    const TSettingFunction& Function;
    TDownloadlist& Downloads;
};

// Start-up news check: downloads the news page to `programFolder` + "info.html" and
// compares its size with "InfoSize" of section "Info", storing the new size. True when
// the size changed (the news window is then shown).
class TIniFile;
bool CheckNews(const TLibraryEndpoints& endpoints, const std::string& programFolder, TIniFile& ini);

} // namespace marlix
