#pragma once
#include "online/backgroundjob.h"
#include "online/libraryendpoints.h"

#include <memory>
#include <string>

namespace marlix {

// Fetches the library's genre list (base URL + "genres.txt") into "genres.txt" in
// `programFolder`, which the search dialog and the pane list. Only a whole answer replaces
// the file; otherwise it keeps the last list and false is returned.
bool FetchGenres(const TLibraryEndpoints& endpoints, const std::string& programFolder, const TInetLimits& limits = {});

// FetchGenres on a thread of its own, so the search dialog opens at once and takes the
// list when it arrives. Endpoints without a host fetch nothing.
class TGenreFetch {
public:
    TGenreFetch(TLibraryEndpoints endpoints, std::string programFolder, TInetLimits limits = {});

    // Starts the one fetch; later calls do nothing.
    void Start();
    // The fetch ended, whatever came of it.
    bool Finished() const { return Job.Finished(); }
    // The fetch ended and replaced the file.
    bool Fetched() const { return Finished() && Ok->load(std::memory_order_acquire); }

private:
    const TLibraryEndpoints Endpoints;
    const std::string Folder;
    const TInetLimits Limits;
    std::shared_ptr<std::atomic<bool>> Ok = std::make_shared<std::atomic<bool>>(false);
    TBackgroundJob Job{"the genre list fetch"};
};

} // namespace marlix
