#pragma once
// The catalogue's tests, run on every database it can keep its tables in: each test binary
// instantiates them for the databases it has (SQLite in the unit tests, a private
// PostgreSQL in the integration tests).
#include "online/playcount.h"
#include "server/catalogue.h"
#include "server/libraryquery.h"
#include "server/libraryserver.h"
#include "server/sqldatabase.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace marlix {

struct TCatalogueDb {
    std::string Name;
    // A new, empty database for one test ("" when none can be had); `folder` is the test's own.
    std::function<std::string(const std::string& folder)> Make;
    std::string Journal;         // what JournalMode says
    std::vector<std::string> RefuseBadTitles; // statements that make storing a track titled "Bad" fail
};

inline std::string PrintToString(const TCatalogueDb& db)
{
    return db.Name;
}

class Catalogue : public ::testing::TestWithParam<TCatalogueDb> {
protected:
    test::TempDir dir;
    std::string db;
    std::unique_ptr<TCatalogue> catalogue;

    void SetUp() override
    {
        db = GetParam().Make(dir.Path());
        ASSERT_FALSE(db.empty()) << "no " << GetParam().Name << " database";
        catalogue = std::make_unique<TCatalogue>(db);
        ASSERT_TRUE(catalogue->Store({
            {"00000000000000A1", "Alpha", "Bach", "Classical", "1999", "/m/a.mp3", "", 0},
            {"00000000000000A2", "Beta 100%", "Bach_Sons", "Classical", "2005", "/m/b.wav", "", 0},
            {"00000000000000A3", "Gamma", "Coltrane", "Jazz", "2010", "http://else/c.mp3", "", 0},
            {"00000000000000A4", "曲", "歌手", "jazz", "2001", "/m/d.mp3", "", 0},
        }));
    }
    std::vector<std::string> Ids(const std::string& query, int week = 100)
    {
        std::vector<std::string> ids;
        for (const auto& t : catalogue->Search(*TLibraryQuery::Parse(query), week))
            ids.push_back(t.Id.substr(14));
        return ids;
    }
};

TEST_P(Catalogue, SearchConditions)
{
    TCatalogue& cat = *catalogue;
    using V = std::vector<std::string>;
    EXPECT_EQ(cat.JournalMode(), GetParam().Journal);
    EXPECT_EQ(Ids("Sort=New&Max=10&Open=1"), (V{"A3", "A2", "A4", "A1"}));
    EXPECT_EQ(Ids("Sort=New&Max=2&Open=1"), (V{"A3", "A2"}));
    EXPECT_EQ(Ids("Sort=New&Artist=Bach&Open=1"), (V{"A2", "A1"}));
    EXPECT_EQ(Ids("Sort=New&Artist=bACH&Open=1"), (V{"A2", "A1"}));  // ASCII case is ignored
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
    EXPECT_EQ(cat.Genres(), (V{"Classical", "Jazz", "jazz"}));
    EXPECT_EQ(cat.IdsStartingWith("00000000"), (V{"00000000000000A1", "00000000000000A2", "00000000000000A3",
                                                   "00000000000000A4"}));

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
    EXPECT_EQ(cat.WeekPlays("00000000000000A4", 97), 2);
}

TEST_P(Catalogue, PlayReportsCountOnlyWithTheirCodeAndOnlyOnce)
{
    TCatalogue& cat = *catalogue;
    TLibraryServer server(cat, "");
    const std::string id = "00000000000000A1";
    const int today = TPlayCountReport::Today();
    const std::string nonce = "abcdefghijABCDEFGHIJ", other = "0123456789abcdefXYZ";
    EXPECT_TRUE(server.CountReport(TPlayCountReport::Body(id, nonce, today)));
    EXPECT_TRUE(server.CountReport(TPlayCountReport::Body(id, other, today - 1))); // around midnight
    // The same report again, or its nonce with another day's code, is a replay.
    EXPECT_FALSE(server.CountReport(TPlayCountReport::Body(id, nonce, today)));
    EXPECT_FALSE(server.CountReport(TPlayCountReport::Body(id, other, today)));
    std::string forged = TPlayCountReport::Body(id, "forgedforgedforged", today);
    forged[10] = forged[10] == 'x' ? 'y' : 'x';
    EXPECT_FALSE(server.CountReport(forged));
    EXPECT_FALSE(server.CountReport(TPlayCountReport::Body(id, "tooOldtooOldtooOld", today - 5)));
    EXPECT_FALSE(server.CountReport("garbage"));
    EXPECT_FALSE(server.CountReport(std::string(100000, '\r')));
    EXPECT_EQ(cat.Track(id)->Plays, 2);
    EXPECT_EQ(cat.WeekPlays(id, today / 7), 2);
    // A report the forged one did not spoil still counts.
    EXPECT_TRUE(server.CountReport(TPlayCountReport::Body(id, "forgedforgedforged", today)));
}

// Reports from several threads at once, each sent twice: every first one counts, no
// replay does, and no count is lost.
TEST_P(Catalogue, ConcurrentReportsCountExactly)
{
    // Ids whose first eight digits differ, as real ones do: a report names its track by those.
    const std::string ids[] = {"1111111100000001", "2222222200000002"};
    ASSERT_TRUE(catalogue->Store({{ids[0], "One", "X", "", "", "/m/1.mp3", "", 0},
                                  {ids[1], "Two", "X", "", "", "/m/2.mp3", "", 0}}));
    TLibraryServer server(*catalogue, "");
    const int today = TPlayCountReport::Today();
    std::atomic<int> counted{0}, replayed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                const std::string body = TPlayCountReport::Body(ids[i % 2], "nonce-" + std::to_string(t * 1000 + i) +
                                                                                "-abcdefghij",
                                                                today);
                counted += server.CountReport(body);
                replayed += server.CountReport(body);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counted, 80);
    EXPECT_EQ(replayed, 0);
    EXPECT_EQ(catalogue->Track(ids[0])->Plays, 40);
    EXPECT_EQ(catalogue->WeekPlays(ids[1], today / 7), 40);
}

TEST_P(Catalogue, AnswersEscapeWhatWouldBreakTheResultFile)
{
    ASSERT_TRUE(catalogue->Store({{"00000000000000B1", "Line\r\n[Evil]\r\nMP3=x", "a=b;c%", "", "", "/m/e.mp3", "", 0}}));
    TLibraryServer server(*catalogue, "");
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
TEST_P(Catalogue, ImportIsAllOrNothing)
{
    TSqlDatabase direct(db);
    for (const std::string& sql : GetParam().RefuseBadTitles)
        ASSERT_TRUE(direct.Run(sql)) << sql;
    EXPECT_FALSE(catalogue->Store({{"00000000000000C1", "Good", "X", "", "", "/m/g.mp3", "", 0},
                                   {"00000000000000A1", "Renamed", "Bach", "", "", "/m/a.mp3", "", 0},
                                   {"00000000000000C2", "Bad", "X", "", "", "/m/b.mp3", "", 0}}));
    EXPECT_FALSE(catalogue->Track("00000000000000C1"));
    EXPECT_EQ(catalogue->Track("00000000000000A1")->Title, "Alpha");
    EXPECT_TRUE(catalogue->Store({{"00000000000000C1", "Good", "X", "", "", "/m/g.mp3", "", 0}}, "/m"));
    EXPECT_EQ(catalogue->File("00000000000000C1")->Root, "/m");
    EXPECT_EQ(catalogue->File("00000000000000A1")->Root, "");
}

} // namespace marlix
