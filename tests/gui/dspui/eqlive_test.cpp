#include "engine/decoder.h"
#include "dsp/firfilter.h"
#include "engine/filterthread.h"
#include "engine/outputstage.h"
#include "gui/dspui/equalizer.h"
#include "gui/dspui/eqpage.h"
#include "gui/paintbox.h"
#include "gui/player/windowtest.h"
#include "player/outputchain.h"
#include "player/playerstate.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace marlix {
namespace {

// Music plays through the equaliser while the user drags an EQ point in the DSP window:
// up to the switch the output is the old curve's filter on the input, after it the new
// curve's, gliding from one to the other over the FIR's crossfade, and the output never
// falls silent in between.
TEST(DSPWindowLive, DraggingAPointGlidesToTheNewCurveWithoutAGap)
{
    constexpr int kRate = 44100, kBlock = 256, kTaps = 1023;
    test::TempDir folder;
    TSettings settings(folder.Path());
    settings.Filter.EQFilterTaps = kTaps;
    settings.EQ.Curve(-1).Add({0, 1000, 1, 0, 9});
    TPlayerState state;
    TFo_Decoder decoder;
    TOutputChain chain(settings, state, decoder);
    TFo_Equalizer window({settings, state, chain, decoder, nullptr, folder.Path()});
    window.resize(640, 420);
    window.show();
    QApplication::processEvents();

    TMChFIFO source(2, 1 << 18);
    std::atomic<bool> on{true}, off{false};
    std::atomic<int> volume{0};
    TChainSwitches switches{&on, &off, &off, &off, &off, &chain.EQChanged};
    TFilterThread filter(2, 1 << 16, source, settings, switches);
    filter.InRate = filter.OutRate = kRate;
    filter.BufferSec = 0.1;
    chain.Live.PublishAll(settings);
    filter.Live = &chain.Live;
    TOutputControls controls;
    controls.MasterVolume = &volume;
    controls.AVC = controls.HSC = controls.HSCWetOnly = controls.BGMActive = controls.EndOfList = &off;
    TOutputStage stage(settings, controls);
    stage.Start(&filter, kRate, 2);
    stage.Preroll = false;
    filter.Setup();
    filter.Run();
    source.State = 2;

    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-0.1, 0.1);
    std::vector<double> x(1 << 17);
    for (double& v : x)
        v = u(rng);
    int fed = 0;
    std::vector<int32_t> out, right(kBlock), left(kBlock);
    int32_t* outs[2] = {left.data(), right.data()};
    auto turn = [&] {
        if (source.Available() < 8192 && fed < static_cast<int>(x.size())) {
            const int n = std::min(4096, static_cast<int>(x.size()) - fed);
            for (int c = 0; c < 2; ++c)
                source.FIFOs[c]->Write(x.data() + fed, n);
            fed += n;
        }
        filter.Step();
        while (filter.OutFIFO->Available() >= kBlock) {
            stage.Render(outs, kBlock, 2);
            out.insert(out.end(), left.begin(), left.end());
        }
    };
    while (out.size() < x.size() / 2)
        turn();

    const TEQCurves before = settings.EQ.Curves;
    TPaintBox* box = window.Equalizer->PB_EQPaint;
    const QPoint marker = window.Equalizer->Graph.MarkerCentre(settings.EQ.Curve(-1)[0]);
    test::SendMouse(box, QEvent::MouseMove, marker, Qt::NoButton);
    test::SendMouse(box, QEvent::MouseButtonPress, marker);
    test::SendMouse(box, QEvent::MouseMove, marker + QPoint(60, 400));
    test::SendMouse(box, QEvent::MouseButtonRelease, marker + QPoint(60, 400));
    const TEQCurves after = settings.EQ.Curves;
    ASSERT_NE(before, after);
    ASSERT_LT(after[0][0].Gain, 0);

    for (int guard = 0; filter.EQFilter->Switches() < 1 && guard < 20000; ++guard) {
        turn();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(filter.EQFilter->Switches(), 1);
    const int switchAt = static_cast<int>(filter.EQFilter->SwitchedAt());
    while (fed < static_cast<int>(x.size()) || source.Available() > 0)
        turn();
    const int fade = filter.EQFilter->CrossfadeLength();
    ASSERT_GE(fade, kRate / 200); // at least 5 ms
    stage.Stop();
    filter.Teardown();

    TFlexBuf oldTaps, newTaps;
    DesignEQTaps(before, 0, kRate, kTaps, oldTaps);
    DesignEQTaps(after, 0, kRate, kTaps, newTaps);
    auto filtered = [&](const TFlexBuf& design, int i0) {
        const auto* taps = static_cast<const double*>(design.Data[0]);
        double y = 0;
        for (int j = 0; j < kTaps && j <= i0; ++j)
            y += taps[j] * x[static_cast<size_t>(i0 - j)];
        return y;
    };
    auto expected = [&](int i0) {
        const double g = i0 < switchAt ? 0.0
                         : i0 >= switchAt + fade ? 1.0
                                                 : 0.5 - 0.5 * std::cos(M_PI * (i0 - switchAt + 0.5) / fade);
        return (g < 1 ? (1 - g) * filtered(oldTaps, i0) : 0.0) + (g > 0 ? g * filtered(newTaps, i0) : 0.0);
    };
    // The pipeline's latency: the lag at which the output is the filtered input.
    int lag = -1;
    for (int l = 0; l < 8192 && lag < 0; ++l) {
        bool match = true;
        for (int t = 3000; t < 3040 && match; t += 7)
            match = std::abs(out[static_cast<size_t>(t + l)] / 2147483648.0 - expected(t)) < 2e-6;
        if (match)
            lag = l;
    }
    ASSERT_GE(lag, 0);
    ASSERT_GT(switchAt, kTaps);
    for (int i = kTaps; i + lag < static_cast<int>(out.size()) && i < static_cast<int>(x.size()); i += 13)
        ASSERT_NEAR(out[static_cast<size_t>(i + lag)] / 2147483648.0, expected(i), 2e-6) << i << " switch " << switchAt;

    int run = 0, longest = 0;
    for (int t = lag; t < lag + static_cast<int>(x.size()) && t < static_cast<int>(out.size()); ++t) {
        run = out[static_cast<size_t>(t)] == 0 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LT(longest, kBlock);
}

} // namespace
} // namespace marlix
