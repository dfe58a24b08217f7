#pragma once
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace marlix {

// One connection to the database that holds the catalogue. Statements are written with
// "$1", "$2", … placeholders, every value is bound as text, and rows come back as text
// (NULL as an empty string).
class TSqlConnection {
public:
    using TRows = std::vector<std::vector<std::string>>;
    virtual ~TSqlConnection() = default;
    // The rows, or nullopt when the statement failed.
    virtual std::optional<TRows> Run(const std::string& sql, const std::vector<std::string>& params = {}) = 0;
    // Starts a transaction that writes (taking the write lock at once where the database
    // has only one).
    virtual bool Begin() = 0;
    // Inside a transaction: holds every other process off the schema until it ends.
    virtual bool LockSchema() = 0;
};

// Connections to one database, lent to one caller at a time: SQLite (a file name) or
// PostgreSQL (a "postgresql://" or "postgres://" URI).
class TSqlDatabase {
public:
    // Throws std::runtime_error when the first connection cannot be made.
    explicit TSqlDatabase(const std::string& name, size_t maxConnections = 8);
    ~TSqlDatabase();
    TSqlDatabase(const TSqlDatabase&) = delete;
    TSqlDatabase& operator=(const TSqlDatabase&) = delete;

    static bool IsPostgres(const std::string& name);
    bool Postgres() const { return IsPostgres(Name); }

    std::optional<TSqlConnection::TRows> Run(const std::string& sql, const std::vector<std::string>& params = {});
    // Runs `work` in one transaction on one connection: committed when it returns true,
    // rolled back otherwise. False when it did not commit.
    bool Transaction(const std::function<bool(TSqlConnection&)>& work);

private:
    std::unique_ptr<TSqlConnection> Take();
    void Give(std::unique_ptr<TSqlConnection> connection);

    std::string Name;
    size_t Max;
    size_t Open = 0;
    std::vector<std::unique_ptr<TSqlConnection>> Idle;
    std::mutex Mutex;
    std::condition_variable Returned;
};

} // namespace marlix
