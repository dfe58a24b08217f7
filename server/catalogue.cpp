#include "server/catalogue.h"

#include "server/sqldatabase.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace marlix {

namespace {

// A LIKE pattern that finds `text` anywhere, with the pattern characters taken literally.
std::string Contains(const std::string& text)
{
    std::string p = "%";
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\')
            p += '\\';
        p += c;
    }
    return p + "%";
}

int Number(const std::string& text)
{
    try {
        return std::stoi(text);
    } catch (...) {
        return 0;
    }
}

const char* const kColumns = "t.id, t.title, t.artist, t.genre, t.date, t.location, t.page, t.plays";

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS tracks (id TEXT PRIMARY KEY, title TEXT NOT NULL, artist TEXT NOT NULL,"
    " genre TEXT NOT NULL, date TEXT NOT NULL, location TEXT NOT NULL, page TEXT NOT NULL,"
    " plays INTEGER NOT NULL DEFAULT 0, added INTEGER NOT NULL, root TEXT NOT NULL DEFAULT '')",
    "CREATE TABLE IF NOT EXISTS weekly (id TEXT NOT NULL, week INTEGER NOT NULL, plays INTEGER NOT NULL,"
    " PRIMARY KEY (id, week))",
    "CREATE TABLE IF NOT EXISTS nonces (nonce TEXT PRIMARY KEY, day INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS nonces_day ON nonces (day)",
};

// On PostgreSQL, ILIKE folds each row's text for every search; folded copies kept beside
// the text let searches match with the byte-wise LIKE instead, about twice as fast.
const char* const kPostgresKeys[] = {
    "ALTER TABLE tracks ADD COLUMN IF NOT EXISTS artist_key TEXT GENERATED ALWAYS AS (lower(artist)) STORED",
    "ALTER TABLE tracks ADD COLUMN IF NOT EXISTS title_key TEXT GENERATED ALWAYS AS (lower(title)) STORED",
    "ALTER TABLE tracks ADD COLUMN IF NOT EXISTS genre_key TEXT GENERATED ALWAYS AS (lower(genre)) STORED",
};

// One more play in the track's total and in its week; false when there is no such track.
bool Count(TSqlConnection& c, const std::string& id, int week)
{
    const auto updated = c.Run("UPDATE tracks SET plays = plays + 1 WHERE id = $1 RETURNING id", {id});
    return updated && updated->size() == 1 &&
           c.Run("INSERT INTO weekly (id, week, plays) VALUES ($1, $2, 1)"
                 " ON CONFLICT (id, week) DO UPDATE SET plays = weekly.plays + 1",
                 {id, std::to_string(week)});
}

} // namespace

TCatalogue::TCatalogue(const std::string& db) : Db(std::make_unique<TSqlDatabase>(db))
{
    CreateSchema();
}

TCatalogue::~TCatalogue() = default;

void TCatalogue::CreateSchema()
{
    const bool ok = Db->Transaction([](TSqlConnection& c) {
        if (!c.LockSchema())
            return false;
        for (const char* sql : kSchema)
            if (!c.Run(sql))
                return false;
        return true;
    });
    const bool keys = ok && (!Db->Postgres() || Db->Transaction([](TSqlConnection& c) {
                                 return c.LockSchema() &&
                                        std::all_of(std::begin(kPostgresKeys), std::end(kPostgresKeys),
                                                    [&](const char* sql) { return c.Run(sql).has_value(); });
                             }));
    // Catalogues written before tracks kept their import folder.
    if (ok && !Db->Run("SELECT root FROM tracks LIMIT 0"))
        Db->Run("ALTER TABLE tracks ADD COLUMN root TEXT NOT NULL DEFAULT ''");
    if (!ok || !keys || !Db->Run("SELECT root FROM tracks LIMIT 0"))
        throw std::runtime_error("cannot create the catalogue's tables");
}

bool TCatalogue::Store(const std::vector<TCatalogueTrack>& tracks, const std::string& root)
{
    const bool stored = Db->Transaction([&](TSqlConnection& c) {
        const std::string sql =
            "INSERT INTO tracks (id, title, artist, genre, date, location, page, root, added)"
            " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, (SELECT COALESCE(MAX(added), 0) + 1 FROM tracks))"
            " ON CONFLICT (id) DO UPDATE SET title = $2, artist = $3, genre = $4, date = $5, location = $6,"
            " page = $7, root = $8";
        return std::all_of(tracks.begin(), tracks.end(), [&](const TCatalogueTrack& t) {
            return c.Run(sql, {t.Id, t.Title, t.Artist, t.Genre, t.Date, t.Location, t.Page, root}).has_value();
        });
    });
    // Fresh statistics, so the planner sees the imported tracks (and PostgreSQL its indexes).
    if (stored && tracks.size() >= 100)
        Db->Run("ANALYZE tracks");
    return stored;
}

std::vector<TCatalogueTrack> TCatalogue::Query(const std::string& sql, const std::vector<std::string>& params)
{
    std::vector<TCatalogueTrack> out;
    for (const auto& r : Db->Run(sql, params).value_or(TSqlConnection::TRows{}))
        if (r.size() == 8)
            out.push_back({r[0], r[1], r[2], r[3], r[4], r[5], r[6], Number(r[7])});
    return out;
}

std::vector<TCatalogueTrack> TCatalogue::Search(const TLibraryQuery& q, int week)
{
    if (!(q.Open & 1) || q.Max <= 0)
        return {};
    std::string sql = std::string("SELECT ") + kColumns + " FROM tracks t";
    std::vector<std::string> params;
    const auto next = [&](std::string value) {
        params.push_back(std::move(value));
        return "$" + std::to_string(params.size());
    };
    if (q.Sort == TLibraryQuery::TSort::Rank)
        sql += " JOIN weekly w ON w.id = t.id AND w.week = " + next(std::to_string(week - q.RankWeek));
    sql += " WHERE TRUE";
    // Case is ignored (in ASCII letters at least: SQLite's LIKE and NOCASE fold no others).
    const bool pg = Db->Postgres();
    const std::pair<const char*, const std::string*> likes[] = {{"artist", &q.Artist}, {"title", &q.Title}};
    for (const auto& [column, value] : likes)
        if (!value->empty())
            sql += pg ? std::string(" AND t.") + column + "_key LIKE lower(" + next(Contains(*value)) + ") ESCAPE '\\'"
                      : std::string(" AND t.") + column + " LIKE " + next(Contains(*value)) + " ESCAPE '\\'";
    if (!q.Genre.empty())
        sql += pg ? " AND t.genre_key = lower(" + next(q.Genre) + ")" : " AND t.genre = " + next(q.Genre) + " COLLATE NOCASE";
    if (!q.Ext.empty())
        sql += " AND lower(t.location) LIKE " + next("%." + q.Ext);
    switch (q.Sort) {
    case TLibraryQuery::TSort::New: sql += " ORDER BY t.date DESC, t.added DESC"; break;
    case TLibraryQuery::TSort::Rank: sql += " ORDER BY w.plays DESC, t.id"; break;
    default: sql += " ORDER BY random()"; break;
    }
    sql += " LIMIT " + std::to_string(std::min(q.Max, TLibraryQuery::MaxResults));
    return Query(sql, params);
}

std::optional<TCatalogueTrack> TCatalogue::Track(const std::string& id)
{
    auto r = Query(std::string("SELECT ") + kColumns + " FROM tracks t WHERE t.id = $1", {id});
    if (r.empty())
        return std::nullopt;
    return r.front();
}

std::optional<TTrackFile> TCatalogue::File(const std::string& id)
{
    const auto r = Db->Run("SELECT location, root FROM tracks WHERE id = $1", {id});
    if (!r || r->empty())
        return std::nullopt;
    return TTrackFile{r->front().at(0), r->front().at(1)};
}

std::vector<TCatalogueTrack> TCatalogue::Newest(int count)
{
    return Query(std::string("SELECT ") + kColumns + " FROM tracks t ORDER BY t.added DESC LIMIT " +
                     std::to_string(count),
                 {});
}

std::vector<std::string> TCatalogue::Genres()
{
    std::vector<std::string> out;
    for (const auto& r : Db->Run("SELECT DISTINCT genre FROM tracks WHERE genre <> '' ORDER BY genre")
                             .value_or(TSqlConnection::TRows{}))
        out.push_back(r.at(0));
    return out;
}

std::vector<std::string> TCatalogue::IdsStartingWith(const std::string& prefix)
{
    std::vector<std::string> out;
    for (const auto& r :
         Db->Run("SELECT id FROM tracks WHERE substr(id, 1, 8) = $1 ORDER BY id", {prefix}).value_or(TSqlConnection::TRows{}))
        out.push_back(r.at(0));
    return out;
}

bool TCatalogue::CountPlay(const std::string& id, int week)
{
    return Db->Transaction([&](TSqlConnection& c) { return Count(c, id, week); });
}

bool TCatalogue::CountReportedPlay(const std::string& id, int week, const std::string& nonce, int day)
{
    return Db->Transaction([&](TSqlConnection& c) {
        // A code made for day d is taken while the server's day is d - 1 … d + 1, and `day` is at
        // most a day ahead of the server's: nonces of days before day - 2 can no longer be replayed.
        if (!c.Run("DELETE FROM nonces WHERE day < $1", {std::to_string(day - 2)}))
            return false;
        const auto fresh = c.Run("INSERT INTO nonces (nonce, day) VALUES ($1, $2) ON CONFLICT (nonce) DO NOTHING"
                                 " RETURNING nonce",
                                 {nonce, std::to_string(day)});
        return fresh && fresh->size() == 1 && Count(c, id, week);
    });
}

int TCatalogue::WeekPlays(const std::string& id, int week)
{
    const auto r = Db->Run("SELECT plays FROM weekly WHERE id = $1 AND week = $2", {id, std::to_string(week)});
    return r && !r->empty() ? Number(r->front().at(0)) : 0;
}

std::string TCatalogue::JournalMode()
{
    const auto r = Db->Run("PRAGMA journal_mode");
    return r && !r->empty() ? r->front().at(0) : "";
}

std::string TCatalogue::IdFor(const std::string& path)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : path) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(h));
    return text;
}

} // namespace marlix
