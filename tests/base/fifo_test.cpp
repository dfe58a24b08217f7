#include "base/fifo.h"
#include "fuzz/fifo_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace marlix {
namespace {

std::vector<double> Ramp(int n, double first = 1.0)
{
    std::vector<double> v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), first);
    return v;
}

std::vector<double> ReadN(TFIFO& f, int n)
{
    std::vector<double> out(static_cast<size_t>(n), -99.0);
    f.Read(out.data(), n);
    return out;
}

void SetReader(TFIFO& f, double step, int type, int halfWidth)
{
    f.Interpolate = true;
    f.Step = step;
    f.InterpType = type;
    f.HalfWidth = halfWidth;
}

// The Gaussian reader written out plainly: 2N + 1 weights g·exp(q d²), renormalised.
double DirectGauss(const std::vector<double>& ring, double p, double step, int n)
{
    const double sigma = 1.414 / step;
    const double q = -1.0 / (2 * sigma * sigma);
    const double g = 1.0 / (sigma * std::sqrt(2 * std::numbers::pi));
    const auto size = static_cast<long>(ring.size());
    const long i0 = static_cast<long>(std::trunc(p));
    double sum = 0, wsum = 0;
    for (long k = i0 - n; k <= i0 + n; ++k) {
        const double d = p - static_cast<double>(k);
        const double w = g * std::exp(q * d * d);
        sum += w * ring[static_cast<size_t>(((k % size) + size) % size)];
        wsum += w;
    }
    return sum / wsum;
}

TEST(FIFO, PlainRingCountsAndOverlongRead)
{
    TFIFO f(4);
    EXPECT_EQ(f.BufSize, 5);
    EXPECT_EQ(f.Free(), 4);
    const auto in = Ramp(4);
    f.Write(in.data(), 4);
    EXPECT_EQ(f.Free(), 0);
    EXPECT_EQ(f.Available(), 4);

    EXPECT_EQ(ReadN(f, 5), std::vector<double>(5, 0.0));
    EXPECT_EQ(f.Available(), 4);
    EXPECT_EQ(ReadN(f, 4), in);
    EXPECT_EQ(f.Available(), 0);
    EXPECT_EQ(f.Free(), 4);
}

TEST(FIFO, WrapAroundKeepsOrder)
{
    TFIFO f(4);
    const auto a = Ramp(3, 1), b = Ramp(3, 4);
    f.Write(a.data(), 3);
    EXPECT_EQ(ReadN(f, 3), a);
    f.Write(b.data(), 3);
    EXPECT_EQ(f.WriteIndex, 1);
    EXPECT_EQ(f.Available(), 3);
    EXPECT_EQ(ReadN(f, 3), b);
    EXPECT_EQ(f.ReadIndex, 1);
    EXPECT_EQ(f.ReadPoint, 1.0);
}

TEST(FIFO, ResetRewindsIndicesButKeepsContents)
{
    TFIFO f(8);
    const auto in = Ramp(5);
    f.Write(in.data(), 5);
    ReadN(f, 2);
    f.Reset();
    EXPECT_EQ(f.WriteIndex, 0);
    EXPECT_EQ(f.ReadIndex, 0);
    EXPECT_EQ(f.ReadPoint, 0.0);
    EXPECT_EQ(f.Available(), 0);
    EXPECT_EQ(f.Buf[3], 4.0);
}

TEST(FIFO, LinearHalfStep)
{
    TFIFO f(32);
    SetReader(f, 0.5, 0, 0);
    const auto in = Ramp(10);
    f.Write(in.data(), 10);
    // Positions 0 … 8.5; 9 and 9.5 would need slot 10, which holds nothing yet.
    EXPECT_EQ(f.Available(), 18);
    EXPECT_EQ(ReadN(f, 4), (std::vector<double>{1, 1.5, 2, 2.5}));
    EXPECT_EQ(f.ReadPoint, 2.0);
    EXPECT_EQ(ReadN(f, 14).back(), 9.5);

    const double eleven = 11;
    f.Write(&eleven, 1);
    EXPECT_EQ(f.Available(), 2);
    EXPECT_EQ(ReadN(f, 2), (std::vector<double>{10, 10.5}));
}

TEST(FIFO, LinearAgainstHandValues)
{
    TFIFO f(6);
    SetReader(f, 0.75, 0, 0);
    const std::vector<double> sq{0, 1, 4, 9, 16, 25};
    f.Write(sq.data(), 4);
    EXPECT_EQ(ReadN(f, 3), (std::vector<double>{0, 0.75, 2.5}));
    f.Write(sq.data() + 4, 2);
    // 2.25 → 4 + .25·5, 3.0 → 9, 3.75 → 9 + .75·7.
    EXPECT_EQ(ReadN(f, 3), (std::vector<double>{5.25, 9, 14.25}));
    const double next[] = {36, 49}; // slots 6 and 0 of the 7-slot ring
    f.Write(next, 2);
    // 4.5 → 16 + .5·9, 5.25 → 25 + .25·11, 6.0 → 36, 6.75 → 36 + .75·13 across the wrap.
    EXPECT_EQ(ReadN(f, 4), (std::vector<double>{20.5, 27.75, 36, 45.75}));
    EXPECT_EQ(f.ReadPoint, 0.5);
    EXPECT_EQ(f.ReadIndex, 0);
}

TEST(FIFO, InterpolatingCountsKeepHalfWidthMargins)
{
    TFIFO f(64);
    SetReader(f, 1.0, 1, 7);
    const auto in = Ramp(10);
    f.Write(in.data(), 10);
    EXPECT_EQ(f.Available(), 3);
    // Capacity 64 less the 10 held and the 7 slots of the kernel's left half.
    EXPECT_EQ(f.Free(), 64 - 10 - 7);

    f.Step = 0.5;
    // Positions 0, 0.5, … 2.5, whose kernels end at slot 9 at the latest.
    EXPECT_EQ(f.Available(), 6);
    f.Step = 0.0;
    EXPECT_EQ(f.Available(), 0);
    EXPECT_EQ(ReadN(f, 1), std::vector<double>{0.0});
}

// Filled up to the slot under a fractional ReadPoint, the ring is full: no slot may be
// offered to the writer, since the reader still needs that slot and the next.
TEST(FIFO, RingFullAtFractionalReadPointOffersNoSlot)
{
    TFIFO f(9);
    SetReader(f, 0.5, 0, 0);
    const auto in = Ramp(11);
    f.Write(in.data(), f.Free());
    EXPECT_EQ(ReadN(f, 3), (std::vector<double>{1, 1.5, 2}));
    EXPECT_EQ(f.Free(), 2);
    f.Write(in.data() + 9, 2);
    EXPECT_EQ(f.WriteIndex, 1);
    EXPECT_EQ(f.Free(), 0);
    EXPECT_EQ(f.Available(), 17); // positions 1.5 … 9.5
    const auto out = ReadN(f, 17);
    EXPECT_EQ(out.front(), 2.5);
    EXPECT_EQ(out.back(), 10.5);
}

TEST(FIFO, GaussianOfConstantIsConstant)
{
    for (double step : {1.0, 0.37, 4.0}) {
        TFIFO f(160);
        SetReader(f, step, 1, 7);
        std::fill(f.Buf.begin(), f.Buf.end(), 0.625); // as if the constant ran for long
        const std::vector<double> c(160, 0.625);
        size_t got = 0;
        for (int round = 0; round < 8; ++round) { // the kernel crosses the wrap point
            f.Write(c.data(), f.Free());
            const auto out = ReadN(f, f.Available());
            for (double v : out)
                ASSERT_NEAR(v, 0.625, 1e-15) << "step " << step;
            got += out.size();
        }
        EXPECT_GT(static_cast<double>(got) * step, 320.0);
    }
}

// The recurrence for the weights must agree with evaluating every weight directly,
// including where the kernel wraps around the end of the ring.
TEST(FIFO, GaussianMatchesDirectFormula)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    struct Case {
        double step;
        int n;
        int capacity;
    };
    for (const Case c : {Case{4.0, 5, 4000}, Case{1.0, 7, 300}, Case{0.37, 7, 500}, Case{0.91875, 3, 97},
                         Case{2.5, 0, 50}, Case{3.675, 7, 1000}}) {
        TFIFO f(c.capacity);
        SetReader(f, c.step, 1, c.n);
        std::vector<double> block(static_cast<size_t>(c.capacity));
        double worst = 0;
        for (int round = 0; round < 6; ++round) {
            for (auto& v : block)
                v = u(rng);
            f.Write(block.data(), f.Free());
            const std::vector<double> ring = f.Buf;
            double p = f.ReadPoint;
            for (double v : ReadN(f, f.Available())) {
                const double want = DirectGauss(ring, p, c.step, c.n);
                worst = std::max(worst, std::fabs(v - want) / std::max(std::fabs(want), 0.01));
                p += c.step;
                if (p >= f.BufSize)
                    p -= f.BufSize;
            }
            EXPECT_EQ(f.ReadPoint, p);
        }
        EXPECT_LT(worst, 1e-12) << "step " << c.step << " half-width " << c.n;
    }
}

// At a step this large every weight exp(q d²) underflows to 0, and the plain ratio of
// sums would be 0 / 0. The reader still gives the nearest samples: at halfway positions
// the two neighbours weigh the same.
TEST(FIFO, GaussianStaysFiniteForSteepKernels)
{
    TFIFO f(4000);
    SetReader(f, 150.5, 1, 7);
    const auto in = Ramp(4000);
    f.Write(in.data(), f.Free());
    const auto out = ReadN(f, f.Available());
    ASSERT_GT(out.size(), 10u);
    for (size_t k = 0; k < out.size(); ++k)
        EXPECT_EQ(out[k], 1.0 + 150.5 * static_cast<double>(k));
}

TEST(FIFO, RandomScriptsAgreeWithStreamModel)
{
    std::mt19937 rng(2024);
    for (int run = 0; run < 2000; ++run) {
        std::vector<uint8_t> script(5 + rng() % 200);
        for (auto& b : script)
            b = static_cast<uint8_t>(rng());
        const std::string error = fifoscript::Run(script.data(), script.size());
        ASSERT_EQ(error, "") << "run " << run << " mode " << script[1] % 3;
    }
}

TEST(MChFIFO, CreationDefaultsAndCounts)
{
    TMChFIFO f(3, 100);
    EXPECT_EQ(f.Channels, 3);
    EXPECT_EQ(f.State, 0);
    EXPECT_NE(f.FIFOs[2], nullptr);
    EXPECT_EQ(f.FIFOs[3], nullptr);
    EXPECT_EQ(f.Free(), 100);
    const auto a = Ramp(10);
    f.FIFOs[0]->Write(a.data(), 10);
    f.FIFOs[1]->Write(a.data(), 4);
    f.FIFOs[2]->Write(a.data(), 7);
    EXPECT_EQ(f.Available(), 4);
    EXPECT_EQ(f.Free(), 90);

    TMChFIFO none(0, 10);
    EXPECT_EQ(none.Available(), 0);
    EXPECT_EQ(none.Free(), 0);
    EXPECT_EQ(TMChFIFO(40, 10).Channels, 16);
}

TEST(MChFIFO, PlayingAvailableOnlyWhilePlaying)
{
    TMChFIFO f(2, 50);
    const auto a = Ramp(20);
    f.WriteInterleaved(a.data(), 10, 2);
    f.State = 1;
    EXPECT_EQ(f.PlayingAvailable(), 0);
    f.State = 0;
    EXPECT_EQ(f.PlayingAvailable(), 0);
    f.State = 2;
    EXPECT_EQ(f.PlayingAvailable(), 10);
}

TEST(MChFIFO, AvailableCopiesReaderParametersIntoChannels)
{
    TMChFIFO f(2, 50);
    f.SetReader({0.5, true, 0, 2});
    f.State = 2;
    f.PlayingAvailable();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(f.FIFOs[i]->Step, 0.5);
        EXPECT_TRUE(f.FIFOs[i]->Interpolate);
        EXPECT_EQ(f.FIFOs[i]->InterpType, 0);
        EXPECT_EQ(f.FIFOs[i]->HalfWidth, 2);
        EXPECT_EQ(f.FIFOs[i]->State, 2);
    }
}

// The writer may publish a wider kernel, and count Free and Available as every step
// does, while the reader is between the channels of one block: that block's channels
// are still read with one set, so all of them consume alike; the next block takes the
// new set. A channel read with the wider kernel would find too little, give zeros
// without consuming and stay behind for good.
TEST(MChFIFO, ReaderKeepsOneParameterSetForEveryChannelOfABlock)
{
    TMChFIFO f(2, 64);
    f.State = 2;
    f.SetReader({1.0, true, 1, 2});
    const auto a = Ramp(40);
    f.WriteInterleaved(a.data(), 20, 2);
    const int32_t n = f.PlayingAvailable();
    ASSERT_EQ(n, 18);
    std::vector<double> left(static_cast<size_t>(n)), right(static_cast<size_t>(n));
    f.FIFOs[0]->Read(left.data(), n);
    f.SetReader({1.0, true, 1, 6});
    EXPECT_EQ(f.Free(), 64 - 20 - 6);
    EXPECT_EQ(f.Available(), 0);
    f.FIFOs[1]->Read(right.data(), n);
    EXPECT_EQ(f.FIFOs[1]->ReadPoint.load(), f.FIFOs[0]->ReadPoint.load());
    EXPECT_NE(right, std::vector<double>(static_cast<size_t>(n), 0.0));
    f.PlayingAvailable();
    EXPECT_EQ(f.FIFOs[1]->HalfWidth.load(), 6);
    EXPECT_EQ(f.Reader(), (TFIFOReader{1.0, true, 1, 6}));
}

TEST(MChFIFO, WriteInterleavedMapsChannels)
{
    const std::vector<double> mono{1, 2, 3};
    TMChFIFO two(2, 10);
    two.WriteInterleaved(mono.data(), 3, 1);
    EXPECT_EQ(ReadN(*two.FIFOs[0], 3), mono);
    EXPECT_EQ(ReadN(*two.FIFOs[1], 3), mono);

    const std::vector<double> three{1, 2, 3, 4, 5, 6};
    TMChFIFO dropped(2, 10);
    dropped.WriteInterleaved(three.data(), 2, 3);
    EXPECT_EQ(ReadN(*dropped.FIFOs[0], 2), (std::vector<double>{1, 4}));
    EXPECT_EQ(ReadN(*dropped.FIFOs[1], 2), (std::vector<double>{2, 5}));

    const std::vector<double> stereo{1, 2, 3, 4};
    TMChFIFO four(4, 10);
    four.WriteInterleaved(stereo.data(), 2, 2);
    EXPECT_EQ(four.Available(), 2);
    EXPECT_EQ(ReadN(*four.FIFOs[0], 2), (std::vector<double>{1, 3}));
    EXPECT_EQ(ReadN(*four.FIFOs[1], 2), (std::vector<double>{2, 4}));
    EXPECT_EQ(ReadN(*four.FIFOs[2], 2), (std::vector<double>{0, 0}));
    EXPECT_EQ(ReadN(*four.FIFOs[3], 2), (std::vector<double>{0, 0}));

    // Stereo frames across the ring's end, where each channel wraps at its own place.
    for (int shift = 0; shift < 11; ++shift) {
        TMChFIFO ring(2, 10);
        ring.FIFOs[0]->WriteZeros(shift);
        ring.FIFOs[1]->WriteZeros((shift * 7) % 11);
        ReadN(*ring.FIFOs[0], shift);
        ReadN(*ring.FIFOs[1], (shift * 7) % 11);
        const auto a = Ramp(18);
        ring.WriteInterleaved(a.data(), 9, 2);
        std::vector<double> l, r;
        for (int i = 0; i < 9; ++i) {
            l.push_back(a[2 * i]);
            r.push_back(a[2 * i + 1]);
        }
        EXPECT_EQ(ReadN(*ring.FIFOs[0], 9), l) << shift;
        EXPECT_EQ(ReadN(*ring.FIFOs[1], 9), r) << shift;
    }
}

TEST(MChFIFO, TransferLimitedByDestinationFree)
{
    TMChFIFO src(2, 20), dst(3, 5);
    const auto a = Ramp(24);
    src.WriteInterleaved(a.data(), 12, 2);
    dst.FIFOs[2]->Write(a.data(), 1); // the extra channel holds 1, so 4 frames fit
    dst.FIFOs[0]->WriteZeros(1);
    dst.FIFOs[1]->WriteZeros(1);
    src.TransferTo(dst, 100);
    EXPECT_EQ(src.Available(), 8);
    EXPECT_EQ(dst.Free(), 0);
    ReadN(*dst.FIFOs[0], 1);
    ReadN(*dst.FIFOs[1], 1);
    EXPECT_EQ(ReadN(*dst.FIFOs[0], 4), (std::vector<double>{1, 3, 5, 7}));
    EXPECT_EQ(ReadN(*dst.FIFOs[1], 4), (std::vector<double>{2, 4, 6, 8}));
    EXPECT_EQ(ReadN(*dst.FIFOs[2], 5), (std::vector<double>{1, 0, 0, 0, 0}));
}

TEST(MChFIFO, TransferUsesSourceReaderAndWrapsDestination)
{
    TMChFIFO src(1, 64), dst(1, 6);
    const auto a = Ramp(10);
    src.WriteInterleaved(a.data(), 10, 1);
    src.SetReader({0.5, true, 0, 0});
    const auto pad = Ramp(4, 100);
    dst.FIFOs[0]->Write(pad.data(), 4);
    ReadN(*dst.FIFOs[0], 4); // destination now wraps after two slots
    src.TransferTo(dst, 5);
    EXPECT_EQ(ReadN(*dst.FIFOs[0], 5), (std::vector<double>{1, 1.5, 2, 2.5, 3}));
    EXPECT_EQ(src.FIFOs[0]->ReadPoint, 2.5);
}

TEST(MChFIFO, TransferOfMissingDataGivesZerosAndConsumesNothing)
{
    TMChFIFO src(2, 20), dst(2, 20);
    const auto a = Ramp(6);
    src.WriteInterleaved(a.data(), 3, 2);
    src.TransferTo(dst, 5);
    EXPECT_EQ(src.Available(), 3);
    EXPECT_EQ(ReadN(*dst.FIFOs[0], 5), std::vector<double>(5, 0.0));
}

TEST(MChFIFO, TransferDrainsChannelsTheDestinationLacks)
{
    TMChFIFO src(2, 8), dst(1, 100);
    const auto a = Ramp(16);
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(src.Free(), 8) << "round " << round;
        src.WriteInterleaved(a.data(), 8, 2);
        src.TransferTo(dst, 8);
        EXPECT_EQ(src.FIFOs[1]->Available(), 0);
    }
    EXPECT_EQ(dst.Available(), 40);
}

// Writer thread body: the sequence 0, 1, 2, … up to `total`, in blocks of 1 … maxBlock
// samples, each bounded by Free.
void WriteCounting(TFIFO& f, int64_t total, int maxBlock, unsigned seed)
{
    std::minstd_rand rng(seed);
    std::vector<double> block(static_cast<size_t>(maxBlock));
    for (int64_t next = 0; next < total;) {
        const int64_t n = std::min<int64_t>({static_cast<int64_t>(1 + rng() % maxBlock), f.Free(), total - next});
        if (n == 0) {
            std::this_thread::yield();
            continue;
        }
        for (int64_t k = 0; k < n; ++k)
            block[static_cast<size_t>(k)] = static_cast<double>(next++);
        f.Write(block.data(), static_cast<int32_t>(n));
    }
}

// Reader side: calls check(block, n) for blocks of 1 … maxBlock available samples until
// check returns false.
template <class Check>
void ReadBlocks(TFIFO& f, int maxBlock, unsigned seed, Check check)
{
    std::minstd_rand rng(seed);
    std::vector<double> block(static_cast<size_t>(maxBlock));
    for (bool more = true; more;) {
        const int32_t n = std::min<int32_t>(1 + static_cast<int32_t>(rng() % maxBlock), f.Available());
        if (n == 0) {
            std::this_thread::yield();
            continue;
        }
        f.Read(block.data(), n);
        more = check(block.data(), n);
    }
}

// A counting sequence through a small ring, one writer thread and one reader thread:
// every sample must arrive once and in order.
TEST(FIFOThreads, PlainCountingSequence)
{
    constexpr int64_t kTotal = 3'000'000;
    TFIFO f(257);
    std::thread writer([&f] { WriteCounting(f, kTotal, 300, 1); });
    int64_t expected = 0, wrong = 0;
    ReadBlocks(f, 300, 2, [&](const double* b, int32_t n) {
        for (int32_t k = 0; k < n; ++k)
            wrong += b[k] != static_cast<double>(expected++);
        return expected < kTotal;
    });
    writer.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(f.Available(), 0);
}

// The linear reader at a fractional step over a ramp: each output must be the ramp at
// the reader's position, so no slot may be read early or overwritten late.
TEST(FIFOThreads, LinearReaderOverRamp)
{
    constexpr int64_t kInput = 1'000'000;
    constexpr double kStep = 0.6875; // exact in binary, so positions carry no rounding
    TFIFO f(101);
    SetReader(f, kStep, 0, 2);
    std::thread writer([&f] { WriteCounting(f, kInput, 120, 3); });
    double position = 0;
    int64_t wrong = 0;
    ReadBlocks(f, 150, 4, [&](const double* b, int32_t n) {
        for (int32_t k = 0; k < n; ++k, position += kStep)
            wrong += b[k] != position;
        return position < static_cast<double>(kInput) - 10;
    });
    writer.join();
    EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace marlix
