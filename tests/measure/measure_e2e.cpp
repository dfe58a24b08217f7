// marlixaudio-cli measure against a private JACK server on the dummy backend, with the
// simulated room (tests/support/simroom) between the speaker outputs and the microphone.
#include "base/flexfilebuf.h"
#include "settings/inifile.h"
#include "support/jackregistry.h"
#include "support/jackrecorder.h"
#include "support/simroom.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numeric>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

namespace marlix {
namespace {

const std::string kCli = std::string(MARLIX_TEST_BIN_DIR) + "marlixaudio-cli";

// Channel 0: 400 samples, gain 0.5. Channel 1: 48 samples (1 ms at 48 kHz) later, 6 dB
// quieter and inverted.
constexpr int kDelay0 = 400, kDelay1 = 448;
constexpr double kGain0 = 0.5, kGain1 = -0.25;

struct TLine {
    int Channel;
    double Level, Delay;
    std::string Polarity;
};

std::vector<TLine> ParseLines(const std::string& out)
{
    std::vector<TLine> lines;
    const std::regex line(R"(ch (\d): level (-?\d+\.\d\d) dB, delay (-?\d+\.\d\d) ms, polarity (normal|inverted))");
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
        lines.push_back({std::stoi((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), (*it)[4]});
    return lines;
}

// The room program, stopped by PID.
class TRoom {
public:
    TRoom(double gain0, double gain1)
    {
        Pid = fork();
        if (Pid == 0) {
            const std::string d0 = std::to_string(kDelay0), d1 = std::to_string(kDelay1);
            const std::string g0 = std::to_string(gain0), g1 = std::to_string(gain1);
            execl(MARLIX_SIMROOM, "simroom", d0.c_str(), g0.c_str(), d1.c_str(), g1.c_str(), "0.0001",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~TRoom()
    {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            int status = 0;
            waitpid(Pid, &status, 0);
        }
    }

private:
    pid_t Pid = -1;
};

class MeasureCli : public ::testing::Test {
protected:
    void Start(int serverRate = 48000, double gain1 = kGain1)
    {
        if (!test::HaveProgram("jackd") || !test::HaveProgram("jack_wait"))
            GTEST_SKIP() << "jackd is not installed";
        const std::string name = "marlix-measure-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        test::ReclaimDeadJackServers();
        Server = std::make_unique<test::TJackServer>(name, Logs.File("jackd.log"), 256, serverRate);
        ASSERT_TRUE(Server->Ready()) << Server->Output();
        Room = std::make_unique<TRoom>(kGain0, gain1);
    }
    void TearDown() override
    {
        Room.reset();
        Server.reset();
    }

    void Settings(int method, const std::string& extra = "")
    {
        test::WriteText(home.File("setting.ini"),
                        "[Output]\nnDriverType=1\n" + extra +
                            "[ASIO]\nDriverName=JACK\nDevice0=0\nChAssign0=0\nInDevice0=0\n"
                            "[Measure]\nMeasureLen=8192\nMeasureAddNum=2\nMeasureFreq=48000\nMeasureMethod=" +
                            std::to_string(method) + "\n[Status]\nAVC=0\nHSC=0\nEQ=0\nEFX=0\nConvolver=0\nMatrix=0\n");
    }

    int Run(const std::string& args, std::string* out)
    {
        int status = -1;
        *out = test::RunCommand("MARLIX_AUDIO_HOME='" + home.Path() + "' timeout 120 '" + kCli + "' " + args +
                                    " 2>&1",
                                &status);
        return status;
    }

    double ReadFloat(const std::string& key, double def)
    {
        return TIniFile(home.File("setting.ini")).ReadFloat("Output", key, def);
    }

    test::TempDir home, Logs;
    std::unique_ptr<test::TJackServer> Server;
    std::unique_ptr<TRoom> Room;
};

constexpr double kSampleMs = 1000.0 / 48000;

TEST_F(MeasureCli, EachMethodFindsRelativeLevelDelayAndPolarity)
{
    Start();
    const double level = test::PathLevelDB(kGain1) - test::PathLevelDB(kGain0);
    for (int method : {0, 1, 2}) {
        SCOPED_TRACE("method " + std::to_string(method));
        Settings(method);
        std::string out;
        ASSERT_EQ(Run("measure", &out), 0) << out;
        const auto lines = ParseLines(out);
        ASSERT_EQ(lines.size(), 2u) << out;
        EXPECT_EQ(lines[0].Channel, 0);
        EXPECT_EQ(lines[0].Level, 0.0);
        EXPECT_EQ(lines[0].Delay, 0.0);
        EXPECT_EQ(lines[0].Polarity, "normal");
        EXPECT_NEAR(lines[1].Level, level, 0.1) << out;
        EXPECT_NEAR(lines[1].Delay, (kDelay1 - kDelay0) * kSampleMs, kSampleMs) << out;
        EXPECT_EQ(lines[1].Polarity, "inverted");
    }
}

// The saved response is the room's path, moved by the loop's fixed latency, with zero
// mean and unit energy.
TEST_F(MeasureCli, SavedResponseIsTheRoomsPath)
{
    Start();
    Settings(1);
    test::WriteText(home.File("ir_c0.wav"), "stale");
    std::string out;
    ASSERT_EQ(Run("measure --save", &out), 0) << out;
    EXPECT_FALSE(std::filesystem::exists(home.File("ir_c0.wav")));
    for (int c = 0; c < 2; ++c) {
        TFlexFileBuf file;
        ASSERT_EQ(file.OpenFile(0, {home.File("ir" + std::to_string(c) + ".wav")}, 0, 0, 0, 0), 0);
        EXPECT_EQ(file.GetFileRate(0), 48000);
        EXPECT_EQ(file.GetFileBits(0), 32);
        const int n = file.ReadBlock(static_cast<int>(file.GetFileLength(0)));
        ASSERT_EQ(n, 8192);
        file.ConvertBits(65);
        const auto* h = static_cast<const double*>(file.Data[0]);
        const int peak = static_cast<int>(std::max_element(h, h + n, [](double a, double b) {
                                              return std::abs(a) < std::abs(b);
                                          }) - h);
        const int delay = c == 0 ? kDelay0 : kDelay1;
        const double gain = c == 0 ? kGain0 : kGain1;
        std::vector<double> room = test::SpeakerResponse(peak, gain, n);
        const double mean = std::accumulate(room.begin(), room.end(), 0.0) / n;
        for (double& v : room)
            v -= mean;
        const double e = std::sqrt(std::inner_product(room.begin(), room.end(), room.begin(), 0.0));
        double worst = 0;
        int worstAt = 0;
        for (int k = 0; k < n; ++k)
            if (std::abs(h[k] - room[static_cast<size_t>(k)] / e) > worst) {
                worst = std::abs(h[k] - room[static_cast<size_t>(k)] / e);
                worstAt = k;
            }
        EXPECT_LT(worst, 2e-3) << "channel " << c << " (path at " << delay << ", peak at " << peak << ", worst at "
                               << worstAt << ": " << h[worstAt] << " " << h[peak] << " " << h[peak + 37] << ")";
    }
}

// Apply corrects the louder, earlier channel; a render then carries those corrections;
// a check measurement through them finds the channels matched.
TEST_F(MeasureCli, ApplyWritesCorrectionsThatPlaybackAndCheckShow)
{
    Start();
    Settings(1);
    std::string out;
    ASSERT_EQ(Run("measure --apply", &out), 0) << out;
    EXPECT_NEAR(ReadFloat("fLevel0", 99), -60, 1);
    EXPECT_EQ(ReadFloat("fLevel1", 99), 0);
    EXPECT_NEAR(ReadFloat("fDelay0", 99), (kDelay1 - kDelay0) * kSampleMs, kSampleMs);
    EXPECT_EQ(ReadFloat("fDelay1", 99), 0);
    TIniFile ini(home.File("setting.ini"));
    EXPECT_FALSE(ini.ReadBool("Output", "bInvPhase0", true));
    EXPECT_TRUE(ini.ReadBool("Output", "bInvPhase1", false));

    // A click in both channels at 48 kHz.
    {
        TFlexFileBuf file;
        ASSERT_EQ(file.OpenFile(1, {home.File("click.wav")}, 48000, 16, 1, 2), 0);
        file.SetBuf(nullptr, 2, 16, 4800);
        static_cast<int16_t*>(file.Data[0])[1000] = 16384;
        static_cast<int16_t*>(file.Data[1])[1000] = 16384;
        ASSERT_EQ(file.WriteBlock(0, 4800), 4800);
        file.CloseFile(1);
    }
    ASSERT_EQ(Run("render '" + home.File("click.wav") + "' '" + home.File("out.wav") + "'", &out), 0) << out;
    TFlexFileBuf rendered;
    ASSERT_EQ(rendered.OpenFile(0, {home.File("out.wav")}, 0, 0, 0, 0), 0);
    const int n = rendered.ReadBlock(static_cast<int>(rendered.GetFileLength(0)));
    rendered.ConvertBits(65);
    int at[2];
    double value[2];
    for (int c = 0; c < 2; ++c) {
        const auto* y = static_cast<const double*>(rendered.Data[c]);
        at[c] = static_cast<int>(std::max_element(y, y + n, [](double a, double b) { return std::abs(a) < std::abs(b); }) - y);
        value[c] = y[at[c]];
    }
    EXPECT_EQ(at[0] - at[1], kDelay1 - kDelay0);
    EXPECT_GT(value[0], 0);
    EXPECT_LT(value[1], 0);
    EXPECT_NEAR(value[0] / -value[1], 0.5, 0.01);

    ASSERT_EQ(Run("measure --check --save", &out), 0) << out;
    const auto lines = ParseLines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_NEAR(lines[1].Level, 0, 0.1) << out;
    EXPECT_NEAR(lines[1].Delay, 0, kSampleMs) << out;
    EXPECT_EQ(lines[1].Polarity, "normal") << out;
    EXPECT_TRUE(std::filesystem::exists(home.File("ir_c1.wav")));
    EXPECT_FALSE(std::filesystem::exists(home.File("ir1.wav")));
}

TEST_F(MeasureCli, DeadChannelIsTooQuietAndKeepsItsSettings)
{
    Start(48000, 0.0);
    Settings(0, "fLevel1=-25\nfDelay1=3\n");
    std::string out;
    EXPECT_EQ(Run("measure --apply --save", &out), 3) << out;
    EXPECT_NE(out.find("channel 1 is too quiet"), std::string::npos) << out;
    const auto lines = ParseLines(out);
    ASSERT_EQ(lines.size(), 1u) << out;
    EXPECT_EQ(lines[0].Channel, 0);
    EXPECT_EQ(ReadFloat("fLevel1", 99), -25);
    EXPECT_EQ(ReadFloat("fDelay1", 99), 3);
    EXPECT_TRUE(std::filesystem::exists(home.File("ir0.wav")));
    EXPECT_FALSE(std::filesystem::exists(home.File("ir1.wav")));
}

// A driver that keeps another rate than "MeasureFreq" is measured at its own rate: the
// delays and the saved files use the rate the samples really had.
TEST_F(MeasureCli, DriverAtAnotherRateIsMeasuredAtItsOwnRate)
{
    Start(44100);
    Settings(1);
    std::string out;
    ASSERT_EQ(Run("measure --save", &out), 0) << out;
    const auto lines = ParseLines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_NEAR(lines[1].Delay, (kDelay1 - kDelay0) * 1000.0 / 44100, 1000.0 / 44100) << out;
    TFlexFileBuf file;
    ASSERT_EQ(file.OpenFile(0, {home.File("ir0.wav")}, 0, 0, 0, 0), 0);
    EXPECT_EQ(file.GetFileRate(0), 44100);
}

TEST_F(MeasureCli, NoDeviceIsReported)
{
    Settings(0);
    test::WriteText(home.File("setting.ini"), "[ASIO]\nDriverName=ALSA: no such card\n");
    std::string out;
    EXPECT_EQ(Run("measure", &out), 3) << out;
    EXPECT_NE(out.find("cannot open the pro-audio device"), std::string::npos) << out;
}

} // namespace
} // namespace marlix
