#include "dsp/firfilter.h"
#include "engine/eqdesigner.h"
#include "engine/filterthread.h"
#include "engine/outputstage.h"
#include "settings/settings.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace marlix {
namespace {

TEQ1 Peak(double freq, double gain)
{
    TEQ1 p;
    p.Freq = freq;
    p.Width = 1;
    p.Gain = gain;
    return p;
}

std::vector<double> Noise(int n, unsigned seed, double amplitude)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-amplitude, amplitude);
    std::vector<double> v(static_cast<size_t>(n));
    for (auto& x : v)
        x = u(rng);
    return v;
}

// A filter thread clocked by its own loop (as Resume would, but keeping its stages for
// inspection) and a device-like thread that renders the output stage in small blocks.
class HandOverTest : public ::testing::Test {
protected:
    static constexpr int kRate = 44100;
    static constexpr int kBlock = 256;
    TSettings settings;
    TLiveSettings live;
    TMChFIFO source{2, 1 << 18};
    std::atomic<bool> eq{true}, efx{true}, conv{false}, matrix{true}, paused{false}, eqChanged{false};
    std::atomic<int> volume{0};
    std::atomic<bool> off{false};
    std::unique_ptr<TFilterThread> filter;
    std::unique_ptr<TOutputStage> stage;
    std::atomic<bool> stop{false};
    std::atomic<int> rendered{0};
    std::vector<int32_t> output; // the device's channel 0
    std::thread loop, device;
    std::chrono::milliseconds pace{0}; // between the device's blocks

    void Start(int outRate, bool feedNoise)
    {
        TChainSwitches switches{&eq, &efx, &conv, &matrix, &paused, &eqChanged};
        filter = std::make_unique<TFilterThread>(2, 1 << 16, source, settings, switches);
        filter->InRate = kRate;
        filter->OutRate = outRate;
        filter->BufferSec = 0.1;
        live.PublishAll(settings);
        filter->Live = &live;
        TOutputControls c;
        c.MasterVolume = &volume;
        c.AVC = c.HSC = c.HSCWetOnly = c.BGMActive = c.EndOfList = &off;
        stage = std::make_unique<TOutputStage>(settings, c);
        stage->Start(filter.get(), outRate, 2);
        stage->Preroll = false;
        filter->Setup();
        filter->Run();
        source.State = 2;
        loop = std::thread([this] {
            while (!stop.load()) {
                filter->Step();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        device = std::thread([this, feedNoise] { Device(feedNoise); });
    }

    // Renders a block whenever the filter's FIFO holds one, so a block of zeros can only
    // come from the stage muting; with `feedNoise` it also keeps the source topped up.
    void Device(bool feedNoise)
    {
        std::vector<int32_t> left(kBlock), right(kBlock);
        int32_t* outs[2] = {left.data(), right.data()};
        const auto noise = Noise(4096, 9, 0.1);
        while (!stop.load()) {
            if (feedNoise && source.Free() >= 4096)
                for (int c = 0; c < 2; ++c)
                    source.FIFOs[c]->Write(noise.data(), 4096);
            if (filter->OutFIFO->Available() < kBlock) {
                std::this_thread::yield();
                continue;
            }
            stage->Render(outs, kBlock, 2);
            if (!feedNoise)
                output.insert(output.end(), left.begin(), left.end());
            rendered.fetch_add(kBlock);
            std::this_thread::sleep_for(pace);
        }
    }

    void WaitRendered(int frames)
    {
        for (int guard = 0; rendered.load() < frames && guard < 20000; ++guard)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GE(rendered.load(), frames);
    }

    void Stop()
    {
        stop = true;
        if (device.joinable())
            device.join();
        if (loop.joinable())
            loop.join();
        stage->Stop();
    }

    void TearDown() override
    {
        Stop();
        filter->Teardown();
    }
};

// Redesigns while playing: the device, rendering at its own pace, never gets a muted
// block, and the output is each curve's filter on the whole input, gliding from one to
// the next (a raised cosine over the FIR's crossfade) where each switch began. The test
// feeds the input as it plays, so a slow design never finds it used up.
TEST_F(HandOverTest, EQRedesignsPlayOnWithoutAGapAndGlideFromCurveToCurve)
{
    const int taps = 16383, n = 16384, chunk = 16 * kBlock;
    settings.Filter.EQFilterTaps = taps;
    matrix = false;
    efx = false;
    std::vector<TEQCurves> curves(4);
    curves[0][0].Points = {Peak(1000, 6)};
    curves[1][0].Points = {Peak(4000, -6), Peak(200, 3), Peak(9000, 4)};
    curves[2][1].Points = {Peak(300, -4)}; // channel 0's own curve
    curves[3][0].Points = {Peak(2500, 5)};
    settings.EQ.Curves = curves[0];
    const auto x = Noise(1 << 20, 5, 0.1);
    int fed = 0;
    const auto feedUntil = [&](auto done) {
        for (int guard = 0; !done() && guard < 60000; ++guard) {
            if (source.Available() < 2 * chunk && fed + chunk <= static_cast<int>(x.size())) {
                for (int c = 0; c < 2; ++c)
                    source.FIFOs[c]->Write(x.data() + fed, chunk);
                fed += chunk;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    };
    pace = std::chrono::milliseconds(2);
    Start(kRate, false);

    std::vector<int> switches{0};
    for (int k = 1; k < 4; ++k) {
        const int target = rendered.load() + 3 * n / 2;
        ASSERT_TRUE(feedUntil([&] { return rendered.load() >= target; }));
        settings.EQ.Curves = curves[static_cast<size_t>(k)];
        live.PublishEQ(settings.EQ);
        ASSERT_TRUE(feedUntil([&] { return filter->EQFilter->Switches() == k; }));
        switches.push_back(static_cast<int>(filter->EQFilter->SwitchedAt()));
        ASSERT_GT(switches[static_cast<size_t>(k)], switches[static_cast<size_t>(k) - 1]);
    }
    for (int c = 0; c < 2; ++c)
        source.FIFOs[c]->WriteZeros(2 * n); // pushes the last input through the delay
    const int frames = fed;
    WaitRendered(2 * n + frames);
    Stop();

    // After the filter's delay, no run of silence: a muted block would be 256 zeros.
    int run = 0, longest = 0;
    for (int t = 2 * n; t < 2 * n + frames; ++t) {
        run = output[static_cast<size_t>(t)] == 0 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LT(longest, 8);

    std::vector<TFlexBuf> designs(4);
    for (size_t k = 0; k < 4; ++k)
        DesignEQTaps(curves[k], 0, kRate, taps, designs[k]);
    const auto filtered = [&](size_t k, int t) {
        double y = 0;
        for (int j = 0; j < taps; ++j)
            if (t - j >= 0 && t - j < frames)
                y += static_cast<const double*>(designs[k].Data[0])[j] * x[static_cast<size_t>(t - j)];
        return y;
    };
    const int fade = filter->EQFilter->CrossfadeLength();
    ASSERT_GE(fade, kRate / 200); // at least 5 ms
    for (int t = 0; t < frames; t += 97) {
        const size_t k = static_cast<size_t>(std::upper_bound(switches.begin() + 1, switches.end(), t) - switches.begin() - 1);
        double expected = filtered(k, t);
        if (k > 0 && t - switches[k] < fade) {
            const double g = 0.5 - 0.5 * std::cos(M_PI * (t - switches[k] + 0.5) / fade);
            expected = (1 - g) * filtered(k - 1, t) + g * expected;
        }
        ASSERT_NEAR(output[static_cast<size_t>(t + 2 * n)] / 2147483648.0, expected, 2e-6) << t;
    }
}

// What a window does many times a second: EQ points, matrix, responses, trims,
// polarity, delay, effect switches, BGM volume and the resampler's kernel.
void Edit(TSettings& settings, TLiveSettings& live, TConvolverSet& responses, std::atomic<bool>& eqChanged, int i)
{
    const size_t k = static_cast<size_t>(i % 2);
    TEQ& curve = settings.EQ.Curves[static_cast<size_t>(i % 3)];
    curve.Points.resize(static_cast<size_t>(i % 7)); // grows and shrinks: reallocates
    for (size_t p = 0; p < curve.Points.size(); ++p)
        curve.Points[p] = Peak(100.0 * static_cast<double>(p + 1 + i % 13), i % 12 - 6.0);
    live.PublishEQ(settings.EQ);
    settings.Matrix.bONOFF[0][1] = i % 2 == 0;
    settings.Matrix.fLevel[0][0] = -(i % 40);
    settings.Matrix.bInv[1][1] = i % 3 == 0;
    live.PublishMatrix(settings.Matrix);
    if (i % 25 == 0) {
        TConvolverEntry& e = responses.Conv[k];
        e.HasIR = true;
        e.IRRate = 44100;
        e.IRLength = 64 + i;
        e.IR = Noise(e.IRLength, static_cast<unsigned>(i), 0.5);
        live.PublishConvolver(responses);
    }
    settings.Output.fLevel[k] = -(i % 60);
    settings.Output.bInvPhase[k] = i % 3 == 0;
    settings.Output.fDelay[k] = i % 10;
    settings.EFX.Slots[static_cast<size_t>(i % kEFXSlotCount)].On = i % 2 == 0;
    settings.Function.BGMVolume = -(i % 30);
    settings.ReSampler.RFType = i % 2;
    settings.ReSampler.nRFFilterTaps = 5 + 2 * (i % 4);
    if (i % 50 == 0)
        eqChanged = true;
}

// Edits from the main thread while the filter and device threads play. Under
// ThreadSanitizer any unsynchronised access fails the test.
TEST_F(HandOverTest, EditsWhilePlayingAreHandedOverSafely)
{
    settings.Filter.EQFilterTaps = 1023;
    conv = true;
    Start(48000, true); // a fractional rate: the device reads the resampler's parameters
    std::mt19937 rng(3);
    TConvolverSet responses;
    for (int i = 0; i < 300; ++i) {
        Edit(settings, live, responses, eqChanged, i);
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(rng() % 4)));
    }
    const int played = rendered.load();
    WaitRendered(played + 4 * kBlock);
    Stop();
    EXPECT_GT(played, 0);
    // Kernel edits never put the channels out of step: both were written and read alike.
    const TMChFIFO& out = *filter->OutFIFO;
    EXPECT_EQ(out.FIFOs[0]->WriteIndex.load(), out.FIFOs[1]->WriteIndex.load());
    EXPECT_EQ(out.FIFOs[0]->ReadPoint.load(), out.FIFOs[1]->ReadPoint.load());
    // The writer keeps at most the version a reader still holds.
    EXPECT_LE(live.EQ.RetiredCount(), 1u);
    EXPECT_LE(live.Matrix.RetiredCount(), 1u);
    EXPECT_LE(live.Convolver.RetiredCount(), 1u);
}

// The same edits from an editor thread while one thread clocks the filter and renders
// in turn, as the offline render does.
TEST_F(HandOverTest, EditsWhileRenderingAreHandedOverSafely)
{
    settings.Filter.EQFilterTaps = 1023;
    conv = true;
    TChainSwitches switches{&eq, &efx, &conv, &matrix, &paused, &eqChanged};
    filter = std::make_unique<TFilterThread>(2, 1 << 16, source, settings, switches);
    filter->OutRate = 48000;
    filter->BufferSec = 0.1;
    live.PublishAll(settings);
    filter->Live = &live;
    TOutputControls c;
    c.MasterVolume = &volume;
    c.AVC = c.HSC = c.HSCWetOnly = c.BGMActive = c.EndOfList = &off;
    stage = std::make_unique<TOutputStage>(settings, c);
    stage->Start(filter.get(), 48000, 2);
    stage->Preroll = false;
    filter->Setup();
    filter->Run();
    source.State = 2;

    std::atomic<bool> editing{true};
    std::thread editor([&] {
        TConvolverSet responses;
        for (int i = 0; i < 300; ++i) {
            Edit(settings, live, responses, eqChanged, i);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        editing = false;
    });
    const auto noise = Noise(4096, 9, 0.1);
    std::vector<int32_t> left(kBlock), right(kBlock);
    int32_t* outs[2] = {left.data(), right.data()};
    int64_t energy = 0;
    while (editing.load()) {
        if (source.Free() >= 4096)
            for (int ch = 0; ch < 2; ++ch)
                source.FIFOs[ch]->Write(noise.data(), 4096);
        filter->Step();
        while (filter->OutFIFO->Available() >= kBlock) {
            stage->Render(outs, kBlock, 2);
            energy += std::abs(static_cast<int64_t>(left[0] / 65536));
        }
    }
    editor.join();
    EXPECT_GT(energy, 0);
    EXPECT_LE(live.EQ.RetiredCount(), 1u);
}

} // namespace
} // namespace marlix
