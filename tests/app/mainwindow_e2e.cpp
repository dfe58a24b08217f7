// marlixaudio, the desktop player, offscreen on the pro-audio output (driver "JACK") of
// a private JACK server: what reaches the server is compared with the files played.
#include "app/clitest.h"
#include "support/jackrecorder.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace marlix {
namespace {

using test::RunCommand;

const std::string kPlayer = std::string(MARLIX_TEST_BIN_DIR) + "marlixaudio";
constexpr int kRate = 48000;

Samples Marked(int frames, unsigned seed, int16_t first)
{
    Samples s = Noise(frames, seed, 32767);
    s[0] = first; // finds the start of the track in the recording
    return s;
}

// Where `track` starts in the recording at or after `from`, or -1.
int Find(const test::TJackRecorder& rec, const Samples& track, int from)
{
    for (int j = from; j < rec.Frames(); ++j)
        if (rec.At(0, j) * 32768.0f == track[0] && rec.At(1, j) * 32768.0f == track[1])
            return j;
    return -1;
}

// The whole track, bit for bit, from frame `at`.
void ExpectTrackAt(const test::TJackRecorder& rec, const Samples& track, int at)
{
    ASSERT_GE(at, 0) << "the track never arrived";
    const int frames = static_cast<int>(track.size() / 2);
    ASSERT_LE(at + frames, rec.Frames()) << "the track was cut short";
    for (int j = 0; j < frames; ++j)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(rec.At(c, at + j) * 32768.0f, static_cast<float>(track[2 * j + c])) << "frame " << j << " ch " << c;
}

bool Running(const std::string& pid)
{
    return RunCommand("grep -qE '^State:\\s+[^Z]' /proc/" + pid + "/status 2>/dev/null && echo y") == "y\n";
}

TEST(DesktopPlayer, PlaysBitExactOnJackAndASecondStartHandsOverTheNextFile)
{
    test::TJackApi api;
    if (!test::HaveProgram("jackd") || !test::HaveProgram("jack_wait") || !api.Load())
        GTEST_SKIP() << "jackd, jack_wait or libjack is not installed";
    test::TempDir home;
    const std::string name = "marlix-main-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    test::TJackServer server(name, home.File("jackd.log"), 1024);
    ASSERT_TRUE(server.Ready()) << server.Output();
    test::TJackRecorder rec(api, kRate * 30);
    ASSERT_TRUE(rec.Start("Marlix Audio"));

    test::WriteText(home.File("setting.ini"),
                    "[Output]\nnDriverType=1\n[ASIO]\nDriverName=JACK\nDevice0=0\nChAssign0=0\n[Status]\nAVC=0\n");
    const Samples a = Marked(kRate, 1, 1000), b = Marked(kRate, 2, 2000);
    WriteWav(home.File("A.wav"), a, kRate);
    ASSERT_EQ(RunCommand("mkdir -p '" + home.File("other") + "'"), "");
    WriteWav(home.File("other/B.wav"), b, kRate);
    // Started from the program folder with relative names, like a user in a terminal.
    const std::string vars = "JACK_DEFAULT_SERVER=" + name +
        " JACK_NO_START_SERVER=1 QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS= MARLIX_AUDIO_HOME='" +
        home.Path() + "' MARLIX_FFT_PLANNER=estimate ";
    struct TKill {
        std::string Pid;
        ~TKill() { RunCommand("kill -KILL " + Pid + " 2>/dev/null"); }
    } first{RunCommand("sh -c \"cd '" + home.Path() + "' && " + vars + "exec '" + kPlayer + "' A.wav\" > '" + home.File("first.log") +
                       "' 2>&1 & echo $!")};
    first.Pid = first.Pid.substr(0, first.Pid.find('\n'));

    int atA = -1;
    for (int i = 0; i < 400 && (atA < 0 || rec.Frames() < atA + kRate); ++i) {
        usleep(25000);
        atA = Find(rec, a, 0);
    }
    ExpectTrackAt(rec, a, atA);

    // The second start, from another folder, hands B over and ends at once.
    int status = -1;
    RunCommand("sh -c \"cd '" + home.File("other") + "' && " + vars + "timeout 5 '" + kPlayer + "' B.wav\" > '" + home.File("second.log") + "' 2>&1",
               &status);
    EXPECT_EQ(status, 0) << test::ReadText(home.File("second.log"));
    int atB = -1;
    for (int i = 0; i < 400 && (atB < 0 || rec.Frames() < atB + kRate); ++i) {
        usleep(25000);
        atB = Find(rec, b, atA + kRate);
    }
    ExpectTrackAt(rec, b, atB);
    EXPECT_FALSE(std::ifstream(home.File("reserved.txt")).good()) << "the first instance took the hand-over";

    // SIGTERM closes the player like its window's close: everything is saved.
    RunCommand("kill -TERM " + first.Pid);
    for (int i = 0; i < 200 && Running(first.Pid); ++i)
        usleep(25000);
    EXPECT_FALSE(Running(first.Pid)) << test::ReadText(home.File("first.log"));
    const std::string ini = test::ReadText(home.File("setting.ini"));
    EXPECT_NE(ini.find("IniVersion=117"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[TonkaraWnd]"), std::string::npos) << ini;
    EXPECT_NE(test::ReadText(home.File("current.m3u")).find(home.File("other/B.wav")), std::string::npos);
}

// The display goes away under a playing player, as when a remote session drops: the
// player ends within seconds, having saved its settings and playlist as on SIGTERM.
TEST(DesktopPlayer, ALostDisplayClosesItLikeSigterm)
{
    if (!test::HaveProgram("Xvfb"))
        GTEST_SKIP() << "Xvfb is not installed";
    test::TempDir home;
    struct TKill {
        std::string Pid;
        ~TKill()
        {
            if (!Pid.empty())
                RunCommand("kill -KILL " + Pid + " 2>/dev/null");
        }
    } xvfb, player;
    xvfb.Pid = RunCommand("sh -c \"exec Xvfb -displayfd 3 -nolisten tcp 3>'" + home.File("display") + "' >'" +
                          home.File("xvfb.log") + "' 2>&1\" & echo $!");
    xvfb.Pid = xvfb.Pid.substr(0, xvfb.Pid.find('\n'));
    std::string display;
    for (int i = 0; i < 400 && display.empty(); ++i) {
        usleep(25000);
        display = test::ReadText(home.File("display"));
        display = display.substr(0, display.find('\n'));
    }
    ASSERT_FALSE(display.empty()) << test::ReadText(home.File("xvfb.log"));

    test::WriteText(home.File("asound.conf"), "pcm.sink { type null }\npcm.default {\n  type file\n  slave.pcm \"sink\"\n"
                                              "  file \"" + home.File("played.raw") + "\"\n  format \"raw\"\n}\n");
    test::WriteText(home.File("setting.ini"), "[Output]\nnDriverType=0\n[MME]\nDevice0=65535\n");
    WriteWav(home.File("A.wav"), Noise(kRate * 30, 3), kRate);
    const std::string vars = "DISPLAY=:" + display + " QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS= ALSA_CONFIG_PATH='" +
                             home.File("asound.conf") + "' MARLIX_AUDIO_HOME='" + home.Path() +
                             "' MARLIX_FFT_PLANNER=estimate ";
    player.Pid = RunCommand("sh -c \"" + vars + "exec '" + kPlayer + "' '" + home.File("A.wav") + "'\" > '" +
                            home.File("player.log") + "' 2>&1 & echo $!");
    player.Pid = player.Pid.substr(0, player.Pid.find('\n'));
    // Playing: the device has received a second of sound.
    for (int i = 0; i < 800 && test::ReadText(home.File("played.raw")).size() < kRate * 4; ++i)
        usleep(25000);
    ASSERT_GE(test::ReadText(home.File("played.raw")).size(), static_cast<size_t>(kRate * 4))
        << test::ReadText(home.File("player.log"));

    RunCommand("kill -KILL " + xvfb.Pid);
    for (int i = 0; i < 400 && Running(player.Pid); ++i)
        usleep(25000);
    EXPECT_FALSE(Running(player.Pid)) << "still running 10 s after the display went\n"
                                      << test::ReadText(home.File("player.log"));
    const std::string ini = test::ReadText(home.File("setting.ini"));
    EXPECT_NE(ini.find("IniVersion=117"), std::string::npos) << ini << test::ReadText(home.File("player.log"));
    EXPECT_NE(ini.find("[SpectrumWnd]"), std::string::npos) << ini;
    EXPECT_NE(test::ReadText(home.File("current.m3u")).find(home.File("A.wav")), std::string::npos);
}

} // namespace
} // namespace marlix
