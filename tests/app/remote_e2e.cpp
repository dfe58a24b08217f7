// marlixaudio offscreen, playing a sine through the shared output into an ALSA file
// device, driven only by "marlixaudio-cli remote": stages switched, two EQ presets
// swapped and the volume moved while it plays must leave no click and no gap in what
// the device received; status lines and exit statuses come from the real player.
#include "engine/alsafiledevice.h"
#include "support/clickcheck.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace marlix {
namespace {

using test::RunCommand;
using Clock = std::chrono::steady_clock;

const std::string kPlayer = std::string(MARLIX_TEST_BIN_DIR) + "marlixaudio";
const std::string kCli = std::string(MARLIX_TEST_BIN_DIR) + "marlixaudio-cli";
constexpr int kRate = 44100;
constexpr double kFrequency = 440;

struct TAnswer {
    int Status = -1;
    std::string Out;
    std::string Err;
};

class TRemote {
public:
    TRemote(std::string env, std::string errFile) : Env(std::move(env)), ErrFile(std::move(errFile)) {}

    TAnswer operator()(const std::string& args) const
    {
        TAnswer a;
        a.Out = RunCommand(Env + " timeout 60 '" + kCli + "' remote " + args + " 2>'" + ErrFile + "'", &a.Status);
        a.Err = test::ReadText(ErrFile);
        return a;
    }

    // Asks for the status until `done` accepts it; false after `seconds`.
    bool WaitFor(const std::function<bool(const TAnswer&)>& done, int seconds) const
    {
        for (const auto end = Clock::now() + std::chrono::seconds(seconds); Clock::now() < end;) {
            if (done((*this)("status")))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

private:
    std::string Env;
    std::string ErrFile;
};

bool Has(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

// The peak of the left channel in each 100 ms of interleaved stereo.
std::vector<double> WindowPeaks(const std::vector<int16_t>& samples)
{
    std::vector<double> peaks;
    const size_t window = 2 * kRate / 10;
    for (size_t at = 0; at + window <= samples.size(); at += window) {
        int peak = 0;
        for (size_t i = at; i < at + window; i += 2)
            peak = std::max(peak, std::abs(int(samples[i])));
        peaks.push_back(peak);
    }
    return peaks;
}

bool Running(const std::string& pid)
{
    return RunCommand("grep -qE '^State:\\s+[^Z]' /proc/" + pid + "/status 2>/dev/null && echo y") == "y\n";
}

TEST(RemoteControl, DrivesTheRunningPlayerWithoutClicksAndAnswersWithItsStatuses)
{
    test::TempDir home, runtime, elsewhere;
    const test::TAlsaFileDevice device(home.Path());
    test::WriteText(home.File("setting.ini"),
                    "[MME]\nDevice0=-1\n[Status]\nAVC=0\n[Operation]\nbPlayAtOpen=0\n");
    // Two one-channel presets as the DSP window saves them; between them the filter's
    // taps change everywhere, so an abrupt swap would be heard.
    test::WriteText(home.File("eqpreset.ini"), "[boost]\n0_Count=1\n0_0=0/440/1/0/6\n"
                                               "[cut]\n0_Count=2\n0_0=0/440/1/0/-6\n0_1=1/2000/1/0/9\n");
    test::WriteSineWav(home.File("sine.wav"), 14, kRate, kFrequency, 0.4);
    const std::string common = "QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS= XDG_RUNTIME_DIR='" +
                               runtime.Path() + "' MARLIX_FFT_PLANNER=estimate " + device.EnvAssignments() + " ";
    const TRemote remote(common + "MARLIX_AUDIO_HOME='" + home.Path() + "'", home.File("remote.err"));
    const TRemote nobody(common + "MARLIX_AUDIO_HOME='" + elsewhere.Path() + "'", home.File("nobody.err"));

    TAnswer a = remote("status");
    EXPECT_EQ(a.Status, 4) << "no player runs yet";
    EXPECT_NE(a.Err.find("no player runs for " + home.Path()), std::string::npos) << a.Err;

    struct TKill {
        std::string Pid;
        ~TKill() { RunCommand("kill -KILL " + Pid + " 2>/dev/null"); }
    } player{RunCommand("sh -c \"cd '" + home.Path() + "' && " + common + "MARLIX_AUDIO_HOME='" + home.Path() +
                        "' exec '" + kPlayer + "' sine.wav\" > '" + home.File("player.log") + "' 2>&1 & echo $!")};
    player.Pid = player.Pid.substr(0, player.Pid.find('\n'));
    ASSERT_TRUE(remote.WaitFor([](const TAnswer& s) { return s.Status == 0; }, 90))
        << test::ReadText(home.File("player.log"));
    a = remote("status");
    EXPECT_TRUE(Has(a.Out, "state: stopped") && Has(a.Out, "EQ: off") && Has(a.Out, "volume: 0.0")) << a.Out;
    EXPECT_EQ(nobody("status").Status, 4) << "another program folder has no player";

    ASSERT_EQ(remote("play").Status, 0);
    ASSERT_TRUE(remote.WaitFor([](const TAnswer& s) { return Has(s.Out, "state: playing"); }, 30));
    const auto started = Clock::now();
    a = remote("status");
    EXPECT_TRUE(Has(a.Out, "track: " + home.File("sine.wav"))) << a.Out;

    // The edits, one every 0.8 s while the sine plays, and refusals in between.
    const char* const edits[] = {"preset eq boost",         "stage EQ on",  "preset eq cut",   "preset eq boost master",
                                 "volume -12",              "volume -3.5",  "stage HSC on",    "stage EQ off"};
    int step = 0;
    for (const char* edit : edits) {
        std::this_thread::sleep_until(started + std::chrono::milliseconds(800 * ++step));
        a = remote(edit);
        EXPECT_EQ(a.Status, 0) << edit << ": " << a.Err;
        if (step == 5) {
            a = remote("status");
            EXPECT_TRUE(Has(a.Out, "EQ: on") && Has(a.Out, "volume: -12.0") && Has(a.Out, "HSC: off")) << a.Out;
            const struct {
                const char* Args;
                int Status;
                const char* Says;
            } refusals[] = {{"volume loud", 2, "usage: remote volume"},
                            {"stage Bass on", 2, "usage: remote stage"},
                            {"preset eq missing", 5, "cannot load eq preset 'missing'"},
                            {"preset convolver hall", 5, "only while playback is stopped"},
                            {"volume -50", 5, "outside -36"}};
            for (const auto& r : refusals) {
                a = remote(r.Args);
                EXPECT_EQ(a.Status, r.Status) << r.Args;
                EXPECT_NE(a.Err.find(r.Says), std::string::npos) << r.Args << ": " << a.Err;
                EXPECT_EQ(std::count(a.Err.begin(), a.Err.end(), '\n'), 1) << "one line: " << a.Err;
            }
        }
    }
    a = remote("status");
    EXPECT_TRUE(Has(a.Out, "state: playing")) << "every edit reached the sine while it played\n" << a.Out;
    EXPECT_TRUE(Has(a.Out, "EQ: off") && Has(a.Out, "HSC: on") && Has(a.Out, "volume: -3.5")) << a.Out;

    ASSERT_TRUE(remote.WaitFor([](const TAnswer& s) { return Has(s.Out, "state: stopped"); }, 60));
    a = remote("pause");
    EXPECT_EQ(a.Status, 5);
    EXPECT_NE(a.Err.find("nothing is playing"), std::string::npos) << a.Err;

    RunCommand("kill -TERM " + player.Pid);
    for (int i = 0; i < 400 && Running(player.Pid); ++i)
        usleep(25000);
    EXPECT_FALSE(Running(player.Pid)) << test::ReadText(home.File("player.log"));
    EXPECT_EQ(remote("status").Status, 4) << "the player is gone";
    EXPECT_NE(test::ReadText(home.File("setting.ini")).find("MasterVolume=-35"), std::string::npos);

    const std::vector<int16_t> received = test::ReadRaw16(device.DefaultFile);
    const test::TClickReport report = test::CheckSine(received, 2, kRate, kFrequency);
    std::printf("remote edits: %s\n", report.Describe().c_str());
    EXPECT_GT(report.SoundFrames, 10 * kRate);
    EXPECT_EQ(report.Clicks, 0) << report.Describe();
    EXPECT_LE(report.LongestSilenceMs, 50.0) << report.Describe();

    // The edits were heard: the boost preset doubled the sine (+6 dB is a factor 2 here),
    // and it ends at the last volume, −3.5 dB.
    const std::vector<double> peaks = WindowPeaks(received);
    ASSERT_GT(peaks.size(), 20u);
    const double opening = peaks[5];
    size_t last = peaks.size() - 1;
    while (last > 0 && peaks[last] < opening / 10)
        --last;
    const double loudest = *std::max_element(peaks.begin(), peaks.end());
    std::printf("remote edits: loudest %.4f, last %.4f x the opening level\n", loudest / opening,
                peaks[last - 5] / opening);
    EXPECT_NEAR(loudest / opening, 2.0, 0.1);
    EXPECT_NEAR(peaks[last - 5] / opening, std::exp2(-3.5 / 6), 0.02);
}

} // namespace
} // namespace marlix
