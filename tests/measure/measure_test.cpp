// The measurement core without a device: the test signals, the callback driven by hand
// through a simulated room, the analysis, and the results table.
#include "measure/measuresignal.h"
#include "measure/measurestate.h"
#include "measure/measuretable.h"
#include "settings/setting.h"
#include "support/simroom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <algorithm>
#include <numeric>

namespace marlix {
namespace {

constexpr int kN = 8192;
constexpr int kBlock = 256;

TSettingMeasure Setting(int method, int slope = -3)
{
    TSettingMeasure m;
    m.MeasureLen = kN;
    m.MeasureMethod = method;
    m.MeasureSlope = slope;
    return m;
}

// |DFT bin| of a real signal by direct summation.
double Bin(const std::vector<double>& x, int k)
{
    std::complex<double> s;
    for (size_t n = 0; n < x.size(); ++n)
        s += x[n] * std::polar(1.0, -2 * M_PI * k * static_cast<double>(n) / static_cast<double>(x.size()));
    return std::abs(s);
}

TEST(MeasureSignal, PeaksAtTheAmplitudeWithTheMethodsSpectrum)
{
    struct TCase {
        int Method, Slope;
        double RatioOf4To1; // |X4| / |X1|
    } cases[] = {{0, 0, 1.0}, {0, -3, 0.5}, {0, -6, 0.25}, {1, -6, 1.0}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "method " << c.Method << " slope " << c.Slope);
        const std::vector<double> x = BuildMeasureSignal(Setting(c.Method, c.Slope), 7);
        ASSERT_EQ(x.size(), static_cast<size_t>(kN));
        double peak = 0;
        for (double v : x)
            peak = std::max(peak, std::abs(v));
        EXPECT_NEAR(peak, 0.5, 1e-12);
        EXPECT_NEAR(Bin(x, 4) / Bin(x, 1), c.RatioOf4To1, 1e-6);
    }
    // Lengths from a hand-edited file become one the transforms take.
    for (auto [given, used] : {std::pair{1000, 8192}, {20000, 32768}, {65536, 65536}, {1 << 22, 65536}})
        EXPECT_EQ(ValidMeasureLen(given), used);
}

TEST(MeasureSignal, MLSRunsThroughEveryRegisterState)
{
    for (int n : {8192, 16384, 32768, 65536}) {
        std::vector<double> x;
        MakeMLSSignal(x, n, 0.5);
        ASSERT_EQ(x.size(), static_cast<size_t>(n));
        EXPECT_EQ(x[0], -0.5) << n;
        // Over one period of 2^bits - 1 samples a maximum-length register visits every
        // non-zero state once; the sample is A (v - K) / (K - 1) for state v.
        const int period = n == 65536 ? 65535 : n - 1;
        const int k = (period + 1) / 2;
        std::vector<int> states;
        for (int i = 0; i < period; ++i)
            states.push_back(static_cast<int>(std::lround(x[static_cast<size_t>(i)] / 0.5 * (k - 1) + k)));
        std::sort(states.begin(), states.end());
        std::vector<int> all(static_cast<size_t>(period));
        std::iota(all.begin(), all.end(), 1);
        EXPECT_EQ(states, all) << n;
    }
}

// Runs the callback on blocks of kBlock frames; the microphone hears the outputs
// through the room one block later, as a JACK graph with a feedback edge does.
void RunThroughRoom(TMeasureState& s, int channel, int delay, double gain)
{
    const std::vector<double> room = test::SpeakerResponse(delay, gain, 1024);
    std::vector<double> played;
    std::vector<int32_t> out[2], in(kBlock), in2(kBlock);
    out[0].resize(kBlock), out[1].resize(kBlock);
    std::vector<double> heard;
    s.StartChannelMeasurement(channel);
    for (int b = 0; !s.Done.load() && b < 200; ++b) {
        for (int k = 0; k < kBlock; ++k) {
            const size_t t = static_cast<size_t>(b) * kBlock + k;
            double y = 0;
            for (size_t m = 0; m < room.size() && m + kBlock <= t; ++m)
                y += room[m] * played[t - kBlock - m];
            in[static_cast<size_t>(k)] = static_cast<int32_t>(std::lround(y * 2147483648.0));
        }
        int32_t* inputs[2] = {in.data(), in2.data()};
        int32_t* outputs[2] = {out[0].data(), out[1].data()};
        s.BufferSwitch(kBlock, 2, inputs, 2, outputs);
        for (int k = 0; k < kBlock; ++k)
            played.push_back(out[channel][static_cast<size_t>(k)] / 2147483648.0);
    }
    ASSERT_TRUE(s.Done.load());
}

TEST(MeasureState, EachMethodRecoversTheRoomsPathLevelDelayAndPolarity)
{
    for (int method : {0, 1, 2}) {
        SCOPED_TRACE("method " + std::to_string(method));
        TMeasureState s(kN, 48000, 2, {});
        s.Reference = BuildMeasureSignal(Setting(method), 3);
        s.Excitation = {s.Reference, s.Reference};
        RunThroughRoom(s, 0, 400, 0.5);
        s.AnalyseChannel();
        RunThroughRoom(s, 1, 448, -0.25);
        s.AnalyseChannel();
        for (int c = 0; c < 2; ++c) {
            const int delay = c == 0 ? 400 : 448;
            const double gain = c == 0 ? 0.5 : -0.25;
            const TMeasureResult& r = s.Results[static_cast<size_t>(c)];
            EXPECT_NEAR(r.Level, test::PathLevelDB(gain), 1e-3);
            EXPECT_NEAR(r.Delay, (delay - kBlock) * 1000.0 / 48000, 1e-9);
            EXPECT_EQ(r.Inverted, gain < 0);
            std::vector<double> h = test::SpeakerResponse(delay - kBlock, gain, kN);
            const double mean = std::accumulate(h.begin(), h.end(), 0.0) / kN;
            double e = 0;
            for (double& v : h)
                e += (v - mean) * (v - mean);
            for (int k = 0; k < kN; ++k)
                ASSERT_NEAR(s.Response[static_cast<size_t>(c)][static_cast<size_t>(k)], (h[static_cast<size_t>(k)] - mean) / std::sqrt(e), 1e-6) << k;
        }
    }
}

TEST(MeasureState, PeakLevelAndPlaybackRouting)
{
    const int32_t full[] = {0, INT32_MIN, 5};
    EXPECT_NEAR(PeakLevelDB(full, 3), 0, 1e-12);
    const int32_t half[] = {1 << 30};
    EXPECT_NEAR(PeakLevelDB(half, 1), -6, 1e-12);
    const int32_t none[] = {0, 0};
    EXPECT_EQ(PeakLevelDB(none, 2), -192);

    // Peak hold: a louder block holds for one second (Rate samples), then the level follows.
    {
        TMeasureState s(kN, 1000, 1, {});
        std::vector<int32_t> loud(256, 1 << 30), quiet(256, 1 << 27);
        const double expected[] = {-6, -6, -6, -6, -24};
        for (int b = 0; b < 5; ++b) {
            int32_t* in[1] = {b == 0 ? loud.data() : quiet.data()};
            s.BufferSwitch(256, 1, in, 0, nullptr);
            EXPECT_NEAR(s.InputLevel.load(), expected[b], 1e-9) << "block " << b;
        }
    }
    // Device0 = 1: channel 1 plays on output 3; output pair 2 does not exist on 4 outputs.
    for (int device : {1, 2}) {
        TMeasureState s(kN, 48000, 1, {device, 0, 0});
        s.Reference.assign(kN, 0.25);
        s.Excitation = {s.Reference, s.Reference};
        s.Channel.store(1);
        std::vector<int32_t> buf[4];
        int32_t* outs[4];
        for (int c = 0; c < 4; ++c) {
            buf[c].assign(8, 7);
            outs[c] = buf[c].data();
        }
        s.BufferSwitch(8, 0, nullptr, 4, outs);
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(buf[c][0], device == 1 && c == 3 ? (1 << 29) : 0) << "device " << device << " output " << c;
        EXPECT_EQ(s.Position.load(), 8);
    }
}

TEST(MeasureTable, RelativeRowsAndCorrections)
{
    struct TCase {
        double Level0, Level1, Delay0, Delay1;
        double Row1Level, Row0Delay;          // row figures relative to the louder / earlier
        double FLevel0, FLevel1, FDelay0, FDelay1; // corrections written
    } cases[] = {
        {-5, -11, 2, 3, -6, 0, -60, 0, 1, 0},
        {3, 5, 10, 1, 0, 9, 0, -20, 0, 9},           // levels above 0 dB: the quieter keeps 0
        {0, -25, 40, 10, -25, 30, -180, 0, 0, 20},   // limits: 18 dB and 20 ms
    };
    for (const TCase& c : cases) {
        std::array<TMeasureResult, 2> r{};
        r[0] = {c.Delay0, c.Level0, 0};
        r[1] = {c.Delay1, c.Level1, 1};
        const TMeasureTable table({"L", "R"}, r);
        EXPECT_NEAR(table.Row(1).Level, c.Row1Level, 1e-12);
        EXPECT_NEAR(table.Row(0).Delay, c.Row0Delay, 1e-12);
        TSettingOutput out;
        table.ApplyToMaster(out);
        EXPECT_EQ(out.fLevel[0], c.FLevel0);
        EXPECT_EQ(out.fLevel[1], c.FLevel1);
        EXPECT_EQ(out.fDelay[0], c.FDelay0);
        EXPECT_EQ(out.fDelay[1], c.FDelay1);
        EXPECT_FALSE(out.bInvPhase[0]);
        EXPECT_TRUE(out.bInvPhase[1]);
    }
    // An unnamed or too quiet channel counts for nothing.
    std::array<TMeasureResult, 2> r{};
    r[0] = {1, -30, 0};
    r[1] = {2, -10, 0};
    for (const auto& names : {std::array<std::string, 2>{"L", "R"}, std::array<std::string, 2>{"L", ""}}) {
        const TMeasureTable table(names, r);
        EXPECT_FALSE(table.Valid(0));
        EXPECT_EQ(table.Valid(1), !names[1].empty());
        TSettingOutput out;
        out.fLevel = {-7, -7};
        table.ApplyToMaster(out);
        EXPECT_EQ(out.fLevel[0], -7);
        EXPECT_EQ(out.fLevel[1], names[1].empty() ? -7 : 0);
    }
    EXPECT_EQ(MeasureRowNames({"L  ", "R  "}, {0, 0, 0}), (std::array<std::string, 2>{"L", "R"}));
    EXPECT_EQ(MeasureRowNames({"L  ", "R  "}, {-1, 0, 0}), (std::array<std::string, 2>{"", ""}));
    EXPECT_EQ(MeasureRowNames({"L  ", "R  "}, {0, 1, 0}), (std::array<std::string, 2>{"", ""}));
}

} // namespace
} // namespace marlix
