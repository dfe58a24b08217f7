// The control loop driven tick by tick, with a real decoder and filter thread and a
// device emulated by rendering a block per loop round at about real-time pace.
#include "engine/decoder.h"
#include "base/flexfilebuf.h"
#include "base/mainthread.h"
#include "engine/asiothread.h"
#include "engine/filterthread.h"
#include "engine/waveoutput.h"
#include "player/pending.h"
#include "player/playbackcontrol.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace marlix {
namespace {

void WriteTone(const std::string& path, int frames, int rate = 44100)
{
    TFlexFileBuf file;
    ASSERT_EQ(file.OpenFile(1, {path}, rate, 16, 1, 2), 0);
    file.SetBuf(nullptr, 2, 16, frames);
    for (int i = 0; i < frames; ++i)
        static_cast<int16_t*>(file.Data[0])[i] = static_cast<int16_t>(1000 + i % 100);
    ASSERT_EQ(file.WriteBlock(0, frames), frames);
    file.CloseFile(1);
}

class PlaybackControlTest : public ::testing::Test {
protected:
    test::TempProgramFolder folder;
    TPlayerState state;
    TPendingAdditions pending;
    TPlaylist playlist{state, pending};
    TFo_Decoder decoder;
    TWaveOutput output{TWaveOutput::CallerRenders}; // no device: the loop renders itself
    std::unique_ptr<TPlaybackControl> control;
    std::vector<std::string> opened;
    int lastOpen = -1;

    void SetUp() override
    {
        TMainThread::Instance().SetMainThread(std::this_thread::get_id());
        TMainThread::Instance().Restart();
        ResetSettings(folder.Path());
        Settings().Filter.Bufms = 250;
        control = std::make_unique<TPlaybackControl>(Settings(), state, playlist, decoder, output);
        control->RecordHistory = false;
        playlist.SetRandomSeed(7);
    }

    void TearDown() override { control.reset(); }

    std::string Track(const std::string& name, int frames = 8820)
    {
        WriteTone(folder.File(name), frames);
        return folder.File(name);
    }

    void Start(const std::vector<std::string>& entries)
    {
        for (const auto& e : entries)
            playlist.Add(e);
        state.Command.Post("Play");
    }

    // Runs the loop until `done` or `seconds` pass: ticks every 50 ms, renders 882
    // frames (20 ms) per round, and notes every file the decoder opens.
    void RunUntil(const std::function<bool()>& done, double seconds = 10)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int round = 0;
        std::vector<int32_t> l(882), r(882);
        int32_t* outputs[2] = {l.data(), r.data()};
        while (std::chrono::steady_clock::now() < end && !done()) {
            TMainThread::Instance().Pump();
            if (round++ % 2 == 0) {
                playlist.FollowDecoder(decoder.IsOpen || decoder.Busy ? decoder.FileName : std::string());
                control->Tick();
            }
            if (decoder.IsOpen && decoder.OpenCount != lastOpen) {
                lastOpen = decoder.OpenCount;
                opened.push_back(decoder.FileName);
            }
            if (state.OutputRunning)
                control->Chain.Stage.Render(outputs, 882, 2);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    bool Stopped() const { return !state.OutputRunning && state.Command.Peek().empty(); }
};

TEST_F(PlaybackControlTest, PlaysTheListInOrderAndStopsAtItsEnd)
{
    const auto a = Track("a.wav"), b = Track("b.wav");
    Start({a, b});
    RunUntil([&] { return opened.size() >= 2 && Stopped(); });
    EXPECT_EQ(opened, (std::vector<std::string>{a, b}));
    EXPECT_TRUE(Stopped());
    EXPECT_FALSE(decoder.IsOpen);
}

TEST_F(PlaybackControlTest, PlayOneStopsAfterTheFirstTrack)
{
    state.Play1 = true;
    const auto a = Track("a.wav"), b = Track("b.wav");
    Start({a, b});
    RunUntil([&] { return !opened.empty() && Stopped(); });
    EXPECT_EQ(opened, std::vector<std::string>{a});
}

TEST_F(PlaybackControlTest, RepeatOneReplaysUntilNextMovesOn)
{
    state.Repeat1 = true;
    const auto a = Track("a.wav"), b = Track("b.wav");
    Start({a, b});
    RunUntil([&] { return opened.size() >= 2; });
    ASSERT_EQ(opened, (std::vector<std::string>{a, a}));
    state.Command.Post("Next");
    RunUntil([&] { return opened.size() >= 3; });
    EXPECT_EQ(opened.back(), b);
    EXPECT_TRUE(state.Repeat1); // restored after the command
}

TEST_F(PlaybackControlTest, FailedEntriesAreMarkedAndSkippedWithoutEndlessRetries)
{
    const auto a = Track("a.wav");
    Start({folder.File("gone.wav"), a, folder.File("alsogone.mp3")});
    RunUntil([&] { return !opened.empty() && Stopped(); });
    EXPECT_EQ(opened, std::vector<std::string>{a});
    EXPECT_TRUE(playlist.Item(0).Failed);
    EXPECT_FALSE(playlist.Item(1).Failed);
    EXPECT_TRUE(playlist.Item(2).Failed);

    opened.clear();
    playlist.Clear();
    Start({folder.File("x.wav"), folder.File("y.wav")});
    RunUntil([&] { return playlist.Item(0).Failed && playlist.Item(1).Failed && Stopped(); }, 3);
    EXPECT_TRUE(playlist.Item(0).Failed) << playlist.Count() << " " << state.Command.Peek();
    EXPECT_TRUE(playlist.Item(1).Failed);
    EXPECT_TRUE(Stopped()) << state.OutputRunning << " '" << state.Command.Peek() << "'";
    EXPECT_TRUE(opened.empty());
}

TEST_F(PlaybackControlTest, NextWhilePausedResumesTheSameTrack)
{
    const auto a = Track("a.wav", 88200), b = Track("b.wav");
    Start({a, b});
    RunUntil([&] { return state.OutputRunning && !control->Chain.Stage.Preroll; });
    state.Paused = true;
    RunUntil([] { return false; }, 0.2);
    state.Command.Post("Next");
    RunUntil([&] { return !state.Paused; }, 1);
    EXPECT_FALSE(state.Paused);
    EXPECT_EQ(decoder.FileName, a);
    EXPECT_EQ(opened, std::vector<std::string>{a});
}

TEST_F(PlaybackControlTest, RandomOrderPlaysEveryEntryOnce)
{
    state.Random = true;
    const auto a = Track("a.wav", 4410), b = Track("b.wav", 4410), c = Track("c.wav", 4410);
    Start({a, b, c});
    RunUntil([&] { return opened.size() >= 3 && Stopped(); }, 15);
    std::vector<std::string> sorted = opened;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{a, b, c}));
}

TEST_F(PlaybackControlTest, BackgroundMusicFollowsWhenTheListHasEnded)
{
    state.Play1 = true;
    state.BGM = true;
    const auto a = Track("a.wav"), music = Track("music.wav");
    test::WriteText(folder.File("bgm.m3u"), music + "\n");
    Settings().Function.BGMPlaylist = folder.File("bgm.m3u");
    Start({a});
    RunUntil([&] { return opened.size() >= 2; });
    EXPECT_EQ(opened, (std::vector<std::string>{a, music}));
    EXPECT_TRUE(state.BGMActive);
}

// The device callback decides the end of pre-roll from the track length the decoder
// published at open, never by calling into the decoder, whose source the main thread
// frees on close. While an open or close is under way the decoder answers 1.0 ms, which
// would end the pre-roll of a long track after a few frames.
TEST_F(PlaybackControlTest, PrerollReadsTheLengthPublishedAtOpenAndClose)
{
    const auto file = Track("long.wav", 441000);
    decoder.OpenSource(file);
    ASSERT_TRUE(decoder.IsOpen);
    EXPECT_DOUBLE_EQ(decoder.LengthMs.load(), 10000.0);
    ASSERT_TRUE(control->Chain.Start(false));
    control->Chain.Filter().Busy = false; // as after its first step
    TMChFIFO& out = *control->Chain.Filter().OutFIFO;
    const std::vector<double> block(1000, 0.25);
    for (int c = 0; c < out.Channels; ++c)
        out.FIFOs[size_t(c)]->Write(block.data(), 1000);
    std::vector<int32_t> l(10), r(10);
    int32_t* outputs[2] = {l.data(), r.data()};
    ++decoder.WavThread.PauseCount; // as during an open or close on the main thread
    control->Chain.Stage.Render(outputs, 10, 2);
    --decoder.WavThread.PauseCount;
    EXPECT_TRUE(control->Chain.Stage.Preroll.load());

    // Opens and closes while the device renders: the published length follows them.
    std::atomic<bool> stop{false};
    std::thread device([&] {
        while (!stop)
            control->Chain.Stage.Render(outputs, 10, 2);
    });
    for (int i = 0; i < 20; ++i) {
        decoder.CloseSource();
        EXPECT_EQ(decoder.LengthMs.load(), 0.0);
        decoder.OpenSource(i % 2 ? file : folder.File("missing.wav"));
        EXPECT_EQ(decoder.LengthMs.load(), i % 2 ? 10000.0 : 0.0);
    }
    stop = true;
    device.join();
    control->Chain.Stop();
}

// A call queued for the main thread is run by the first pump inside StopOutput, which
// is the decoder's close: by then the device and the filter thread must have stopped,
// so nothing reads the decoder FIFO while it is closed and reset.
thread_local bool tHelper = false;

TEST_F(PlaybackControlTest, StopClosesTheDecoderOnlyAfterTheChainHasStopped)
{
    Start({Track("a.wav", 441000)});
    RunUntil([&] { return state.OutputRunning && !control->Chain.Stage.Preroll; });
    ASSERT_TRUE(state.OutputRunning);
    std::atomic<bool> queued{false};
    std::atomic<int> chainAtClose{-1};
    TMainThread::Instance().SetWakeUp([&] {
        if (tHelper)
            queued = true;
    });
    std::thread helper([&] {
        tHelper = true;
        TMainThread::Instance().Synchronize([&] { chainAtClose = control->Chain.Running() ? 1 : 0; });
    });
    while (!queued)
        std::this_thread::yield();
    control->StopOutput(true);
    TMainThread::Instance().Pump();
    helper.join();
    TMainThread::Instance().SetWakeUp(nullptr);
    EXPECT_EQ(chainAtClose.load(), 0);
    EXPECT_FALSE(decoder.IsOpen);
    EXPECT_EQ(decoder.FIFO.Available(), 0);
}

// Media keys while the setup or measurement dialog owns the device: the command waits
// until the dialog has closed, then plays.
TEST_F(PlaybackControlTest, CommandsWaitWhileADialogHoldsTheDevice)
{
    playlist.Add(Track("a.wav", 44100));
    {
        const TTransportHold hold(*control);
        state.Command.Post("Play");
        for (int i = 0; i < 5; ++i)
            control->Tick();
        EXPECT_FALSE(state.OutputRunning);
        EXPECT_EQ(state.Command.Peek(), "Play");
    }
    RunUntil([&] { return state.OutputRunning.load(); });
    EXPECT_TRUE(state.OutputRunning);
}

// The device stopped is the one that was started, whatever happened since: a dialog
// changed the driver setting, or started a pro-audio host of its own. The player also
// notices that its host was replaced, and stops.
TEST_F(PlaybackControlTest, StopStopsTheDeviceThatWasStarted)
{
    const auto a = Track("a.wav", 441000);
    control->OpenTrack(a);
    control->StartOutput();
    ASSERT_EQ(output.OutState.load(), TOutState::Playing);
    Settings().Output.nDriverType = 1;
    control->StopOutput(true);
    EXPECT_EQ(output.OutState.load(), TOutState::Closed);

    const char* libDir = std::getenv("MARLIX_AUDIO_LIBDIR");
    const std::string oldLibDir = libDir ? libDir : "";
    setenv("MARLIX_AUDIO_LIBDIR", MARLIX_STUCK_HOST_DIR, 1); // its driver "steady" streams
    Settings().ASIO.DriverName = "steady";
    control->OpenTrack(a);
    control->StartOutput();
    ASSERT_TRUE(state.OutputRunning.load() && control->DeviceOpened());
    Settings().Output.nDriverType = 0;
    ASSERT_TRUE(asioStart("steady", nullptr)); // the dialog's
    const uint64_t dialogs = asioRunningHost();
    for (int i = 0; i < 200 && state.OutputRunning; ++i) {
        TMainThread::Instance().Pump();
        control->Tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(state.OutputRunning);
    EXPECT_TRUE(control->DeviceLost());
    EXPECT_EQ(asioRunningHost(), dialogs);
    asioStop();
    setenv("MARLIX_AUDIO_LIBDIR", oldLibDir.c_str(), 1);
}

} // namespace
} // namespace marlix
