#pragma once
#include "server/sqldatabase.h"

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
    pg_conn* Conn = nullptr;
};

} // namespace marlix
