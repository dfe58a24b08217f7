#pragma once
#include "server/libraryquery.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace marlix {

class TSqlDatabase;

// One track of the library.
struct TCatalogueTrack {
    std::string Id; // 16 hexadecimal digits
    std::string Title, Artist, Genre, Date;
    std::string Location; // a file on the server, or a URL elsewhere
    std::string Page;     // extra text of the track's page
    int Plays = 0;
};

// Where a track's file is: its path, and the real path of the folder it was imported from
// (empty for tracks stored before the folder was kept).
struct TTrackFile {
    std::string Location, Root;
};

// The library's catalogue: the tracks, their play counts per week (from which the weekly
// ranks come) and the play reports already counted. Kept in one SQLite file (WAL mode), or
// in PostgreSQL when `db` is a "postgresql://" URI, so that several server processes can
// share it. Safe to use from several threads.
class TCatalogue {
public:
    // Opens or creates the catalogue; throws std::runtime_error when it cannot.
    explicit TCatalogue(const std::string& db);
    ~TCatalogue();
    TCatalogue(const TCatalogue&) = delete;
    TCatalogue& operator=(const TCatalogue&) = delete;

    // Adds or updates the tracks (plays are kept) in one transaction: all or nothing.
    // `root` is the real path of the folder they were imported from.
    [[nodiscard]] bool Store(const std::vector<TCatalogueTrack>& tracks, const std::string& root = "");
    std::vector<TCatalogueTrack> Search(const TLibraryQuery& query, int week);
    std::optional<TCatalogueTrack> Track(const std::string& id);
    std::optional<TTrackFile> File(const std::string& id);
    std::vector<TCatalogueTrack> Newest(int count);
    std::vector<std::string> Genres();
    // Ids that begin with `prefix` (the eight characters a play report carries).
    std::vector<std::string> IdsStartingWith(const std::string& prefix);
    // One more play of the track, in its total and in `week`.
    bool CountPlay(const std::string& id, int week);
    // As CountPlay, for a report whose `nonce` proved a code made for `day`: refused when
    // that nonce was counted before. Nonces are kept while a code for their day is valid.
    bool CountReportedPlay(const std::string& id, int week, const std::string& nonce, int day);
    int WeekPlays(const std::string& id, int week);
    // SQLite's journal mode ("wal"); empty on PostgreSQL.
    std::string JournalMode();

    // The identifier of a file: 16 hexadecimal digits of a hash of its path.
    static std::string IdFor(const std::string& path);

private:
    void CreateSchema();
    std::vector<TCatalogueTrack> Query(const std::string& sql, const std::vector<std::string>& params);

    std::unique_ptr<TSqlDatabase> Db;
};

} // namespace marlix
