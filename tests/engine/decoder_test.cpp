#include "engine/decoder.h"

#include "base/mainthread.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace marlix {
namespace {

using test::TempProgramFolder;

// Sample f of channel c: a value that differs for every frame and channel.
int16_t SampleAt(int64_t f, int c) { return int16_t(((f * 37 + c * 1001) % 60000) - 30000); }

void Put16(std::vector<uint8_t>& out, uint32_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::vector<uint8_t> Wav16(int channels, int rate, int frames)
{
    std::vector<uint8_t> w;
    const uint32_t data = uint32_t(frames * channels * 2);
    w.insert(w.end(), {'R', 'I', 'F', 'F'});
    Put32(w, 36 + data);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(w, 16);
    Put16(w, 1);
    Put16(w, uint16_t(channels));
    Put32(w, uint32_t(rate));
    Put32(w, uint32_t(rate * channels * 2));
    Put16(w, uint16_t(channels * 2));
    Put16(w, 16);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    Put32(w, data);
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            Put16(w, uint16_t(SampleAt(f, c)));
    return w;
}

std::vector<double> ReadChannel(TFo_Decoder& d, int channel, int frames)
{
    d.FIFO.Available();
    std::vector<double> out(size_t(frames), -9.0);
    d.FIFO.FIFOs[size_t(channel)]->Read(out.data(), frames);
    return out;
}

// Reads `frames` frames from both channels together, keeping them in step.
void Drain(TFo_Decoder& d, int frames)
{
    ReadChannel(d, 0, frames);
    ReadChannel(d, 1, frames);
}

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TMainThread::Instance().SetMainThread(std::this_thread::get_id());
        TMainThread::Instance().Restart();
        Settings().Filter.Bufms = 100;
    }

    std::string MakeWav(const std::string& name, int channels, int rate, int frames)
    {
        const std::string path = Folder.File(name);
        test::WriteAll(path, Wav16(channels, rate, frames));
        return path;
    }

    TempProgramFolder Folder;
    TFo_Decoder D;
};

TEST_F(DecoderTest, StartsClosedAndFinished)
{
    EXPECT_FALSE(D.IsOpen);
    EXPECT_TRUE(D.Finished);
    EXPECT_DOUBLE_EQ(D.BufferSec, 0.5);
    EXPECT_EQ(D.FIFO.Channels, 2);
    EXPECT_EQ(D.FIFO.Free(), 131072);
}

TEST_F(DecoderTest, MonoWavFillsChannelZeroWithExactSamplesAndChannelOneWithZeros)
{
    D.OpenSource(MakeWav("mono.WAV", 1, 44100, 30000));
    ASSERT_TRUE(D.IsOpen);
    EXPECT_EQ(D.SourceKind, TSourceKind::Wav);
    EXPECT_EQ(D.Format.nChannels, 1);
    EXPECT_EQ(D.Format.nSamplesPerSec, 44100u);
    EXPECT_EQ(D.Format.wBitsPerSample, 16);
    EXPECT_DOUBLE_EQ(D.BufferSec, 0.1);
    EXPECT_FALSE(D.Finished);

    D.WavFeedStep();
    // One quarter-second block reaches the 0.1 s target.
    ASSERT_EQ(D.FIFO.Available(), 11025);
    const auto left = ReadChannel(D, 0, 11025);
    const auto right = ReadChannel(D, 1, 11025);
    for (int f = 0; f < 11025; ++f) {
        ASSERT_EQ(left[size_t(f)], SampleAt(f, 0) / 32768.0) << f;
        ASSERT_EQ(right[size_t(f)], 0.0) << f;
    }
    EXPECT_DOUBLE_EQ(D.GetPositionMs(), 11025 * 1000.0 / 44100);
}

TEST_F(DecoderTest, StereoWavKeepsItsChannels)
{
    D.OpenSource(MakeWav("stereo.wav", 2, 48000, 20000));
    ASSERT_TRUE(D.IsOpen);
    D.WavFeedStep();
    ASSERT_EQ(D.FIFO.Available(), 12000);
    const auto left = ReadChannel(D, 0, 12000);
    const auto right = ReadChannel(D, 1, 12000);
    for (int f = 0; f < 12000; f += 97) {
        EXPECT_EQ(left[size_t(f)], SampleAt(f, 0) / 32768.0);
        EXPECT_EQ(right[size_t(f)], SampleAt(f, 1) / 32768.0);
    }
}

TEST_F(DecoderTest, LengthAndSeek)
{
    D.OpenSource(MakeWav("seek.wav", 1, 44100, 88200));
    ASSERT_TRUE(D.IsOpen);
    EXPECT_DOUBLE_EQ(D.GetLengthMs(), 2000.0);
    EXPECT_FALSE(D.EndHandled);

    D.SeekMs(1500.0);
    EXPECT_EQ(D.FileBuf->GetFilePos(TFlexFileBuf::ReadSide), 66150);
    EXPECT_DOUBLE_EQ(D.GetPositionMs(), 1500.0);
    EXPECT_TRUE(D.EndHandled);
    D.WavFeedStep();
    EXPECT_EQ(ReadChannel(D, 0, 1)[0], SampleAt(66150, 0) / 32768.0);

    // While the feeds are held, length reads 1.0 and seeks are ignored.
    ++D.WavThread.PauseCount;
    EXPECT_DOUBLE_EQ(D.GetLengthMs(), 1.0);
    D.SeekMs(100.0);
    EXPECT_EQ(D.FileBuf->GetFilePos(TFlexFileBuf::ReadSide), 66150 + 11025);
    const int before = D.FIFO.Available();
    D.WavFeedStep();
    EXPECT_EQ(D.FIFO.Available(), before);
    --D.WavThread.PauseCount;
}

TEST_F(DecoderTest, FinishedOnlyOnceTheFifoHasDrained)
{
    D.OpenSource(MakeWav("short.wav", 1, 8000, 1000));
    ASSERT_TRUE(D.IsOpen);
    D.WavFeedStep();
    EXPECT_EQ(D.FIFO.Available(), 1000);
    EXPECT_FALSE(D.Finished);
    D.WavFeedStep();
    EXPECT_EQ(D.FIFO.Available(), 1000); // nothing more, and no silence without a tail
    EXPECT_FALSE(D.Finished);
    Drain(D, 1000);
    D.WavFeedStep();
    EXPECT_TRUE(D.Finished);
    EXPECT_EQ(D.FIFO.Available(), 0);
}

TEST_F(DecoderTest, TailKeepsTheFifoFilledWithSilence)
{
    D.OpenSource(MakeWav("tail.wav", 1, 8000, 100));
    ASSERT_TRUE(D.IsOpen);
    D.TailActive = true;
    D.WavFeedStep();
    // 100 samples, then silence up to at least the 800-frame target.
    const int available = D.FIFO.Available();
    EXPECT_GE(available, 800);
    EXPECT_EQ(available, 100 + 2000); // one quarter-second block of zeros
    const auto left = ReadChannel(D, 0, available);
    EXPECT_EQ(left[99], SampleAt(99, 0) / 32768.0);
    for (int f = 100; f < available; ++f)
        ASSERT_EQ(left[size_t(f)], 0.0);
}

TEST_F(DecoderTest, BufferTargetIsClampedToTheFifo)
{
    Settings().Filter.Bufms = 5000;
    D.OpenSource(MakeWav("long.wav", 2, 48000, 300000));
    ASSERT_TRUE(D.IsOpen);
    EXPECT_LT(D.BufferSec * 48000, 131072.0);
    D.WavFeedStep();
    EXPECT_GE(D.FIFO.Available(), int(D.BufferSec * 48000));
    EXPECT_LE(D.FIFO.Available(), 131072);
    // Frames arrived in order, none lost to an overfull ring.
    const int n = D.FIFO.Available();
    const auto right = ReadChannel(D, 1, n);
    EXPECT_EQ(right[size_t(n - 1)], SampleAt(n - 1, 1) / 32768.0);
}

TEST_F(DecoderTest, UnplayableFilesLeaveTheDecoderClosedAndFinished)
{
    test::WriteAll(Folder.File("empty.wav"), {});
    test::WriteText(Folder.File("text.wav"), "this is not a sound file\n");
    test::WriteText(Folder.File("text.mp3"), std::string(5000, 'x'));
    for (const char* name : {"missing.wav", "missing.flac", "empty.wav", "text.wav", "text.mp3"}) {
        D.OpenSource(MakeWav("ok.wav", 1, 8000, 100));
        ASSERT_TRUE(D.IsOpen);
        const int count = D.OpenCount;
        D.OpenSource(Folder.File(name));
        EXPECT_FALSE(D.IsOpen) << name;
        EXPECT_TRUE(D.Finished) << name;
        EXPECT_FALSE(D.Busy);
        EXPECT_EQ(D.LibHandle, nullptr);
        EXPECT_EQ(D.OpenCount, count + 2) << name; // the close and the open
        EXPECT_DOUBLE_EQ(D.GetLengthMs(), 0.0);
        D.WavFeedStep();
        D.LibraryEndStep();
        D.SeekMs(10.0);
    }
}

TEST_F(DecoderTest, CloseReleasesTheFileButKeepsTheFifo)
{
    D.OpenSource(MakeWav("a.wav", 1, 8000, 4000));
    D.PlaySource();
    EXPECT_EQ(D.FIFO.State, 2);
    D.WavFeedStep();
    const int count = D.OpenCount;
    D.CloseSource();
    EXPECT_FALSE(D.IsOpen);
    EXPECT_EQ(D.FileBuf, nullptr);
    EXPECT_EQ(D.FIFO.State, 0);
    EXPECT_EQ(D.OpenCount, count + 1);
    EXPECT_EQ(D.FIFO.Available(), 2000);
    D.CloseSource();
    EXPECT_EQ(D.OpenCount, count + 1);
}

TEST_F(DecoderTest, TheFeederThreadFillsTheFifoThroughTheMainThread)
{
    D.OpenSource(MakeWav("thread.wav", 1, 8000, 8000));
    ASSERT_TRUE(D.IsOpen);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    TMainThread::Instance().WaitPumping(
        [&] { return D.FIFO.Available() >= 800 || std::chrono::steady_clock::now() > deadline; });
    EXPECT_EQ(D.FIFO.Available(), 2000);
    EXPECT_EQ(ReadChannel(D, 0, 2000)[1999], SampleAt(1999, 0) / 32768.0);
}

} // namespace
} // namespace marlix
