#include "player/additionloader.h"

#include "player/namelist.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>
#include <gtest/gtest.h>

namespace marlix {
namespace {

using Strings = std::vector<std::string>;
constexpr std::chrono::seconds kWait(20);

// A tree of nested folders with files of several extensions, and a playlist of URLs,
// titles and relative lines.
class AdditionLoader : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int d = 0; d < 30; ++d) {
            const std::string folder = Dir.File("tree/disc " + std::to_string(d) + (d % 3 ? "/sub" : ""));
            std::filesystem::create_directories(folder);
            for (int t = 0; t < 40; ++t)
                test::WriteText(folder + "/" + std::to_string(t) + (t % 4 ? " track.wav" : " Track.FLAC"), "x");
            test::WriteText(folder + "/cover.jpg", "x");
        }
        test::WriteText(Dir.File("single.mp3"), "x");
        std::string m3u = "#EXTM3U\n";
        for (int i = 0; i < 20000; ++i)
            m3u += "#EXTINF:1,Title " + std::to_string(i) + "\nhttp://radio.example/" + std::to_string(i) + ".mp3\n";
        m3u += "sub\\local.mp3\n";
        test::WriteText(Dir.File("urls.m3u"), m3u);
    }

    // Takes what arrives while the loader works: each look finds nothing yet or a whole
    // job's entries (`sizes`: the running totals after each job), never a part.
    Strings Collect(TAdditionLoader& loader, const std::vector<size_t>& sizes)
    {
        while (loader.Busy()) {
            const size_t seen = Pending.Count();
            EXPECT_TRUE(seen == 0 || std::find(sizes.begin(), sizes.end(), seen) != sizes.end()) << seen;
        }
        return Pending.Take();
    }

    test::TempDir Dir;
    TPendingAdditions Pending;
};

// Independent truth: what the synchronous functions give for the same names.
TEST_F(AdditionLoader, JobsArriveWholeInOrderAsTheSynchronousFunctionsGiveThem)
{
    const Strings names{Dir.File("tree"), Dir.File("single.mp3"), Dir.File("gone.wav"), "http://radio.example/live"};
    Strings lines;
    ASSERT_TRUE(TPlaylist::LoadM3U(Dir.File("urls.m3u"), lines));
    ASSERT_EQ(lines.size(), 20001u);
    const struct {
        const char* What;
        bool M3U;
        bool KeepOthers;
        Strings Expected;
    } cases[] = {
        {"dropped names", false, false, ExpandNames(names, "wav,flac", false)},
        {"command-line names", false, true, ExpandNames(names, "wav,flac", true)},
        {"playlist file", true, false, lines},
    };
    ASSERT_EQ(cases[0].Expected.size(), 30u * 40u + 1u);
    TAdditionLoader loader(Pending);
    // Each job waits at the gate until the test has looked at the loader.
    auto open = std::make_shared<std::atomic<bool>>(false);
    loader.SetGate([open] {
        while (!open->exchange(false))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        if (c.M3U)
            loader.AddM3U(Dir.File("urls.m3u"));
        else
            loader.AddNames(names, "WAV, flac", c.KeepOthers);
        EXPECT_TRUE(loader.Busy()) << "busy from the moment a job is given";
        *open = true;
        EXPECT_EQ(Collect(loader, {c.Expected.size()}), c.Expected);
        const TLoadProgress p = loader.Progress();
        EXPECT_FALSE(p.Busy);
        EXPECT_EQ(p.Found, c.Expected.size());
        if (c.M3U) {
            EXPECT_EQ(p.BytesDone, std::filesystem::file_size(Dir.File("urls.m3u")));
            EXPECT_EQ(p.BytesTotal, p.BytesDone);
        }
    }

    // Jobs given together keep their order.
    loader.SetGate({});
    loader.AddM3U(Dir.File("urls.m3u"));
    loader.AddNames(names, "wav,flac", false);
    loader.AddNames({Dir.File("single.mp3")}, "wav", false);
    Strings all = lines;
    all.insert(all.end(), cases[0].Expected.begin(), cases[0].Expected.end());
    all.push_back(Dir.File("single.mp3"));
    EXPECT_EQ(Collect(loader, {lines.size(), lines.size() + cases[0].Expected.size(), all.size()}), all);
}

// The walk and the reading ask before each entry and line and stop at the first no; a
// cancelled job adds nothing and the loader goes on with the next one.
TEST_F(AdditionLoader, StopsWhenAskedAndACancelledJobAddsNothing)
{
    for (size_t stopAfter : {0u, 1u, 7u, 500u}) {
        size_t asked = 0;
        bool askedAfterNo = false;
        const Strings part = ExpandNames({Dir.File("tree"), Dir.File("single.mp3")}, "wav,flac", false, [&](size_t found) {
            askedAfterNo = askedAfterNo || asked > stopAfter;
            EXPECT_LE(found, asked);
            return ++asked <= stopAfter;
        });
        EXPECT_FALSE(askedAfterNo) << stopAfter;
        EXPECT_LE(part.size(), stopAfter) << stopAfter;

        Strings lines{"kept"};
        size_t reads = 0;
        EXPECT_FALSE(TPlaylist::LoadM3U(Dir.File("urls.m3u"), lines, [&](uint64_t, uint64_t) { return ++reads <= stopAfter; }));
        EXPECT_EQ(lines, Strings{"kept"}) << "nothing of a stopped reading";
        EXPECT_EQ(reads, stopAfter + 1);
    }

    TAdditionLoader loader(Pending);
    loader.AddNames({Dir.File("tree")}, "wav,flac", false);
    loader.AddM3U(Dir.File("urls.m3u"));
    loader.Cancel();
    EXPECT_FALSE(loader.Busy()) << "nothing more is coming";
    loader.AddNames({Dir.File("single.mp3")}, "wav", false);
    EXPECT_EQ(Collect(loader, {1}), Strings{Dir.File("single.mp3")});

    // A worker stuck in the file system (a dead mount) does not hold up the end: it is
    // left behind, and what it finds later is dropped.
    auto release = std::make_shared<std::atomic<bool>>(false);
    {
        TAdditionLoader stuck(Pending);
        stuck.StopTimeout = std::chrono::milliseconds(50);
        stuck.SetGate([release] {
            while (!*release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        stuck.AddNames({Dir.File("single.mp3")}, "wav", false);
    }
    *release = true;
    EXPECT_TRUE(Pending.Empty());
}

// The playlist hands a lone ".m3u" to the loader; its lines come in on a later tick.
TEST_F(AdditionLoader, PlaylistReadsALoneM3UThroughTheLoader)
{
    ResetSettings(Dir.Path());
    TPlayerState state;
    TAdditionLoader loader(Pending);
    TPlaylist list(state, Pending);
    list.UseLoader(&loader);
    Pending.Add(Dir.File("urls.m3u"));
    list.TakePending();
    EXPECT_EQ(list.Count(), 0);
    ASSERT_TRUE(loader.WaitIdle(kWait));
    EXPECT_TRUE(list.TakePending());
    ASSERT_EQ(list.Count(), 20001);
    EXPECT_EQ(list.Item(0).FileName, "http://radio.example/0.mp3");
    EXPECT_EQ(list.Item(19999).FileName, "http://radio.example/19999.mp3");
    EXPECT_EQ(list.Item(20000).FileName, Dir.File("sub/local.mp3"));
}

} // namespace
} // namespace marlix
