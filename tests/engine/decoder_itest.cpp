#include "engine/decoder.h"

#include "base/mainthread.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace marlix {
namespace {

using namespace std::chrono_literals;
using test::RunCommand;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Channel c of FFmpeg's own 16-bit decode, as the FIFO holds it.
std::vector<double> ReferenceChannel(const std::string& path, int channels, int c)
{
    const std::string pcm = RunCommand("ffmpeg -nostdin -v error -i " + Quote(path) + " -f s16le -acodec pcm_s16le -");
    std::vector<double> out;
    for (size_t i = size_t(c) * 2; i + 1 < pcm.size(); i += size_t(channels) * 2) {
        int16_t v;
        std::memcpy(&v, pcm.data() + i, 2);
        out.push_back(v / 32768.0);
    }
    return out;
}

class DecoderITest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::HaveProgram("ffmpeg"))
            GTEST_SKIP() << "ffmpeg is not installed";
        TMainThread::Instance().SetMainThread(std::this_thread::get_id());
        TMainThread::Instance().Restart();
        Settings().Filter.Bufms = 200;
    }

    // A file of `channels` sines of different pitch made by ffmpeg.
    std::string Make(const std::string& name, int channels, double seconds, const std::string& codec)
    {
        std::string expr;
        for (int c = 0; c < channels; ++c) {
            if (c > 0)
                expr += '|';
            expr += "0.4*sin(";
            expr += std::to_string(200 + 150 * c);
            expr += "*2*PI*t)";
        }
        const std::string path = Folder.File(name);
        int status = 1;
        RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i " +
                       Quote("aevalsrc=" + expr + ":s=44100:d=" + std::to_string(seconds)) + " -c:a " + codec + " " +
                       Quote(path),
                   &status);
        EXPECT_EQ(status, 0);
        return path;
    }

    bool WaitFilled(int frames)
    {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (D.FIFO.Available() < frames)
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            else
                std::this_thread::sleep_for(2ms);
        return true;
    }

    // Moves everything buffered into `out` (channel 0 and 1 in step).
    void DrainInto(std::vector<double> (&out)[2])
    {
        const int n = D.FIFO.Available();
        for (int c = 0; c < 2; ++c) {
            const size_t at = out[c].size();
            out[c].resize(at + size_t(n));
            D.FIFO.FIFOs[size_t(c)]->Read(out[c].data() + at, n);
        }
    }

    // Plays to the end, reading the FIFO as the filter thread would and running the end
    // watch directly.
    bool PlayToEnd(std::vector<double> (&out)[2])
    {
        D.PlaySource();
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!D.Finished || D.FIFO.Available() > 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            DrainInto(out);
            std::this_thread::sleep_for(2ms);
            D.LibraryEndStep();
        }
        return true;
    }

    test::TempProgramFolder Folder;
    TFo_Decoder D;
};

TEST_F(DecoderITest, MonoLibrarySourceFillsBothChannelsWithFfmpegsSamples)
{
    const std::string path = Make("mono.flac", 1, 1.0, "flac");
    D.OpenSource(path);
    ASSERT_TRUE(D.IsOpen);
    EXPECT_EQ(D.SourceKind, TSourceKind::Library);
    EXPECT_EQ(D.Format.nChannels, 1);
    EXPECT_EQ(D.Format.nSamplesPerSec, 44100u);
    EXPECT_NEAR(D.GetLengthMs(), 1000.0, 1.0);
    // Before play the library fills up to the 0.2 s target and waits there.
    ASSERT_TRUE(WaitFilled(8820));
    std::this_thread::sleep_for(100ms);
    const int n = D.FIFO.Available();
    EXPECT_LT(n, 8820 + 8192);
    const auto ref = ReferenceChannel(path, 1, 0);
    std::vector<double> got[2];
    DrainInto(got);
    ASSERT_EQ(got[0].size(), size_t(n));
    EXPECT_TRUE(std::equal(got[0].begin(), got[0].end(), ref.begin()));
    EXPECT_TRUE(got[1] == got[0]);
    EXPECT_GT(D.GetPositionMs(), 0.0);
}

TEST_F(DecoderITest, SixChannelSourceKeepsChannelsZeroAndOne)
{
    const std::string path = Make("six.flac", 6, 1.0, "flac");
    D.OpenSource(path);
    ASSERT_TRUE(D.IsOpen);
    EXPECT_EQ(D.Format.nChannels, 6);
    std::vector<double> got[2];
    ASSERT_TRUE(PlayToEnd(got));
    EXPECT_TRUE(got[0] == ReferenceChannel(path, 6, 0));
    EXPECT_TRUE(got[1] == ReferenceChannel(path, 6, 1));
}

TEST_F(DecoderITest, FloatWavIsRefusedByTheWavReaderAndPlaysThroughTheLibrary)
{
    const std::string path = Make("float.wav", 2, 1.0, "pcm_f32le");
    D.OpenSource(path);
    ASSERT_TRUE(D.IsOpen);
    EXPECT_EQ(D.SourceKind, TSourceKind::Library);
    EXPECT_EQ(D.FileBuf, nullptr);
    EXPECT_EQ(D.Format.wBitsPerSample, 16);
    std::vector<double> got[2];
    ASSERT_TRUE(PlayToEnd(got));
    EXPECT_TRUE(got[0] == ReferenceChannel(path, 2, 0));
    EXPECT_TRUE(got[1] == ReferenceChannel(path, 2, 1));
}

TEST_F(DecoderITest, AfterTheEndTheTailIsSilence)
{
    const std::string path = Make("tail.mp3", 2, 0.5, "libmp3lame");
    D.OpenSource(path);
    ASSERT_TRUE(D.IsOpen);
    std::vector<double> got[2];
    ASSERT_TRUE(PlayToEnd(got));
    EXPECT_TRUE(got[0] == ReferenceChannel(path, 2, 0));
    EXPECT_EQ(D.FIFO.Available(), 0);
    D.LibraryEndStep();
    EXPECT_EQ(D.FIFO.Available(), 0); // no tail: nothing more
    D.TailActive = true;
    D.LibraryEndStep();
    const int n = D.FIFO.Available();
    EXPECT_GE(n, 8820);
    std::vector<double> tail[2];
    DrainInto(tail);
    EXPECT_TRUE(std::all_of(tail[0].begin(), tail[0].end(), [](double v) { return v == 0.0; }));
    EXPECT_TRUE(std::all_of(tail[1].begin(), tail[1].end(), [](double v) { return v == 0.0; }));
}

TEST_F(DecoderITest, SeekMovesTheLibrarySourceAndTheRestPlaysFromThere)
{
    const std::string path = Make("seek.flac", 2, 3.0, "flac");
    D.OpenSource(path);
    ASSERT_TRUE(D.IsOpen);
    ASSERT_TRUE(WaitFilled(8820));
    D.SeekMs(1500.0);
    EXPECT_TRUE(D.EndHandled);
    std::vector<double> got[2];
    ASSERT_TRUE(PlayToEnd(got));
    const auto ref = ReferenceChannel(path, 2, 1);
    const size_t rest = ref.size() - 66150;
    ASSERT_GE(got[1].size(), rest);
    // What was buffered before the seek plays first, then frame 66150 onwards.
    EXPECT_TRUE(std::equal(got[1].end() - long(rest), got[1].end(), ref.begin() + 66150));
    EXPECT_LT(got[1].size(), rest + 66150);
    EXPECT_GE(D.GetPositionMs(), 2900.0);
}

TEST_F(DecoderITest, ClosingAndReopeningWhileTheLibraryWaits)
{
    const std::string a = Make("a.flac", 2, 5.0, "flac");
    const std::string b = Make("b.ogg", 1, 1.0, "libvorbis");
    D.OpenSource(a);
    ASSERT_TRUE(D.IsOpen);
    ASSERT_TRUE(WaitFilled(8820)); // the library now blocks in its delivery
    D.OpenSource(b);
    ASSERT_TRUE(D.IsOpen);
    EXPECT_EQ(D.Format.nChannels, 1);
    D.CloseSource();
    EXPECT_FALSE(D.IsOpen);
    EXPECT_EQ(D.LibHandle, nullptr);

    D.OpenSource("http://127.0.0.1:1/x.mp3");
    EXPECT_FALSE(D.IsOpen);
    EXPECT_TRUE(D.Finished);
}

TEST_F(DecoderITest, TheEndWatchThreadReportsTheEnd)
{
    const std::string path = Make("watch.flac", 1, 0.3, "flac");
    D.OpenSource(path);
    ASSERT_TRUE(D.IsOpen);
    D.PlaySource();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    TMainThread::Instance().WaitPumping([&] {
        if (D.FIFO.Available() > 0) {
            std::vector<double> sink[2];
            DrainInto(sink);
        }
        return D.Finished || std::chrono::steady_clock::now() > deadline;
    });
    EXPECT_TRUE(D.Finished);
}

} // namespace
} // namespace marlix
