#include "platform/dsdec/dsdec.h"

#include "support/testutil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace marlix {
namespace {

using namespace std::chrono_literals;
using test::RunCommand;
using test::TempDir;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Makes an audio file with ffmpeg from a lavfi source; false when ffmpeg refuses.
bool MakeAudio(const std::string& path, const std::string& source, const std::string& codecArgs)
{
    int status = 1;
    RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i " + Quote(source) + " " + codecArgs + " " + Quote(path), &status);
    return status == 0;
}

std::string Sine(int rate, double seconds, int channels = 1)
{
    std::string expr;
    for (int c = 0; c < channels; ++c) {
        if (c > 0)
            expr += '|';
        expr += "0.5*sin(";
        expr += std::to_string(220 * (c + 1));
        expr += "*2*PI*t)";
    }
    return "aevalsrc=" + expr + ":s=" + std::to_string(rate) + ":d=" + std::to_string(seconds);
}

// FFmpeg's own 16-bit decode of a file.
std::string ReferencePcm(const std::string& path)
{
    return RunCommand("ffmpeg -nostdin -v error -i " + Quote(path) + " -f s16le -acodec pcm_s16le -");
}

// Collects every block; never blocks.
class TCollector : public TDSDCallBack {
public:
    void Deliver(double timeSeconds, const void* pcm, int bytes) override
    {
        std::lock_guard lock(Lock);
        if (Times.empty())
            First = timeSeconds;
        Times.push_back(timeSeconds);
        Pcm.append(static_cast<const char*>(pcm), size_t(bytes));
    }
    std::string Take()
    {
        std::lock_guard lock(Lock);
        Times.clear();
        return std::exchange(Pcm, {});
    }
    std::mutex Lock;
    std::string Pcm;
    std::vector<double> Times;
    double First = -1.0;
};

bool WaitFinished(TDSDHandle h, std::chrono::seconds limit = 30s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (dsdGetFinished(h) == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct TDecoded {
    TWaveFormatEx Format{};
    bool Opened = false;
    bool Finished = false;
    double LengthMs = 0.0;
    double PositionMs = 0.0;
    std::string Pcm;
};

TDecoded DecodeAll(const std::string& name)
{
    TDecoded out;
    TCollector sink;
    TDSDHandle h = dsdCreate(name.c_str(), 0, &sink);
    if (!h)
        return out;
    if (const TWaveFormatEx* f = dsdGetWaveFormatEx(h)) {
        out.Opened = true;
        out.Format = *f;
        out.Finished = WaitFinished(h);
        out.LengthMs = dsdGetLength(h);
        out.PositionMs = dsdGetPosition(h);
    }
    dsdFree(h);
    out.Pcm = sink.Take();
    return out;
}

class DsdecTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::HaveProgram("ffmpeg"))
            GTEST_SKIP() << "ffmpeg is not installed";
    }
    TempDir Dir;
};

struct TFormatCase {
    const char* File;
    const char* Args;
    int Rate;
    int Channels;
};

TEST_F(DsdecTest, EveryFormatOpensWithItsRateAndChannels)
{
    const TFormatCase cases[] = {
        {"a.mp3", "-c:a libmp3lame -b:a 128k", 44100, 2},  {"a.flac", "-c:a flac", 48000, 1},
        {"a.ogg", "-c:a libvorbis", 44100, 2},             {"a.opus", "-c:a libopus", 48000, 2},
        {"a.m4a", "-c:a aac", 44100, 2},                   {"a.wv", "-c:a wavpack", 22050, 1},
        {"a.aiff", "-c:a pcm_s16be", 32000, 2},           {"float.wav", "-c:a pcm_f32le", 44100, 2},
        {"six.flac", "-c:a flac", 48000, 6},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.File);
        const std::string path = Dir.File(k.File);
        ASSERT_TRUE(MakeAudio(path, Sine(k.Rate, 1.0, k.Channels), k.Args));
        const TDecoded d = DecodeAll(path);
        ASSERT_TRUE(d.Opened);
        EXPECT_EQ(d.Format.wFormatTag, 1);
        EXPECT_EQ(d.Format.nChannels, k.Channels);
        EXPECT_EQ(d.Format.nSamplesPerSec, uint32_t(k.Rate));
        EXPECT_EQ(d.Format.wBitsPerSample, 16);
        EXPECT_EQ(d.Format.nBlockAlign, 2 * k.Channels);
        EXPECT_EQ(d.Format.nAvgBytesPerSec, uint32_t(2 * k.Channels * k.Rate));
        EXPECT_EQ(d.Format.cbSize, 0);
        EXPECT_TRUE(d.Finished);
        EXPECT_NEAR(d.LengthMs, 1000.0, 120.0);
        // The whole second arrived (lossy codecs may pad or trim a frame).
        const double seconds = double(d.Pcm.size()) / d.Format.nAvgBytesPerSec;
        EXPECT_NEAR(seconds, 1.0, 0.05);
        EXPECT_NEAR(d.PositionMs, seconds * 1000.0, 30.0);
        // The samples are FFmpeg's own decode of the file.
        const std::string ref = ReferencePcm(path);
        EXPECT_EQ(d.Pcm.size(), ref.size());
        EXPECT_TRUE(d.Pcm == ref);
    }
}

TEST_F(DsdecTest, FlacFloatWavAndSixChannelsDecodeExactlyAsFfmpegDoes)
{
    const std::pair<const char*, const char*> files[] = {
        {"ref.flac", "-c:a flac"}, {"ref.wav", "-c:a pcm_f32le"}, {"ref6.flac", "-c:a flac"}};
    int i = 0;
    for (const auto& [name, args] : files) {
        SCOPED_TRACE(name);
        const std::string path = Dir.File(name);
        ASSERT_TRUE(MakeAudio(path, Sine(44100, 2.3, i++ == 2 ? 6 : 2), args));
        const TDecoded d = DecodeAll(path);
        ASSERT_TRUE(d.Opened);
        const std::string ref = ReferencePcm(path);
        ASSERT_GT(ref.size(), 100000u);
        EXPECT_TRUE(d.Pcm == ref) << d.Pcm.size() << " vs " << ref.size();
    }
}

// Both decodes come from libavcodec's MP3 decoder, which drops the encoder delay and
// padding itself, so no alignment is needed; the check below still reports how far
// apart the first non-zero samples are should a future FFmpeg differ.
TEST_F(DsdecTest, Mp3DecodesExactlyAsFfmpegDoes)
{
    const std::string path = Dir.File("ref.mp3");
    ASSERT_TRUE(MakeAudio(path, Sine(44100, 2.0, 2), "-c:a libmp3lame -b:a 192k"));
    const TDecoded d = DecodeAll(path);
    ASSERT_TRUE(d.Opened);
    const std::string ref = ReferencePcm(path);
    auto firstNonZero = [](const std::string& s) { return s.find_first_not_of('\0') & ~size_t(3); };
    ASSERT_EQ(firstNonZero(d.Pcm), firstNonZero(ref));
    EXPECT_TRUE(d.Pcm == ref) << d.Pcm.size() << " vs " << ref.size();
}

TEST_F(DsdecTest, SeekingLandsOnTheRequestedFrameAlsoAfterTheEnd)
{
    const std::string path = Dir.File("seek.flac");
    ASSERT_TRUE(MakeAudio(path, Sine(44100, 3.0, 2), "-c:a flac"));
    const std::string ref = ReferencePcm(path);
    TCollector sink;
    TDSDHandle h = dsdCreate(path.c_str(), 0, &sink);
    ASSERT_NE(dsdGetWaveFormatEx(h), nullptr);
    ASSERT_TRUE(WaitFinished(h));
    EXPECT_DOUBLE_EQ(sink.First, 0.0);
    EXPECT_TRUE(sink.Take() == ref);

    dsdSetPosition(h, 1500.0);
    EXPECT_EQ(dsdGetFinished(h), 0);
    ASSERT_TRUE(WaitFinished(h));
    {
        std::lock_guard lock(sink.Lock);
        ASSERT_FALSE(sink.Times.empty());
        EXPECT_NEAR(sink.Times.front(), 1.5, 1e-9);
    }
    const std::string after = sink.Take();
    EXPECT_TRUE(after == ref.substr(66150 * 4)) << after.size();
    EXPECT_NEAR(dsdGetPosition(h), 3000.0, 1.0);
    dsdFree(h);
}

// Blocks like the decoder engine does before playing: while Active, after the first block.
class TBlocker : public TDSDCallBack {
public:
    void Deliver(double, const void*, int) override
    {
        ++Calls;
        while (Active)
            std::this_thread::sleep_for(1ms);
    }
    std::atomic<int> Calls{0};
};

class TSlowSink : public TDSDCallBack {
public:
    void Deliver(double, const void*, int) override
    {
        ++Calls;
        std::this_thread::sleep_for(1ms);
    }
    std::atomic<int> Calls{0};
};

TEST_F(DsdecTest, FreeStopsDecodingWhetherDeliverBlocksOrNot)
{
    const std::string path = Dir.File("long.flac");
    ASSERT_TRUE(MakeAudio(path, Sine(8000, 120.0), "-c:a flac"));
    {
        TBlocker blocker;
        blocker.Active = true;
        TDSDHandle h = dsdCreate(path.c_str(), 0, &blocker);
        ASSERT_NE(dsdGetWaveFormatEx(h), nullptr);
        while (blocker.Calls == 0)
            std::this_thread::sleep_for(1ms);
        blocker.Active = false;
        auto done = std::async(std::launch::async, [h] { dsdFree(h); });
        ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
        const int calls = blocker.Calls;
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(blocker.Calls, calls);
    }
    {
        TSlowSink slow;
        TDSDHandle h = dsdCreate(path.c_str(), 0, &slow);
        ASSERT_NE(dsdGetWaveFormatEx(h), nullptr);
        while (slow.Calls < 3)
            std::this_thread::sleep_for(1ms);
        auto done = std::async(std::launch::async, [h] { dsdFree(h); });
        ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
        const int calls = slow.Calls;
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(slow.Calls, calls);
        EXPECT_LT(calls, 150); // the two minutes take more than 200 blocks
    }
}

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

bool Accepts(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

// python3's http.server on 127.0.0.1, serving a folder; stopped by PID.
class THttpServer {
public:
    THttpServer(const std::string& folder) : Port(FreePort())
    {
        const std::string pid = RunCommand("python3 -m http.server --bind 127.0.0.1 --directory " + Quote(folder) +
                                           " " + std::to_string(Port) + " >/dev/null 2>&1 & echo $!");
        Pid = std::atoi(pid.c_str());
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!Accepts(Port) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
    }
    ~THttpServer()
    {
        if (Pid > 0)
            kill(Pid, SIGTERM);
    }
    const int Port;
    int Pid = 0;
};

TEST_F(DsdecTest, PlaysOverHttpFromALocalServer)
{
    if (!test::HaveProgram("python3"))
        GTEST_SKIP() << "python3 is not installed";
    ASSERT_TRUE(MakeAudio(Dir.File("net.mp3"), Sine(44100, 1.5, 2), "-c:a libmp3lame"));
    THttpServer server(Dir.Path());
    ASSERT_GT(server.Pid, 0);
    ASSERT_TRUE(Accepts(server.Port));
    const TDecoded d = DecodeAll("http://127.0.0.1:" + std::to_string(server.Port) + "/net.mp3");
    ASSERT_TRUE(d.Opened);
    EXPECT_EQ(d.Format.nSamplesPerSec, 44100u);
    EXPECT_TRUE(d.Finished);
    EXPECT_TRUE(d.Pcm == ReferencePcm(Dir.File("net.mp3")));

    const TDecoded missing = DecodeAll("http://127.0.0.1:" + std::to_string(server.Port) + "/nothing.mp3");
    EXPECT_FALSE(missing.Opened);
}

TEST_F(DsdecTest, UnreachableUrlFailsWithinAFewSeconds)
{
    auto result = std::async(std::launch::async, [] { return DecodeAll("http://127.0.0.1:1/x.mp3"); });
    ASSERT_EQ(result.wait_for(20s), std::future_status::ready);
    const TDecoded d = result.get();
    EXPECT_FALSE(d.Opened);
    EXPECT_TRUE(d.Pcm.empty());
}

TEST_F(DsdecTest, OnlyFilesAndWebProtocolsAreOpened)
{
    const std::string path = Dir.File("p.flac");
    ASSERT_TRUE(MakeAudio(path, Sine(8000, 0.2), "-c:a flac"));
    EXPECT_TRUE(DecodeAll(path).Opened);
    EXPECT_TRUE(DecodeAll("file:" + path).Opened);
    EXPECT_FALSE(DecodeAll("subfile,,start,0,end,0,,:" + path).Opened);
    EXPECT_FALSE(DecodeAll("pipe:0").Opened);
}

TEST_F(DsdecTest, TruncatedAndCorruptFilesEndWithoutCrashing)
{
    ASSERT_TRUE(MakeAudio(Dir.File("src.mp3"), Sine(44100, 2.0, 2), "-c:a libmp3lame"));
    ASSERT_TRUE(MakeAudio(Dir.File("src.flac"), Sine(44100, 2.0, 2), "-c:a flac"));
    ASSERT_TRUE(MakeAudio(Dir.File("src.m4a"), Sine(44100, 2.0, 2), "-c:a aac"));
    std::vector<std::string> names;
    for (const char* src : {"src.mp3", "src.flac", "src.m4a"}) {
        const auto bytes = test::ReadAll(Dir.File(src));
        const std::string ext = std::string(src).substr(3);
        test::WriteAll(Dir.File("half" + ext), {bytes.begin(), bytes.begin() + long(bytes.size() / 2)});
        test::WriteAll(Dir.File("head" + ext), {bytes.begin(), bytes.begin() + 64});
        auto damaged = bytes;
        uint32_t x = 7;
        for (size_t i = bytes.size() / 4; i < bytes.size() / 2; ++i) {
            x = x * 1664525u + 1013904223u;
            damaged[i] = uint8_t(x >> 24);
        }
        test::WriteAll(Dir.File("damaged" + ext), damaged);
        for (const char* kind : {"half", "head", "damaged"})
            names.push_back(Dir.File(kind + ext));
    }
    std::vector<uint8_t> noise(20000);
    uint32_t x = 99;
    for (auto& b : noise)
        b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
    test::WriteAll(Dir.File("noise.mp3"), noise);
    names.push_back(Dir.File("noise.mp3"));

    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const TDecoded d = DecodeAll(name);
        if (d.Opened) {
            EXPECT_TRUE(d.Finished);
            EXPECT_EQ(d.Pcm.size() % d.Format.nBlockAlign, 0u);
        }
    }
    // A truncated lossless file still yields its first half exactly.
    const TDecoded half = DecodeAll(Dir.File("half.flac"));
    ASSERT_TRUE(half.Opened);
    const std::string ref = ReferencePcm(Dir.File("src.flac"));
    EXPECT_GT(half.Pcm.size(), ref.size() / 3);
    EXPECT_TRUE(ref.compare(0, half.Pcm.size(), half.Pcm) == 0);
}

} // namespace
} // namespace marlix
