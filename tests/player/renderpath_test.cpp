// The whole render path, after a warm-up, allocates nothing: the filter thread's step
// with every stage on (effects, convolver, matrix, equaliser) and a raised rate, the
// output stage with fractional reading, HSC, automatic volume control and the spectrum
// tap, and the drivers' glue (the wave output's fill, the pro-audio render callback).
#if MARLIX_COUNTS_ALLOCATIONS
#include "bench/alloccount.h"
#endif
#include "dsp/pluginhost.h"
#include "engine/filterthread.h"
#include "engine/outputstage.h"
#include "engine/spectrumanalyser.h"
#include "engine/waveoutput.h"
#include "player/asioplayback.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace marlix {
namespace {

#if MARLIX_COUNTS_ALLOCATIONS
TEST(RenderPath, AllocatesNothingOnceRunning)
{
    setenv("MARLIX_FFT_PLANNER", "estimate", 1); // no plan measured in the background
    test::TempDir home;
    TPluginHost host(home.Path());
    ASSERT_TRUE(host.LoadPlugin(0, std::string(MARLIX_TEST_PLUGIN_DIR) + "recorder.aep", true));

    TSettings settings;
    settings.Filter.EQFilterTaps = 4095;
    settings.EQ.Curves[0].Points = {TEQ1{1000, 1, 6}};
    TConvolverSet responses;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(-0.05, 0.05);
    for (TConvolverEntry& e : responses.Conv) {
        e.HasIR = true;
        e.IRRate = 44100;
        e.IRLength = 6000;
        e.IR.resize(6000);
        for (double& v : e.IR)
            v = u(rng);
    }
    TLiveSettings live;
    live.PublishAll(settings);
    live.PublishConvolver(responses);

    std::atomic<bool> on{true}, off{false}, eqChanged{false};
    std::atomic<int> volume{0};
    TMChFIFO source(2, 1 << 17);
    source.State = 2;
    TFilterThread filter(2, 1 << 16, source, settings, {&on, &on, &on, &on, &off, &eqChanged});
    filter.InRate = 44100;
    filter.UpFactor = 2;
    filter.OutRate = 48000; // a fractional reader, Gaussian
    filter.BufferSec = 0.2;
    filter.Live = &live;
    filter.Plugins = &host;
    filter.Setup();
    filter.Run();

    TSpectrumAnalyser spectrum;
    spectrum.Setup(2, 48000);
    TOutputControls c;
    c.MasterVolume = &volume;
    c.AVC = c.HSC = &on;
    c.HSCWetOnly = c.BGMActive = c.EndOfList = &off;
    c.Spectrum = &spectrum;
    TOutputStage stage(settings, c);
    stage.Start(&filter, 48000, settings.Filter.HSCMode);
    stage.Preroll = false;
    SetRenderStage(&stage);

    TWaveOutput wave(std::vector<std::string>{"marlix_no_such_pcm"}); // renders, plays nowhere
    wave.SetBuffers(2, 1024);
    wave.SetFormat(48000, 16);
    (void)wave.OpenOutput(2);
    wave.SetRender(&RenderOutput);
    TASIOPlayback::Prepare(2, 0, 0);
    std::vector<int32_t> left(480), right(480);
    int32_t* driver[2] = {left.data(), right.data()};

    // Loud noise, so that automatic volume control acts all along.
    std::vector<double> input(2 * 2205);
    for (double& v : input)
        v = 40 * u(rng);
    const auto run = [&](int steps) {
        for (int i = 0; i < steps; ++i) {
            if (source.Free() >= 2205)
                source.WriteInterleaved(input.data(), 2205, 2);
            filter.Step();
            wave.PairData[0].FreeCount = wave.BufCount;
            wave.FillOne();
            TASIOPlayback::Render(480, 0, nullptr, 2, driver);
        }
    };
    run(300);
    ASSERT_TRUE(filter.EFXFilter && filter.ConvFilter && filter.MatrixFilter && filter.EQFilter && filter.UpFilter);
    ASSERT_TRUE(filter.OutFIFO->FIFOs[0]->Interpolate.load());
    ASSERT_NE(volume.load(), 0) << "automatic volume control never acted";

    const uint64_t before = bench::Allocations();
    run(300);
    const uint64_t made = bench::Allocations() - before;
    SetRenderStage(nullptr);
    EXPECT_EQ(made, 0u) << (bench::kCountsCAllocations ? "counting operator new and the C functions"
                                                       : "counting operator new only");
    EXPECT_NE(std::count(left.begin(), left.end(), 0), static_cast<std::ptrdiff_t>(left.size())) << "silence";
    wave.CloseOutput();
    stage.Stop();
    filter.Teardown();
}
#endif

} // namespace
} // namespace marlix
