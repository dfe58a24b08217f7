// marlixaudio-cli as a black box: files made here go in, and what comes out (a
// rendered WAV, or the bytes an ALSA file device received) is checked against
// values computed here from the inputs.
#include "dsp/firdesign.h"
#include "dsp/firfilter.h"
#include "engine/alsafiledevice.h"
#include "base/flexbuf.h"
#include "base/flexfilebuf.h"
#include "settings/settingconvolver.h"
#include "settings/settingeq.h"
#include "support/jackregistry.h"
#include "support/testutil.h"
#include "app/clitest.h"

#include <gtest/gtest.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace marlix {
namespace {

TEST_F(Cli, InfoDescribesAFileAndRefusesAMissingOne)
{
    WriteWav(home.File("a.wav"), Noise(4410, 1), 44100);
    std::string out;
    ASSERT_EQ(Run("info '" + home.File("a.wav") + "'", &out), 0) << out;
    EXPECT_NE(out.find("source: wav\nrate: 44100\nchannels: 2\nbits: 16\nlength_ms: 100\n"), std::string::npos) << out;
    EXPECT_EQ(Run("info '" + home.File("nothing.mp3") + "'", &out), 3);
    EXPECT_NE(out.find("cannot open"), std::string::npos) << out;
    EXPECT_EQ(Run("info", &out), 2);
}

TEST_F(Cli, RenderWithEveryStageOffIsBitExactAndGapless)
{
    const Samples a = Noise(30011, 2), b = Noise(17003, 3);
    WriteWav(home.File("a.wav"), a, 44100);
    WriteWav(home.File("b.wav"), b, 44100);
    std::string out;
    ASSERT_EQ(Run("render '" + home.File("a.wav") + "' '" + home.File("b.wav") + "' '" + home.File("o.wav") + "'", &out),
              0)
        << out;
    EXPECT_NE(out.find("output rate: 44100 Hz"), std::string::npos) << out;
    int rate = 0, bits = 0;
    const auto o = ReadWav(home.File("o.wav"), &rate, &bits);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(bits, 32);
    Samples joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    const size_t frames = joined.size() / 2;
    ASSERT_EQ(o[0].size(), frames); // the input ends the file: no trailing silence
    for (size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(o[0][i], joined[2 * i] * 65536) << i;
        ASSERT_EQ(o[1][i], joined[2 * i + 1] * 65536) << i;
    }
    for (size_t i = frames; i < o[0].size(); ++i)
        ASSERT_EQ(o[0][i] | o[1][i], 0) << i;

    ASSERT_EQ(Run("render --bits 16 '" + home.File("a.wav") + "' '" + home.File("o16.wav") + "'"), 0);
    const auto o16 = ReadWav(home.File("o16.wav"), &rate, &bits);
    EXPECT_EQ(bits, 16);
    for (size_t i = 0; i < a.size() / 2; ++i)
        ASSERT_EQ(o16[1][i], a[2 * i + 1] * 65536) << i;
}

TEST_F(Cli, RenderOfAnMp3EqualsFfmpegsOwnDecode)
{
    if (!test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg missing";
    const std::string mp3 = home.File("t.mp3");
    int status = -1;
    RunCommand("ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:duration=2' -ac 2 -ar 44100 -b:a 192k '" + mp3 +
                   "'",
               &status);
    ASSERT_EQ(status, 0);
    const std::string raw = RunCommand("ffmpeg -v error -i '" + mp3 + "' -f s16le -acodec pcm_s16le -", &status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(Run("render --bits 16 '" + mp3 + "' '" + home.File("o.wav") + "'"), 0);
    const auto o = ReadWav(home.File("o.wav"));
    const size_t frames = raw.size() / 4;
    ASSERT_GE(o[0].size(), frames);
    for (size_t i = 0; i < frames; ++i) {
        int16_t l, r;
        std::memcpy(&l, raw.data() + 4 * i, 2);
        std::memcpy(&r, raw.data() + 4 * i + 2, 2);
        ASSERT_EQ(o[0][i], l * 65536) << i;
        ASSERT_EQ(o[1][i], r * 65536) << i;
    }
}

TEST_F(Cli, InputsNeedingTwoOutputRatesAreRefused)
{
    WriteWav(home.File("a.wav"), Noise(1000, 4), 44100);
    WriteWav(home.File("b.wav"), Noise(1000, 5), 48000);
    std::string out;
    EXPECT_EQ(Run("render '" + home.File("a.wav") + "' '" + home.File("b.wav") + "' '" + home.File("o.wav") + "'", &out),
              4)
        << out;
    EXPECT_NE(out.find("48000"), std::string::npos) << out;
}

TEST_F(Cli, BrokenInputsGiveAMessageNotACrash)
{
    test::WriteText(home.File("text.wav"), "this is not a wave file at all");
    test::WriteText(home.File("text.mp3"), std::string(5000, 'x'));
    std::string out;
    for (const std::string& bad : {home.File("missing.wav"), home.File("text.wav"), home.File("text.mp3"),
                                   std::string("http://127.0.0.1:1/none.mp3")}) {
        EXPECT_EQ(Run("render '" + bad + "' '" + home.File("o.wav") + "'", &out), 3) << bad << ": " << out;
        EXPECT_NE(out.find("cannot open"), std::string::npos) << out;
    }
    WriteWav(home.File("a.wav"), Noise(44100, 6), 44100);
    const auto bytes = test::ReadAll(home.File("a.wav"));
    test::WriteAll(home.File("cut.wav"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 30000));
    EXPECT_EQ(Run("render '" + home.File("cut.wav") + "' '" + home.File("o.wav") + "'", &out), 0) << out;
    EXPECT_EQ(Run("render --bits 12 '" + home.File("a.wav") + "' '" + home.File("o.wav") + "'", &out), 4) << out;
    // A limit too short for one frame renders nothing from an input that has frames.
    EXPECT_EQ(Run("render --max-seconds 0.00001 '" + home.File("a.wav") + "' '" + home.File("o.wav") + "'", &out), 3)
        << out;
    EXPECT_NE(out.find("nothing was rendered"), std::string::npos) << out;
    EXPECT_EQ(Run("render '" + home.File("a.wav") + "'", &out), 2) << out;
}

TEST_F(Cli, MatrixTrimPolarityAndDelayAreAppliedAsComputedHere)
{
    Settings("[Status]\nMatrix=1\nAVC=0\n"
             "[Matrix]\nbONOFF0_0=0\nbONOFF1_1=0\nbONOFF1_0=1\nbONOFF0_1=1\nbInv0_1=1\n"
             "[Output]\nfLevel0=-60\nfDelay1=1\n");
    const Samples x = Noise(20000, 7);
    WriteWav(home.File("x.wav"), x, 44100);
    ASSERT_EQ(Run("render '" + home.File("x.wav") + "' '" + home.File("o.wav") + "'"), 0);
    const auto o = ReadWav(home.File("o.wav"));
    ASSERT_GE(o[0].size(), 20044u);
    const int delay = 44; // nearest(44100 × 1 ms)
    for (int i = 0; i < 20000; ++i) {
        // Output 0 is input 1 at half gain; output 1 is input 0 inverted, 44 samples late.
        ASSERT_EQ(o[0][i], x[2 * i + 1] * 32768) << i;
        ASSERT_EQ(o[1][i + delay], -x[2 * i] * 65536) << i;
    }
    for (int i = 0; i < delay; ++i)
        ASSERT_EQ(o[1][i], 0);
}

// Output = taps applied to the input, `lag` samples late, in full-scale units.
void ExpectFiltered(const std::vector<int32_t>& out, const Samples& x, int channel, const std::vector<double>& taps,
                    int lag, int stuffing, double tolerance)
{
    const int frames = static_cast<int>(x.size() / 2);
    for (size_t t = 0; t < out.size() && t < static_cast<size_t>(frames * stuffing); ++t) {
        double expected = 0;
        for (size_t j = 0; j < taps.size(); ++j) {
            const long s = static_cast<long>(t) - lag - static_cast<long>(j);
            if (s >= 0 && s % stuffing == 0 && s / stuffing < frames)
                expected += taps[j] * x[2 * (s / stuffing) + channel] / 32768.0;
        }
        ASSERT_NEAR(out[t] / 2147483648.0, expected, tolerance) << "sample " << t;
    }
}

TEST_F(Cli, EqualiserOutputIsTheDesignedFilter)
{
    Settings("[Status]\nEQ=1\nAVC=0\n[Filter]\nEQFilterTaps=255\n"
             "[EQ]\n-1_Count=1\n-1_0=0/2000/1/0/-6\n0_Count=1\n0_0=1/8000/1/0/3\n");
    const Samples x = Noise(6000, 8, 8000);
    WriteWav(home.File("x.wav"), x, 44100);
    ASSERT_EQ(Run("render '" + home.File("x.wav") + "' '" + home.File("o.wav") + "'"), 0);
    const auto o = ReadWav(home.File("o.wav"));
    TSettingEQ eq;
    TEQ1 p;
    p.Kind = 0, p.Freq = 2000, p.Width = 1, p.Gain = -6;
    eq.Curve(-1).Add(p);
    p.Kind = 1, p.Freq = 8000, p.Gain = 3;
    eq.Curve(0).Add(p);
    TFIRFilter reference(2, false, false, 1024, 255);
    eq.DesignEQ(reference, 44100, 255);
    for (int c = 0; c < 2; ++c) {
        TFlexBuf taps;
        reference.GetTaps(c, taps);
        const double* h = static_cast<double*>(taps.Data[0]);
        ExpectFiltered(o[c], x, c, std::vector<double>(h, h + 256), 512, 1, 2e-6);
    }
}

TEST_F(Cli, UpSamplingByTwoIsZeroStuffingThroughTheInterpolationFilter)
{
    Settings("[Status]\nAVC=0\n[Output]\nbFreq3=1\n"
             "[ReSampler]\nbUpSampling=1\nnUpFreq=88200\nnITaps=255\nIWindow=4\n");
    const Samples x = Noise(4000, 9, 8000);
    WriteWav(home.File("x.wav"), x, 44100);
    std::string out;
    ASSERT_EQ(Run("render '" + home.File("x.wav") + "' '" + home.File("o.wav") + "'", &out), 0) << out;
    EXPECT_NE(out.find("output rate: 88200 Hz\nup-sampling factor: 2"), std::string::npos) << out;
    int rate = 0;
    const auto o = ReadWav(home.File("o.wav"), &rate);
    EXPECT_EQ(rate, 88200);
    TFlexBuf taps;
    InterpolationTaps(taps, 255, 4, 44100, 88200, 2);
    const double* h = static_cast<double*>(taps.Data[0]);
    ExpectFiltered(o[1], x, 1, std::vector<double>(h, h + taps.Length), 512, 2, 2e-6);
}

TEST_F(Cli, ConvolverWetAndDryMixAsComputedHere)
{
    TSettingConvolver conv;
    conv.DryWet = 3;
    auto& c = conv.Conv[0];
    c.HasIR = true;
    c.CutDS = false;
    c.InCh = 0;
    c.OutCh = 1;
    c.Level = -6; // one half
    c.IR = {0.0, 0.5, 0.0, -0.25};
    c.IRLength = 4;
    c.IRRate = 44100;
    conv.Conv[1].HasIR = false;
    ASSERT_TRUE(conv.Save(home.File("convolversetting.bin")));
    Settings("[Status]\nConvolver=1\nAVC=0\n");
    const Samples x = Noise(3000, 10, 8000);
    WriteWav(home.File("x.wav"), x, 44100);
    ASSERT_EQ(Run("render '" + home.File("x.wav") + "' '" + home.File("o.wav") + "'"), 0);
    const auto o = ReadWav(home.File("o.wav"));
    for (int t = 0; t < 3000; ++t) {
        const double in0 = x[2 * t] / 32768.0;
        double wet = 0;
        if (t >= 1)
            wet += 0.5 * x[2 * (t - 1)] / 32768.0;
        if (t >= 3)
            wet -= 0.25 * x[2 * (t - 3)] / 32768.0;
        ASSERT_NEAR(o[0][t] / 2147483648.0, in0, 1e-9) << t;
        ASSERT_NEAR(o[1][t] / 2147483648.0, x[2 * t + 1] / 32768.0 + 0.5 * wet, 2e-6) << t;
    }
}

// A response under 0.1 s runs on the filter thread itself; the input spans several
// buffers. The file must hold the full convolution, tail included, and end there.
TEST_F(Cli, ShortConvolverRendersTheWholeConvolutionAndNoTrailingSilence)
{
    constexpr int kIR = 1024, kFrames = 96000, kRate = 48000;
    std::mt19937 rng(12);
    std::normal_distribution<double> gauss(0, 0.03);
    TSettingConvolver conv;
    conv.DryWet = 2; // wet only
    for (int i = 0; i < 2; ++i) {
        auto& c = conv.Conv[i];
        c.HasIR = true;
        c.CutDS = false;
        c.InCh = c.OutCh = i;
        c.Level = 0;
        c.IRLength = kIR;
        c.IRRate = kRate;
        c.IR.resize(kIR);
        for (int k = 0; k < kIR; ++k)
            c.IR[k] = gauss(rng) * std::exp(-k / 300.0);
    }
    ASSERT_TRUE(conv.Save(home.File("convolversetting.bin")));
    Settings("[Status]\nConvolver=1\nAVC=0\n");
    const Samples x = Noise(kFrames, 13, 4000);
    WriteWav(home.File("x.wav"), x, kRate);
    std::string out;
    ASSERT_EQ(Run("render '" + home.File("x.wav") + "' '" + home.File("o.wav") + "'", &out), 0) << out;
    const auto o = ReadWav(home.File("o.wav"));
    // The file ends with the last sound: after the convolution's end only the transform's
    // rounding noise of the last block may follow, never a silent stretch.
    const size_t full = kFrames + kIR - 1;
    ASSERT_GE(o[0].size(), full);
    ASSERT_LE(o[0].size(), full + kIR);
    EXPECT_NE(o[0].back() | o[1].back(), 0);
    for (int c = 0; c < 2; ++c) {
        const std::vector<double>& h = conv.Conv[c].IR;
        for (int t = 0; t < static_cast<int>(o[c].size()); ++t) {
            double y = 0;
            for (int k = std::max(0, t - kFrames + 1); k < kIR && k <= t; ++k)
                y += h[k] * x[2 * (t - k) + c] / 32768.0;
            ASSERT_NEAR(o[c][t] / 2147483648.0, y, 1e-6) << "channel " << c << " frame " << t;
        }
    }
}

// Playback into a private ALSA device that writes what it receives to a file.
class CliPlay : public Cli {
protected:
    void SetUp() override { device = std::make_unique<test::TAlsaFileDevice>(home.Path()); }
    std::unique_ptr<test::TAlsaFileDevice> device;

    // The device's bytes as interleaved 16-bit samples, from the first non-zero one.
    Samples Received(const std::string& file = "")
    {
        const auto bytes = test::ReadAll(file.empty() ? device->DefaultFile : file);
        Samples s(bytes.size() / 2);
        std::memcpy(s.data(), bytes.data(), s.size() * 2);
        size_t first = 0;
        while (first < s.size() && s[first] == 0)
            ++first;
        first -= first % 2;
        return Samples(s.begin() + static_cast<long>(first), s.end());
    }
};

TEST_F(CliPlay, TwoTracksArriveBitExactAndGapless)
{
    Settings("[MME]\nDevice0=-1\n[Status]\nAVC=0\n");
    Samples a = Noise(30000, 11), b = Noise(20000, 12);
    a[0] = 1000; // a known first sample marks the end of the pre-roll silence
    WriteWav(home.File("a.wav"), a, 44100);
    WriteWav(home.File("b.wav"), b, 44100);
    std::string out;
    ASSERT_EQ(Run("play '" + home.File("a.wav") + "' '" + home.File("b.wav") + "'", &out, device->EnvAssignments()), 0)
        << out;
    EXPECT_NE(out.find("playing: " + home.File("b.wav")), std::string::npos) << out;
    const Samples got = Received();
    Samples joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    ASSERT_GE(got.size(), joined.size()) << out;
    for (size_t i = 0; i < joined.size(); ++i)
        ASSERT_EQ(got[i], joined[i]) << i;
    for (size_t i = joined.size(); i < got.size(); ++i)
        ASSERT_EQ(got[i], 0) << i;
    // The player's state was saved at exit.
    EXPECT_NE(test::ReadText(home.File("setting.ini")).find("[Status]"), std::string::npos);
    EXPECT_NE(test::ReadText(home.File("current.m3u")).find("b.wav"), std::string::npos);
}

TEST_F(CliPlay, ARateChangeRestartsTheChainAndFailedEntriesAreSkipped)
{
    // The device writes a file per rate it was opened at ("%r" in the file name).
    test::WriteText(device->ConfigPath, "pcm.marlix_sink { type null }\n"
                                        "pcm.default { type file slave.pcm \"marlix_sink\" file \"" +
                                            home.Path() + "rate-%r.raw\" format \"raw\" perm 0644 }\n");
    Settings("[MME]\nDevice0=-1\n[Status]\nAVC=0\n[Output]\nbFreq4=1\n");
    Samples a = Noise(10000, 13), b = Noise(10000, 14);
    a[0] = 1000;
    b[0] = 2000;
    WriteWav(home.File("a.wav"), a, 44100);
    WriteWav(home.File("b.wav"), b, 96000);
    std::string out;
    ASSERT_EQ(Run("play '" + home.File("a.wav") + "' '" + home.File("missing.wav") + "' '" + home.File("b.wav") + "'",
                  &out, device->EnvAssignments()),
              0)
        << out;
    EXPECT_NE(out.find("output: 44100 Hz"), std::string::npos) << out;
    EXPECT_NE(out.find("output: 96000 Hz"), std::string::npos) << out;
    EXPECT_NE(out.find("cannot play " + home.File("missing.wav")), std::string::npos) << out;
    // Each track arrives whole at its own rate.
    for (const auto& [rate, track] : {std::pair{44100, &a}, std::pair{96000, &b}}) {
        const Samples got = Received(home.File("rate-" + std::to_string(rate) + ".raw"));
        ASSERT_GE(got.size(), track->size()) << rate;
        for (size_t i = 0; i < track->size(); ++i)
            ASSERT_EQ(got[i], (*track)[i]) << rate << " " << i;
    }
}

TEST_F(CliPlay, AutomaticVolumeControlLowersTheSavedVolume)
{
    Settings("[MME]\nDevice0=-1\n[Status]\nAVC=1\nMasterVolume=0\n[Output]\nfLevel0=60\n");
    WriteWav(home.File("loud.wav"), Noise(20000, 15, 30000), 44100);
    ASSERT_EQ(Run("play '" + home.File("loud.wav") + "'", nullptr, device->EnvAssignments()), 0);
    const std::string ini = test::ReadText(home.File("setting.ini"));
    const auto at = ini.find("MasterVolume=");
    ASSERT_NE(at, std::string::npos) << ini;
    EXPECT_LT(std::stoi(ini.substr(at + 13)), 0) << ini;
}

TEST_F(CliPlay, TermSignalStopsPlaybackAndSavesTheState)
{
    Settings("[MME]\nDevice0=-1\n[Status]\nAVC=0\nMasterVolume=-123\nRepeat=1\n");
    WriteWav(home.File("long.wav"), Noise(44100 * 20, 16), 44100);
    const std::string pidFile = home.File("cli.pid");
    int status = -1;
    // Started in the background; its PID is kept to signal it.
    RunCommand(device->EnvAssignments() + " " + Env() + "'" + kCli + "' play '" + home.File("long.wav") +
                   "' > '" + home.File("out.txt") + "' 2>&1 & echo $! > '" + pidFile + "'",
               &status);
    ASSERT_EQ(status, 0);
    const std::string pid = test::ReadText(pidFile);
    ASSERT_FALSE(pid.empty());
    for (int i = 0; i < 200 && test::ReadText(home.File("out.txt")).find("playing:") == std::string::npos; ++i)
        RunCommand("sleep 0.05");
    RunCommand("kill -TERM " + pid);
    // Running means a process that is not a zombie (nobody may reap the orphan here).
    const std::string running = "grep -qE '^State:\\s+[^Z]' /proc/" + pid.substr(0, pid.find('\n')) +
        "/status 2>/dev/null && echo running";
    for (int i = 0; i < 200 && RunCommand(running) == "running\n"; ++i)
        RunCommand("sleep 0.05");
    EXPECT_NE(RunCommand(running), "running\n");
    const std::string ini = test::ReadText(home.File("setting.ini"));
    EXPECT_NE(ini.find("MasterVolume=-123"), std::string::npos) << ini;
    EXPECT_NE(ini.find("IniVersion=117"), std::string::npos) << ini;
    EXPECT_NE(test::ReadText(home.File("current.m3u")).find("long.wav"), std::string::npos);
}

TEST_F(CliPlay, NothingPlayableEndsWithAMessage)
{
    Settings("[MME]\nDevice0=-1\n");
    std::string out;
    EXPECT_EQ(Run("play '" + home.File("missing.wav") + "'", &out, device->EnvAssignments()), 3) << out;
    EXPECT_NE(out.find("cannot play"), std::string::npos) << out;
}

// Kills the process of a PID when it goes (a test that fails midway leaves nothing).
struct TKillAtEnd {
    std::string Pid;
    ~TKillAtEnd()
    {
        if (!Pid.empty())
            RunCommand("kill -KILL " + Pid + " 2>/dev/null");
    }
};

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

// Playing through a private JACK server that is killed midway: the player notices the
// lost device, says so and ends with status 3 instead of running on in silence.
TEST_F(Cli, PlayEndsWithStatus3WhenTheJackServerGoesAway)
{
    if (!test::HaveProgram("jackd") || !test::HaveProgram("jack_wait"))
        GTEST_SKIP() << "jackd or jack_wait is not installed";
    static int run = 0;
    const std::string name = "marlix-cli-" + std::to_string(getpid()) + "-" + std::to_string(++run);
    const std::string jack = "JACK_DEFAULT_SERVER=" + name + " JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1 ";
    // The player's client, cut off from its server, leaves its semaphores behind.
    struct TRemoveAtEnd {
        std::string Pattern;
        ~TRemoveAtEnd() { RunCommand("rm -f " + Pattern); }
    } leftovers{"'/dev/shm/jack_sem.0_" + name + "_'*"};
    test::ReclaimDeadJackServers();
    TKillAtEnd server{FirstLine(RunCommand(jack + "jackd -n " + name + " -d dummy -r 48000 -p 256 > '" +
                                           home.File("jackd.log") + "' 2>&1 & echo $!"))};
    int status = -1;
    RunCommand(jack + "jack_wait -s " + name + " -w -t 10 >/dev/null 2>&1", &status);
    ASSERT_EQ(status, 0) << "a private JACK server did not start:\n" << test::ReadText(home.File("jackd.log"));

    Settings("[Status]\nAVC=0\n");
    WriteWav(home.File("long.wav"), Noise(48000 * 20, 17), 48000);
    const std::string out = home.File("out.txt"), code = home.File("status.txt");
    TKillAtEnd player{FirstLine(RunCommand(jack + Env() + "sh -c \"timeout 30 '" + kCli + "' play --driver asio '" +
                                           home.File("long.wav") + "' > '" + out + "' 2>&1; echo \\$? > '" + code +
                                           "'\" > /dev/null 2>&1 & echo $!"))};
    for (int i = 0; i < 200 && test::ReadText(out).find("output:") == std::string::npos; ++i)
        RunCommand("sleep 0.05");
    ASSERT_NE(test::ReadText(out).find("output:"), std::string::npos) << test::ReadText(out);

    // Terminated, not killed: a killed server stays in JACK's table of servers.
    RunCommand("kill -TERM " + server.Pid);
    const auto killed = std::chrono::steady_clock::now();
    for (int i = 0; i < 200 && test::ReadText(code).empty(); ++i)
        RunCommand("sleep 0.02");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    EXPECT_EQ(FirstLine(test::ReadText(code)), "3") << test::ReadText(out);
    EXPECT_LT(seconds, 2.0) << test::ReadText(out);
    EXPECT_NE(test::ReadText(out).find("the audio device 'JACK' was lost"), std::string::npos) << test::ReadText(out);
}

} // namespace
} // namespace marlix
