// Two server processes on one PostgreSQL database, as behind a reverse proxy: concurrent
// searches and play reports on both, each report also replayed to the other process.
#include "online/playcount.h"
#include "server/catalogue.h"
#include "server/sqldatabase.h"
#include "support/libraryprocess.h"
#include "support/postgresprocess.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

namespace marlix {
namespace {

TEST(SharedDatabase, TwoServersCountEveryReportOnce)
{
    test::TPostgresProcess postgres;
    ASSERT_TRUE(postgres.Ready());
    ASSERT_TRUE(TSqlDatabase(postgres.Uri()).Run("CREATE DATABASE library"));
    const std::string db = postgres.Uri("library");
    const std::vector<std::string> ids = {"1111111100000001", "2222222200000002", "3333333300000003"};
    {
        TCatalogue catalogue(db);
        ASSERT_TRUE(catalogue.Store({{ids[0], "One", "Bach", "Classical", "2001", "/m/1.mp3", "", 0},
                                     {ids[1], "Two", "Bach", "Classical", "2002", "/m/2.mp3", "", 0},
                                     {ids[2], "Three", "Davis", "Jazz", "2003", "/m/3.mp3", "", 0}}));
    }
    test::TLibraryProcess a(db), b(db);
    ASSERT_GT(a.Port(), 0);
    ASSERT_GT(b.Port(), 0);

    const int today = TPlayCountReport::Today();
    const int kThreads = 6, kReports = 30;
    std::atomic<int> counted{0}, replays{0}, searches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            httplib::Client first("127.0.0.1", (t % 2 ? a : b).Port()), second("127.0.0.1", (t % 2 ? b : a).Port());
            for (int i = 0; i < kReports; ++i) {
                const std::string body = TPlayCountReport::Body(ids[i % 3], "n" + std::to_string(t) + "x" +
                                                                                std::to_string(i) + "abcdefghijklmn",
                                                                today);
                const auto r = first.Post("/tonkara/center2.tks/mp3count", body, "application/x-www-form-urlencoded");
                counted += r && r->status == 200 && r->body == "OK\r\n";
                const auto again = second.Post("/tonkara/center2.tks/mp3count", body, "application/x-www-form-urlencoded");
                replays += again && again->status == 400;
                const auto s = second.Get("/tonkara/center2.tks/search?Artist=Bach&Sort=New&Open=1");
                searches += s && s->status == 200 && s->body.starts_with("[" + ids[1] + "]");
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counted, kThreads * kReports);
    EXPECT_EQ(replays, kThreads * kReports);
    EXPECT_EQ(searches, kThreads * kReports);
    EXPECT_EQ(a.Stop(), 0);
    EXPECT_EQ(b.Stop(), 0);
    TCatalogue catalogue(db);
    for (const auto& id : ids) {
        EXPECT_EQ(catalogue.Track(id)->Plays, kThreads * kReports / 3) << id;
        EXPECT_EQ(catalogue.WeekPlays(id, today / 7), kThreads * kReports / 3) << id;
    }
}

} // namespace
} // namespace marlix
