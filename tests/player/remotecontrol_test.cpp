// The remote control's core: the words it takes, what goes over its socket, and what a
// command does to a player session (state, records, the chain's hand-over).
#include "base/mainthread.h"
#include "engine/waveoutput.h"
#include "player/dsppresets.h"
#include "player/pending.h"
#include "player/playersession.h"
#include "player/playerstate.h"
#include "player/remotecontrol.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace marlix {
namespace {

using TKind = TRemoteCommand::TKind;
using Words = std::vector<std::string>;

TEST(RemoteCommand, WordsParseIntoCommandsOrUsageErrors)
{
    struct TCase {
        Words In;
        std::optional<TKind> Kind; // none: a usage error
        std::string Detail = {};   // stage, or preset kind + "/" + name + "/" + channel
        double Value = 0;          // on (1) / off (0), or decibels
    };
    const TCase cases[] = {
        {{"status"}, TKind::Status},
        {{"PLAY"}, TKind::Play},
        {{"previous"}, TKind::Previous},
        {{"stage", "hsc", "ON"}, TKind::Stage, "HSC", 1},
        {{"stage", "Convolver", "off"}, TKind::Stage, "Convolver", 0},
        {{"volume", "-6.5"}, TKind::Volume, "", -6.5},
        {{"volume", "-40"}, TKind::Volume, "", -40}, // out of range is the player's refusal
        {{"preset", "eq", "Warm room"}, TKind::Preset, "eq/Warm room/-1"},
        {{"preset", "eq", "x", "1"}, TKind::Preset, "eq/x/1"},
        {{"preset", "eq", "x", "Master"}, TKind::Preset, "eq/x/-1"},
        {{"preset", "Matrix", "Wide"}, TKind::Preset, "matrix/Wide/-1"},
        {{}, std::nullopt},
        {{"rewind"}, std::nullopt},
        {{"status", "now"}, std::nullopt},
        {{"stage", "EQ"}, std::nullopt},
        {{"stage", "Bass", "on"}, std::nullopt},
        {{"stage", "EQ", "maybe"}, std::nullopt},
        {{"volume"}, std::nullopt},
        {{"volume", "loud"}, std::nullopt},
        {{"volume", "-6dB"}, std::nullopt},
        {{"volume", "nan"}, std::nullopt},
        {{"preset", "eq"}, std::nullopt},
        {{"preset", "eq", "x", "2"}, std::nullopt},
        {{"preset", "eqall", "x", "0"}, std::nullopt},
        {{"preset", "tone", "x"}, std::nullopt},
        {{"preset", "eq", ""}, std::nullopt},
        {{"preset", "eq", "a\nb"}, std::nullopt},
    };
    for (const TCase& c : cases) {
        std::string error;
        const std::optional<TRemoteCommand> got = ParseRemoteCommand(c.In, error);
        const std::string what = testing::PrintToString(c.In);
        ASSERT_EQ(got.has_value(), c.Kind.has_value()) << what << ": " << error;
        if (!got) {
            EXPECT_FALSE(error.empty()) << what;
            continue;
        }
        EXPECT_EQ(got->Kind, *c.Kind) << what;
        if (got->Kind == TKind::Stage) {
            EXPECT_EQ(got->Stage, c.Detail) << what;
            EXPECT_EQ(got->On, c.Value != 0) << what;
        } else if (got->Kind == TKind::Volume) {
            EXPECT_EQ(got->Decibels, c.Value) << what;
        } else if (got->Kind == TKind::Preset) {
            EXPECT_EQ(got->PresetKind + "/" + got->Name + "/" + std::to_string(got->Channel), c.Detail) << what;
        }
    }
}

TEST(RemoteProtocol, RequestsAndAnswersSurviveTheWireInAnyPieces)
{
    const Words words{"preset", "eq", "Warm room", "master"};
    const std::string request = EncodeRemoteRequest(words);
    Words got;
    for (size_t n = 1; n < request.size(); ++n)
        ASSERT_EQ(DecodeRemoteRequest(std::string_view(request).substr(0, n), got), TRemoteDecode::Incomplete) << n;
    ASSERT_EQ(DecodeRemoteRequest(request, got), TRemoteDecode::Complete);
    EXPECT_EQ(got, words);

    const std::string tooMany = EncodeRemoteRequest(Words(9, "w"));
    const struct {
        std::string Data;
        TRemoteDecode Want;
    } others[] = {
        {"rai", TRemoteDecode::Incomplete},
        {"raise\n", TRemoteDecode::Raise},
        {request + "x", TRemoteDecode::Invalid},
        {"GET / HTTP/1.1\r\n", TRemoteDecode::Invalid},
        {"marlix-remote 2\nstatus\n\n", TRemoteDecode::Invalid},
        {tooMany, TRemoteDecode::Invalid},
        {"marlix-remote 1\n" + std::string(kMaxRemoteRequest, 'a'), TRemoteDecode::Invalid},
    };
    for (const auto& o : others)
        EXPECT_EQ(DecodeRemoteRequest(o.Data, got), o.Want) << o.Data.substr(0, 40);

    for (const TRemoteReply& r : {TRemoteReply{TRemoteStatus::Ok, "state: playing\nEQ: on\n"},
                                  TRemoteReply{TRemoteStatus::Refused, "cannot load eq preset 'x'"},
                                  TRemoteReply{TRemoteStatus::Usage, ""}}) {
        TRemoteReply back{TRemoteStatus::NoPlayer, "?"};
        ASSERT_TRUE(DecodeRemoteReply(EncodeRemoteReply(r), back));
        EXPECT_EQ(back.Status, r.Status);
        EXPECT_EQ(back.Text, r.Text);
    }
    TRemoteReply ignored;
    for (const char* bad : {"", "0", "4\n", "7\nx", "0x\n", "-1\n"})
        EXPECT_FALSE(DecodeRemoteReply(bad, ignored)) << bad;
}

// Sets (or with nullptr unsets) an environment variable for the scope.
class TEnv {
public:
    TEnv(const char* name, const char* value) : Name(name)
    {
        if (const char* old = std::getenv(name))
            Old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~TEnv() { Old ? setenv(Name, Old->c_str(), 1) : unsetenv(Name); }

private:
    const char* Name;
    std::optional<std::string> Old;
};

TEST(RemoteProtocol, SocketPathFitsAnAddressAndNamesTheUserAndFolder)
{
    const std::string user = "-" + std::to_string(geteuid()) + "-";
    const std::string longDir = "/" + std::string(90, 'x');
    const struct {
        const char* Runtime;
        const char* Temp;
        std::string Folder; // where the socket goes
        size_t Candidates;
    } cases[] = {
        {"/run/user/7", "/var/tmp", "/run/user/7/", 2},
        {"/run/user/7/", nullptr, "/run/user/7/", 2},
        {nullptr, "/var/tmp", "/var/tmp/", 2},
        {nullptr, nullptr, "/tmp/", 1},
        {"relative", nullptr, "/tmp/", 1},
        {longDir.c_str(), nullptr, "/tmp/", 1}, // would not fit a socket address
    };
    for (const auto& c : cases) {
        const TEnv runtime("XDG_RUNTIME_DIR", c.Runtime), temp("TMPDIR", c.Temp);
        const std::string path = RemoteSocketPath("/opt/marlix/");
        EXPECT_EQ(path.rfind(c.Folder, 0), 0u) << path;
        EXPECT_EQ(path.find('/', c.Folder.size()), std::string::npos) << path;
        EXPECT_NE(path.find(user), std::string::npos) << path;
        EXPECT_LE(path.size(), 107u);
        EXPECT_EQ(path, RemoteSocketPath("/opt/marlix/"));
        EXPECT_NE(path, RemoteSocketPath("/opt/marlix2/"));
        const Words candidates = RemoteSocketCandidates("/opt/marlix/");
        ASSERT_EQ(candidates.size(), c.Candidates) << path;
        EXPECT_EQ(candidates.front(), path);
        EXPECT_EQ(candidates.back().rfind("/tmp/marlixaudio" + user, 0), 0u) << candidates.back();
    }
}

class RemoteControlTest : public ::testing::Test {
protected:
    test::TempDir home;
    TSettings settings{home.Path()};
    TPlayerState state;
    TPendingAdditions pending;
    TWaveOutput output{TWaveOutput::CallerRenders};
    TPlayerSession session{home.Path(), settings, state, pending, output, nullptr, TMainThread::Instance()};
    TRemoteControl remote{session, settings, state, pending};
    TLiveSettings& live = session.Control.Chain.Live;

    ~RemoteControlTest() override { state.OutputRunning = false; } // nothing real was started

    TRemoteStatus Run(const Words& words) { return remote.Execute(words).Status; }
};

TEST_F(RemoteControlTest, StagesAndVolumeGoIntoThePlayerState)
{
    state.AVC = true;
    const struct {
        Words Command;
        TRemoteStatus Want;
        bool EQ, HSC, AVC;
        int Volume;
        int Changes; // DSPChangeCount: a chain stage that really changed
    } steps[] = {
        {{"stage", "EQ", "on"}, TRemoteStatus::Ok, true, false, true, 0, 1},
        {{"stage", "eq", "on"}, TRemoteStatus::Ok, true, false, true, 0, 1},
        {{"stage", "HSC", "on"}, TRemoteStatus::Ok, true, true, true, 0, 2},
        {{"stage", "AVC", "off"}, TRemoteStatus::Ok, true, true, false, 0, 2},
        {{"stage", "EQ", "off"}, TRemoteStatus::Ok, false, true, false, 0, 3},
        {{"volume", "-6.5"}, TRemoteStatus::Ok, false, true, false, -65, 3},
        {{"volume", "-36"}, TRemoteStatus::Ok, false, true, false, -360, 3},
        {{"volume", "-36.1"}, TRemoteStatus::Refused, false, true, false, -360, 3},
        {{"volume", "0.1"}, TRemoteStatus::Refused, false, true, false, -360, 3},
        {{"volume", "-0.04"}, TRemoteStatus::Ok, false, true, false, 0, 3},
        {{"volume", "x"}, TRemoteStatus::Usage, false, true, false, 0, 3},
    };
    for (const auto& s : steps) {
        const std::string what = testing::PrintToString(s.Command);
        EXPECT_EQ(Run(s.Command), s.Want) << what;
        EXPECT_EQ(state.EQ.load(), s.EQ) << what;
        EXPECT_EQ(state.HSC.load(), s.HSC) << what;
        EXPECT_EQ(state.AVC.load(), s.AVC) << what;
        EXPECT_EQ(state.MasterVolume.load(), s.Volume) << what;
        EXPECT_EQ(state.DSPChangeCount.load(), s.Changes) << what;
    }
    EXPECT_EQ(remote.StatusText(), "state: stopped\ntrack:\nposition: 0.000\nlength: 0.000\nEFX: off\n"
                                   "Convolver: off\nMatrix: off\nEQ: off\nHSC: on\nAVC: off\nvolume: 0.0\n");
}

TEST_F(RemoteControlTest, TransportFollowsTheButtonsRules)
{
    const struct {
        bool Running;
        bool Queued; // an entry waits to enter the playlist
        Words Command;
        TRemoteStatus Want;
        std::string Posted;
        bool Paused;
    } steps[] = {
        {false, false, {"play"}, TRemoteStatus::Refused, "", false},
        {false, false, {"pause"}, TRemoteStatus::Refused, "", false},
        {false, false, {"next"}, TRemoteStatus::Refused, "", false},
        {false, false, {"previous"}, TRemoteStatus::Refused, "", false},
        {false, false, {"stop"}, TRemoteStatus::Ok, "Stop", false},
        {false, true, {"play"}, TRemoteStatus::Ok, "Play", false},
        {true, false, {"play"}, TRemoteStatus::Ok, "", false}, // already playing
        {true, false, {"pause"}, TRemoteStatus::Ok, "", true},
        {true, false, {"play"}, TRemoteStatus::Ok, "Play", true}, // resumes: the loop clears the pause
        {true, false, {"next"}, TRemoteStatus::Ok, "Next", false},
        {true, false, {"previous"}, TRemoteStatus::Ok, "Back", false},
    };
    for (const auto& s : steps) {
        const std::string what = testing::PrintToString(s.Command) + (s.Running ? " running" : " stopped");
        state.OutputRunning = s.Running;
        state.Paused = s.Paused && s.Command[0] == "play";
        pending.Clear();
        if (s.Queued)
            pending.Add(home.File("a.wav"));
        EXPECT_EQ(Run(s.Command), s.Want) << what;
        EXPECT_EQ(state.Command.Take(), s.Posted) << what;
        EXPECT_EQ(state.Paused.load(), s.Paused) << what;
    }

    // While a dialog of the player is open only the status is answered.
    remote.Busy = [] { return std::string("a dialog is open"); };
    const TRemoteReply refused = remote.Execute(Words{"stop"});
    EXPECT_EQ(refused.Status, TRemoteStatus::Refused);
    EXPECT_EQ(refused.Text, "a dialog is open");
    EXPECT_TRUE(state.Command.Empty());
    EXPECT_EQ(Run({"status"}), TRemoteStatus::Ok);
}

TEST_F(RemoteControlTest, PresetsLoadFromTheWindowsFilesAndReachTheChain)
{
    // A one-channel preset as the DSP window writes it: the curve is always number 0.
    test::WriteText(home.File("eqpreset.ini"), "[Warm room]\n0_Count=2\n0_0=0/440/1/0/6\n0_1=1/2000/1/0/-3.5\n");
    TSettingEQ eq;
    eq.Curve(0).Add({0, 100, 2, 0, 4});
    TSettingMatrix matrix;
    matrix.fLevel[0][1] = -60;
    matrix.bONOFF[0][1] = true;
    TSettingConvolver convolver;
    convolver.Conv[1].HasIR = true;
    convolver.Conv[1].IR = {0.5, 0.25};
    convolver.Conv[1].IRLength = 2;
    convolver.Conv[1].IRRate = 44100;
    {
        TDSPPresets presets(home.Path());
        ASSERT_TRUE(presets.SaveEQAll("all", eq));
        ASSERT_TRUE(presets.SaveMatrix("cross", matrix));
        ASSERT_TRUE(presets.SaveConvolver("hall", convolver));
        ASSERT_TRUE(presets.SaveEFX("none", settings.EFX));
    }

    ASSERT_EQ(Run({"preset", "eq", "Warm room", "1"}), TRemoteStatus::Ok);
    const TEQ& right = settings.EQ.Curve(1);
    ASSERT_EQ(right.Count(), 2u);
    EXPECT_EQ(right[0].Freq, 440);
    EXPECT_EQ(right[0].Gain, 6);
    EXPECT_EQ(right[1].Kind, 1);
    EXPECT_EQ(right[1].Gain, -3.5);
    EXPECT_TRUE(settings.EQ.Curve(-1).Count() == 0 && settings.EQ.Curve(0).Count() == 0);
    EXPECT_EQ(live.EQ.Newest(), settings.EQ.Curves);

    ASSERT_EQ(Run({"preset", "eqall", "all"}), TRemoteStatus::Ok);
    EXPECT_EQ(settings.EQ.Curves, eq.Curves);
    EXPECT_EQ(live.EQ.Newest(), eq.Curves);
    ASSERT_EQ(Run({"preset", "matrix", "cross"}), TRemoteStatus::Ok);
    EXPECT_EQ(live.Matrix.Newest().fLevel[0][1], -60);
    EXPECT_TRUE(live.Matrix.Newest().bONOFF[0][1]);

    // Effects and convolvers change only while nothing plays, as in the DSP window.
    const uint64_t responses = live.ConvolverResponses;
    state.OutputRunning = true;
    EXPECT_EQ(Run({"preset", "convolver", "hall"}), TRemoteStatus::Refused);
    EXPECT_EQ(Run({"preset", "efx", "none"}), TRemoteStatus::Refused);
    EXPECT_FALSE(settings.Convolver.Conv[1].HasIR);
    state.OutputRunning = false;
    ASSERT_EQ(Run({"preset", "convolver", "hall"}), TRemoteStatus::Ok);
    EXPECT_EQ(settings.Convolver.Conv[1].IR, convolver.Conv[1].IR);
    EXPECT_EQ(live.Convolver.Newest().Conv[1].IR, convolver.Conv[1].IR);
    EXPECT_EQ(live.ConvolverResponses.load(), responses + 1);
    EXPECT_EQ(Run({"preset", "efx", "none"}), TRemoteStatus::Ok);

    // Unknown names, and names that would leave the preset folder, change nothing.
    const uint64_t published = live.EQ.Version();
    for (const Words& w : {Words{"preset", "eq", "Cold room"}, Words{"preset", "eqall", "Warm room"},
                           Words{"preset", "matrix", "none"}, Words{"preset", "convolver", "../convolverpreset/hall"},
                           Words{"preset", "efx", ".."}})
        EXPECT_EQ(Run(w), TRemoteStatus::Refused) << testing::PrintToString(w);
    EXPECT_EQ(settings.EQ.Curves, eq.Curves);
    EXPECT_EQ(live.EQ.Version(), published);
}

} // namespace
} // namespace marlix
