#pragma once
#include "server/sqldatabase.h"

#include <unordered_map>

struct pg_conn;

namespace marlix {

// A connection to a PostgreSQL server through libpq.
class TPgConnection : public TSqlConnection {
public:
    // Throws std::runtime_error when the server cannot be reached.
    explicit TPgConnection(const std::string& uri);
    ~TPgConnection() override;

    std::optional<TRows> Run(const std::string& sql, const std::vector<std::string>& params) override;
    bool Begin() override;
    bool LockSchema() override;

private:
    // The name of the statement prepared for `sql` on this connection, "" when it cannot be.
    std::string Prepared(const std::string& sql, int params);

    pg_conn* Conn = nullptr;
    std::unordered_map<std::string, std::string> Names;
};

} // namespace marlix
