// The library server's parts without HTTP: the query parser on hostile input, the
// catalogue's search conditions, and the play report the player's code proves.
#include "online/playcount.h"
#include "server/catalogue.h"
#include "server/libraryquery.h"
#include "server/libraryserver.h"
#include "support/testutil.h"

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

class Catalogue : public ::testing::Test {
protected:
    test::TempDir dir;
    TCatalogue cat{dir.File("lib.db")};

    void SetUp() override
    {
        ASSERT_TRUE(cat.Store({
            {"00000000000000A1", "Alpha", "Bach", "Classical", "1999", "/m/a.mp3", "", 0},
            {"00000000000000A2", "Beta 100%", "Bach_Sons", "Classical", "2005", "/m/b.wav", "", 0},
            {"00000000000000A3", "Gamma", "Coltrane", "Jazz", "2010", "http://else/c.mp3", "", 0},
            {"00000000000000A4", "曲", "歌手", "jazz", "2001", "/m/d.mp3", "", 0},
        }));
    }
    std::vector<std::string> Ids(const std::string& query, int week = 100)
    {
        std::vector<std::string> ids;
        for (const auto& t : cat.Search(*TLibraryQuery::Parse(query), week))
            ids.push_back(t.Id.substr(14));
        return ids;
    }
};

TEST_F(Catalogue, SearchConditions)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(cat.JournalMode(), "wal");
    EXPECT_EQ(Ids("Sort=New&Max=10&Open=1"), (V{"A3", "A2", "A4", "A1"}));
    EXPECT_EQ(Ids("Sort=New&Max=2&Open=1"), (V{"A3", "A2"}));
    EXPECT_EQ(Ids("Sort=New&Artist=Bach&Open=1"), (V{"A2", "A1"}));
    EXPECT_EQ(Ids("Sort=New&Artist=h_S&Open=1"), (V{"A2"}));       // "_" is a letter, not a wildcard
    EXPECT_EQ(Ids("Sort=New&Title=100%25&Open=1"), (V{"A2"}));     // so is "%"
    EXPECT_EQ(Ids("Sort=New&Title=%E6%9B%B2&Open=1"), (V{"A4"}));
    EXPECT_EQ(Ids("Sort=New&Genre=JAZZ&Open=1"), (V{"A3", "A4"}));
    EXPECT_EQ(Ids("Sort=New&Ext=wav&Open=1"), (V{"A2"}));
    EXPECT_EQ(Ids("Sort=New&Open=2"), V{});                         // no web search here
    EXPECT_EQ(Ids("Sort=New&Artist=x'%20OR%201=1--&Open=1"), V{});
    EXPECT_EQ(Ids("Sort=Random&Max=0&Open=1"), V{});
    auto random = Ids("Sort=Random&Max=10&Open=3");
    std::sort(random.begin(), random.end());
    EXPECT_EQ(random, (V{"A1", "A2", "A3", "A4"}));

    // Ranks: plays of this week (100) and of three weeks ago (97).
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(cat.CountPlay("00000000000000A3", 100));
    ASSERT_TRUE(cat.CountPlay("00000000000000A1", 100));
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(cat.CountPlay("00000000000000A4", 97));
    ASSERT_TRUE(cat.CountPlay("00000000000000A2", 97));
    EXPECT_FALSE(cat.CountPlay("FFFFFFFFFFFFFFFF", 100));
    EXPECT_EQ(Ids("Sort=Rank0&Open=1"), (V{"A3", "A1"}));
    EXPECT_EQ(Ids("Sort=Rank3&Open=1"), (V{"A4", "A2"}));
    EXPECT_EQ(cat.Track("00000000000000A3")->Plays, 3);
}

TEST_F(Catalogue, PlayReportsCountOnlyWithTheirCode)
{
    TLibraryServer server(cat, "");
    const std::string id = "00000000000000A1";
    const int today = TPlayCountReport::Today();
    const std::string nonce = "abcdefghijABCDEFGHIJ";
    EXPECT_TRUE(server.CountReport(TPlayCountReport::Body(id, nonce, today)));
    EXPECT_TRUE(server.CountReport(TPlayCountReport::Body(id, nonce, today - 1))); // around midnight
    std::string forged = TPlayCountReport::Body(id, nonce, today);
    forged[10] = forged[10] == 'x' ? 'y' : 'x';
    EXPECT_FALSE(server.CountReport(forged));
    EXPECT_FALSE(server.CountReport(TPlayCountReport::Body(id, nonce, today - 5)));
    EXPECT_FALSE(server.CountReport("garbage"));
    EXPECT_FALSE(server.CountReport(std::string(100000, '\r')));
    EXPECT_EQ(cat.Track(id)->Plays, 2);
    EXPECT_EQ(cat.WeekPlays(id, today / 7), 2);
}

TEST_F(Catalogue, AnswersEscapeWhatWouldBreakTheResultFile)
{
    ASSERT_TRUE(cat.Store({{"00000000000000B1", "Line\r\n[Evil]\r\nMP3=x", "a=b;c%", "", "", "/m/e.mp3", "", 0}}));
    TLibraryServer server(cat, "");
    const auto answer = server.SearchAnswer("Title=Line&Open=1", "host:1234");
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->find("Title=Line  %5BEvil%5D  MP3%3Dx\r\n"), std::string::npos) << *answer;
    EXPECT_NE(answer->find("Artist=a%3Db%3Bc%25\r\n"), std::string::npos) << *answer;
    EXPECT_NE(answer->find("MP3=http://host:1234/tonkara/files/00000000000000B1.mp3\r\n"), std::string::npos);
    EXPECT_EQ(answer->find("[Evil]"), std::string::npos);
    // A hostile Host header does not get into the links.
    const auto other = server.SearchAnswer("Title=Line&Open=1", "evil\"><script>");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->find("script"), std::string::npos);
    EXPECT_FALSE(server.SearchAnswer("Max=%zz", "h"));
}

// An import is one transaction: a track that cannot be stored (here a trigger refuses it,
// as a full disk or a killed process would stop the write) leaves the catalogue as it was.
TEST_F(Catalogue, ImportIsAllOrNothing)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.File("lib.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TRIGGER refuse BEFORE INSERT ON tracks WHEN NEW.title = 'Bad'"
                               " BEGIN SELECT RAISE(ABORT, 'refused'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    EXPECT_FALSE(cat.Store({{"00000000000000C1", "Good", "X", "", "", "/m/g.mp3", "", 0},
                            {"00000000000000A1", "Renamed", "Bach", "", "", "/m/a.mp3", "", 0},
                            {"00000000000000C2", "Bad", "X", "", "", "/m/b.mp3", "", 0}}));
    EXPECT_FALSE(cat.Track("00000000000000C1"));
    EXPECT_EQ(cat.Track("00000000000000A1")->Title, "Alpha");
    EXPECT_TRUE(cat.Store({{"00000000000000C1", "Good", "X", "", "", "/m/g.mp3", "", 0}}));
}

} // namespace
} // namespace marlix
