#include "dsp/matrixfilter.h"
#include "settings/setting.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace marlix {
namespace {

using Frames = std::vector<std::vector<double>>; // [channel][sample]

Frames RunMatrix(const TSettingMatrix& routing, const Frames& input, int outChannels)
{
    const int inChannels = static_cast<int>(input.size());
    const int n = static_cast<int>(input[0].size());
    TMChFIFO in(inChannels, 8192);
    for (int c = 0; c < inChannels; ++c)
        in.FIFOs[c]->Write(input[c].data(), n);
    TMatrixFilter filter(outChannels, false, 44100, 8192, routing);
    filter.Process(in, *filter.OutFIFO, n);
    EXPECT_EQ(filter.OutFIFO->Available(), n);
    Frames out(outChannels, std::vector<double>(n));
    for (int c = 0; c < outChannels; ++c)
        filter.OutFIFO->FIFOs[c]->Read(out[c].data(), n);
    return out;
}

Frames Noise(int channels, int n)
{
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> u(-1, 1);
    Frames f(channels, std::vector<double>(n));
    for (auto& ch : f)
        for (auto& v : ch)
            v = u(rng);
    return f;
}

TEST(MatrixFilter, DefaultsPassEveryChannelUnchanged)
{
    TSettingMatrix routing;
    const auto x = Noise(2, 5000); // more than one internal chunk
    EXPECT_EQ(RunMatrix(routing, x, 2), x);
}

TEST(MatrixFilter, SwapMonoSumAndInvert)
{
    const auto x = Noise(2, 300);
    TSettingMatrix swap;
    swap.bONOFF[0][0] = swap.bONOFF[1][1] = false;
    swap.bONOFF[0][1] = swap.bONOFF[1][0] = true;
    const auto s = RunMatrix(swap, x, 2);
    EXPECT_EQ(s[0], x[1]);
    EXPECT_EQ(s[1], x[0]);

    TSettingMatrix mono;
    for (int j = 0; j < 2; ++j)
        for (int k = 0; k < 2; ++k) {
            mono.bONOFF[j][k] = true;
            mono.fLevel[j][k] = -60; // exactly one half
        }
    const auto m = RunMatrix(mono, x, 2);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(m[0][i], x[0][i] * 0.5 + x[1][i] * 0.5);
        EXPECT_EQ(m[1][i], m[0][i]);
    }

    TSettingMatrix invert;
    invert.bInv[0][0] = true;
    const auto v = RunMatrix(invert, x, 2);
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(v[0][i], -x[0][i]);
    EXPECT_EQ(v[1], x[1]);
}

TEST(MatrixFilter, AllOffIsSilentAndGainFollowsTenthsOfTheLevelUnit)
{
    const auto x = Noise(2, 100);
    TSettingMatrix off;
    off.bONOFF[0][0] = off.bONOFF[1][1] = false;
    const auto s = RunMatrix(off, x, 2);
    EXPECT_EQ(s[0], std::vector<double>(100, 0.0));
    EXPECT_EQ(s[1], std::vector<double>(100, 0.0));

    TSettingMatrix gain;
    gain.fLevel[1][1] = 60; // +6 in the level unit: twice the amplitude
    const auto g = RunMatrix(gain, x, 2);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(g[1][i], 2 * x[1][i]);
}

TEST(MatrixFilter, ChannelsBeyondTheTablePassThroughAndMissingOnesAreSilent)
{
    TSettingMatrix swap;
    swap.bONOFF[0][0] = swap.bONOFF[1][1] = false;
    swap.bONOFF[0][1] = swap.bONOFF[1][0] = true;
    const auto x = Noise(4, 64);
    const auto y = RunMatrix(swap, x, 4);
    EXPECT_EQ(y[0], x[1]);
    EXPECT_EQ(y[2], x[2]);
    EXPECT_EQ(y[3], x[3]);

    // A mono input feeding two outputs: input 1 does not exist and contributes zeros.
    const auto mono = Noise(1, 64);
    const auto z = RunMatrix(TSettingMatrix(), mono, 2);
    EXPECT_EQ(z[0], mono[0]);
    EXPECT_EQ(z[1], std::vector<double>(64, 0.0));
}

} // namespace
} // namespace marlix
