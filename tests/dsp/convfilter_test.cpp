#include "dsp/convfilter.h"
#include "dsp/firfilter.h"
#include "settings/settingconvolver.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace marlix {
namespace {

using Frames = std::vector<std::vector<double>>;

Frames Noise(int channels, int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    Frames f(channels, std::vector<double>(n));
    for (auto& ch : f)
        for (auto& v : ch)
            v = u(rng);
    return f;
}

void SetIR(TConvolverEntry& e, std::vector<double> ir, int in, int out, int level, bool cut)
{
    e.HasIR = true;
    e.On = true;
    e.IR = std::move(ir);
    e.IRLength = static_cast<int>(e.IR.size());
    e.IRRate = 48000;
    e.InCh = in;
    e.OutCh = out;
    e.Level = level;
    e.CutDS = cut;
}

// Streams `x` (then silence) through a fresh stage until `length` frames came out;
// `during` may change the running stage, told how many frames came out so far.
Frames Stream(const TSettingConvolver& setting, const Frames& x, int length, int chunk = 777,
              const std::function<void(TConvFilter&, int)>& during = {})
{
    const int channels = static_cast<int>(x.size());
    TConvFilter stage(channels, false, 48000, 1 << 16, setting);
    TMChFIFO in(channels, 1 << 16);
    Frames y(channels);
    std::vector<double> buffer(1 << 16), frame(channels);
    int fed = 0;
    for (int guard = 0; static_cast<int>(y[0].size()) < length && guard < 100000; ++guard) {
        if (during)
            during(stage, static_cast<int>(y[0].size()));
        for (int i = 0; i < chunk; ++i, ++fed)
            for (int c = 0; c < channels; ++c)
                in.FIFOs[c]->Write(fed < static_cast<int>(x[c].size()) ? &x[c][fed] : &(frame[c] = 0.0), 1);
        stage.Process(in, *stage.OutFIFO, 1 << 16);
        const int got = stage.OutFIFO->Available();
        for (int c = 0; c < channels; ++c) {
            stage.OutFIFO->FIFOs[c]->Read(buffer.data(), got);
            y[c].insert(y[c].end(), buffer.begin(), buffer.begin() + got);
        }
        if (stage.FIR && stage.FIR->IsPending())
            std::this_thread::yield();
    }
    for (auto& ch : y)
        ch.resize(length);
    return y;
}

std::vector<double> Convolve(const std::vector<double>& x, const std::vector<double>& h, int lag, int length)
{
    std::vector<double> y(length, 0.0);
    for (int t = 0; t < length; ++t)
        for (size_t j = 0; j < h.size(); ++j) {
            const long i = static_cast<long>(t) - lag - static_cast<long>(j);
            if (i >= 0 && i < static_cast<long>(x.size()))
                y[t] += h[j] * x[i];
        }
    return y;
}

TEST(ConvFilter, DryOnlyPassesTheInputUndelayed)
{
    TSettingConvolver s;
    s.DryWet = 1;
    SetIR(s.Conv[0], std::vector<double>(300, 0.5), 0, 0, 0, false);
    SetIR(s.Conv[1], std::vector<double>(100, -0.5), 1, 0, 0, false);
    const auto x = Noise(2, 3000, 1);
    const auto y = Stream(s, x, 3000);
    EXPECT_EQ(y, x);
}

// Dry and wet stay in step whatever the response's length: a unit impulse at level 0
// doubles the input (a lag between the two would comb it), and the stage adds no delay.
TEST(ConvFilter, DryAndWetStayInStepForAnyResponseLength)
{
    for (int length : {1024, 1000, 1500}) {
        TSettingConvolver s; // dry and wet
        std::vector<double> impulse(length, 0.0);
        impulse[0] = 1;
        SetIR(s.Conv[0], impulse, 0, 0, 0, false);
        const auto x = Noise(1, 4000, 2);
        const auto y = Stream(s, x, 4000);
        for (int t = 0; t < 4000; ++t)
            ASSERT_NEAR(y[0][t], 2 * x[0][t], 1e-5) << length << " " << t;
    }
}

// New levels and dry/wet switches reach the running stage as straight glides over
// 10 ms from the first frame after the change; the reverb is not restarted.
TEST(ConvFilter, MixChangesGlideInTheRunningStage)
{
    TSettingConvolver s; // dry and wet, level 0
    const auto h = Noise(1, 700, 8)[0];
    SetIR(s.Conv[0], h, 0, 0, 0, false);
    const auto x = Noise(1, 6000, 9);
    TSettingConvolver changed = s;
    changed.DryWet = 2;         // dry off
    changed.Conv[0].Level = -12; // a quarter
    int from = -1;
    const auto y = Stream(s, x, 6000, 300, [&](TConvFilter& stage, int produced) {
        if (from < 0 && produced >= 2500) {
            stage.SetMix(changed);
            from = produced;
        }
    });
    ASSERT_GE(from, 2500);
    const auto w = Convolve(x[0], h, 0, 6000);
    for (int t = 0; t < 6000; ++t) {
        const double a = std::clamp((t - from + 1) / 480.0, 0.0, 1.0);
        const double dry = 1 - a, wet = 1 + a * (0.25 - 1);
        ASSERT_NEAR(y[0][t], dry * x[0][t] + wet * w[t], 1e-4) << t;
    }
}

TEST(ConvFilter, DryPlusTwoConvolversIntoOneChannelAtTheirLevels)
{
    TSettingConvolver s; // DryWet 3
    const auto h0 = Noise(1, 512, 3)[0];
    const auto h1 = Noise(1, 512, 4)[0];
    SetIR(s.Conv[0], h0, 0, 1, -36, false); // default level: 1/64
    SetIR(s.Conv[1], h1, 1, 1, 6, false);   // twice
    const auto x = Noise(2, 3000, 5);
    const auto y = Stream(s, x, 3000);
    const auto w0 = Convolve(x[0], h0, 0, 3000), w1 = Convolve(x[1], h1, 0, 3000);
    for (int t = 0; t < 3000; ++t) {
        ASSERT_NEAR(y[0][t], x[0][t], 1e-12) << t;
        ASSERT_NEAR(y[1][t], x[1][t] + w0[t] / 64 + 2 * w1[t], 1e-4) << t;
    }
}

TEST(ConvFilter, ThreadedLongResponseMatchesDirectConvolution)
{
    TSettingConvolver s;
    s.DryWet = 2;
    const auto h = Noise(1, 8192, 6)[0]; // 0.17 s at 48 kHz: transforms on the worker
    SetIR(s.Conv[0], h, 1, 0, 0, false);
    const auto x = Noise(2, 20000, 7);
    const auto y = Stream(s, x, 20000, 4096);
    const auto w = Convolve(x[1], h, 0, 20000);
    for (int t = 0; t < 20000; t += 7)
        ASSERT_NEAR(y[0][t], w[t], 1e-3) << t;
    EXPECT_EQ(y[1], std::vector<double>(20000, 0.0)); // wet only: channel 1 gets nothing
}

TEST(ConvFilter, InactiveConvolversAreIgnored)
{
    TSettingConvolver s;
    s.DryWet = 2;
    SetIR(s.Conv[0], {1.0}, 0, 2, 0, false); // output channel outside a 2-channel stage
    SetIR(s.Conv[1], {1.0}, 1, 1, 0, false);
    s.Conv[1].On = false;
    TConvFilter stage(2, false, 48000, 4096, s);
    EXPECT_EQ(stage.Count, 0);
    EXPECT_EQ(stage.FIR, nullptr);
    const auto x = Noise(2, 500, 8);
    EXPECT_EQ(Stream(s, x, 500), Frames(2, std::vector<double>(500, 0.0)));
}

TEST(ConvFilter, CutDirectSoundZeroesBeforeTheLastSignChange)
{
    std::vector<double> ir(300, 0.25);
    ir[40] = -0.1; // sign change going back from 128: samples 0 … 39 are zeroed
    auto cut = ir;
    TConvFilter::CutDirectSound(cut.data(), 300);
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(cut[i], i < 40 ? 0.0 : ir[i]) << i;

    std::vector<double> positive(300, 0.25); // no sign change: untouched
    auto same = positive;
    TConvFilter::CutDirectSound(same.data(), 300);
    EXPECT_EQ(same, positive);

    std::vector<double> one = {0.7}; // a single sample stays whole
    TConvFilter::CutDirectSound(one.data(), 1);
    EXPECT_EQ(one[0], 0.7);

    std::vector<double> shortIr = {0.0, 0.5, -0.5, 0.0, -0.2}; // a = 4, v < 0: back to sample 3 (0)
    TConvFilter::CutDirectSound(shortIr.data(), 5);
    EXPECT_EQ(shortIr, (std::vector<double>{0.0, 0.0, 0.0, 0.0, -0.2}));
}

} // namespace
} // namespace marlix
