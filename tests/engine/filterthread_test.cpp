#include "dsp/fft.h"
#include "dsp/firdesign.h"
#include "dsp/firfilter.h"
#include "dsp/pluginhost.h"
#include "engine/eqdesigner.h"
#include "engine/filterthread.h"
#include "settings/livesettings.h"
#include "base/flexbuf.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <chrono>
#include <cmath>
#include <future>
#include <random>
#include <vector>

namespace marlix {
namespace {

class FilterThreadTest : public ::testing::Test {
protected:
    TSettings settings;
    TMChFIFO source{2, 1 << 17};
    std::atomic<bool> eq{false}, efx{false}, conv{false}, matrix{false}, paused{false}, eqChanged{false};

    void SetUp() override { UnloadFFTLibrary(); }

    std::unique_ptr<TFilterThread> Make(int channels, int inRate, int outRate, int factor, int upTaps = 1023)
    {
        TChainSwitches s{&eq, &efx, &conv, &matrix, &paused, &eqChanged};
        const double seconds = 0.1;
        const int capacity = static_cast<int>(std::lround(seconds * 2 * inRate * factor));
        auto f = std::make_unique<TFilterThread>(channels, capacity, source, settings, s);
        f->InRate = inRate;
        f->OutRate = outRate;
        f->UpFactor = factor;
        f->BufferSec = seconds;
        f->UpTaps = upTaps;
        f->Setup();
        f->Run();
        source.State = 2;
        return f;
    }

    std::vector<double> Noise(int n, unsigned seed)
    {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(-0.5, 0.5);
        std::vector<double> v(n);
        for (auto& x : v)
            x = u(rng);
        return v;
    }

    // Steps the thread until `frames` output frames are collected per channel.
    std::vector<std::vector<double>> Collect(TFilterThread& f, int frames)
    {
        std::vector<std::vector<double>> out(f.Channels);
        std::vector<double> buf(1 << 17);
        for (int guard = 0; static_cast<int>(out[0].size()) < frames && guard < 10000; ++guard) {
            f.Step();
            const int a = std::min(f.OutFIFO->Available(), frames - static_cast<int>(out[0].size()));
            for (int c = 0; c < f.Channels; ++c) {
                f.OutFIFO->FIFOs[c]->Read(buf.data(), a);
                out[c].insert(out[c].end(), buf.begin(), buf.begin() + a);
            }
        }
        return out;
    }
};

TEST_F(FilterThreadTest, WithEveryStageOffSamplesPassBitExact)
{
    const auto l = Noise(20000, 1), r = Noise(20000, 2);
    source.FIFOs[0]->Write(l.data(), 20000);
    source.FIFOs[1]->Write(r.data(), 20000);
    auto f = Make(2, 44100, 44100, 1);
    EXPECT_FALSE(f->Upsampling);
    const auto out = Collect(*f, 20000);
    EXPECT_EQ(out[0], l);
    EXPECT_EQ(out[1], r);
}

// A plug-in that does not return from a block: stopping the thread gives up by its
// deadline and says so, leaving the thread to the plug-in. A new chain meanwhile plays
// on past that slot, reading the hand-over the player's chains share; once the plug-in
// returns, the thread left behind ends by itself and lets go of nothing the new chain holds.
TEST_F(FilterThreadTest, StopGivesUpOnAPluginStuckInABlock)
{
    test::TempDir home;
    TPluginHost host(home.Path());
    ASSERT_TRUE(host.LoadPlugin(0, std::string(MARLIX_TEST_PLUGIN_DIR) + "recorder.aep", true));
    const auto hold = reinterpret_cast<void (*)(int32_t)>(host.Slot(0).Module.Symbol("TestHoldPostWave"));
    const auto inside = reinterpret_cast<int32_t (*)()>(host.Slot(0).Module.Symbol("TestInsidePostWave"));
    ASSERT_TRUE(hold && inside);
    const auto x = Noise(40000, 6);
    source.FIFOs[0]->Write(x.data(), 40000);
    source.FIFOs[1]->Write(x.data(), 40000);
    source.State = 2;
    efx = matrix = true;
    TLiveSettings live;
    live.PublishAll(settings);
    TChainSwitches switches{&eq, &efx, &conv, &matrix, &paused, &eqChanged};
    const auto chain = [&] {
        auto f = std::make_unique<TFilterThread>(2, 8820, source, settings, switches);
        f->BufferSec = 0.1;
        f->Plugins = &host;
        f->Live = &live;
        return f;
    };
    auto stuck = chain();
    stuck->StopTimeout = std::chrono::milliseconds(100);
    hold(1);
    stuck->Resume();
    stuck->Run();
    for (int i = 0; i < 20000 && !inside(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(inside());

    testing::internal::CaptureStderr();
    auto stopping = std::async(std::launch::async, [&] { return stuck->Terminate(); });
    const bool returned = stopping.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!returned)
        hold(0); // let a stop that waits for good finish, so the test can end
    const std::string errors = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(returned) << "the stop waited for the plug-in";
    EXPECT_FALSE(stopping.get());
    EXPECT_NE(errors.find("filter thread did not stop within 100 ms"), std::string::npos) << errors;
    stuck->Abandon();

    auto next = chain();
    next->Setup();
    next->Run();
    EXPECT_EQ(Collect(*next, 4000)[0].size(), 4000u);
    hold(0);
    stuck.reset(); // the plug-in has returned: the thread ends and is joined
    // A new routing keeps the version the new chain reads: the old thread released nothing.
    live.PublishMatrix(settings.Matrix);
    EXPECT_EQ(live.Matrix.RetiredCount(), 1u);
    next->Teardown();
}

TEST_F(FilterThreadTest, NothingMovesWhileTheDecoderIsNotPlaying)
{
    const auto l = Noise(1000, 3);
    source.FIFOs[0]->Write(l.data(), 1000);
    source.FIFOs[1]->Write(l.data(), 1000);
    auto f = Make(2, 44100, 44100, 1);
    source.State = 1;
    f->Step();
    EXPECT_EQ(f->OutFIFO->Available(), 0);
    EXPECT_EQ(source.Available(), 1000);
}

TEST_F(FilterThreadTest, PauseFeedsSilenceAndLeavesTheDecoderAlone)
{
    const auto l = Noise(1000, 4);
    source.FIFOs[0]->Write(l.data(), 1000);
    source.FIFOs[1]->Write(l.data(), 1000);
    paused = true;
    auto f = Make(2, 44100, 44100, 1);
    f->Step();
    EXPECT_GT(f->OutFIFO->Available(), 0);
    std::vector<double> out(f->OutFIFO->Available());
    f->OutFIFO->FIFOs[0]->Read(out.data(), static_cast<int>(out.size()));
    EXPECT_EQ(out, std::vector<double>(out.size(), 0.0));
    EXPECT_EQ(source.Available(), 1000);
}

TEST_F(FilterThreadTest, IntegerUpSamplingIsZeroStuffingThroughTheInterpolationFilter)
{
    const auto x = Noise(3000, 5);
    source.FIFOs[0]->Write(x.data(), 3000);
    source.FIFOs[1]->WriteZeros(3000);
    auto f = Make(2, 44100, 88200, 2, 255);
    ASSERT_TRUE(f->Upsampling);
    const auto out = Collect(*f, 5000);

    TFlexBuf taps;
    InterpolationTaps(taps, 255, 4, 44100, 88200, 2);
    const double* h = static_cast<double*>(taps.Data[0]);
    const int delay = 2 * 256;
    for (int t = 0; t < 5000; ++t) {
        double expected = 0;
        for (int j = 0; j < taps.Length; ++j) {
            const int s = t - delay - j; // index into the stuffed stream
            if (s >= 0 && s % 2 == 0 && s / 2 < 3000)
                expected += h[j] * x[s / 2];
        }
        ASSERT_NEAR(out[0][t], expected, 1e-5) << t;
        ASSERT_NEAR(out[1][t], 0.0, 1e-6) << t;
    }
    // Every block the chain stuffed kept to the pattern, so none needed the full transform.
    f->UpFilter->WaitForTransform();
    EXPECT_GE(f->UpFilter->StuffedTransforms(), 5000 / 256 - 1);
}

TEST_F(FilterThreadTest, AMonoSourceLeavesTheSecondStuffedChannelSilent)
{
    TMChFIFO mono(1, 1 << 16);
    TChainSwitches s{&eq, &efx, &conv, &matrix, &paused, &eqChanged};
    TFilterThread f(2, 1 << 16, mono, settings, s);
    f.InRate = 44100;
    f.OutRate = 88200;
    f.UpFactor = 2;
    f.UpTaps = 15;
    f.BufferSec = 0.1;
    f.Setup();
    f.Run();
    mono.State = 2;
    std::vector<double> ones(2000, 0.5);
    mono.FIFOs[0]->Write(ones.data(), 2000);
    std::vector<double> out(1 << 15);
    for (int i = 0; i < 5; ++i)
        f.Step();
    const int a = f.OutFIFO->Available();
    ASSERT_GT(a, 100);
    f.OutFIFO->FIFOs[1]->Read(out.data(), a);
    for (int i = 0; i < a; ++i)
        ASSERT_NEAR(out[i], 0.0, 1e-7) << i; // cross-talk of the shared transform only
}

TEST_F(FilterThreadTest, DownConversionKeepsFactorOneButRunsTheLowPass)
{
    auto f = Make(2, 48000, 44100, 1);
    EXPECT_TRUE(f->Upsampling);
    EXPECT_NE(f->UpFilter, nullptr);
}

TEST_F(FilterThreadTest, EqualiserStageAppliesTheDesignedCurve)
{
    settings.Filter.EQFilterTaps = 255;
    TEQ1 p;
    p.Kind = 0;
    p.Freq = 3000;
    p.Width = 1;
    p.Gain = 6;
    settings.EQ.Curve(-1).Add(p);
    eq = true;
    const auto x = Noise(4000, 6);
    source.FIFOs[0]->Write(x.data(), 4000);
    source.FIFOs[1]->Write(x.data(), 4000);
    auto f = Make(2, 44100, 44100, 1);
    const auto out = Collect(*f, 4000);
    ASSERT_NE(f->EQFilter, nullptr);
    EXPECT_FALSE(eqChanged.load());

    TFIRFilter reference(1, false, false, 1024, 255);
    settings.EQ.DesignEQ(reference, 44100, 255);
    TFlexBuf taps;
    reference.GetTaps(0, taps);
    const double* h = static_cast<double*>(taps.Data[0]);
    for (int t = 0; t < 4000; ++t) {
        double expected = 0;
        for (int j = 0; j < 256; ++j)
            if (t - 512 - j >= 0)
                expected += h[j] * x[t - 512 - j];
        ASSERT_NEAR(out[0][t], expected, 1e-5) << t;
    }
}

// The first convolver and equaliser are built beside the set-up; whether the thread
// steps or stops first, the stages end up in place or freed, and the responses the
// convolver read are let go (a version still held would stay among the retired ones).
TEST_F(FilterThreadTest, StagesBuiltAtSetUpAreTakenOrDropped)
{
    conv = true;
    eq = true;
    for (const bool step : {false, true}) {
        auto f = Make(2, 44100, 44100, 1);
        if (step) {
            f->Step();
            EXPECT_NE(f->ConvFilter, nullptr);
            ASSERT_NE(f->EQDesigner, nullptr);
            EXPECT_EQ(f->EQDesigner->RequestedVersion, f->Live->EQ.Version());
        } else {
            f->Teardown();
            EXPECT_EQ(f->ConvFilter, nullptr);
            EXPECT_EQ(f->EQFilter, nullptr);
        }
        f->Live->PublishConvolver(TConvolverSet());
        EXPECT_EQ(f->Live->Convolver.RetiredCount(), 0u) << "step " << step;
    }
}

TEST_F(FilterThreadTest, RunsOnItsOwnThreadAndStopsCleanly)
{
    const auto l = Noise(8000, 7);
    source.FIFOs[0]->Write(l.data(), 8000);
    source.FIFOs[1]->Write(l.data(), 8000);
    source.State = 2;
    TChainSwitches s{&eq, &efx, &conv, &matrix, &paused, &eqChanged};
    TFilterThread f(2, 8820, source, settings, s);
    f.BufferSec = 0.1;
    f.Resume();
    f.Run();
    for (int i = 0; i < 500 && f.OutFIFO->Available() < 4410; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(f.OutFIFO->Available(), 4410); // one buffer ahead, no more
    f.Halt();
    EXPECT_TRUE(f.Terminate());
    EXPECT_TRUE(f.Idle.load());
}

} // namespace
} // namespace marlix
