#include "dsp/firfilter.h"
#include "base/fifo.h"
#include "base/flexbuf.h"
#include "support/fftmode.h"

#include <gtest/gtest.h>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace marlix {
namespace {

using Signal = std::vector<std::vector<double>>; // [channel][sample]

Signal RandomSignal(int channels, int length, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    Signal s(channels, std::vector<double>(length));
    for (auto& ch : s)
        for (auto& v : ch)
            v = u(rng);
    return s;
}

// y[t] = Σ h[j] x[t − delay − j], straight from the definition.
std::vector<double> DirectConvolution(const std::vector<double>& x, const std::vector<double>& h, int delay, int length)
{
    std::vector<double> y(length, 0.0);
    for (int t = 0; t < length; ++t) {
        long double sum = 0;
        for (size_t j = 0; j < h.size(); ++j) {
            const long i = static_cast<long>(t) - delay - static_cast<long>(j);
            if (i >= 0 && i < static_cast<long>(x.size()))
                sum += static_cast<long double>(h[j]) * x[i];
        }
        y[t] = static_cast<double>(sum);
    }
    return y;
}

void LoadTaps(TFIRFilter& filter, int channel, const std::vector<double>& h)
{
    TFlexBuf block;
    block.SetBuf(nullptr, 1, 65, static_cast<int>(h.size()));
    std::copy(h.begin(), h.end(), static_cast<double*>(block.Data[0]));
    filter.SetTaps(channel, block);
}

// Streams `input` through the filter in chunks of `chunk` frames and returns
// `length` output frames per channel (the input is followed by silence).
Signal Stream(TFIRFilter& filter, const Signal& input, int chunk, int length, int outChannels)
{
    const int inChannels = static_cast<int>(input.size());
    TMChFIFO in(inChannels, 1 << 16);
    TMChFIFO& out = *filter.OutFIFO;
    Signal result(outChannels);
    std::vector<double> frame(inChannels), buffer(1 << 16);
    int fed = 0;
    while (static_cast<int>(result[0].size()) < length) {
        for (int i = 0; i < chunk; ++i, ++fed) {
            for (int c = 0; c < inChannels; ++c)
                frame[c] = fed < static_cast<int>(input[c].size()) ? input[c][fed] : 0.0;
            in.WriteInterleaved(frame.data(), 1, inChannels);
        }
        while (in.Available() > 0) {
            const int before = in.Available();
            filter.Process(in, out, chunk);
            const int got = out.Available();
            for (int c = 0; c < outChannels; ++c) {
                out.FIFOs[c]->Read(buffer.data(), got);
                result[c].insert(result[c].end(), buffer.begin(), buffer.begin() + got);
            }
            if (in.Available() == before)
                std::this_thread::yield(); // a threaded transform is still pending
        }
    }
    for (auto& ch : result)
        ch.resize(length);
    return result;
}

double MaxAbs(const std::vector<double>& v)
{
    double m = 0;
    for (double x : v)
        m = std::max(m, std::abs(x));
    return m;
}

class FIRFilterTest : public test::FFTModeTest {
protected:
    double Tolerance() const { return External() ? 1e-12 : 2e-6; }
};

// Also with input blocks grown to fit the response (725 samples here), in line and on
// the worker thread: the lag stays two transform blocks.
TEST_P(FIRFilterTest, MatchesDirectConvolutionDelayedByTwoBlocks)
{
    for (int mode = 0; mode < 3; ++mode) {
        for (int channels = 1; channels <= 5; ++channels) {
            const int taps = 300, n = 512;
            const auto x = RandomSignal(channels, 3 * n + 77, 10 + channels);
            const auto h = RandomSignal(channels, taps, 20 + channels);
            for (int chunk : {1, 7, n, 3 * n + 5}) {
                SCOPED_TRACE(mode);
                TFIRFilter filter(channels, false, mode == 2, 1 << 15, taps);
                ASSERT_EQ(filter.BlockSize, n);
                if (mode > 0)
                    filter.SetResponseLength(taps);
                for (int c = 0; c < channels; ++c)
                    LoadTaps(filter, c, h[c]);
                const int length = 6 * n;
                const auto y = Stream(filter, x, chunk, length, channels);
                for (int c = 0; c < channels; ++c) {
                    const auto expected = DirectConvolution(x[c], h[c], 2 * n, length);
                    const double scale = MaxAbs(expected);
                    for (int t = 0; t < length; ++t)
                        ASSERT_NEAR(y[c][t], expected[t], Tolerance() * scale)
                            << "channels " << channels << " chunk " << chunk << " channel " << c << " t " << t;
                }
            }
        }
    }
}

TEST_P(FIRFilterTest, UnitImpulseDelaysByExactlyTwoBlocks)
{
    for (int taps : {1023, 1024, 1025}) {
        TFIRFilter filter(2, false, false, 1 << 15, taps);
        EXPECT_EQ(filter.BlockSize, taps <= 1024 ? 1024 : 2048);
        LoadTaps(filter, 0, {1.0});
        LoadTaps(filter, 1, {0.0, 0.0, -0.5});
        const auto x = RandomSignal(2, 3000, 5);
        const int n = filter.BlockSize, length = 2 * n + 3000;
        const auto y = Stream(filter, x, 1000, length, 2);
        for (int t = 0; t < length; ++t) {
            const int i = t - 2 * n;
            EXPECT_NEAR(y[0][t], i >= 0 && i < 3000 ? x[0][i] : 0.0, 10 * Tolerance()) << t;
            EXPECT_NEAR(y[1][t], i >= 2 && i < 3002 ? -0.5 * x[1][i - 2] : 0.0, 10 * Tolerance()) << t;
        }
    }
}

TEST_P(FIRFilterTest, UnsetChannelsAreSilentAndExtraChannelsPassAsZerosOrAreDropped)
{
    // Three filter channels fed from two input channels, read through a four-channel output.
    TFIRFilter filter(3, false, false, 1 << 15, 64);
    LoadTaps(filter, 0, {0.25});
    LoadTaps(filter, 2, {1.0});
    const auto x = RandomSignal(2, 500, 9);
    TMChFIFO in(2, 4096), out(4, 4096);
    std::vector<double> frame(2);
    for (int t = 0; t < 500; ++t) {
        frame = {x[0][t], x[1][t]};
        in.WriteInterleaved(frame.data(), 1, 2);
    }
    filter.Process(in, out, 500);
    ASSERT_EQ(out.Available(), 500);
    std::vector<double> y(500);
    out.FIFOs[0]->Read(y.data(), 500);
    for (int t = 0; t < 500; ++t)
        EXPECT_NEAR(y[t], t >= 128 ? 0.25 * x[0][t - 128] : 0.0, 10 * Tolerance()) << t;
    for (int c = 1; c < 4; ++c) {
        out.FIFOs[c]->Read(y.data(), 500);
        // 1: never set (shares its transform with channel 0: rounding only);
        // 2: no input; 3: beyond the filter.
        EXPECT_LE(MaxAbs(y), c == 1 ? 1e-14 : 0.0) << c;
    }
}

TEST_P(FIRFilterTest, ChannelsWithDifferentTapsStayIndependentIncludingDC)
{
    TFIRFilter filter(2, false, false, 1 << 15, 16);
    LoadTaps(filter, 0, std::vector<double>(16, 1.0 / 16)); // averaging: passes DC
    LoadTaps(filter, 1, {0.5, -0.5});                        // differencing: blocks DC
    Signal dc(2, std::vector<double>(400, 0.75));
    const auto y = Stream(filter, dc, 50, 400, 2);
    for (int t = 2 * 16 + 16; t < 400; ++t) {
        EXPECT_NEAR(y[0][t], 0.75, 1e-5) << t;
        EXPECT_NEAR(y[1][t], 0.0, 1e-5) << t;
    }
}

TEST_P(FIRFilterTest, GetTapsReturnsTheZeroPaddedResponse)
{
    TFIRFilter filter(1, false, false, 1024, 5);
    LoadTaps(filter, 0, {1, 2, 3, 4, 5});
    TFlexBuf block;
    filter.GetTaps(0, block);
    ASSERT_EQ(block.GetLength(), 8);
    const double* t = static_cast<double*>(block.Data[0]);
    const double expected[8] = {1, 2, 3, 4, 5, 0, 0, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(t[i], expected[i]);
}

TEST_P(FIRFilterTest, ThreadedModeGivesTheSameOutput)
{
    const int taps = 2000, n = 2048;
    const auto x = RandomSignal(3, 5 * n, 31);
    const auto h = RandomSignal(3, taps, 32);
    TFIRFilter filter(3, false, true, 1 << 15, taps);
    for (int c = 0; c < 3; ++c)
        LoadTaps(filter, c, h[c]);
    const int length = 8 * n;
    const auto y = Stream(filter, x, 999, length, 3);
    for (int c = 0; c < 3; ++c) {
        const auto expected = DirectConvolution(x[c], h[c], 2 * n, length);
        const double scale = MaxAbs(expected);
        for (int t = 0; t < length; ++t)
            ASSERT_NEAR(y[c][t], expected[t], Tolerance() * scale) << c << " " << t;
    }
}

TEST_P(FIRFilterTest, NewTapsApplyFromTheNextBlock)
{
    const int n = 64;
    TFIRFilter filter(1, false, false, 4096, n);
    LoadTaps(filter, 0, {1.0});
    Signal ones(1, std::vector<double>(n, 1.0));
    Stream(filter, ones, n, n, 1); // block 0 collected with taps {1}
    LoadTaps(filter, 0, {2.0});
    auto y2 = Stream(filter, ones, n, 3 * n, 1); // block 1 with {2}
    // Block 0 was transformed when it completed, before the change: it keeps gain 1.
    EXPECT_NEAR(y2[0][n], 1.0, 1e-5);
    EXPECT_NEAR(y2[0][2 * n], 2.0, 1e-5);
}

// Taps staged from another thread while the filter streams switch in at one block
// boundary B: the output is exactly the old filter on the input before B plus the new
// filter on the input from B on, with no sample lost or muted.
TEST_P(FIRFilterTest, HandOverStagedTapsSwitchBetweenTwoBlocks)
{
    const int taps = 300, n = 512, length = 24 * n;
    const auto x = RandomSignal(2, 16 * n, 41);
    const auto oldTaps = RandomSignal(2, taps, 42), newTaps = RandomSignal(2, taps, 43);
    for (const bool threaded : {false, true}) {
        TFIRFilter filter(2, false, threaded, 1 << 15, taps);
        for (int c = 0; c < 2; ++c)
            LoadTaps(filter, c, oldTaps[c]);
        TMChFIFO in(2, 1 << 16);
        std::thread stager;
        bool staged = false;
        const int chunk = 333;
        for (int fed = 0; fed < length; fed += chunk) {
            if (fed >= 4 * n && !staged) {
                staged = true;
                stager = std::thread([&] {
                    TFlexBuf block;
                    ASSERT_TRUE(filter.SpareFree());
                    for (int c = 0; c < 2; ++c) {
                        block.SetBuf(nullptr, 1, 65, taps);
                        std::copy(newTaps[c].begin(), newTaps[c].end(), static_cast<double*>(block.Data[0]));
                        filter.StageTaps(c, block);
                    }
                    filter.CommitStaged();
                });
            }
            if (fed >= 8 * n && stager.joinable())
                stager.join();
            for (int c = 0; c < 2; ++c)
                for (int i = fed; i < fed + chunk; ++i) {
                    const double v = i < static_cast<int>(x[c].size()) ? x[c][i] : 0.0;
                    in.FIFOs[c]->Write(&v, 1);
                }
            while (in.Available() > 0 && filter.OutFIFO->Free() > 0) {
                const int before = in.Available();
                filter.Process(in, *filter.OutFIFO, chunk);
                if (in.Available() == before)
                    std::this_thread::yield();
            }
        }
        ASSERT_EQ(filter.Switches(), 1);
        const int b = static_cast<int>(filter.SwitchedAt());
        ASSERT_GE(b, 4 * n);
        ASSERT_LE(b, 10 * n);
        ASSERT_EQ(b % n, 0);
        for (int c = 0; c < 2; ++c) {
            std::vector<double> before(x[c].begin(), x[c].begin() + b), after(x[c]);
            std::fill_n(after.begin(), b, 0.0);
            const auto y0 = DirectConvolution(before, oldTaps[c], 2 * n, length);
            const auto y1 = DirectConvolution(after, newTaps[c], 2 * n, length);
            std::vector<double> y(length);
            filter.OutFIFO->FIFOs[c]->Read(y.data(), length - 2 * n);
            const double scale = MaxAbs(y0) + MaxAbs(y1);
            for (int t = 0; t < length - 2 * n; ++t)
                ASSERT_NEAR(y[t], y0[t] + y1[t], Tolerance() * scale) << threaded << " " << c << " " << t;
        }
    }
}

// Feeds `compact` (a stuffed stream's samples without its zeros) `chunk` samples at a
// time, asking Process for `count` stuffed positions per call (0: all the input reaches),
// and returns `length` output frames per channel.
Signal StreamCompact(TFIRFilter& filter, bool threaded, const Signal& compact, int factor, int chunk, int count,
                     int length)
{
    const int channels = static_cast<int>(compact.size());
    TMChFIFO in(channels, 1 << 16);
    TMChFIFO& out = *filter.OutFIFO;
    Signal result(channels);
    std::vector<double> buffer(1 << 16);
    int fed = 0;
    while (static_cast<int>(result[0].size()) < length) {
        for (int c = 0; c < channels; ++c)
            for (int i = fed; i < fed + chunk; ++i) {
                const double v = i < static_cast<int>(compact[c].size()) ? compact[c][i] : 0.0;
                in.FIFOs[c]->Write(&v, 1);
            }
        fed += chunk;
        for (;;) {
            filter.Process(in, out, count > 0 ? count : 1 << 30);
            const int got = out.Available();
            if (got == 0) {
                if (!filter.IsPending())
                    break;
                filter.WaitForTransform();
                continue;
            }
            for (int c = 0; c < channels; ++c) {
                out.FIFOs[c]->Read(buffer.data(), got);
                result[c].insert(result[c].end(), buffer.begin(), buffer.begin() + got);
            }
        }
        // In line, the input reaches exactly to the zeros after its last sample.
        if (!threaded) {
            EXPECT_EQ(static_cast<int64_t>(result[0].size()), static_cast<int64_t>(fed) * factor);
        }
    }
    for (auto& ch : result)
        ch.resize(length);
    return result;
}

// The filter takes a stuffed stream without its zeros; its output must be the convolution
// of the stuffed stream, however the input is cut (pieces ending inside a group of
// zeros, calls limited by the input or by the count), in line and threaded, with the
// short transform and with the zeros spread out (factor 3, or too large for the block).
TEST_P(FIRFilterTest, CompactInputMatchesDirectConvolutionOfTheStuffedStream)
{
    struct TCase {
        int Factor, Taps, Chunk, Count;
        bool Threaded;
    };
    const TCase cases[] = {{2, 255, 37, 0, false},   {4, 1023, 256, 1024, false}, {4, 1023, 29, 101, false},
                           {8, 1023, 83, 0, true},   {3, 255, 64, 50, false},     {3, 255, 17, 0, true},
                           {512, 1023, 3, 700, false}};
    for (const TCase& k : cases) {
        const int channels = 3, n = 1 << static_cast<int>(std::ceil(std::log2(k.Taps)));
        const auto compact = RandomSignal(channels, 5 * n / k.Factor, 31 + k.Factor);
        Signal stuffed(channels, std::vector<double>(compact[0].size() * k.Factor, 0.0));
        for (int c = 0; c < channels; ++c)
            for (size_t i = 0; i < compact[c].size(); ++i)
                stuffed[c][i * k.Factor] = compact[c][i];
        const auto h = RandomSignal(channels, k.Taps, 41 + k.Factor);
        TFIRFilter filter(channels, false, k.Threaded, 1 << 15, k.Taps);
        filter.SetStuffing(k.Factor);
        for (int c = 0; c < channels; ++c)
            LoadTaps(filter, c, h[c]);
        const int length = 8 * n;
        const auto y = StreamCompact(filter, k.Threaded, compact, k.Factor, k.Chunk, k.Count, length);
        for (int c = 0; c < channels; ++c) {
            const auto expected = DirectConvolution(stuffed[c], h[c], 2 * n, length);
            const double scale = MaxAbs(expected);
            for (int t = 0; t < length; ++t)
                ASSERT_NEAR(y[c][t], expected[t], Tolerance() * scale)
                    << "factor " << k.Factor << " chunk " << k.Chunk << " channel " << c << " t " << t;
        }
        filter.WaitForTransform();
        // Two pairs; at least the eight blocks of the output were transformed.
        const bool shortForm = k.Factor != 3 && k.Factor <= n / 2;
        if (shortForm)
            EXPECT_GE(filter.StuffedTransforms(), 2 * (length / n)) << "factor " << k.Factor;
        else
            EXPECT_EQ(filter.StuffedTransforms(), 0) << "factor " << k.Factor;
    }
}

INSTANTIATE_TEST_SUITE_P(Both, FIRFilterTest, ::testing::Bool(), test::FFTModeName);

} // namespace
} // namespace marlix
