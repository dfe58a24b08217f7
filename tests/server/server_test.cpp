// The library server's parts without HTTP: the query parser on hostile input, and the
// catalogue's cases (search conditions, play reports, imports) on an SQLite file.
#include "cataloguecases.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

namespace marlix {
namespace {

TEST(LibraryServer, QueryParser)
{
    const struct {
        const char* Query;
        bool Ok;
        int Max;
        const char* Artist;
    } cases[] = {
        {"Max=5&Sort=Random&Open=1", true, 5, ""},
        {"Max=99999999999999999999&Open=1", true, 100, ""},   // a huge count is the most there is
        {"Max=-1", false, 0, ""},
        {"Max=1e3", false, 0, ""},
        {"Artist=O%27Brien%3B%20DROP%20TABLE%20tracks", true, 10, "O'Brien; DROP TABLE tracks"},
        {"Artist=%zz", false, 0, ""},
        {"Artist=%4", false, 0, ""},
        {"Artist=a%00b", false, 0, ""},
        {"Sort=Rank8", false, 0, ""},
        {"Sort=Rank7&Unknown=1", true, 10, ""},
        {"Open=0", false, 0, ""},
        {"Ext=exe", false, 0, ""},
        {"&&Max=3&", true, 3, ""},
    };
    for (const auto& c : cases) {
        const auto q = TLibraryQuery::Parse(c.Query);
        ASSERT_EQ(q.has_value(), c.Ok) << c.Query;
        if (q) {
            EXPECT_EQ(q->Max, c.Max) << c.Query;
            EXPECT_EQ(q->Artist, c.Artist) << c.Query;
        }
    }
    EXPECT_EQ(TLibraryQuery::Parse("Sort=Rank3")->RankWeek, 3);
    EXPECT_FALSE(TLibraryQuery::Parse(std::string(5000, 'a')));
}

INSTANTIATE_TEST_SUITE_P(Sqlite, Catalogue,
                         ::testing::Values(TCatalogueDb{
                             "sqlite", [](const std::string& folder) { return folder + "lib.db"; }, "wal",
                             {"CREATE TRIGGER refuse BEFORE INSERT ON tracks WHEN NEW.title = 'Bad'"
                              " BEGIN SELECT RAISE(ABORT, 'refused'); END"}}),
                         [](const auto& info) { return info.param.Name; });

// A catalogue written before tracks kept their import folder opens, gains the column,
// and keeps its tracks and counts.
TEST(CatalogueFile, OlderFileIsUpgraded)
{
    test::TempDir dir;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.File("old.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE tracks (id TEXT PRIMARY KEY, title TEXT NOT NULL, artist TEXT NOT NULL,"
                           " genre TEXT NOT NULL, date TEXT NOT NULL, location TEXT NOT NULL, page TEXT NOT NULL,"
                           " plays INTEGER NOT NULL DEFAULT 0, added INTEGER NOT NULL);"
                           "INSERT INTO tracks VALUES ('00000000000000A1', 'T', 'A', '', '', '/m/a.mp3', '', 7, 1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    TCatalogue cat(dir.File("old.db"));
    EXPECT_EQ(cat.Track("00000000000000A1")->Plays, 7);
    EXPECT_EQ(cat.File("00000000000000A1")->Root, "");
    EXPECT_TRUE(cat.CountPlay("00000000000000A1", 1));
}

} // namespace
} // namespace marlix
