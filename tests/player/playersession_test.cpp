// The session's start and shutdown: what it loads from the program folder, what it
// writes back, and what it reports when writing fails.
#include "base/mainthread.h"
#include "engine/waveoutput.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playersession.h"
#include "settings/inifile.h"
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
        TWaveOutput output{TWaveOutput::CallerRenders};
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

// The driver chosen while the player runs (the setup dialog) is what the next start
// finds; a choice made for one run only (the CLI's --driver) is not saved.
TEST(PlayerSession, SavesTheDriverChosenDuringTheRunButNotARunsOverride)
{
    struct TCase {
        int Override; // -1: none
        int SavedType;
        const char* SavedName;
    };
    for (const TCase c : {TCase{-1, 1, "ALSA: USB DAC"}, TCase{1, 0, "ALSA: Onboard"}}) {
        test::TempProgramFolder folder;
        const std::string ini = folder.File("setting.ini");
        test::WriteText(ini, "[Output]\nnDriverType=0\n[ASIO]\nDriverName=ALSA: Onboard\n");
        ResetSettings(folder.Path());
        TPlayerState state;
        TPendingAdditions pending;
        TWaveOutput output{TWaveOutput::CallerRenders};
        TPlayerSession session(folder.Path(), Settings(), state, pending, output, nullptr, TMainThread::Instance());
        session.Start({});
        if (c.Override >= 0) {
            session.UseDriverForThisRun(c.Override);
        } else {
            Settings().Output.nDriverType = 1;
            Settings().ASIO.DriverName = "ALSA: USB DAC";
        }
        ASSERT_TRUE(session.Shutdown().Ok());
        const TIniFile saved(ini);
        EXPECT_EQ(saved.ReadInteger("Output", "nDriverType", -1), c.SavedType) << c.Override;
        EXPECT_EQ(saved.ReadString("ASIO", "DriverName", "?"), c.SavedName) << c.Override;
    }
}

// "current.m3u" is read at every start; names given on the command line then join it
// ("Reserve" on) or replace it ("Reserve" off), as names added later do.
TEST(PlayerSession, NamesGivenAtStartJoinOrReplaceTheSavedPlaylist)
{
    struct TCase {
        bool Reserve;
        std::vector<std::string> Saved;
    };
    for (const TCase& c : {TCase{true, {"/m/a.wav", "/m/b.wav", "/m/c.wav", "/m/d.wav"}}, TCase{false, {"/m/d.wav"}}}) {
        test::TempProgramFolder folder;
        test::WriteText(folder.File("setting.ini"), std::string("[Status]\nReserve=") + (c.Reserve ? "1" : "0") + "\n");
        test::WriteText(folder.File("current.m3u"), "/m/a.wav\r\n/m/b.wav\r\n/m/c.wav\r\n");
        ResetSettings(folder.Path());
        TPlayerState state;
        TPendingAdditions pending;
        TWaveOutput output{TWaveOutput::CallerRenders};
        TPlayerSession session(folder.Path(), Settings(), state, pending, output, nullptr, TMainThread::Instance());
        session.Start({"/m/d.wav"});
        session.Tick();
        ASSERT_TRUE(session.Shutdown().Ok());
        std::vector<std::string> lines;
        ASSERT_TRUE(TPlaylist::LoadM3U(folder.File("current.m3u"), lines));
        EXPECT_EQ(lines, c.Saved) << "Reserve " << c.Reserve;
    }
}

} // namespace
} // namespace marlix
