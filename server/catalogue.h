#pragma once
#include "server/libraryquery.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace marlix {

// One track of the library.
struct TCatalogueTrack {
    std::string Id; // 16 hexadecimal digits
    std::string Title, Artist, Genre, Date;
    std::string Location; // a file on the server, or a URL elsewhere
    std::string Page;     // extra text of the track's page
    int Plays = 0;
};

// The library's catalogue in one SQLite file (WAL mode): the tracks, and their play counts
// per week, from which the weekly ranks come. Safe to use from several threads.
class TCatalogue {
public:
    // Opens or creates the file; throws std::runtime_error when it cannot.
    explicit TCatalogue(const std::string& file);
    ~TCatalogue();
    TCatalogue(const TCatalogue&) = delete;
    TCatalogue& operator=(const TCatalogue&) = delete;

    // Adds or updates the tracks (plays are kept) in one transaction: all or nothing.
    [[nodiscard]] bool Store(const std::vector<TCatalogueTrack>& tracks);
    std::vector<TCatalogueTrack> Search(const TLibraryQuery& query, int week);
    std::optional<TCatalogueTrack> Track(const std::string& id);
    std::vector<TCatalogueTrack> Newest(int count);
    std::vector<std::string> Genres();
    // Ids that begin with `prefix` (the eight characters a play report carries).
    std::vector<std::string> IdsStartingWith(const std::string& prefix);
    // One more play of the track, in its total and in `week`.
    bool CountPlay(const std::string& id, int week);
    int WeekPlays(const std::string& id, int week);
    std::string JournalMode();

    // The identifier of a file: 16 hexadecimal digits of a hash of its path.
    static std::string IdFor(const std::string& path);

private:
    void Exec(const char* sql);
    std::vector<TCatalogueTrack> Query(const std::string& sql, const std::vector<std::string>& params);

    std::mutex Mutex;
    sqlite3* Db = nullptr;
};

} // namespace marlix
