// The pro-audio output against a private JACK server on the dummy backend, started and
// stopped by the test, with a recording client of the test's own (libjack, opened at
// run time) connected to the host's ports.
#include "engine/asiothread.h"
#include "engine/decoder.h"
#include "base/flexfilebuf.h"
#include "base/mainthread.h"
#include "engine/waveoutput.h"
#include "player/pending.h"
#include "player/playbackcontrol.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "settings/settings.h"

#include "support/jackrecorder.h"
#include "support/jackregistry.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace marlix {
namespace {

constexpr int kPorts = 4;
constexpr int kCapacity = 48000 * 4;

using test::TJackApi;
using test::TJackServer;

struct TRecorder {
    TJackApi* Api = nullptr;
    jack_client_t* Client = nullptr;
    jack_port_t* Ports[kPorts] = {};
    std::vector<float> Samples[kPorts];
    std::atomic<int> Frames{0};

    static int Process(jack_nframes_t nframes, void* arg)
    {
        auto* self = static_cast<TRecorder*>(arg);
        const int at = self->Frames.load(std::memory_order_relaxed);
        const int n = std::min(static_cast<int>(nframes), kCapacity - at);
        if (n <= 0)
            return 0;
        for (int p = 0; p < kPorts; ++p) {
            const auto* in = static_cast<const float*>(self->Api->PortGetBuffer(self->Ports[p], nframes));
            std::copy(in, in + n, self->Samples[p].begin() + at);
        }
        self->Frames.store(at + n, std::memory_order_release);
        return 0;
    }
};

// The render callback's ramp: pair 1 (outputs 2, 3) gets a ramp and its negation; output 0
// gets a constant that must never reach the port, its enable being off.
std::atomic<int64_t> gRendered{0};

int32_t RampValue(int64_t k)
{
    return static_cast<int32_t>((k % 32768) - 16384) * 65536;
}

void RenderRamp(int frames, int, int32_t* const*, int outputCount, int32_t* const* outputs)
{
    const int64_t start = gRendered.load(std::memory_order_relaxed);
    for (int i = 0; i < frames; ++i) {
        if (outputCount > 0)
            outputs[0][i] = 12345 * 65536;
        if (outputCount > 3) {
            outputs[2][i] = RampValue(start + i);
            outputs[3][i] = -RampValue(start + i);
        }
    }
    gRendered.store(start + frames, std::memory_order_relaxed);
}

class ASIOJackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::HaveProgram("jackd") || !test::HaveProgram("jack_wait"))
            GTEST_SKIP() << "jackd or jack_wait is not installed: the JACK driver cannot be tested here";
        if (!Api.Load())
            GTEST_SKIP() << "libjack.so.0 cannot be opened";
        Name = "marlix-asio-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", Name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        Server = std::make_unique<TJackServer>(Name, LogFolder.File("jackd.log"), 256, kPorts);
        // jackd is installed (the scripts install it): a server that will not start is a fault.
        ASSERT_TRUE(Server->Ready()) << "a private JACK server (jackd -d dummy) did not start:\n"
                                     << Server->Output();
    }
    void TearDown() override
    {
        asioStop();
        EnableChannels(true);
        if (Recorder.Client) {
            Api.Deactivate(Recorder.Client);
            Api.ClientClose(Recorder.Client);
        }
        Server.reset();
    }

    bool StartRecorder()
    {
        jack_status_t status{};
        Recorder.Api = &Api;
        Recorder.Client = Api.ClientOpen("marlix-recorder", JackNoStartServer, &status);
        if (!Recorder.Client)
            return false;
        for (int p = 0; p < kPorts; ++p) {
            Recorder.Samples[p].assign(kCapacity, 0.0f);
            Recorder.Ports[p] = Api.PortRegister(Recorder.Client, ("in_" + std::to_string(p + 1)).c_str(),
                                                 JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
            if (!Recorder.Ports[p])
                return false;
        }
        Api.SetProcessCallback(Recorder.Client, TRecorder::Process, &Recorder);
        if (Api.Activate(Recorder.Client) != 0)
            return false;
        return ConnectRecorder();
    }

    // Connects the host's playback ports to the recorder; a connection already made counts.
    bool ConnectRecorder()
    {
        for (int p = 0; p < kPorts; ++p) {
            const std::string source = "Marlix Audio:playback_" + std::to_string(p + 1);
            const int result = Api.Connect(Recorder.Client, source.c_str(), Api.PortName(Recorder.Ports[p]));
            if (result != 0 && result != EEXIST)
                return false;
        }
        return true;
    }

    bool HeardOnPort(int port)
    {
        const int frames = Recorder.Frames.load(std::memory_order_acquire);
        for (int j = 0; j < frames; ++j)
            if (Recorder.Samples[port][j] != 0.0f)
                return true;
        return false;
    }

    // Waits until the recorder holds `frames` frames; false when nothing comes for long.
    bool WaitForFrames(int frames)
    {
        for (int i = 0; i < 3000; ++i) {
            if (Recorder.Frames.load(std::memory_order_acquire) >= frames)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    TJackApi Api;
    TRecorder Recorder;
    std::string Name;
    test::TempDir LogFolder;
    std::unique_ptr<TJackServer> Server;
};

TEST_F(ASIOJackTest, ReportsTheServersPortsAndRate)
{
    ASSERT_TRUE(asioStart("JACK", RenderRamp));
    ASSERT_GE(ASIODriverCount(), 1); // ALSA cards and devices follow
    EXPECT_EQ(ASIODriverName(0), "JACK");
    for (int p = 0; p < kPorts; ++p)
        EXPECT_EQ(ASIOOutputName(p), "playback_" + std::to_string(p + 1));
    EXPECT_EQ(ASIOOutputName(kPorts), "");
    EXPECT_EQ(ASIOInputName(0), "capture_1");
    EXPECT_EQ(ASIOInputName(1), "capture_2");
    EXPECT_EQ(ASIOInputName(2), "");
    double rate = 0;
    EXPECT_EQ(ASIOGetSampleRate(&rate), 0);
    EXPECT_EQ(rate, 48000.0);
    EXPECT_EQ(ASIOCanSampleRate(48000), 0);
    EXPECT_NE(ASIOCanSampleRate(44100), 0);
    EXPECT_EQ(ASIOSetSampleRate(48000), 0);
    EXPECT_NE(ASIOSetSampleRate(96000), 0);
    asioStop();
    EXPECT_EQ(ASIOGetSampleRate(&rate), -1);
}

TEST_F(ASIOJackTest, RenderedIntegersArriveAsFloatsOnTheirPorts)
{
    EnableChannels(true);
    SetOutputEnable(0, false);
    ASSERT_TRUE(asioStart("JACK", RenderRamp));
    ASSERT_TRUE(StartRecorder());
    ASSERT_TRUE(WaitForFrames(kCapacity));
    asioStop();

    const std::vector<float>& left = Recorder.Samples[2];
    const std::vector<float>& right = Recorder.Samples[3];
    // Skip what arrived before the connections were made.
    int first = 0;
    while (first < kCapacity && left[first] == 0.0f)
        ++first;
    ASSERT_LT(first, kCapacity / 2) << "the ramp never arrived";
    // The ramp position of a sample, from its value: x = (k mod 32768 − 16384) · 65536.
    auto position = [&](int j) { return static_cast<int64_t>(std::lround(left[j] * 32768.0)) + 16384; };
    // A loaded machine may drop a period (a JACK xrun); the ramp then picks up again at
    // the start of one of the recorder's periods, never inside one.
    int64_t k0 = position(first);
    int anchor = first;
    int mismatches = 0;
    int resyncs = 0;
    for (int j = first; j < kCapacity && mismatches < 5; ++j) {
        const int64_t k = k0 + (j - anchor);
        const double v = (static_cast<double>(k % 32768) - 16384.0) * 65536.0;
        const float expectedLeft = static_cast<float>(v / 2147483648.0);
        const float expectedRight = static_cast<float>(-v / 2147483648.0);
        if (left[j] == expectedLeft && right[j] == expectedRight)
            continue;
        if (j % 256 == 0 && right[j] == -left[j] && left[j] * 32768.0f == std::round(left[j] * 32768.0f)) {
            k0 = position(j);
            anchor = j;
            ++resyncs;
            continue;
        }
        ADD_FAILURE() << "frame " << j << ": " << left[j] << ", " << right[j] << " instead of " << expectedLeft
                      << ", " << expectedRight;
        ++mismatches;
    }
    EXPECT_LT(resyncs, kCapacity / 256 / 10) << "too many dropped periods to judge the stream";
    // Output 0 is switched off and output 1 renders nothing: both carry silence.
    for (int j = 0; j < kCapacity; ++j) {
        ASSERT_EQ(Recorder.Samples[0][j], 0.0f) << "frame " << j;
        ASSERT_EQ(Recorder.Samples[1][j], 0.0f) << "frame " << j;
    }
}

TEST_F(ASIOJackTest, ControlPanelOpensAPatchbayAndStreamingResumes)
{
    // A patchbay stand-in on PATH that leaves a mark when started.
    test::TempDir bin;
    const std::string mark = bin.File("started");
    test::WriteText(bin.File("qpwgraph"), "#!/bin/sh\ntouch '" + mark + "'\n");
    ASSERT_EQ(chmod(bin.File("qpwgraph").c_str(), 0755), 0);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin.Path() + ":" + oldPath).c_str(), 1);

    ASSERT_TRUE(asioStart("JACK", RenderRamp));
    EXPECT_EQ(ASIOControlPanel(), -1);
    bool marked = false;
    for (int i = 0; i < 1000 && !marked; ++i) {
        marked = access(mark.c_str(), F_OK) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_TRUE(marked) << "the patchbay was not started";
    // The driver is initialised again and streams: the recorder hears the ramp. The
    // connections are retried, for the first may reach the client being replaced.
    ASSERT_TRUE(StartRecorder() || Recorder.Client);
    bool heard = false;
    for (int i = 0; i < 100 && !heard; ++i) {
        ConnectRecorder();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        heard = HeardOnPort(2);
    }
    EXPECT_TRUE(heard);
    double rate = 0;
    EXPECT_EQ(ASIOGetSampleRate(&rate), 0);
}

// Stand-in host libraries, built by the tests with the system's C compiler.
// Playback through the pro-audio path: the control loop plays a file through the
// "JACK" driver, and the recorder hears it on the assigned pair.
class ASIOPlaybackTest : public ASIOJackTest {
protected:
    test::TempProgramFolder folder;

    void WriteWav(const std::string& path, const std::vector<int16_t>& left, int rate)
    {
        TFlexFileBuf file;
        ASSERT_EQ(file.OpenFile(1, {path}, rate, 16, 1, 2), 0);
        const int frames = static_cast<int>(left.size());
        file.SetBuf(nullptr, 2, 16, frames);
        std::copy(left.begin(), left.end(), static_cast<int16_t*>(file.Data[0]));
        ASSERT_EQ(file.WriteBlock(0, frames), frames);
        file.CloseFile(1);
    }

    // Plays `file` through the driver until the recorder holds `frames` frames.
    bool Play(const std::string& file, int frames)
    {
        TMainThread::Instance().SetMainThread(std::this_thread::get_id());
        TMainThread::Instance().Restart();
        ResetSettings(folder.Path());
        Settings().Output.nDriverType = 1;
        Settings().ASIO.DriverName = "JACK";
        Settings().ASIO.ChAssign0 = 0;
        Settings().ASIO.Device0 = 1; // ports 3 and 4
        TPlayerState state;
        state.AVC = false;
        TPendingAdditions pending;
        TPlaylist playlist(state, pending);
        TFo_Decoder decoder;
        TWaveOutput unused{std::vector<std::string>{}};
        TPlaybackControl control(Settings(), state, playlist, decoder, unused);
        control.RecordHistory = false;
        playlist.Add(file);
        state.Command.Post("Play");
        bool recording = false;
        for (int i = 0; i < 1000 && Recorder.Frames.load() < frames; ++i) {
            TMainThread::Instance().Pump();
            control.Tick();
            if (!recording && state.OutputRunning)
                recording = StartRecorder();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        control.StopOutput(true);
        return recording && Recorder.Frames.load() >= frames;
    }

    // The recording of a port from its first non-zero sample.
    std::vector<float> Heard(int port)
    {
        const auto& s = Recorder.Samples[port];
        const int frames = Recorder.Frames.load();
        int first = 0;
        while (first < frames && s[first] == 0.0f)
            ++first;
        return std::vector<float>(s.begin() + first, s.begin() + frames);
    }
};

TEST_F(ASIOPlaybackTest, A48kHzFileArrivesBitExactOnTheAssignedPair)
{
    std::vector<int16_t> left(48000);
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = static_cast<int16_t>(1 + static_cast<int>(i % 20000));
    WriteWav(folder.File("ramp.wav"), left, 48000);
    ASSERT_TRUE(Play(folder.File("ramp.wav"), 48000 * 3));
    const auto got = Heard(2);
    ASSERT_GE(got.size(), 30000u);
    // Every sample, in order, as the float the driver was given; an under-run may only
    // cut the recording short, never change a sample.
    for (size_t i = 0; i < 30000; ++i)
        ASSERT_EQ(got[i], static_cast<float>(left[i] / 32768.0)) << i;
    EXPECT_FALSE(HeardOnPort(0));
    EXPECT_FALSE(HeardOnPort(1));
    EXPECT_FALSE(HeardOnPort(3)); // the right channel of the file is silent
}

// The server goes away during playback: the loop stops by itself, and once a server
// is back the next "Play" streams again in the same session.
TEST_F(ASIOPlaybackTest, ALostServerStopsPlaybackAndPlayingAgainWorksOnceItIsBack)
{
    WriteWav(folder.File("long.wav"), std::vector<int16_t>(48000 * 10, 8000), 48000);
    TMainThread::Instance().SetMainThread(std::this_thread::get_id());
    TMainThread::Instance().Restart();
    ResetSettings(folder.Path());
    Settings().Output.nDriverType = 1;
    Settings().ASIO.DriverName = "JACK";
    Settings().ASIO.ChAssign0 = 0;
    Settings().ASIO.Device0 = 1;
    TPlayerState state;
    state.AVC = false;
    TPendingAdditions pending;
    TPlaylist playlist(state, pending);
    TFo_Decoder decoder;
    TWaveOutput unused{std::vector<std::string>{}};
    TPlaybackControl control(Settings(), state, playlist, decoder, unused);
    control.RecordHistory = false;
    auto runUntil = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i) {
            TMainThread::Instance().Pump();
            control.Tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    };
    playlist.Add(folder.File("long.wav"));
    state.Command.Post("Play");
    ASSERT_TRUE(runUntil([&] { return state.OutputRunning && control.DeviceOpened(); }));

    Server.reset();
    EXPECT_TRUE(runUntil([&] { return !state.OutputRunning.load(); }));
    EXPECT_TRUE(control.DeviceLost());

    Server = std::make_unique<TJackServer>(Name, LogFolder.File("jackd.log"), 256, kPorts);
    ASSERT_TRUE(Server->Ready()) << Server->Output();
    state.Command.Post("Play");
    ASSERT_TRUE(runUntil([&] { return state.OutputRunning && control.DeviceOpened(); }));
    EXPECT_FALSE(control.DeviceLost());
    ASSERT_TRUE(StartRecorder());
    EXPECT_TRUE(runUntil([&] { return HeardOnPort(2); }));
    control.StopOutput(true);
}

TEST_F(ASIOPlaybackTest, A44kHzFilePlaysAtTheRightSpeedThroughA48kHzServer)
{
    std::vector<int16_t> tone(44100 * 3);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * 1000 * static_cast<double>(i) / 44100)));
    WriteWav(folder.File("tone.wav"), tone, 44100);
    ASSERT_TRUE(Play(folder.File("tone.wav"), 48000 * 3));
    const auto got = Heard(2);
    ASSERT_GE(got.size(), 48000u);
    // Upward zero crossings over one second of the 48 kHz recording: 1000 for 1 kHz.
    int crossings = 0;
    for (size_t i = 1000; i < 1000 + 48000; ++i)
        if (got[i - 1] < 0 && got[i] >= 0)
            ++crossings;
    EXPECT_NEAR(crossings, 1000, 2);
}

const char* const kSilentDriver = R"(
#include <stdint.h>
#include <unistd.h>
typedef int32_t (*Poll)(void);
typedef int32_t (*Callback)(int32_t, int32_t, void**, const int32_t*);
int32_t InitializeASIO(const char* n, Poll p, Callback o, Callback i) { (void)n; (void)p; (void)o; (void)i; return 1; }
void testapi(const char* n, Poll p, Callback o, Callback i) { (void)n; (void)o; (void)i; while (!p()) usleep(1000); }
)";

// Two Int32LSB outputs, refilled with a marker before every output callback; counts
// initialisations, panel calls, releases and the callbacks since the last initialisation.
const char* const kCountingDriver = R"(
#include <stdint.h>
#include <unistd.h>
typedef int32_t (*Poll)(void);
typedef int32_t (*Callback)(int32_t, int32_t, void**, const int32_t*);
int inits, panels, destroys, calls;
int32_t out0[64], out1[64];
int32_t InitializeASIO(const char* n, Poll p, Callback o, Callback i)
{ (void)n; (void)p; (void)o; (void)i; __atomic_add_fetch(&inits, 1, __ATOMIC_SEQ_CST); __atomic_store_n(&calls, 0, __ATOMIC_SEQ_CST); return 1; }
void testapi(const char* n, Poll p, Callback o, Callback i)
{
    void* bufs[2] = {out0, out1};
    int32_t types[2] = {18, 18};
    (void)n; (void)i;
    while (!p()) {
        for (int k = 0; k < 64; ++k) out0[k] = out1[k] = 0x77777777;
        o(2, 64, bufs, types);
        __atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST);
        usleep(1000);
    }
}
void ASIOControlPanel(void) { __atomic_add_fetch(&panels, 1, __ATOMIC_SEQ_CST); }
void DestroyASIO(void) { __atomic_add_fetch(&destroys, 1, __ATOMIC_SEQ_CST); }
int Count(const char* what)
{
    switch (what[0]) {
    case 'i': return __atomic_load_n(&inits, __ATOMIC_SEQ_CST);
    case 'p': return __atomic_load_n(&panels, __ATOMIC_SEQ_CST);
    case 'd': return __atomic_load_n(&destroys, __ATOMIC_SEQ_CST);
    default: return __atomic_load_n(&calls, __ATOMIC_SEQ_CST);
    }
}
)";

// Builds a stand-in as asiohost.so in a private folder and points the library search there.
class ASIOStandInTest : public ::testing::Test {
protected:
    bool Build(const char* source)
    {
        if (!test::HaveProgram("cc"))
            return false;
        test::WriteText(Folder.File("standin.c"), source);
        int status = -1;
        test::RunCommand("cc -shared -fPIC -o '" + Folder.File("asiohost.so") + "' '" + Folder.File("standin.c") +
                             "' 2>&1",
                         &status);
        if (status != 0)
            return false;
        if (const char* old = std::getenv("MARLIX_AUDIO_LIBDIR"))
            OldLibDir = old;
        setenv("MARLIX_AUDIO_LIBDIR", Folder.Path().c_str(), 1);
        return true;
    }
    void TearDown() override
    {
        asioStop();
        EnableChannels(true);
        if (!OldLibDir.empty())
            setenv("MARLIX_AUDIO_LIBDIR", OldLibDir.c_str(), 1);
        if (Handle)
            dlclose(Handle);
    }
    // Keeps the stand-in loaded so that its counters live across the host's reloads.
    int Count(const char* what)
    {
        if (!Handle)
            Handle = dlopen(Folder.File("asiohost.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        auto count = reinterpret_cast<int (*)(const char*)>(dlsym(Handle, "Count"));
        return count ? count(what) : -1;
    }
    int32_t* Output(int channel)
    {
        Count("calls");
        return static_cast<int32_t*>(dlsym(Handle, channel == 0 ? "out0" : "out1"));
    }
    // Waits for a condition the host thread brings about; false when it never comes.
    template <class F>
    static bool Eventually(F condition)
    {
        for (int i = 0; i < 3000; ++i) {
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    test::TempProgramFolder Folder;
    std::string OldLibDir;
    void* Handle = nullptr;
};

TEST_F(ASIOStandInTest, DriverThatNeverStartsGivesFalse)
{
    if (!Build(kSilentDriver))
        GTEST_SKIP() << "no C compiler to build the stand-in driver";
    EXPECT_FALSE(asioStart("JACK", RenderRamp));
    asioStop(); // the stop poll ends the stand-in's streaming loop
}

void RenderMarks(int frames, int, int32_t* const*, int outputCount, int32_t* const* outputs)
{
    for (int i = 0; i < frames && outputCount >= 2; ++i) {
        outputs[0][i] = i * 1000 - 5;
        outputs[1][i] = 99;
    }
}

TEST_F(ASIOStandInTest, Int32OutputsGetTheIntegersAndSwitchedOffChannelsSilence)
{
    if (!Build(kCountingDriver))
        GTEST_SKIP() << "no C compiler to build the stand-in driver";
    Count("inits"); // load it before the host does
    EnableChannels(true);
    SetOutputEnable(1, false);
    ASSERT_TRUE(asioStart("Stand-in", RenderMarks));
    ASSERT_TRUE(Eventually([&] { return Count("calls") > 2; }));
    asioStop();
    const int32_t* out0 = Output(0);
    const int32_t* out1 = Output(1);
    ASSERT_TRUE(out0 && out1);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(out0[i], i * 1000 - 5) << i;
        EXPECT_EQ(out1[i], 0) << i;
    }
    EXPECT_EQ(Count("destroys"), 1);
}

TEST_F(ASIOStandInTest, ControlPanelStopsStreamingShowsThePanelAndResumes)
{
    if (!Build(kCountingDriver))
        GTEST_SKIP() << "no C compiler to build the stand-in driver";
    Count("inits");
    ASSERT_TRUE(asioStart("Stand-in", RenderMarks));
    ASSERT_TRUE(Eventually([&] { return Count("calls") > 0; }));
    EXPECT_EQ(ASIOControlPanel(), -1);
    // The panel runs once, the driver is released and initialised again, and streams.
    ASSERT_TRUE(Eventually([&] { return Count("inits") == 2 && Count("calls") > 0; }));
    EXPECT_EQ(Count("panels"), 1);
    EXPECT_EQ(Count("destroys"), 1);
    asioStop();
    EXPECT_EQ(Count("destroys"), 2);
    EXPECT_EQ(Count("panels"), 1);
}

TEST_F(ASIOStandInTest, SuspendEndsStreamingAndResumeStartsItAgain)
{
    if (!Build(kCountingDriver))
        GTEST_SKIP() << "no C compiler to build the stand-in driver";
    Count("inits");
    ASSERT_TRUE(asioStart("Stand-in", RenderMarks));
    asioSuspend();
    ASSERT_TRUE(Eventually([&] { return Count("destroys") == 1; }));
    asioResume();
    ASSERT_TRUE(Eventually([&] { return Count("inits") == 2 && Count("calls") > 0; }));
    asioStop();
    EXPECT_EQ(Count("destroys"), 2);
}

} // namespace
} // namespace marlix
