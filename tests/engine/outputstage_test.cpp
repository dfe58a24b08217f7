#include "engine/filterthread.h"
#include "engine/outputstage.h"
#include "settings/settings.h"

#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

namespace marlix {
namespace {

// A stage over a filter thread whose output FIFO the test fills by hand.
class OutputStageTest : public ::testing::Test {
protected:
    TSettings settings;
    TMChFIFO decoderFifo{2, 1024};
    std::atomic<int> volume{0};
    std::atomic<bool> avc{false}, hsc{false}, wet{false}, bgm{false}, endOfList{false}, finished{false}, tail{false};
    std::unique_ptr<TFilterThread> filter;
    std::unique_ptr<TOutputStage> stage;

    void SetUp() override
    {
        filter = std::make_unique<TFilterThread>(2, 1 << 16, decoderFifo, settings, TChainSwitches{});
        filter->BufferSec = 0.01;
        TOutputControls c;
        c.MasterVolume = &volume;
        c.AVC = &avc;
        c.HSC = &hsc;
        c.HSCWetOnly = &wet;
        c.BGMActive = &bgm;
        c.EndOfList = &endOfList;
        c.Finished = &finished;
        c.TailActive = &tail;
        stage = std::make_unique<TOutputStage>(settings, c);
        stage->Start(filter.get(), 48000, 2);
        stage->Preroll = false;
    }

    void Feed(const std::vector<double>& left, const std::vector<double>& right)
    {
        filter->OutFIFO->FIFOs[0]->Write(left.data(), static_cast<int>(left.size()));
        filter->OutFIFO->FIFOs[1]->Write(right.data(), static_cast<int>(right.size()));
    }

    std::vector<std::vector<int32_t>> Render(int frames)
    {
        std::vector<std::vector<int32_t>> out(2, std::vector<int32_t>(frames, 12345));
        int32_t* ptrs[2] = {out[0].data(), out[1].data()};
        stage->Render(ptrs, frames, 2);
        return out;
    }
};

TEST_F(OutputStageTest, FullScaleClipsToTheIntegerRange)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Feed({1.0, -1.0, -1.5, 0.5, 2.0, nan}, {0.25, 0, 0, 0, 0, 0});
    const auto out = Render(6);
    EXPECT_EQ(out[0], (std::vector<int32_t>{2147483647, -2147483647 - 1, -2147483647 - 1, 1073741824, 2147483647, 0}));
    EXPECT_EQ(out[1][0], 536870912);

    // Eight at once take the wide path where there is one: the same clipping, NaN as 0,
    // and halves rounded to even.
    const double inf = std::numeric_limits<double>::infinity(), lsb = std::ldexp(1.0, -31);
    Feed({nan, inf, -inf, 0.5 * lsb, 1.5 * lsb, -2.5 * lsb, 1 - lsb, -1 - lsb}, std::vector<double>(8, 0.0));
    EXPECT_EQ(Render(8)[0], (std::vector<int32_t>{0, 2147483647, -2147483647 - 1, 0, 2, -2, 2147483647,
                                                  -2147483647 - 1}));
}

// The first block takes the gains at once; later changes glide there over 10 ms (480
// frames at 48 kHz), a polarity flip passing through zero.
TEST_F(OutputStageTest, VolumeTrimAndPolarity)
{
    volume = -60; // exactly one half
    settings.Output.fLevel[1] = -60;
    settings.Output.bInvPhase[1] = true;
    Feed({0.5, 0.25}, {0.5, 0.25});
    auto out = Render(2);
    EXPECT_EQ(out[0], (std::vector<int32_t>{536870912, 268435456}));
    EXPECT_EQ(out[1], (std::vector<int32_t>{-268435456, -134217728}));

    volume = -360; // 1/64
    settings.Output.fLevel[1] = 0;
    settings.Output.bInvPhase[1] = false;
    Feed(std::vector<double>(600, 1.0), std::vector<double>(600, 0.5));
    out = Render(600);
    for (int i = 0; i < 480; ++i) {
        const double a = (i + 1) / 480.0;
        EXPECT_NEAR(out[0][i], (0.5 + a * (1.0 / 64 - 0.5)) * 2147483648.0, 2) << i;
        EXPECT_NEAR(out[1][i], (-0.125 + a * (1.0 / 128 + 0.125)) * 2147483648.0, 2) << i;
    }
    EXPECT_EQ(out[0][599], 33554432);
    EXPECT_EQ(out[1][599], 16777216);
}

TEST_F(OutputStageTest, BackgroundMusicLowersTheGain)
{
    bgm = true;
    settings.Function.BGMVolume = -12; // a quarter
    Feed({0.5}, {0.5});
    EXPECT_EQ(Render(1)[0][0], 268435456);
}

TEST_F(OutputStageTest, AutomaticVolumeControlLowersTheMasterVolumeAndClipsTheBlock)
{
    avc = true;
    Feed({2.0, 0.5}, {0.25, 0.5});
    const auto out = Render(2);
    EXPECT_EQ(volume.load(), -60);
    EXPECT_EQ(out[0][0], 2147483647); // this block itself is not rescaled
    EXPECT_EQ(out[1][0], 268435456);  // the next channel already plays at the new volume
    EXPECT_EQ(volume.load(), -60);

    volume = -350;
    Feed({128.0}, {0.0}); // 2.24 after the gain: −70 would pass the floor
    Render(1);
    EXPECT_EQ(volume.load(), -360);

    // The loudest sample counts wherever it lies in the block; NaN counts for nothing.
    for (int at = 0; at < 11; ++at) {
        std::vector<double> left(11, -1.5);
        left[at] = -4.0;
        left[(at + 5) % 11] = std::numeric_limits<double>::quiet_NaN();
        volume = 0;
        Feed(left, std::vector<double>(11, 0.0));
        Render(11);
        EXPECT_EQ(volume.load(), -120) << "loudest at " << at;
    }
}

TEST_F(OutputStageTest, DelayRingDelaysOneChannel)
{
    // The ring holds 30 ms, 1440 samples at 48 kHz; longer delays stop one short of it.
    const struct {
        double Ms;
        int Samples, Block;
    } cases[] = {{0, 0, 500}, {10, 480, 500}, {25, 1200, 700}, {29.99, 1440 - 1, 333}, {50, 1440 - 1, 1500}};
    for (const auto& c : cases) {
        SetUp();
        settings.Output.fDelay[0] = c.Ms;
        std::vector<double> ramp(6000);
        for (size_t i = 0; i < ramp.size(); ++i)
            ramp[i] = static_cast<double>(i + 1) / 8192;
        Feed(ramp, ramp);
        std::vector<int32_t> left, right;
        while (left.size() < ramp.size()) {
            const auto out = Render(c.Block);
            left.insert(left.end(), out[0].begin(), out[0].end());
            right.insert(right.end(), out[1].begin(), out[1].end());
        }
        for (int i = 0; i < static_cast<int>(ramp.size()); ++i)
            ASSERT_EQ(left[i], i < c.Samples ? 0 : right[i - c.Samples]) << c.Ms << " ms, sample " << i;
    }
}

// With HSC on, channel 1's complement may run on a helper thread, for one buffer or for
// several at once; the samples, and the automatic volume control's steps, whose order
// between the channels and the buffers matters, stay those of buffer-by-buffer calls.
TEST_F(OutputStageTest, HelperThreadRendersTheSameSamples)
{
    std::mt19937 rng(5);
    std::normal_distribution<double> gauss(0, 0.5);
    std::vector<double> l(24000), r(24000);
    for (size_t i = 0; i < l.size(); ++i) {
        l[i] = std::sin(0.3 * static_cast<double>(i)) + gauss(rng); // peaks above full scale
        r[i] = 0.5 * std::sin(0.7 * static_cast<double>(i)) + 0.2 * gauss(rng);
    }
    const struct {
        bool Helper;
        int Buffers;
    } ways[] = {{false, 1}, {true, 1}, {true, 4}, {true, 6}};
    std::vector<int32_t> outputs[4];
    int volumes[4];
    for (int w = 0; w < 4; ++w) {
        hsc = avc = true; // on from the start: no switch fades
        volume = 0;
        SetUp();
        if (ways[w].Helper)
            stage->UseHelperThread();
        Feed(l, r);
        const int count = ways[w].Buffers, frames = 1000;
        std::vector<int32_t> left(count * frames), right(count * frames);
        for (int done = 0; done < static_cast<int>(l.size()); done += count * frames) {
            int32_t* ptrs[2] = {left.data(), right.data()};
            stage->RenderBuffers(ptrs, count, frames, 2);
            for (int i = 0; i < count * frames; ++i) {
                outputs[w].push_back(left[i]);
                outputs[w].push_back(right[i]);
            }
        }
        volumes[w] = volume.load();
    }
    EXPECT_LT(volumes[0], -60); // the control acted more than once
    for (int w = 1; w < 4; ++w) {
        EXPECT_EQ(volumes[w], volumes[0]) << w;
        ASSERT_EQ(outputs[w], outputs[0]) << w;
    }
}

TEST_F(OutputStageTest, PrerollHoldsUntilTheBufferIsFullAndEmptyReadsCount)
{
    stage->Start(filter.get(), 48000, 2); // 0.01 s at 48 kHz: 480 frames
    Feed(std::vector<double>(400, 0.5), std::vector<double>(400, 0.5));
    auto out = Render(100);
    EXPECT_EQ(out[0], std::vector<int32_t>(100, 0));
    EXPECT_TRUE(stage->Preroll.load());
    EXPECT_EQ(stage->EmptyReads.load(), 0);
    Feed(std::vector<double>(80, 0.5), std::vector<double>(80, 0.5));
    out = Render(480);
    EXPECT_FALSE(stage->Preroll.load());
    EXPECT_EQ(out[0], std::vector<int32_t>(480, 1073741824));
    Render(10);
    Render(10);
    EXPECT_EQ(stage->EmptyReads.load(), 2);
    Feed({0.5}, {0.5});
    Render(10);
    EXPECT_EQ(stage->EmptyReads.load(), 0);
    // Both empty reads came while the source still delivered: under-runs. Once it has
    // finished, empty reads are the track's end and no longer count.
    EXPECT_EQ(stage->Underruns.load(), 2);
    finished = true;
    Render(10);
    EXPECT_EQ(stage->EmptyReads.load(), 1);
    EXPECT_EQ(stage->Underruns.load(), 2);
}

TEST_F(OutputStageTest, PrerollEndsWhenTheSourceFinishedOrTheTrackIsBuffered)
{
    stage->Start(filter.get(), 48000, 2);
    Feed(std::vector<double>(10, 0.5), std::vector<double>(10, 0.5));
    finished = true;
    EXPECT_EQ(Render(10)[0], std::vector<int32_t>(10, 1073741824));

    finished = false;
    TOutputControls c;
    const std::atomic<double> length{2.0};
    c.TrackLengthMs = &length; // 96 frames at 48 kHz: nearest((2 × 48000 − 1) / 1000) = 96
    TOutputStage shortTrack(settings, c);
    shortTrack.Start(filter.get(), 48000, 2);
    Feed(std::vector<double>(95, 0.5), std::vector<double>(95, 0.5));
    std::vector<int32_t> a(10), b(10);
    int32_t* ptrs[2] = {a.data(), b.data()};
    shortTrack.Render(ptrs, 10, 2);
    EXPECT_TRUE(shortTrack.Preroll.load());
    Feed({0.5}, {0.5});
    shortTrack.Render(ptrs, 10, 2);
    EXPECT_FALSE(shortTrack.Preroll.load());
    EXPECT_EQ(a[0], 1073741824); // half of full scale, at unit gain
}

TEST_F(OutputStageTest, TailFlagFollowsSignalAtTheEndOfTheList)
{
    endOfList = true;
    Feed({0.1}, {0.0});
    Render(1);
    EXPECT_TRUE(tail.load());
    Feed({0.0}, {0.0});
    Render(1);
    EXPECT_FALSE(tail.load());
    endOfList = false;
    Feed({0.3}, {0.3});
    Render(1);
    EXPECT_FALSE(tail.load());
}

TEST_F(OutputStageTest, WithoutAStageTheDriversGetSilence)
{
    SetRenderStage(nullptr);
    std::vector<int32_t> a(4, 7), b(4, 7);
    int32_t* ptrs[2] = {a.data(), b.data()};
    RenderOutput(ptrs, 4, 2);
    EXPECT_EQ(a, std::vector<int32_t>(4, 0));
    SetRenderStage(stage.get());
    Feed({0.5, 0.5, 0.5, 0.5}, {0, 0, 0, 0});
    RenderOutput(ptrs, 4, 2);
    EXPECT_EQ(a, std::vector<int32_t>(4, 1073741824));
    SetRenderStage(nullptr);
}

// A block of amplitude 4 clips at any volume above −120, and automatic volume control
// then sets exactly −120. The main thread alternates between 0 (which AVC lowers) and a
// volume below −120 (which AVC must leave alone): once the render thread has finished
// two more blocks, the low volume must still be there. An AVC store computed from the
// 0 it saw earlier would overwrite it.
TEST_F(OutputStageTest, HandOverAutomaticVolumeNeverOverwritesAVolumeSetMeanwhile)
{
    avc = true;
    const int frames = 2048;
    const std::vector<double> loud(frames, 4.0);
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread device([&] {
        while (!stop.load()) {
            Feed(loud, loud);
            Render(frames);
            blocks.fetch_add(1);
        }
    });
    const auto waitBlocks = [&](int n) {
        for (const int target = blocks.load() + n; blocks.load() < target;)
            std::this_thread::yield();
    };
    int lost = 0;
    for (int i = 0; i < 3000; ++i) {
        const int low = -130 - i % 200;
        volume.store(0);
        for (std::atomic<int> spin{0}; spin.fetch_add(1, std::memory_order_relaxed) < i % 97 * 20;) {
        }
        volume.store(low);
        waitBlocks(2);
        lost += volume.load() != low;
    }
    volume.store(0);
    waitBlocks(2);
    stop = true;
    device.join();
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(volume.load(), -120); // the reduction itself still works
}

} // namespace
} // namespace marlix
