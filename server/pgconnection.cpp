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

std::string TPgConnection::Prepared(const std::string& sql, int params)
{
    if (const auto found = Names.find(sql); found != Names.end())
        return found->second;
    if (Names.size() > 64) { // statements built from searches stay few; bound them all the same
        PQclear(PQexec(Conn, "DEALLOCATE ALL"));
        Names.clear();
    }
    const std::string name = "s" + std::to_string(Names.size());
    std::unique_ptr<PGresult, TResultDeleter> r(PQprepare(Conn, name.c_str(), sql.c_str(), params, nullptr));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
        return "";
    return Names[sql] = name;
}

std::optional<TSqlConnection::TRows> TPgConnection::Run(const std::string& sql, const std::vector<std::string>& params)
{
    if (PQstatus(Conn) == CONNECTION_BAD) {
        PQreset(Conn); // the server restarted, or the connection was cut: try once more
        Names.clear();
    }
    std::vector<const char*> values;
    for (const auto& p : params)
        values.push_back(p.c_str());
    const int n = static_cast<int>(values.size());
    // Statements with values are prepared once per connection; the rest (schema, BEGIN) run as they come.
    const std::string name = n > 0 ? Prepared(sql, n) : "";
    std::unique_ptr<PGresult, TResultDeleter> r(
        name.empty() ? PQexecParams(Conn, sql.c_str(), n, nullptr, values.data(), nullptr, nullptr, 0)
                     : PQexecPrepared(Conn, name.c_str(), n, values.data(), nullptr, nullptr, 0));
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
