// The player on a desktop's sound server: the session's shared output, through ALSA's
// "default" PCM, plays into a private PipeWire whose graph a recorder watches.
#include "player/playbackcontrol.h"
#include "support/clickcheck.h"
#include "support/pipewirerecorder.h"
#include "support/pipewiresession.h"
#include "support/sessionrig.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dlfcn.h>

namespace marlix {
namespace {

constexpr int kRate = test::TPipeWireSession::Rate;

// PipeWire's JACK library as pw-jack hands it to a program. Loaded before the
// pro-audio host library, it is the libjack that library binds to.
bool LoadPipeWireJack()
{
    const std::string dir = test::RunCommand("pw-jack sh -c 'printf %s \"${LD_LIBRARY_PATH%%:*}\"'");
    return !dir.empty() && dlopen((dir + "/libjack.so.0").c_str(), RTLD_NOW | RTLD_GLOBAL) != nullptr;
}

// A private PipeWire must be at hand, and its libjack loaded for the pro-audio output.
class PlayerOnPipeWire : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::TPipeWireSession::Installed() || !test::HaveProgram("pw-jack"))
            GTEST_SKIP() << "pipewire, pw-metadata, pw-jack, wireplumber or dbus-daemon is missing "
                            "(scripts/install-deps.sh)";
        ASSERT_TRUE(LoadPipeWireJack()) << "PipeWire's libjack does not load";
    }
};

// Each start must be heard, and each stop must take the player's stream out of the
// graph: none may pile up in the sound server's mixer. Both outputs: the shared one
// through ALSA's "default", the pro-audio one as a JACK client of PipeWire.
TEST_F(PlayerOnPipeWire, FiftyStartsAndStopsLeaveNoStreamBehind)
{
    struct TCase {
        const char* Output;
        const char* Settings;
    };
    for (const TCase c : {TCase{"shared output", "[Output]\nnDriverType=0\n[MME]\nDevice0=-1\n"},
                          TCase{"pro-audio output", "[Output]\nnDriverType=1\n[ASIO]\nDriverName=JACK\n"}}) {
        SCOPED_TRACE(c.Output);
        test::TempDir home;
        test::TPipeWireSession pipewire(home.File("pipewire/"));
        ASSERT_TRUE(pipewire.Ready()) << pipewire.Logs();
        pipewire.Export();
        test::TPipeWireRecorder recorder(kRate);
        ASSERT_TRUE(recorder.Start(test::TPipeWireSession::SinkName, std::chrono::seconds(30)))
            << recorder.Error() << "\n"
            << pipewire.Logs();

        // Repeat: each "Play" after a stop finds the one track again.
        test::WriteText(home.File("setting.ini"), std::string(c.Settings) + "[Status]\nAVC=0\nRepeat=1\n");
        test::WriteSineWav(home.File("sine.wav"), 60, kRate, 440, 0.4);
        test::TSessionRig rig(home.Path());
        TPlayerSession& session = rig.Session;
        TPlayerState& state = rig.State;
        session.Start({home.File("sine.wav")});
        for (int cycle = 0; cycle < 50; ++cycle) {
            const long heard = recorder.SoundFrames();
            state.Command.Post("Play");
            ASSERT_TRUE(rig.RunUntil([&] { return recorder.SoundFrames() > heard; }, std::chrono::seconds(20)))
                << "start " << cycle + 1 << " was not heard";
            // The graph's news travel apart from the sound, and may come later.
            EXPECT_TRUE(rig.RunUntil([&] { return recorder.PlaybackStreams() == 1; }, std::chrono::seconds(20)))
                << "start " << cycle + 1 << ": " << recorder.PlaybackStreams() << " streams in the graph";
            state.Command.Post("Stop");
            ASSERT_TRUE(rig.RunUntil([&] { return !state.OutputRunning && recorder.PlaybackStreams() == 0; },
                                     std::chrono::seconds(20)))
                << "stop " << cycle + 1 << " left " << recorder.PlaybackStreams() << " streams in the graph";
        }
        EXPECT_EQ(recorder.MostPlaybackStreams(), 1);
        (void)session.Shutdown();
        EXPECT_EQ(recorder.PlaybackStreams(), 0);
    }
}

// The sound server goes away while the player plays, on either output: the player stops
// and names the device; "Play" while it is gone fails, says why, and leaves nothing
// pretending to play; once it is back, "Play" plays again, without a restart.
TEST_F(PlayerOnPipeWire, ALostServerStopsThePlayerAndPlayWorksOnceItIsBack)
{
    struct TCase {
        const char* Output;
        const char* Settings;
        const char* Device;
        TDeviceProblem WhileGone;
    };
    for (const TCase c : {TCase{"shared output", "[Output]\nnDriverType=0\n[MME]\nDevice0=-1\n", "default",
                                TDeviceProblem::Other},
                          TCase{"pro-audio output", "[Output]\nnDriverType=1\n[ASIO]\nDriverName=JACK\n", "JACK",
                                TDeviceProblem::DidNotStart}}) {
        SCOPED_TRACE(c.Output);
        test::TempDir home;
        test::WriteText(home.File("setting.ini"), std::string(c.Settings) + "[Status]\nAVC=0\nRepeat=1\n");
        test::WriteSineWav(home.File("sine.wav"), 60, kRate, 440, 0.4);
        test::TSessionRig rig(home.Path());
        TPlayerSession& session = rig.Session;
        TPlayerState& state = rig.State;
        const TPlaybackControl& control = session.Control;
        const auto playHeard = [&](test::TPipeWireSession& pipewire) {
            test::TPipeWireRecorder recorder(kRate);
            if (!recorder.Start(test::TPipeWireSession::SinkName, std::chrono::seconds(30)))
                return ::testing::AssertionFailure() << recorder.Error() << "\n" << pipewire.Logs();
            state.Command.Post("Play");
            if (!rig.RunUntil([&] { return recorder.SoundFrames() > kRate / 10; }, std::chrono::seconds(20)))
                return ::testing::AssertionFailure() << "not heard";
            return ::testing::AssertionSuccess();
        };
        {
            test::TPipeWireSession pipewire(home.File("pipewire/"));
            ASSERT_TRUE(pipewire.Ready()) << pipewire.Logs();
            pipewire.Export();
            session.Start({home.File("sine.wav")});
            ASSERT_TRUE(playHeard(pipewire));
            pipewire.StopServer();
            ASSERT_TRUE(rig.RunUntil([&] { return !state.OutputRunning; }, std::chrono::seconds(20)))
                << "still playing after the server went away";
            EXPECT_EQ(control.LastFailure().Problem, TDeviceProblem::Lost);
            EXPECT_EQ(control.LastFailure().Device, c.Device);

            const uint64_t failures = control.LastFailure().Serial;
            state.Command.Post("Play");
            ASSERT_TRUE(rig.RunUntil([&] { return control.LastFailure().Serial > failures; }, std::chrono::seconds(20)));
            EXPECT_EQ(control.LastFailure().Problem, c.WhileGone);
            EXPECT_FALSE(state.OutputRunning);
            EXPECT_FALSE(session.Decoder.IsOpen) << "the clock would go on as if playing";
        }
        test::TPipeWireSession again(home.File("pipewire/"));
        ASSERT_TRUE(again.Ready()) << again.Logs();
        again.Export();
        EXPECT_TRUE(playHeard(again));
        EXPECT_TRUE(state.OutputRunning);
        (void)session.Shutdown();
    }
}

} // namespace
} // namespace marlix
