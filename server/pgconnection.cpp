#include "server/pgconnection.h"

#include <libpq-fe.h>

#include <memory>
#include <stdexcept>

namespace marlix {

namespace {

struct TResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};

} // namespace

TPgConnection::TPgConnection(const std::string& uri) : Conn(PQconnectdb(uri.c_str()))
{
    if (PQstatus(Conn) != CONNECTION_OK) {
        const std::string why = Conn ? PQerrorMessage(Conn) : "out of memory";
        PQfinish(Conn);
        throw std::runtime_error("cannot connect to the database: " + why);
    }
    PQsetNoticeProcessor(Conn, [](void*, const char*) {}, nullptr); // "already exists" notices
}

TPgConnection::~TPgConnection()
{
    PQfinish(Conn);
}

std::optional<TSqlConnection::TRows> TPgConnection::Run(const std::string& sql, const std::vector<std::string>& params)
{
    if (PQstatus(Conn) == CONNECTION_BAD)
        PQreset(Conn); // the server restarted, or the connection was cut: try once more
    std::vector<const char*> values;
    for (const auto& p : params)
        values.push_back(p.c_str());
    std::unique_ptr<PGresult, TResultDeleter> r(PQexecParams(Conn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                                             values.data(), nullptr, nullptr, 0));
    const auto status = PQresultStatus(r.get());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        return std::nullopt;
    TRows rows(PQntuples(r.get()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i)
        for (int c = 0; c < PQnfields(r.get()); ++c)
            rows[i].emplace_back(PQgetvalue(r.get(), i, c), PQgetlength(r.get(), i, c));
    return rows;
}

bool TPgConnection::Begin()
{
    return Run("BEGIN", {}).has_value();
}

bool TPgConnection::LockSchema()
{
    return Run("SELECT pg_advisory_xact_lock(7261535)", {}).has_value();
}

} // namespace marlix
