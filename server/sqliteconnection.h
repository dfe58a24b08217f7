#pragma once
#include "server/sqldatabase.h"

struct sqlite3;

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
    sqlite3* Db = nullptr;
};

} // namespace marlix
