// marlixaudio-cli on a desktop's sound server: a private PipeWire with WirePlumber and
// a 44.1 kHz null sink. The shared output reaches it through ALSA's "default" and
// "pipewire" PCMs, the pro-audio output through PipeWire's JACK library (pw-jack); a
// recorder on the sink's monitor must hear the played file sample for sample.
#include "base/boundedwait.h"
#include "platform/waveout/alsawaveout.h"
#include "support/pipewirerecorder.h"
#include "support/pipewiresession.h"
#include "support/testutil.h"
#include "app/clitest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace marlix {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = test::TPipeWireSession::Rate;

class CliOnPipeWire : public Cli {
protected:
    void SetUp() override
    {
        if (!test::TPipeWireSession::Installed())
            GTEST_SKIP() << "pipewire, pw-metadata, wireplumber or dbus-daemon is missing (scripts/install-deps.sh installs them)";
        session = std::make_unique<test::TPipeWireSession>(home.File("pipewire/"));
        ASSERT_TRUE(session->Ready()) << session->Logs();
        session->Export();
        recorder = std::make_unique<test::TPipeWireRecorder>(60 * kRate);
        ASSERT_TRUE(recorder->Start(test::TPipeWireSession::SinkName, std::chrono::seconds(30)))
            << recorder->Error() << "\n"
            << session->Logs();
        ASSERT_TRUE(WaitUntilDone([&] { return recorder->Frames() > 0; }, std::chrono::seconds(10)));
        EXPECT_TRUE(recorder->RealTime()) << "the recorder's data thread is not real-time";
    }

    // Runs `command` (a shell line that plays `track`) and checks that the sink got
    // the track sample for sample, and nothing after it; returns what it printed.
    std::string PlayAndCompare(const std::string& what, const std::string& command, const Samples& track)
    {
        const int frames = static_cast<int>(track.size() / 2);
        recorder->Arm();
        const auto started = Clock::now();
        int status = -1;
        const std::string out = test::RunCommand(command, &status);
        EXPECT_EQ(status, 0) << what << "\n" << out;
        EXPECT_TRUE(WaitUntilDone([&] { return recorder->FirstSoundFrame() >= 0; }, std::chrono::seconds(10)))
            << what << ": nothing reached the sink\n"
            << out;
        const int first = recorder->FirstSoundFrame();
        if (first < 0)
            return out;
        std::printf("%s: sound %.0f ms after start\n", what.c_str(),
                    std::chrono::duration<double, std::milli>(recorder->FirstSoundTime() - started).count());
        // Half a second after the track, in which nothing more may come.
        const int end = first + frames + kRate / 2;
        EXPECT_TRUE(WaitUntilDone([&] { return recorder->KeptFrames() >= end; }, std::chrono::seconds(20))) << what;
        int wrong = 0, firstWrong = -1;
        for (int j = 0; j < std::min(end, recorder->KeptFrames()) - first; ++j)
            for (int c = 0; c < 2; ++c) {
                const float expected = j < frames ? static_cast<float>(track[2 * size_t(j) + size_t(c)]) / 32768.0f : 0.0f;
                if (recorder->At(c, first + j) != expected && wrong++ == 0)
                    firstWrong = j;
            }
        EXPECT_EQ(wrong, 0) << what << ": first difference at frame " << firstWrong << " of " << frames << "\n"
                            << out;
        return out;
    }

    // The playback streams the player made must be gone from the graph once it ended.
    void ExpectNoStreamLeft(const std::string& what)
    {
        EXPECT_TRUE(WaitUntilDone([&] { return recorder->PlaybackStreams() == 0; }, std::chrono::seconds(10)))
            << what << ": " << recorder->PlaybackStreams() << " playback streams left in the graph";
    }

    std::unique_ptr<test::TPipeWireSession> session;
    std::unique_ptr<test::TPipeWireRecorder> recorder;
};

// The device the wave mapper gives (-1, ALSA's "default") and the one the user picks
// by name from the device list ("pipewire").
TEST_F(CliOnPipeWire, SharedOutputDeliversAFileBitExact)
{
    const auto& names = TAlsaWaveOut::DeviceNames();
    const auto named = std::find(names.begin(), names.end(), "pipewire");
    ASSERT_NE(named, names.end()) << "ALSA lists no PCM named pipewire";
    Samples track = Noise(3 * kRate, 21);
    track[0] = 1000; // a known first sample marks the end of the pre-roll silence
    WriteWav(home.File("noise.wav"), track, kRate);
    for (const int device : {-1, static_cast<int>(named - names.begin())}) {
        const std::string what = "Device0=" + std::to_string(device);
        Settings("[MME]\nDevice0=" + std::to_string(device) + "\n[Status]\nAVC=0\n");
        const std::string out = PlayAndCompare(what,
                                               session->EnvAssignments() + " " + Env() + "timeout 120 '" + kCli +
                                                   "' play '" + home.File("noise.wav") + "' 2>&1",
                                               track);
        EXPECT_NE(out.find("output: 44100 Hz"), std::string::npos) << what << "\n" << out;
        EXPECT_NE(out.find("under-runs: 0\n"), std::string::npos) << what << "\n" << out;
        ExpectNoStreamLeft(what);
    }
    EXPECT_EQ(recorder->MostPlaybackStreams(), 1);
}

TEST_F(CliOnPipeWire, ProAudioOutputDeliversAFileBitExactThroughPipeWiresJack)
{
    if (!test::HaveProgram("pw-jack"))
        GTEST_SKIP() << "pw-jack is missing (package pipewire-jack)";
    Samples track = Noise(3 * kRate, 22);
    track[0] = 1000;
    WriteWav(home.File("noise.wav"), track, kRate);
    Settings("[ASIO]\nDriverName=JACK\n[Status]\nAVC=0\n");
    const std::string out = PlayAndCompare("JACK", session->EnvAssignments() + " " + Env() + "timeout 120 pw-jack '" +
                                                       kCli + "' play --driver asio '" + home.File("noise.wav") +
                                                       "' 2>&1",
                                           track);
    // JACK runs at the graph's rate, which the chain follows.
    EXPECT_NE(out.find("output: 44100 Hz"), std::string::npos) << out;
    EXPECT_NE(out.find("under-runs: 0\n"), std::string::npos) << out;
    ExpectNoStreamLeft("JACK");
    EXPECT_EQ(recorder->MostPlaybackStreams(), 1);
}

// The sound server goes away under the shared output: the player must say so and end
// with status 3, as it does when a JACK server goes away, not run on in silence (the
// device's writes then only ever "recover" from an under-run).
TEST_F(CliOnPipeWire, SharedOutputEndsWhenPipeWireGoesAway)
{
    Settings("[MME]\nDevice0=-1\n[Status]\nAVC=0\n");
    WriteWav(home.File("long.wav"), Noise(20 * kRate, 23), kRate);
    const std::string out = home.File("out.txt");
    recorder->Arm();
    test::TChildProcess player;
    ASSERT_TRUE(player.Start({kCli, "play", home.File("long.wav")},
                             {"MARLIX_AUDIO_HOME=" + home.Path(), "MARLIX_FFT_PLANNER=estimate"}, out));
    ASSERT_TRUE(WaitUntilDone([&] { return recorder->FirstSoundFrame() >= 0; }, std::chrono::seconds(20)))
        << test::ReadText(out);
    recorder.reset();
    session->StopServer();
    int status = -1;
    EXPECT_TRUE(WaitUntilDone([&] { return player.Ended(status); }, std::chrono::seconds(20)))
        << "still playing 20 s after the server went away\n"
        << test::ReadText(out);
    EXPECT_EQ(status, 3) << test::ReadText(out);
    EXPECT_NE(test::ReadText(out).find("the audio device 'default' was lost"), std::string::npos) << test::ReadText(out);
}

} // namespace
} // namespace marlix
