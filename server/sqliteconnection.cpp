#include "server/sqliteconnection.h"

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

namespace marlix {

namespace {

struct TStmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

} // namespace

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
    sqlite3_close(Db);
}

std::optional<TSqlConnection::TRows> TSqliteConnection::Run(const std::string& sql,
                                                            const std::vector<std::string>& params)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(Db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) != SQLITE_OK)
        return std::nullopt;
    std::unique_ptr<sqlite3_stmt, TStmtDeleter> s(raw);
    for (size_t i = 0; i < params.size(); ++i) {
        const int at = sqlite3_bind_parameter_index(raw, ("$" + std::to_string(i + 1)).c_str());
        if (at > 0)
            sqlite3_bind_text(raw, at, params[i].data(), static_cast<int>(params[i].size()), SQLITE_TRANSIENT);
    }
    TRows rows;
    int step;
    while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
        auto& row = rows.emplace_back(sqlite3_column_count(raw));
        for (size_t c = 0; c < row.size(); ++c)
            if (const auto* t = sqlite3_column_text(raw, static_cast<int>(c)))
                row[c].assign(reinterpret_cast<const char*>(t), sqlite3_column_bytes(raw, static_cast<int>(c)));
    }
    if (step != SQLITE_DONE)
        return std::nullopt;
    return rows;
}

bool TSqliteConnection::Begin()
{
    return Run("BEGIN IMMEDIATE", {}).has_value();
}

} // namespace marlix
