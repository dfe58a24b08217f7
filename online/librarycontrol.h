#pragma once
#include "online/libraryendpoints.h"
#include "online/reportposter.h"

#include <chrono>
#include <functional>
#include <memory>
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

    // A track played to its end. Reports it, away from the caller's thread, when the
    // result file lists it as a library track; queues it as a download candidate when
    // downloading is on.
    void PlayedToEnd(const std::string& fileName);
    // Waits until the reports given so far have been sent, at most `timeout`; true when
    // none is left (a program about to end lets them go out first).
    bool WaitReportsSent(std::chrono::milliseconds timeout) const;
    // The "Home" page of the first result whose "MP3" is `fileName`; empty when none, or
    // when it is not an http or https address.
    std::string HomeOf(const std::string& fileName) const;
    // Candidates into requests; the list is empty afterwards.
    void MakeRequests();

    std::vector<std::string> Candidates;
    // Sends the report on the poster's thread; the play-count post unless a test replaces
    // it before the first report.
    TReportPoster::TSend Report;

private:
    TLibraryEndpoints Endpoints;
    const TSettingFunction& Function;
    TDownloadlist& Downloads;
    std::unique_ptr<TReportPoster> Poster; // made with the first report
};

} // namespace marlix
