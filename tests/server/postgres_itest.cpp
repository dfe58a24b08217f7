// The catalogue's cases on a private PostgreSQL server, one new database per test.
#include "cataloguecases.h"
#include "support/postgresprocess.h"

namespace marlix {
namespace {

std::string NewPostgresDatabase(const std::string&)
{
    static test::TPostgresProcess server;
    static std::atomic<int> made{0};
    if (!server.Ready())
        return "";
    const std::string name = "catalogue_" + std::to_string(++made);
    TSqlDatabase admin(server.Uri());
    return admin.Run("CREATE DATABASE " + name) ? server.Uri(name) : "";
}

INSTANTIATE_TEST_SUITE_P(Postgres, Catalogue,
                         ::testing::Values(TCatalogueDb{
                             "postgres", NewPostgresDatabase, "",
                             {"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                              " IF NEW.title = 'Bad' THEN RAISE EXCEPTION 'refused'; END IF; RETURN NEW; END $$",
                              "CREATE TRIGGER refuse BEFORE INSERT ON tracks FOR EACH ROW EXECUTE FUNCTION refuse()"}}),
                         [](const auto& info) { return info.param.Name; });

} // namespace
} // namespace marlix
