// The bundled crossfeed, loaded as a private copy and checked against a direct
// evaluation of its formula in double precision.
#include "plugintest.h"

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace marlix::test {
namespace {

struct Settings {
    float CutoffHz = 700, DelayMs = 0.3f, LevelDb = -6;
};

// y_c[n] = (x_c[n] + g*s_c[n]) / (1 + g), s_c[n] = s_c[n-1] + a*(x_o[n-D] - s_c[n-1]).
std::array<std::vector<double>, 2> Reference(const std::array<std::vector<float>, 2>& x, double rate, Settings s)
{
    const double g = std::pow(2.0, s.LevelDb / 6.0);
    const double a = 1.0 - std::exp(-2.0 * std::numbers::pi * s.CutoffHz / rate);
    const long d = std::lround(s.DelayMs * rate / 1000.0);
    const size_t n = x[0].size();
    std::array<std::vector<double>, 2> y{std::vector<double>(n), std::vector<double>(n)};
    for (int c = 0; c < 2; ++c) {
        double state = 0;
        for (size_t i = 0; i < n; ++i) {
            const double crossed = static_cast<long>(i) >= d ? x[1 - c][i - d] : 0.0;
            state += a * (crossed - state);
            y[c][i] = (x[c][i] + g * state) / (1 + g);
        }
    }
    return y;
}

std::vector<uint8_t> Block20(const char* magic, uint32_t version, float cutoff, float delay, float level)
{
    std::vector<uint8_t> b(20);
    std::memcpy(b.data(), magic, 4);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(4, version);
    put(8, std::bit_cast<uint32_t>(cutoff));
    put(12, std::bit_cast<uint32_t>(delay));
    put(16, std::bit_cast<uint32_t>(level));
    return b;
}

class CrossfeedTest : public ::testing::Test {
protected:
    PrivateCopy Plugin{ProgramFile("plugin/crossfeed.aep")};
    TAEPPostWave PostWave = Plugin.Get<TAEPPostWave>("PostWave");
    TAEPSetData SetData = Plugin.Get<TAEPSetData>("SetData");
    TAEPGetData GetData = Plugin.Get<TAEPGetData>("GetData");
    TAEPAction Clear = Plugin.Get<TAEPAction>("Clear");

    std::vector<uint8_t> State()
    {
        void* data = nullptr;
        int32_t size = -1;
        GetData(&data, &size);
        EXPECT_NE(data, nullptr);
        EXPECT_GE(size, 0);
        const auto* p = static_cast<const uint8_t*>(data);
        return p ? std::vector<uint8_t>(p, p + size) : std::vector<uint8_t>{};
    }

    // Runs `input` through the plug-in in blocks of the given sizes, cycling.
    std::array<std::vector<float>, 2> Run(std::array<std::vector<float>, 2> x, int rate,
                                          std::vector<int> blocks = {4096})
    {
        size_t at = 0;
        for (size_t b = 0; at < x[0].size(); ++b) {
            const int n = std::min<int>(blocks[b % blocks.size()], static_cast<int>(x[0].size() - at));
            float* ch[2] = {x[0].data() + at, x[1].data() + at};
            PostWave(ch, rate, 2, n);
            at += n;
        }
        return x;
    }

    static void ExpectNear(const std::array<std::vector<float>, 2>& got, const std::array<std::vector<double>, 2>& want)
    {
        for (int c = 0; c < 2; ++c)
            for (size_t i = 0; i < want[c].size(); ++i)
                ASSERT_NEAR(got[c][i], want[c][i], 2e-6) << "channel " << c << " sample " << i;
    }
};

std::array<std::vector<float>, 2> LeftImpulse(size_t n)
{
    std::array<std::vector<float>, 2> x{std::vector<float>(n), std::vector<float>(n)};
    x[0][0] = 1.0f;
    return x;
}

std::array<std::vector<float>, 2> LeftTone(size_t n, double hz, double rate)
{
    std::array<std::vector<float>, 2> x{std::vector<float>(n), std::vector<float>(n)};
    for (size_t i = 0; i < n; ++i)
        x[0][i] = static_cast<float>(0.8 * std::sin(2 * std::numbers::pi * hz * i / rate));
    return x;
}

TEST_F(CrossfeedTest, NamesItselfAndExportsPostWaveOnly)
{
    EXPECT_STREQ(Plugin.Get<TAEPGetPlugName>("GetPlugName")(), "Marlix|Crossfeed");
    EXPECT_FALSE(Plugin.Lib().Has("PostWaveData"));
    for (const char* name : {"SetPlugPath", "Destroy", "Show", "Hide"})
        EXPECT_TRUE(Plugin.Lib().Has(name)) << name;
}

TEST_F(CrossfeedTest, HardLeftImpulseReachesTheRightChannelDelayedAndLowPassed)
{
    const auto y = Run(LeftImpulse(400), 44100);
    ExpectNear(y, Reference(LeftImpulse(400), 44100, {}));
    // 0.3 ms at 44.1 kHz is 13 samples; -6 dB is a factor of one half.
    EXPECT_FLOAT_EQ(y[0][0], 1.0f / 1.5f);
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(y[1][i], 0.0f) << i;
    EXPECT_GT(y[1][13], 0.0f);
}

TEST_F(CrossfeedTest, ToneMatchesTheFormulaAcrossOddBlockSizes)
{
    const Settings s{1200, 0.65f, -9};
    SetData(Block20("MXCF", 1, s.CutoffHz, s.DelayMs, s.LevelDb).data(), 20);
    const auto x = LeftTone(6000, 997, 48000);
    ExpectNear(Run(x, 48000, {1, 7, 480, 1023}), Reference(x, 48000, s));
}

TEST_F(CrossfeedTest, SteadyToneOnTheFarSideFollowsTheOnePoleResponse)
{
    // Independent of the recursion: |H| = a / |1 - (1-a) e^{-jw}|.
    const double rate = 44100, hz = 2000, g = 0.5;
    const double a = 1 - std::exp(-2 * std::numbers::pi * 700 / rate), w = 2 * std::numbers::pi * hz / rate;
    const double h = a / std::hypot(1 - (1 - a) * std::cos(w), (1 - a) * std::sin(w));
    const auto y = Run(LeftTone(44100, hz, rate), static_cast<int>(rate));
    double peak = 0;
    for (size_t i = 22050; i < y[1].size(); ++i)
        peak = std::max(peak, std::fabs(double(y[1][i])));
    EXPECT_NEAR(peak, 0.8 * h * g / (1 + g), 1e-3);
}

TEST_F(CrossfeedTest, CentredFullScaleStaysWithinFullScale)
{
    std::array<std::vector<float>, 2> x{std::vector<float>(20000, 1.0f), std::vector<float>(20000, 1.0f)};
    const auto y = Run(x, 44100);
    for (int c = 0; c < 2; ++c) {
        EXPECT_LE(*std::max_element(y[c].begin(), y[c].end()), 1.0f + 1e-6f);
        EXPECT_NEAR(y[c].back(), 1.0f, 1e-5);
    }
}

TEST_F(CrossfeedTest, LeavesFurtherChannelsAndMonoAlone)
{
    Block b(3, 64);
    for (int c = 0; c < 3; ++c)
        b.Data[c][0] = 1.0f;
    PostWave(b.Channels(), 44100, 3, 64);
    EXPECT_EQ(b.Data[2][0], 1.0f);
    EXPECT_EQ(std::count(b.Data[2].begin(), b.Data[2].end(), 0.0f), 63);

    Block mono(1, 8);
    mono.Data[0][0] = 0.5f;
    PostWave(mono.Channels(), 44100, 1, 8);
    EXPECT_EQ(mono.Data[0][0], 0.5f);
}

TEST_F(CrossfeedTest, ClearForgetsEarlierSignalAndRateChangesRecomputeCoefficients)
{
    Run(LeftTone(3000, 440, 44100), 44100);
    const auto stale = Run(LeftImpulse(200), 96000);
    Clear();
    const auto fresh = Run(LeftImpulse(200), 96000);
    ExpectNear(fresh, Reference(LeftImpulse(200), 96000, {}));
    EXPECT_GT(std::fabs(stale[1][5] - fresh[1][5]), 1e-4) << "the earlier tone should still ring without Clear";
}

TEST_F(CrossfeedTest, StateIsAVersionedLittleEndianBlock)
{
    EXPECT_EQ(State(), Block20("MXCF", 1, 700, 0.3f, -6));
    const auto custom = Block20("MXCF", 1, 650, 0.25f, -4.5f);
    SetData(custom.data(), 20);
    EXPECT_EQ(State(), custom);

    // A second copy given that state processes like the first.
    PrivateCopy other{ProgramFile("plugin/crossfeed.aep")};
    other.Get<TAEPSetData>("SetData")(custom.data(), 20);
    const auto x = LeftTone(1000, 300, 44100);
    auto y = x;
    float* ch[2] = {y[0].data(), y[1].data()};
    other.Get<TAEPPostWave>("PostWave")(ch, 44100, 2, 1000);
    ExpectNear(y, Reference(x, 44100, {650, 0.25f, -4.5f}));
}

TEST_F(CrossfeedTest, MalformedOrForeignStateKeepsTheSettings)
{
    const auto custom = Block20("MXCF", 1, 900, 0.4f, -8);
    SetData(custom.data(), 20);

    std::vector<uint8_t> bridge(AEP_BRIDGE_BLOCK_SIZE, 0);
    bridge[0] = bridge[1] = 1;
    std::memcpy(&bridge[4], "/tmp/plugin/some", 16);
    const float nan = std::nanf("");
    const std::vector<std::vector<uint8_t>> bad = {
        bridge,
        Block20("MXCF", 2, 700, 0.3f, -6),
        Block20("MXCX", 1, 700, 0.3f, -6),
        Block20("MXCF", 1, nan, 0.3f, -6),
        Block20("MXCF", 1, 700, 5.0f, -6),
        Block20("MXCF", 1, 700, -0.1f, -6),
        Block20("MXCF", 1, 700, 0.3f, 3),
        Block20("MXCF", 1, 1, 0.3f, -6),
        {'M', 'X', 'C', 'F'},
        {},
    };
    for (const auto& block : bad) {
        SetData(block.data(), static_cast<int32_t>(block.size()));
        EXPECT_EQ(State(), custom) << "block of " << block.size() << " bytes";
    }
    SetData(nullptr, 20);
    SetData(custom.data(), -20);
    EXPECT_EQ(State(), custom);
}

} // namespace
} // namespace marlix::test
