// The player on a desktop's sound server: the session's shared output, through ALSA's
// "default" PCM, plays into a private PipeWire whose graph a recorder watches.
#include "base/mainthread.h"
#include "engine/waveoutput.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playersession.h"
#include "settings/settings.h"
#include "support/clickcheck.h"
#include "support/pipewirerecorder.h"
#include "support/pipewiresession.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace marlix {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = test::TPipeWireSession::Rate;

// Runs the session's loop as the player does until `done` holds or `limit` passes.
bool RunUntil(TPlayerSession& session, const std::function<bool()>& done, std::chrono::seconds limit)
{
    auto nextTick = Clock::now();
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
        session.RunQueuedCalls();
        if (Clock::now() >= nextTick) {
            nextTick = Clock::now() + std::chrono::milliseconds(50);
            session.Tick();
        }
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

// Each start must be heard, and each stop must take the player's stream out of the
// graph: none may pile up in the sound server's mixer.
TEST(PlayerOnPipeWire, FiftyStartsAndStopsLeaveNoStreamBehind)
{
    if (!test::TPipeWireSession::Installed())
        GTEST_SKIP() << "pipewire, wireplumber or dbus-daemon is missing (scripts/install-deps.sh installs them)";
    test::TempDir home;
    test::TPipeWireSession pipewire(home.File("pipewire/"));
    ASSERT_TRUE(pipewire.Ready()) << pipewire.Logs();
    pipewire.Export();
    test::TPipeWireRecorder recorder(kRate);
    ASSERT_TRUE(recorder.Start(test::TPipeWireSession::SinkName, std::chrono::seconds(30)))
        << recorder.Error() << "\n"
        << pipewire.Logs();

    // Repeat: each "Play" after a stop finds the one track again.
    test::WriteText(home.File("setting.ini"), "[MME]\nDevice0=-1\n[Status]\nAVC=0\nRepeat=1\n");
    test::WriteSineWav(home.File("sine.wav"), 60, kRate, 440, 0.4);
    TSettings settings(home.Path());
    TPlayerState state;
    TPendingAdditions pending;
    TWaveOutput output;
    TPlayerSession session(home.Path(), settings, state, pending, output, nullptr, TMainThread::Instance());
    session.Start({home.File("sine.wav")});
    for (int cycle = 0; cycle < 50; ++cycle) {
        const long heard = recorder.SoundFrames();
        state.Command.Post("Play");
        ASSERT_TRUE(RunUntil(session, [&] { return recorder.SoundFrames() > heard; }, std::chrono::seconds(20)))
            << "start " << cycle + 1 << " was not heard";
        EXPECT_EQ(recorder.PlaybackStreams(), 1) << "start " << cycle + 1;
        state.Command.Post("Stop");
        ASSERT_TRUE(RunUntil(
            session, [&] { return !state.OutputRunning && recorder.PlaybackStreams() == 0; },
            std::chrono::seconds(20)))
            << "stop " << cycle + 1 << " left " << recorder.PlaybackStreams() << " streams in the graph";
    }
    EXPECT_EQ(recorder.MostPlaybackStreams(), 1);
    (void)session.Shutdown();
    EXPECT_EQ(recorder.PlaybackStreams(), 0);
}

} // namespace
} // namespace marlix
