#include "server/sqliteconnection.h"

#include <sqlite3.h>

#include <stdexcept>

namespace marlix {

TSqliteConnection::TSqliteConnection(const std::string& file)
{
    if (sqlite3_open_v2(file.c_str(), &Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = Db ? sqlite3_errmsg(Db) : "out of memory";
        sqlite3_close(Db);
        throw std::runtime_error("cannot open " + file + ": " + why);
    }
    sqlite3_busy_timeout(Db, 5000);
    if (!Run("PRAGMA journal_mode=WAL", {})) {
        const std::string why = sqlite3_errmsg(Db);
        sqlite3_close(Db);
        throw std::runtime_error("cannot open " + file + ": " + why);
    }
}

TSqliteConnection::~TSqliteConnection()
{
    for (const auto& [sql, s] : Prepared)
        sqlite3_finalize(s);
    sqlite3_close(Db);
}

sqlite3_stmt* TSqliteConnection::Statement(const std::string& sql)
{
    if (const auto found = Prepared.find(sql); found != Prepared.end())
        return found->second;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(Db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &s, nullptr) !=
        SQLITE_OK)
        return nullptr;
    if (Prepared.size() > 64) { // statements built from searches stay few; bound the cache all the same
        for (const auto& [old, o] : Prepared)
            sqlite3_finalize(o);
        Prepared.clear();
    }
    return Prepared[sql] = s;
}

std::optional<TSqlConnection::TRows> TSqliteConnection::Run(const std::string& sql,
                                                            const std::vector<std::string>& params)
{
    sqlite3_stmt* s = Statement(sql);
    if (!s)
        return std::nullopt;
    for (size_t i = 0; i < params.size(); ++i) {
        const int at = sqlite3_bind_parameter_index(s, ("$" + std::to_string(i + 1)).c_str());
        if (at > 0)
            sqlite3_bind_text(s, at, params[i].data(), static_cast<int>(params[i].size()), SQLITE_TRANSIENT);
    }
    TRows rows;
    int step;
    while ((step = sqlite3_step(s)) == SQLITE_ROW) {
        auto& row = rows.emplace_back(sqlite3_column_count(s));
        for (size_t c = 0; c < row.size(); ++c)
            if (const auto* t = sqlite3_column_text(s, static_cast<int>(c)))
                row[c].assign(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s, static_cast<int>(c)));
    }
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (step != SQLITE_DONE)
        return std::nullopt;
    return rows;
}

bool TSqliteConnection::Begin()
{
    return Run("BEGIN IMMEDIATE", {}).has_value();
}

} // namespace marlix
