#pragma once
#include "server/sqldatabase.h"

#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace marlix {

// A connection to an SQLite file in WAL mode, so readers on other connections go on
// while one writes.
class TSqliteConnection : public TSqlConnection {
public:
    // Throws std::runtime_error when the file cannot be opened.
    explicit TSqliteConnection(const std::string& file);
    ~TSqliteConnection() override;

    std::optional<TRows> Run(const std::string& sql, const std::vector<std::string>& params) override;
    bool Begin() override;
    bool LockSchema() override { return true; } // the write lock Begin took covers it

private:
    sqlite3_stmt* Statement(const std::string& sql);

    sqlite3* Db = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> Prepared; // the few statements the catalogue runs, kept
};

} // namespace marlix
