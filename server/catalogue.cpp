#include "server/catalogue.h"

#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace marlix {

namespace {

struct TStmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using TStmt = std::unique_ptr<sqlite3_stmt, TStmtDeleter>;

TStmt Prepare(sqlite3* db, const std::string& sql, const std::vector<std::string>& params)
{
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
        return TStmt();
    for (size_t i = 0; i < params.size(); ++i)
        sqlite3_bind_text(s, static_cast<int>(i + 1), params[i].c_str(), static_cast<int>(params[i].size()),
                          SQLITE_TRANSIENT);
    return TStmt(s);
}

std::string Text(sqlite3_stmt* s, int column)
{
    const auto* t = sqlite3_column_text(s, column);
    return t ? reinterpret_cast<const char*>(t) : "";
}

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

const char* const kColumns = "t.id, t.title, t.artist, t.genre, t.date, t.location, t.page, t.plays";

} // namespace

TCatalogue::TCatalogue(const std::string& file)
{
    if (sqlite3_open_v2(file.c_str(), &Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = Db ? sqlite3_errmsg(Db) : "out of memory";
        sqlite3_close(Db);
        throw std::runtime_error("cannot open " + file + ": " + why);
    }
    sqlite3_busy_timeout(Db, 5000);
    Exec("PRAGMA journal_mode=WAL");
    Exec("CREATE TABLE IF NOT EXISTS tracks (id TEXT PRIMARY KEY, title TEXT NOT NULL, artist TEXT NOT NULL,"
         " genre TEXT NOT NULL, date TEXT NOT NULL, location TEXT NOT NULL, page TEXT NOT NULL,"
         " plays INTEGER NOT NULL DEFAULT 0, added INTEGER NOT NULL)");
    Exec("CREATE TABLE IF NOT EXISTS weekly (id TEXT NOT NULL, week INTEGER NOT NULL, plays INTEGER NOT NULL,"
         " PRIMARY KEY (id, week))");
}

TCatalogue::~TCatalogue()
{
    sqlite3_close(Db);
}

void TCatalogue::Exec(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(Db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string why = error ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(why);
    }
}

bool TCatalogue::Store(const std::vector<TCatalogueTrack>& tracks)
{
    std::lock_guard lock(Mutex);
    if (sqlite3_exec(Db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    bool ok = true;
    const std::string sql =
        "INSERT INTO tracks (id, title, artist, genre, date, location, page, added)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, (SELECT COALESCE(MAX(added), 0) + 1 FROM tracks))"
        " ON CONFLICT(id) DO UPDATE SET title = ?2, artist = ?3, genre = ?4, date = ?5, location = ?6, page = ?7";
    for (const auto& t : tracks) {
        TStmt s = Prepare(Db, sql, {t.Id, t.Title, t.Artist, t.Genre, t.Date, t.Location, t.Page});
        ok = ok && s && sqlite3_step(s.get()) == SQLITE_DONE;
    }
    sqlite3_exec(Db, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    return ok;
}

std::vector<TCatalogueTrack> TCatalogue::Query(const std::string& sql, const std::vector<std::string>& params)
{
    std::lock_guard lock(Mutex);
    std::vector<TCatalogueTrack> out;
    TStmt s = Prepare(Db, sql, params);
    while (s && sqlite3_step(s.get()) == SQLITE_ROW)
        out.push_back({Text(s.get(), 0), Text(s.get(), 1), Text(s.get(), 2), Text(s.get(), 3), Text(s.get(), 4),
                       Text(s.get(), 5), Text(s.get(), 6), sqlite3_column_int(s.get(), 7)});
    return out;
}

std::vector<TCatalogueTrack> TCatalogue::Search(const TLibraryQuery& q, int week)
{
    if (!(q.Open & 1) || q.Max <= 0)
        return {};
    std::string sql = std::string("SELECT ") + kColumns + " FROM tracks t";
    std::vector<std::string> params;
    if (q.Sort == TLibraryQuery::TSort::Rank) {
        sql += " JOIN weekly w ON w.id = t.id AND w.week = ?";
        params.push_back(std::to_string(week - q.RankWeek));
    }
    sql += " WHERE 1";
    const std::pair<const char*, const std::string*> likes[] = {{"t.artist", &q.Artist}, {"t.title", &q.Title}};
    for (const auto& [column, value] : likes)
        if (!value->empty()) {
            sql += std::string(" AND ") + column + " LIKE ? ESCAPE '\\'";
            params.push_back(Contains(*value));
        }
    if (!q.Genre.empty()) {
        sql += " AND t.genre = ? COLLATE NOCASE";
        params.push_back(q.Genre);
    }
    if (!q.Ext.empty()) {
        sql += " AND lower(t.location) LIKE ?";
        params.push_back("%." + q.Ext);
    }
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
    auto r = Query(std::string("SELECT ") + kColumns + " FROM tracks t WHERE t.id = ?", {id});
    if (r.empty())
        return std::nullopt;
    return r.front();
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
    for (const auto& t : Query(std::string("SELECT DISTINCT ") + kColumns +
                                   " FROM tracks t WHERE t.genre <> '' GROUP BY t.genre ORDER BY t.genre",
                               {}))
        out.push_back(t.Genre);
    return out;
}

std::vector<std::string> TCatalogue::IdsStartingWith(const std::string& prefix)
{
    std::vector<std::string> out;
    for (const auto& t : Query(std::string("SELECT ") + kColumns + " FROM tracks t WHERE substr(t.id, 1, 8) = ?",
                               {prefix}))
        out.push_back(t.Id);
    return out;
}

bool TCatalogue::CountPlay(const std::string& id, int week)
{
    std::lock_guard lock(Mutex);
    if (sqlite3_exec(Db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    TStmt a = Prepare(Db, "UPDATE tracks SET plays = plays + 1 WHERE id = ?", {id});
    bool ok = a && sqlite3_step(a.get()) == SQLITE_DONE && sqlite3_changes(Db) == 1;
    TStmt b = Prepare(Db, "INSERT INTO weekly (id, week, plays) VALUES (?1, ?2, 1)"
                           " ON CONFLICT(id, week) DO UPDATE SET plays = plays + 1",
                      {id, std::to_string(week)});
    ok = ok && b && sqlite3_step(b.get()) == SQLITE_DONE;
    sqlite3_exec(Db, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    return ok;
}

int TCatalogue::WeekPlays(const std::string& id, int week)
{
    std::lock_guard lock(Mutex);
    TStmt s = Prepare(Db, "SELECT plays FROM weekly WHERE id = ? AND week = ?", {id, std::to_string(week)});
    return s && sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), 0) : 0;
}

std::string TCatalogue::JournalMode()
{
    std::lock_guard lock(Mutex);
    TStmt s = Prepare(Db, "PRAGMA journal_mode", {});
    return s && sqlite3_step(s.get()) == SQLITE_ROW ? Text(s.get(), 0) : "";
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
