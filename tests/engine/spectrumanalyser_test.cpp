#include "base/fifo.h"
#include "base/mainthread.h"
#if MARLIX_COUNTS_ALLOCATIONS
#include "bench/alloccount.h"
#endif
#include "engine/filterthread.h"
#include "engine/outputstage.h"
#include "engine/spectrumanalyser.h"
#include "settings/settings.h"

#include <gtest/gtest.h>
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <thread>
#include <vector>

namespace marlix {
namespace {

constexpr int kN = 512;
constexpr int kRate = 48000;

double Db(double v) { return 6 * std::log2(v); }

std::vector<double> Signal(const std::function<double(int)>& f)
{
    std::vector<double> x(kN);
    for (int i = 0; i < kN; ++i)
        x[i] = f(i);
    return x;
}

// Magnitudes the analyser should show for one channel: a direct DFT of the
// Hann-windowed block, scaled so that a full-scale sine reads 1.
std::vector<double> DirectSpectrum(const std::vector<double>& x)
{
    std::vector<double> out(kN / 2 + 1);
    for (int k = 0; k <= kN / 2; ++k) {
        std::complex<double> sum;
        for (int i = 0; i < kN; ++i) {
            const double w = 0.5 + 0.5 * std::cos((i - (kN - 1) / 2.0) * 2 * std::numbers::pi / (kN + 1));
            sum += w * x[i] * std::polar(1.0, -2 * std::numbers::pi * i * k / kN);
        }
        out[k] = 4 * std::abs(sum) / kN;
    }
    return out;
}

void TapBlock(TSpectrumAnalyser& a, const std::vector<std::vector<double>>& channels)
{
    const int frames = static_cast<int>(channels[0].size());
    ASSERT_TRUE(a.BeginTap(frames));
    for (size_t c = 0; c < channels.size(); ++c)
        a.Tap(static_cast<int>(c), channels[c].data(), frames);
    a.EndTap();
}

TEST(SpectrumAnalyserTest, MatchesADirectTransformForEveryChannelPairing)
{
    const auto sine = [](double bin, double amp) {
        return Signal([=](int i) { return amp * std::sin(2 * std::numbers::pi * bin * i / kN); });
    };
    struct TCase {
        const char* name;
        std::vector<std::vector<double>> channels;
    };
    const std::vector<TCase> cases = {
        {"stereo", {sine(32, 1.0), sine(100.5, 0.25)}},
        // DC in the second channel of a pair must not leak into the first.
        {"dc beside a sine", {sine(7, 0.5), Signal([](int) { return 0.75; })}},
        {"three channels, the third alone", {sine(3, 0.1), sine(200, 0.9), Signal([](int i) { return (i % 7) / 7.0 - 0.4; })}},
        {"mono", {sine(255, 1.0)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSpectrumAnalyser a;
        a.Setup(static_cast<int>(c.channels.size()), kRate, kN);
        TapBlock(a, c.channels);
        a.Pass(1000);
        EXPECT_TRUE(a.TakeNewData());
        EXPECT_EQ(a.Transforms(), (c.channels.size() + 1) / 2);
        for (size_t ch = 0; ch < c.channels.size(); ++ch) {
            const auto expected = DirectSpectrum(c.channels[ch]);
            const auto got = a.Spectrum(static_cast<int>(ch));
            for (int k = 0; k <= kN / 2; ++k)
                ASSERT_NEAR(got[k], expected[k], 1e-7) << "channel " << ch << " bin " << k;
        }
    }
}

// The main thread's pass may run while the driver thread is between the channels of a
// tap. Fed the same blocks on both channels, the two must show the same spectrum after
// every pass: one channel read a block behind would show another moment for good.
TEST(SpectrumAnalyserTest, APassBetweenTheChannelsOfATapKeepsThemInStep)
{
    const auto block = [](double bin) {
        return Signal([=](int i) { return 0.5 * std::sin(2 * std::numbers::pi * bin * i / kN); });
    };
    const auto expectSame = [](const TSpectrumAnalyser& a, const char* when) {
        for (int k = 0; k <= kN / 2; ++k)
            ASSERT_NEAR(a.Spectrum(0)[k], a.Spectrum(1)[k], 1e-6) << when << ", bin " << k;
    };
    TSpectrumAnalyser a;
    a.Setup(2, kRate, kN);
    TapBlock(a, {block(10), block(10)});
    const auto b1 = block(40);
    ASSERT_TRUE(a.BeginTap(kN));
    a.Tap(0, b1.data(), kN);
    a.Pass(1000);
    a.Tap(1, b1.data(), kN);
    a.EndTap();
    expectSame(a, "pass during the tap");
    a.Pass(1010);
    expectSame(a, "the next pass");
    for (int k = 0; k < 3; ++k) {
        TapBlock(a, {block(90 + 30 * k), block(90 + 30 * k)});
        a.Pass(1020 + 10 * k);
        expectSame(a, "later blocks");
    }
    EXPECT_GE(a.Transforms(), 4u);
}

// Blocks that arrive between two passes are all analysed: a loud tone in an earlier block
// is not lost to a quiet later one. Each level matches its direct transform.
TEST(SpectrumAnalyserTest, APassAnalysesEveryBlockWaiting)
{
    const auto tone = [](double bin, double amplitude) {
        return Signal([=](int i) { return amplitude * std::sin(2 * std::numbers::pi * bin * i / kN); });
    };
    TSpectrumAnalyser a;
    a.Setup(2, kRate, kN);
    const auto loud = tone(10, 0.5), quiet = tone(40, 0.01);
    TapBlock(a, {loud, loud});
    TapBlock(a, {quiet, quiet});
    a.Pass(1000);
    const auto first = DirectSpectrum(loud), second = DirectSpectrum(quiet);
    for (int c = 0; c < 2; ++c)
        for (const int k : {10, 40}) {
            const double louder = std::max(first[k], second[k]);
            EXPECT_NEAR(a.Spectrum(c)[k], louder, 1e-7) << "channel " << c << ", bin " << k;
            EXPECT_NEAR(a.Peak(c)[k], louder, 1e-7) << "channel " << c << ", bin " << k;
        }
}

// A stage over a filter thread whose output FIFO the test fills, tapping into an analyser.
class SpectrumTapTest : public ::testing::Test {
protected:
    TSettings settings;
    TMChFIFO decoderFifo{2, 1024};
    std::atomic<int> volume{0};
    std::unique_ptr<TFilterThread> filter;
    TSpectrumAnalyser analyser;
    std::unique_ptr<TOutputStage> stage;
    std::vector<int32_t> left = std::vector<int32_t>(kN), right = std::vector<int32_t>(kN);
    const std::vector<double> sine = Signal([](int i) { return std::sin(2 * std::numbers::pi * 32 * i / kN); });

    void SetUp() override
    {
        filter = std::make_unique<TFilterThread>(2, 1 << 16, decoderFifo, settings, TChainSwitches{});
        TOutputControls c;
        c.MasterVolume = &volume;
        c.Spectrum = &analyser;
        stage = std::make_unique<TOutputStage>(settings, c);
        stage->Start(filter.get(), kRate, 2);
        stage->Preroll = false;
    }

    // Plays one block of a full-scale sine at the centre of bin 32 in both channels.
    void PlaySine()
    {
        filter->OutFIFO->FIFOs[0]->Write(sine.data(), kN);
        filter->OutFIFO->FIFOs[1]->Write(sine.data(), kN);
        filter->OutFIFO->State = 2;
        int32_t* out[2] = {left.data(), right.data()};
        stage->Render(out, kN, 2);
    }
};

TEST_F(SpectrumTapTest, SineReadsZeroDbHoldsItsPeakFiveSecondsAndFalls24DbPerSecond)
{
    PlaySine();
    analyser.Update(true);
    ASSERT_TRUE(analyser.Active());
    PlaySine();
    analyser.Pass(0);
    ASSERT_EQ(analyser.Transforms(), 1u);
    for (int c = 0; c < 2; ++c)
        EXPECT_NEAR(Db(analyser.Spectrum(c)[32]), 0.0, 0.5);
    const double start = analyser.Spectrum(0)[32];
    const double peak = analyser.Peak(0)[32];

    for (int t = 50; t <= 1000; t += 50)
        analyser.Pass(t);
    EXPECT_NEAR(Db(analyser.Spectrum(0)[32]) - Db(start), -24.0, 0.01);
    for (int t = 1050; t <= 5000; t += 50)
        analyser.Pass(t);
    EXPECT_EQ(analyser.Peak(0)[32], peak);
    for (int t = 5050; t <= 5500; t += 50)
        analyser.Pass(t);
    EXPECT_LT(analyser.Peak(0)[32], peak);
    // A pass long after the previous one applies no decay.
    const double held = analyser.Peak(0)[32];
    analyser.Pass(9000);
    EXPECT_EQ(analyser.Peak(0)[32], held);

    // Once the output has stopped, the analyser stays until its display has fallen out of
    // sight (below -192 dB), then goes.
    stage->Stop();
    analyser.Update(true);
    EXPECT_TRUE(analyser.Active()) << "the peak still shows";
    int64_t t = 9000;
    while (Db(analyser.Peak(0)[32]) > -190)
        analyser.Pass(t += 50);
    analyser.Update(true);
    EXPECT_TRUE(analyser.Active());
    for (int i = 0; i < 20; ++i)
        analyser.Pass(t += 50);
    analyser.Update(true);
    EXPECT_FALSE(analyser.Active());
}

TEST_F(SpectrumTapTest, HiddenAnalyserNeitherCopiesNorTransforms)
{
    PlaySine();
    analyser.Update(false);
    for (int t = 0; t < 10; ++t) {
        PlaySine();
        analyser.Pass(t * 10);
    }
    EXPECT_FALSE(analyser.Active());
    EXPECT_EQ(analyser.Transforms(), 0u);

    analyser.Update(true);
    PlaySine();
    analyser.Pass(200);
    EXPECT_EQ(analyser.Transforms(), 1u);

    analyser.Update(false);
    PlaySine();
    analyser.Pass(210);
    EXPECT_EQ(analyser.Transforms(), 1u);
}

TEST_F(SpectrumTapTest, TapAllocatesNothingAndDropsWhenFull)
{
    PlaySine();
    analyser.Update(true);
    PlaySine(); // first use of every code path
#if MARLIX_COUNTS_ALLOCATIONS
    const uint64_t before = bench::Allocations();
#endif
    for (int i = 0; i < 40; ++i) // more than the analyser's FIFO holds, with no pass between
        PlaySine();
#if MARLIX_COUNTS_ALLOCATIONS
    EXPECT_EQ(bench::Allocations(), before);
#endif
    analyser.Pass(0);
    EXPECT_GT(analyser.Transforms(), 1u) << "every block held is analysed";
    EXPECT_LT(analyser.Transforms(), 40u) << "blocks beyond the FIFO's room were dropped";
    EXPECT_NEAR(Db(analyser.Spectrum(1)[32]), 0.0, 0.5);
}

TEST(SpectrumAnalyserTest, PacingThreadRunsPassesAndStopsWhileItWaits)
{
    TMainThread& main = TMainThread::Instance();
    main.SetMainThread(std::this_thread::get_id());
    TSpectrumAnalyser a(&main);
    a.Setup(2, kRate, kN);
    // Nothing to show and nothing falling: the main thread is left alone.
    int passes = 0;
    for (int i = 0; i < 100; ++i) {
        passes += main.Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(passes, 0);
    TapBlock(a, {Signal([](int i) { return std::sin(i * 0.3); }), Signal([](int) { return 0.0; })});
    for (int i = 0; i < 5000 && a.Transforms() == 0; ++i) {
        main.Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(a.TakeNewData());
    a.Teardown();
    EXPECT_FALSE(a.Active());
    EXPECT_EQ(main.Pump(), 0);
}

} // namespace
} // namespace marlix
