// The session's start and shutdown: what it loads from the program folder, what it
// writes back, and what it reports when writing fails.
#include "base/mainthread.h"
#include "engine/waveoutput.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playersession.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

namespace marlix {
namespace {

TEST(PlayerSession, SavesWhatItLoadedAndReportsWhatItCouldNotWrite)
{
    struct TCase {
        bool FolderGone; // the session's folder does not exist: nothing can be written
        bool Saved;
    };
    for (const TCase c : {TCase{false, true}, TCase{true, false}}) {
        test::TempProgramFolder folder;
        const std::string home = c.FolderGone ? folder.File("gone/") : folder.Path();
        const std::string ini = home + "setting.ini";
        if (!c.FolderGone)
            test::WriteText(ini, "[Status]\nMasterVolume=-123\n[Output]\nnDriverType=0\n");
        ResetSettings(home);
        TPlayerState state;
        TPendingAdditions pending;
        TWaveOutput output{std::vector<std::string>{}};
        TPlayerSession session(home, Settings(), state, pending, output, nullptr, TMainThread::Instance());
        session.Start({folder.File("a.wav")});
        session.UseDriverForThisRun(1);
        EXPECT_EQ(Settings().Output.nDriverType, 1);
        EXPECT_EQ(Settings().ASIO.DriverName, "JACK");
        EXPECT_EQ(state.MasterVolume.load(), c.FolderGone ? 0 : -123);
        session.Tick(); // the pending entry reaches the playlist
        EXPECT_EQ(session.Playlist.Count(), 1);

        const TSaveReport report = session.Shutdown();
        EXPECT_EQ(report.Ok(), c.Saved);
        if (!c.Saved) {
            EXPECT_EQ(report.Unwritten, (std::vector<std::string>{home + "efxsetting.bin, convolversetting.bin", ini}));
            continue;
        }
        // The run's driver choice and the "JACK" default are not saved.
        const std::string text = test::ReadText(ini);
        EXPECT_NE(text.find("MasterVolume=-123"), std::string::npos) << text;
        EXPECT_NE(text.find("nDriverType=0"), std::string::npos) << text;
        EXPECT_EQ(text.find("DriverName=JACK"), std::string::npos) << text;
        EXPECT_NE(test::ReadText(folder.File("current.m3u")).find("a.wav"), std::string::npos);
    }
}

} // namespace
} // namespace marlix
