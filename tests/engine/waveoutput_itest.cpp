#include "engine/waveoutput.h"

#include "engine/alsafiledevice.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using marlix::TAlsaWaveOut;
using marlix::TOutState;
using marlix::TWaveFormat;
using marlix::TWaveHeader;
using marlix::TWaveOutput;
using marlix::test::ReadAll;
using marlix::test::TAlsaFileDevice;
using marlix::test::TempDir;

namespace {

// ALSA reads its configuration once per process, so the private one is put in place
// before any test runs.
class AlsaEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        Dir = std::make_unique<TempDir>();
        Device = std::make_unique<TAlsaFileDevice>(Dir->Path());
        mkfifo(StuckPipe().c_str(), 0600);
        Device->AddFilePcm("marlixstuck", StuckPipe());
        Device->Export();
    }
    void TearDown() override
    {
        Device.reset();
        Dir.reset();
    }
    static std::string StuckPipe() { return Dir->File("stuck.pipe"); }
    static inline std::unique_ptr<TempDir> Dir;
    static inline std::unique_ptr<TAlsaFileDevice> Device;
};

[[maybe_unused]] testing::Environment* const alsaEnvironment =
    testing::AddGlobalTestEnvironment(new AlsaEnvironment);

const TAlsaFileDevice& Device() { return *AlsaEnvironment::Device; }

// Render function: frame n of the stream carries n in the high half of the left
// channel and ~n in the right one; the low halves hold bits the 16-bit output drops.
std::atomic<int64_t> renderedFrames{0};

int16_t LeftOf(int64_t n) { return int16_t(uint16_t(n)); }
int16_t RightOf(int64_t n) { return int16_t(uint16_t(~n)); }

void CounterRender(int32_t* const* outputs, int frames, int channels)
{
    const int64_t base = renderedFrames.load();
    for (int f = 0; f < frames; ++f) {
        outputs[0][f] = int32_t(uint32_t(uint16_t(LeftOf(base + f))) << 16 | 0x7FFFu);
        if (channels > 1)
            outputs[1][f] = int32_t(uint32_t(uint16_t(RightOf(base + f))) << 16 | 0x8001u);
    }
    renderedFrames.fetch_add(frames);
}

int DeviceIndex(const TWaveOutput& out, const std::string& name)
{
    for (int i = 0; i < out.GetDeviceCount(); ++i)
        if (out.GetDeviceName(i) == name)
            return i;
    return -1;
}

bool WaitFor(const std::function<bool()>& done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Checks that `bytes` are the first frames of the counter stream as 16-bit stereo.
void ExpectCounterStream(const std::vector<uint8_t>& bytes, int minFrames)
{
    ASSERT_EQ(bytes.size() % 4, 0u);
    const int64_t frames = int64_t(bytes.size() / 4);
    ASSERT_GE(frames, minFrames);
    ASSERT_LE(frames, renderedFrames.load());
    for (int64_t n = 0; n < frames; ++n) {
        const uint8_t* p = bytes.data() + n * 4;
        const int16_t left = int16_t(uint16_t(p[0] | p[1] << 8));
        const int16_t right = int16_t(uint16_t(p[2] | p[3] << 8));
        ASSERT_EQ(left, LeftOf(n)) << "frame " << n;
        ASSERT_EQ(right, RightOf(n)) << "frame " << n;
    }
}

class WaveOutputDevice : public testing::Test {
protected:
    void SetUp() override
    {
        Device().Clear();
        renderedFrames = 0;
    }

    // Runs the chain until `buffers` buffers were rendered, then closes it.
    void PlayChain(TWaveOutput& out, int device, int rate, int buffers)
    {
        out.SetRender(&CounterRender);
        ASSERT_TRUE(out.StartForChain(device, 4, 2048, rate));
        EXPECT_EQ(out.OutState.load(), TOutState::Playing);
        const int64_t target = int64_t(buffers) * out.BufLen;
        EXPECT_TRUE(WaitFor([&] { return renderedFrames.load() >= target; }));
        out.CloseOutput();
        EXPECT_EQ(out.OutState.load(), TOutState::Closed);
    }
};

TEST_F(WaveOutputDevice, DeviceListNamesTheExtraPcm)
{
    const auto& names = TAlsaWaveOut::DeviceNames();
    EXPECT_NE(std::find(names.begin(), names.end(), Device().PcmName), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "null"), names.end());
    EXPECT_LE(names.size(), 33u);
    TWaveOutput out;
    EXPECT_GE(DeviceIndex(out, Device().PcmName), 0);
}

TEST_F(WaveOutputDevice, DeviceReceivesEveryFrameInOrder)
{
    TWaveOutput out;
    PlayChain(out, DeviceIndex(out, Device().PcmName), 44100, 40);
    EXPECT_EQ(out.BufLen, 2048);
    ExpectCounterStream(ReadAll(Device().OutputFile), 20 * 2048);
}

TEST_F(WaveOutputDevice, HighRateUsesLongerBuffersWithoutGaps)
{
    TWaveOutput out;
    PlayChain(out, DeviceIndex(out, Device().PcmName), 192000, 12);
    EXPECT_EQ(out.BufLen, 8192);
    ExpectCounterStream(ReadAll(Device().OutputFile), 6 * 8192);
}

TEST_F(WaveOutputDevice, Device65535PlaysOnDefault)
{
    TWaveOutput out;
    PlayChain(out, 65535, 44100, 12);
    EXPECT_EQ(out.PairDevice[0], -1);
    ExpectCounterStream(ReadAll(Device().DefaultFile), 6 * 2048);
}

TEST_F(WaveOutputDevice, MonoChainAt24BitsDuplicatesTheChannel)
{
    TWaveOutput out;
    out.SetPairDevice(0, DeviceIndex(out, Device().PcmName));
    out.SetBuffers(3, 1000);
    out.SetFormat(48000, 24);
    out.SetRender(&CounterRender);
    ASSERT_TRUE(out.OpenOutput(1));
    for (int i = 0; i < 3; ++i)
        out.FillOne();
    out.Flush();
    EXPECT_TRUE(WaitFor([] { return renderedFrames.load() >= 15000; }));
    out.CloseOutput();

    const auto bytes = ReadAll(Device().OutputFile);
    ASSERT_EQ(bytes.size() % 6, 0u);
    ASSERT_GE(bytes.size() / 6, 6000u);
    for (size_t n = 0; n < bytes.size() / 6; ++n) {
        const uint8_t* p = bytes.data() + n * 6;
        const uint16_t high = uint16_t(LeftOf(int64_t(n)));
        // bytes 1, 2, 3 of (n << 16 | 0x7FFF)
        const uint8_t want[3] = {0x7F, uint8_t(high), uint8_t(high >> 8)};
        ASSERT_TRUE(std::equal(want, want + 3, p)) << "frame " << n;
        ASSERT_TRUE(std::equal(want, want + 3, p + 3)) << "frame " << n;
    }
}

TEST_F(WaveOutputDevice, MissingDeviceFailsCleanlyAndStaysSilent)
{
    TWaveOutput out(std::vector<std::string>{"marlix_no_such_pcm"});
    out.SetRender(&CounterRender);
    EXPECT_FALSE(out.StartForChain(0, 4, 2048, 44100));
    const int64_t prefilled = renderedFrames.load();
    out.Tick();
    EXPECT_EQ(renderedFrames.load(), prefilled);
    out.CloseOutput();
    EXPECT_EQ(out.OutState.load(), TOutState::Closed);

    TAlsaWaveOut* handle = reinterpret_cast<TAlsaWaveOut*>(&out);
    TWaveFormat format;
    EXPECT_EQ(TAlsaWaveOut::Open(&handle, "marlix_no_such_pcm", format, nullptr, nullptr), marlix::WaveBadDevice);
    EXPECT_EQ(handle, nullptr);
}

// A device whose driver thread hangs inside ALSA (a PCM writing to a pipe nobody reads):
// closing gives up on it by its deadline, says so, and leaves it behind instead of
// waiting for good.
TEST_F(WaveOutputDevice, CloseGivesUpOnADeviceStuckInAlsa)
{
    const int reader = open(AlsaEnvironment::StuckPipe().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    TWaveOutput out(std::vector<std::string>{"marlixstuck"});
    out.CloseTimeout = std::chrono::milliseconds(200);
    out.SetRender(&CounterRender);
    ASSERT_TRUE(out.StartForChain(0, 4, 2048, 44100));
    // Once the pipe (64 KiB) is full the driver thread is stuck writing, and rendering
    // stops as the queue stays full.
    int64_t seen = -1;
    EXPECT_TRUE(WaitFor([&] {
        const int64_t now = renderedFrames.load();
        const bool stalled = now >= 16384 && now == seen;
        seen = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return stalled;
    }));

    testing::internal::CaptureStderr();
    auto closing = std::async(std::launch::async, [&] { out.CloseOutput(); });
    const bool returned = closing.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    // Draining the pipe lets the driver thread go, whether it was left behind or waited
    // for; one left behind may still write once the pipe is closed.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<char> sink(1 << 16);
    for (int i = 0; i < 50 || closing.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready; ++i) {
        while (read(reader, sink.data(), sink.size()) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    closing.get();
    const std::string errors = testing::internal::GetCapturedStderr();
    close(reader);
    ASSERT_TRUE(returned) << "closing waited for the device";
    EXPECT_NE(errors.find("did not stop within 200 ms"), std::string::npos) << errors;
    EXPECT_EQ(out.OutState.load(), TOutState::Closed);
}

// Done callback of the layer test: records the order in which buffers came back.
struct DoneLog {
    TWaveHeader* Order[16] = {};
    std::atomic<int> Count{0};
};

void RecordDone(TAlsaWaveOut*, unsigned msg, void* instance, TWaveHeader* header)
{
    auto* log = static_cast<DoneLog*>(instance);
    if (msg == marlix::WaveMsgDone && log->Count.load() < 16)
        log->Order[log->Count.fetch_add(1)] = header;
}

TEST_F(WaveOutputDevice, LayerPlaysBuffersInOrderAndReportsEachDone)
{
    TWaveFormat format;
    DoneLog log;
    TAlsaWaveOut* dev = nullptr;
    ASSERT_EQ(TAlsaWaveOut::Open(&dev, Device().PcmName, format, &RecordDone, &log), marlix::WaveOk);

    std::vector<uint8_t> data[3];
    TWaveHeader headers[3];
    std::vector<uint8_t> expected;
    for (int i = 0; i < 3; ++i) {
        for (int b = 0; b < 400 * 4; ++b)
            data[i].push_back(uint8_t(b * 7 + i * 31));
        expected.insert(expected.end(), data[i].begin(), data[i].end());
        headers[i].Data = data[i].data();
        headers[i].Length = uint32_t(data[i].size());
    }
    EXPECT_EQ(dev->Write(&headers[0]), marlix::WaveUnprepared);
    for (auto& h : headers) {
        ASSERT_EQ(dev->Prepare(&h), marlix::WaveOk);
        ASSERT_EQ(dev->Write(&h), marlix::WaveOk);
    }
    EXPECT_TRUE(WaitFor([&] { return log.Count.load() == 3; }));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(log.Order[i], &headers[i]);
        EXPECT_TRUE(headers[i].Flags.load() & marlix::WaveHdrDone);
        EXPECT_EQ(dev->Unprepare(&headers[i]), marlix::WaveOk);
    }
    EXPECT_EQ(dev->Reset(), marlix::WaveOk);
    EXPECT_EQ(TAlsaWaveOut::Close(dev), marlix::WaveOk);
    EXPECT_EQ(ReadAll(Device().OutputFile), expected);
}

} // namespace
