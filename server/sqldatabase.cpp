#include "server/sqldatabase.h"

#include "server/pgconnection.h"
#include "server/sqliteconnection.h"

namespace marlix {

TSqlDatabase::TSqlDatabase(const std::string& name, size_t maxConnections)
    : Name(name), Max(name == ":memory:" ? 1 : std::max<size_t>(maxConnections, 1)) // each opens its own memory
{
    Give(Take());
}

TSqlDatabase::~TSqlDatabase() = default;

bool TSqlDatabase::IsPostgres(const std::string& name)
{
    return name.starts_with("postgresql://") || name.starts_with("postgres://");
}

std::unique_ptr<TSqlConnection> TSqlDatabase::Take()
{
    {
        std::unique_lock lock(Mutex);
        Returned.wait(lock, [this] { return !Idle.empty() || Open < Max; });
        if (!Idle.empty()) {
            auto c = std::move(Idle.back());
            Idle.pop_back();
            return c;
        }
        ++Open;
    }
    try {
        if (IsPostgres(Name))
            return std::make_unique<TPgConnection>(Name);
        return std::make_unique<TSqliteConnection>(Name);
    } catch (...) {
        std::lock_guard lock(Mutex);
        --Open;
        Returned.notify_one();
        throw;
    }
}

void TSqlDatabase::Give(std::unique_ptr<TSqlConnection> connection)
{
    std::lock_guard lock(Mutex);
    Idle.push_back(std::move(connection));
    Returned.notify_one();
}

std::optional<TSqlConnection::TRows> TSqlDatabase::Run(const std::string& sql, const std::vector<std::string>& params)
{
    auto c = Take();
    auto rows = c->Run(sql, params);
    Give(std::move(c));
    return rows;
}

bool TSqlDatabase::Transaction(const std::function<bool(TSqlConnection&)>& work)
{
    auto c = Take();
    bool ok = c->Begin();
    if (ok) {
        ok = work(*c);
        ok = c->Run(ok ? "COMMIT" : "ROLLBACK").has_value() && ok;
    }
    Give(std::move(c));
    return ok;
}

} // namespace marlix
