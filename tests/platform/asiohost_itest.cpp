// The ALSA drivers of the pro-audio host library against the private file devices of
// alsafiledevice.h: through the library's entry points (asiohost.so, loaded here) and,
// for what those cannot choose (interleaved access, a capture side), through
// TAlsaDriver directly. The bytes a device received are compared with what the
// callbacks handed over.
#include "engine/alsafiledevice.h"
#include "platform/asiohost/alsadriver.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace marlix {
namespace {

using asiohost::TAlsaDevice;
using asiohost::TAlsaDriver;

constexpr int kInFrames = 4096;

// Period k, frame i, channel c of the test streams: distinct in every byte.
int32_t Pattern(int64_t frame, int channel)
{
    return static_cast<int32_t>(static_cast<uint32_t>(frame) * 2654435761u + static_cast<uint32_t>(channel) * 40503u);
}

// The private ALSA configuration, in place before the first ALSA call: the file device
// of the wave output tests plus "marlixcapture", whose capture side reads a file of
// known samples (S32_LE, 2 channels) and whose playback goes nowhere.
class AlsaEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        Dir = std::make_unique<test::TempDir>();
        Device = std::make_unique<test::TAlsaFileDevice>(Dir->Path());
        std::vector<uint8_t> input(kInFrames * 2 * 4);
        for (int i = 0; i < kInFrames; ++i)
            for (int c = 0; c < 2; ++c) {
                const int32_t v = Pattern(i, c + 7);
                std::memcpy(input.data() + (i * 2 + c) * 4, &v, 4);
            }
        test::WriteAll(Dir->File("capture.raw"), input);
        test::WriteText(Device->ConfigPath,
                        test::ReadText(Device->ConfigPath) + "pcm.marlixcapture {\n  type file\n  slave.pcm \"marlix_sink\"\n"
                            "  file \"" + Dir->File("captured.raw") + "\"\n  infile \"" + Dir->File("capture.raw") +
                            "\"\n  format \"raw\"\n}\n");
        Device->Export();
    }
    void TearDown() override
    {
        Device.reset();
        Dir.reset();
    }
    static inline std::unique_ptr<test::TempDir> Dir;
    static inline std::unique_ptr<test::TAlsaFileDevice> Device;
};

[[maybe_unused]] testing::Environment* const alsaEnvironment = testing::AddGlobalTestEnvironment(new AlsaEnvironment);

const test::TAlsaFileDevice& Device() { return *AlsaEnvironment::Device; }

// The entry points of the built asiohost.so.
struct THostLibrary {
    using TPoll = int32_t (*)();
    using TCallback = int32_t (*)(int32_t, int32_t, void**, const int32_t*);
    int32_t (*Initialize)(const char*, TPoll, TCallback, TCallback) = nullptr;
    void (*TestApi)(const char*, TPoll, TCallback, TCallback) = nullptr;
    void (*Destroy)() = nullptr;
    int32_t (*GetTestInt)() = nullptr;
    void (*InputName)(int32_t, char*) = nullptr;
    void (*OutputName)(int32_t, char*) = nullptr;
    void (*DriverNum)(int32_t*) = nullptr;
    void (*DriverNames)(char**, int32_t) = nullptr;
    void (*ControlPanel)() = nullptr;
    int32_t (*CanRate)(double) = nullptr;
    int32_t (*SetRate)(double) = nullptr;
    int32_t (*GetRate)(double*) = nullptr;
    void* Handle = nullptr;

    bool Load()
    {
        Handle = dlopen((std::string(MARLIX_TEST_BIN_DIR) + "asiohost.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!Handle)
            return false;
        auto get = [this](auto& f, const char* name) {
            f = reinterpret_cast<std::decay_t<decltype(f)>>(dlsym(Handle, name));
            return f != nullptr;
        };
        return get(Initialize, "InitializeASIO") && get(TestApi, "testapi") && get(Destroy, "DestroyASIO") &&
               get(GetTestInt, "GetTestInt") && get(InputName, "GetInputName") && get(OutputName, "GetOutputName") &&
               get(DriverNum, "GetDriverNum") && get(DriverNames, "GetDriverNames") &&
               get(ControlPanel, "ASIOControlPanel") && get(CanRate, "ASIOCanSampleRate") &&
               get(SetRate, "ASIOSetSampleRate") && get(GetRate, "ASIOGetSampleRate");
    }
    std::vector<std::string> Drivers() const
    {
        int32_t count = 0;
        DriverNum(&count);
        std::vector<std::vector<char>> store(static_cast<size_t>(count), std::vector<char>(256, 0));
        std::vector<char*> names;
        for (auto& s : store)
            names.push_back(s.data());
        DriverNames(names.data(), count);
        std::vector<std::string> result;
        for (auto& s : store)
            result.emplace_back(s.data());
        return result;
    }
    std::string Output(int i) const
    {
        char text[256] = "unwritten";
        OutputName(i, text);
        return text;
    }
    std::string Input(int i) const
    {
        char text[256] = "unwritten";
        InputName(i, text);
        return text;
    }
};

// What the streaming calls saw: the output callback writes the pattern into channel 0
// every period and into channel 1 only in even periods; the stop poll ends the run
// after `Periods` output periods.
struct TStreamLog {
    int Periods = 0;
    int Calls = 0;
    int Frames = 0;
    int Channels = 0;
    int32_t Type = 0;
    int64_t Written = 0;
    int InputCalls = 0;
    bool InputBeforeOutput = true;
    std::vector<int32_t> Inputs[2];
};
TStreamLog gLog;

int32_t StopAfterPeriods() { return gLog.Calls >= gLog.Periods; }

int32_t WritePattern(int32_t channels, int32_t frames, void** buffers, const int32_t* types)
{
    gLog.Frames = frames;
    gLog.Channels = channels;
    gLog.Type = types[0];
    if (gLog.InputCalls != gLog.Calls + 1 && gLog.InputCalls != 0)
        gLog.InputBeforeOutput = false;
    for (int i = 0; i < frames; ++i) {
        const int32_t v = Pattern(gLog.Written + i, 0);
        std::memcpy(static_cast<uint8_t*>(buffers[0]) + 4 * i, &v, 4);
        if (gLog.Calls % 2 == 0 && channels > 1) {
            const int32_t w = Pattern(gLog.Written + i, 1);
            std::memcpy(static_cast<uint8_t*>(buffers[1]) + 4 * i, &w, 4);
        }
    }
    gLog.Written += frames;
    ++gLog.Calls;
    return 0;
}

int32_t RecordInputs(int32_t channels, int32_t frames, void** buffers, const int32_t*)
{
    ++gLog.InputCalls;
    for (int c = 0; c < std::min(channels, 2); ++c) {
        const auto* in = static_cast<const int32_t*>(buffers[c]);
        gLog.Inputs[c].insert(gLog.Inputs[c].end(), in, in + frames);
    }
    return 0;
}

// The interleaved S32_LE stereo frames the callbacks produced, as the device should hold them.
std::vector<int32_t> ExpectedFrames()
{
    std::vector<int32_t> frames;
    for (int64_t i = 0; i < gLog.Written; ++i) {
        const bool even = (i / gLog.Frames) % 2 == 0;
        frames.push_back(Pattern(i, 0));
        frames.push_back(even ? Pattern(i, 1) : 0);
    }
    return frames;
}

std::vector<int32_t> FileSamples(const std::string& path)
{
    const auto bytes = test::ReadAll(path);
    std::vector<int32_t> s(bytes.size() / 4);
    std::memcpy(s.data(), bytes.data(), s.size() * 4);
    return s;
}

class AlsaHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Lib.Load()) << dlerror();
        Device().Clear();
        gLog = TStreamLog{};
    }
    void TearDown() override
    {
        if (Lib.Destroy)
            Lib.Destroy();
        if (Lib.Handle)
            dlclose(Lib.Handle);
    }
    THostLibrary Lib;
};

TEST_F(AlsaHostTest, ListsJackFirstThenTheExtraPcm)
{
    const auto names = Lib.Drivers();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names.front(), "JACK");
    EXPECT_EQ(names.back(), "ALSA: marlixfile");
    for (size_t i = 1; i < names.size(); ++i)
        EXPECT_EQ(names[i].rfind("ALSA: ", 0), 0u) << names[i];
}

TEST_F(AlsaHostTest, RatesAreAnsweredSetAndKeptAcrossAReload)
{
    double rate = 0;
    EXPECT_EQ(Lib.GetRate(&rate), -1) << "no driver yet";
    ASSERT_EQ(Lib.Initialize("ALSA: marlixfile", StopAfterPeriods, WritePattern, nullptr), 1);
    ASSERT_EQ(Lib.GetRate(&rate), 0);
    EXPECT_EQ(rate, 44100.0);
    EXPECT_EQ(Lib.CanRate(96000), 0);
    EXPECT_EQ(Lib.CanRate(8000), 0);
    EXPECT_NE(Lib.CanRate(44100.5), 0);
    EXPECT_NE(Lib.CanRate(0), 0);
    EXPECT_NE(Lib.CanRate(-48000), 0);
    EXPECT_NE(Lib.SetRate(44100.5), 0);
    EXPECT_EQ(Lib.SetRate(88200), 0);
    ASSERT_EQ(Lib.GetRate(&rate), 0);
    EXPECT_EQ(rate, 88200.0);
    // Channel names of a device without a channel map; the file device plays only.
    EXPECT_EQ(Lib.Output(0), "Output 1");
    EXPECT_EQ(Lib.Output(1), "Output 2");
    EXPECT_EQ(Lib.Output(2), "");
    EXPECT_EQ(Lib.Input(0), "");
    Lib.ControlPanel(); // nothing to show for a card
    Lib.Destroy();
    EXPECT_EQ(Lib.GetRate(&rate), -1);
    // The library stays loaded: the next initialisation starts at the rate set.
    dlclose(Lib.Handle);
    ASSERT_TRUE(Lib.Load());
    ASSERT_EQ(Lib.Initialize("ALSA: marlixfile", StopAfterPeriods, WritePattern, nullptr), 1);
    ASSERT_EQ(Lib.GetRate(&rate), 0);
    EXPECT_EQ(rate, 88200.0);
    EXPECT_EQ(Lib.SetRate(44100), 0);
}

TEST_F(AlsaHostTest, UnknownOrMissingDevicesFailInitialisationAtOnce)
{
    EXPECT_EQ(Lib.Initialize("ALSA: no such card", StopAfterPeriods, WritePattern, nullptr), 0);
    // A device that is listed but cannot be opened (no card behind the name).
    setenv("MARLIX_AUDIO_ALSA_PCM", "hw:9", 1);
    const auto names = Lib.Drivers();
    EXPECT_EQ(names.back(), "ALSA: hw:9");
    auto init = std::async(std::launch::async, [&] { return Lib.Initialize("ALSA: hw:9", StopAfterPeriods, WritePattern, nullptr); });
    setenv("MARLIX_AUDIO_ALSA_PCM", Device().PcmName.c_str(), 1);
    ASSERT_EQ(init.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "opening a missing card hangs";
    EXPECT_EQ(init.get(), 0);
    double rate = 0;
    EXPECT_EQ(Lib.GetRate(&rate), -1);
    EXPECT_EQ(Lib.CanRate(44100), -1);
    Lib.TestApi("ALSA: hw:9", StopAfterPeriods, WritePattern, nullptr); // returns: nothing to stream
    EXPECT_EQ(gLog.Calls, 0);
}

TEST_F(AlsaHostTest, StreamsTheCallbackBytesInRealTimeWithUnwrittenChannelsSilent)
{
    ASSERT_EQ(Lib.Initialize("ALSA: marlixfile", StopAfterPeriods, WritePattern, nullptr), 1);
    ASSERT_EQ(Lib.SetRate(48000), 0); // applies when streaming starts
    gLog.Periods = 60;
    const auto start = std::chrono::steady_clock::now();
    Lib.TestApi("ALSA: marlixfile", StopAfterPeriods, WritePattern, nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(Lib.GetTestInt(), 0);
    Lib.Destroy();
    EXPECT_EQ(gLog.Channels, 2);
    EXPECT_EQ(gLog.Type, 18) << "S32_LE is the preferred native format";
    ASSERT_GT(gLog.Frames, 0);
    const auto expected = ExpectedFrames();
    const auto got = FileSamples(Device().OutputFile);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(got[i], expected[i]) << "sample " << i;
    // The device has no clock: the writer may run ahead of real time by its buffer
    // (4 periods here, 1 more in flight) and no more.
    const double audio = static_cast<double>(gLog.Written - 5 * gLog.Frames) / 48000.0;
    EXPECT_GE(seconds, audio) << gLog.Written << " frames at 48 kHz";
}

// TAlsaDriver directly: interleaved access and a capture side.
class AlsaDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Device().Clear();
        gLog = TStreamLog{};
    }
    void Stream(const TAlsaDevice& device, bool interleaved, int periods)
    {
        ASSERT_TRUE(Driver.Open(device, 48000, interleaved));
        EXPECT_EQ(Driver.Outputs().Interleaved(), interleaved);
        gLog.Periods = periods;
        Driver.Stream(StopAfterPeriods, WritePattern, RecordInputs);
        Driver.Close();
    }
    void ExpectPlayedBytes()
    {
        const auto expected = ExpectedFrames();
        const auto got = FileSamples(Device().OutputFile);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(got[i], expected[i]) << "sample " << i;
    }
    void ExpectCapturedSamples()
    {
        ASSERT_EQ(gLog.InputCalls, gLog.Periods);
        EXPECT_TRUE(gLog.InputBeforeOutput);
        ASSERT_GE(gLog.Inputs[0].size(), static_cast<size_t>(kInFrames / 2));
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < kInFrames / 2; ++i)
                ASSERT_EQ(gLog.Inputs[c][static_cast<size_t>(i)], Pattern(i, c + 7)) << c << " " << i;
    }
    TAlsaDriver Driver;
};

TEST_F(AlsaDriverTest, InterleavedAccessCarriesTheSameBytes)
{
    Stream({"ALSA: marlixfile", Device().PcmName, ""}, true, 9);
    EXPECT_EQ(gLog.InputCalls, 0);
    ExpectPlayedBytes();
}

TEST_F(AlsaDriverTest, CapturedPeriodsReachTheInputCallbackBeforeEachOutput)
{
    for (bool interleaved : {false, true}) {
        SCOPED_TRACE(interleaved ? "interleaved" : "non-interleaved");
        gLog = TStreamLog{};
        Device().Clear();
        Stream({"ALSA: marlixfile", Device().PcmName, "marlixcapture"}, interleaved, 8);
        EXPECT_EQ(Driver.Inputs().Channels(), 0); // closed again
        ExpectCapturedSamples();
        ExpectPlayedBytes();
    }
}

} // namespace
} // namespace marlix
