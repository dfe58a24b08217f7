// The host library of the pro-audio output, loaded at run time by TASIOThread. Its first
// driver, "JACK", is a client of the running JACK server with one output port per
// system playback port and one input port per system capture port, connected to them.
// Buffers are 32-bit floats (sample type 19). The JACK process callback hands the
// buffers to the input callback and then to the output callback; it allocates nothing
// and takes no lock. Everything else runs on the caller's (the host thread's) side,
// which only waits while JACK streams: it sleeps until ASIOWakeup or the server's
// shutdown wakes it to ask the stop poll again.
// The drivers after it, "ALSA: ...", use a sound card directly (TAlsaDriver).
#include "platform/asiohost/alsadriver.h"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using marlix::asiohost::TAlsaDevice;
using marlix::asiohost::TAlsaDriver;
using marlix::asiohost::TBufferCallback;
using marlix::asiohost::TStopPoll;

constexpr int kMaxChannels = 64;
constexpr int kMinChannels = 2;
constexpr int32_t kFloat32LSB = 19;
constexpr int kNameBytes = 256;
const char* const kDriverName = "JACK";
const char* const kClientName = "Marlix Audio";

struct TPortSet {
    jack_port_t* Ports[kMaxChannels] = {};
    void* Buffers[kMaxChannels] = {};
    int32_t Types[kMaxChannels] = {};
    char Names[kMaxChannels][kNameBytes] = {};
    char Peers[kMaxChannels][kNameBytes] = {}; // the system port each one connects to
    int Count = 0;
};

struct TDriver {
    jack_client_t* Client = nullptr;
    TPortSet Outputs;
    TPortSet Inputs;
    std::atomic<TBufferCallback> OutputCallback{nullptr};
    std::atomic<TBufferCallback> InputCallback{nullptr};
    std::atomic<bool> Streaming{false};
    std::atomic<bool> ServerGone{false};
    std::atomic<int32_t> Xruns{0};
    std::atomic<uint64_t> Position{0};
};

TDriver gDriver;

// Wakes the waiting host thread. The timed wait is only a backstop for callers whose
// stop poll changes without a wake-up.
struct TWakeup {
    std::mutex Lock;
    std::condition_variable Event;
    uint64_t Count = 0;

    void Signal()
    {
        {
            std::lock_guard lock(Lock);
            ++Count;
        }
        Event.notify_all();
    }
    uint64_t Seen()
    {
        std::lock_guard lock(Lock);
        return Count;
    }
    void WaitPast(uint64_t seen)
    {
        std::unique_lock lock(Lock);
        Event.wait_for(lock, std::chrono::seconds(1), [&] { return Count != seen; });
    }
};
TWakeup gWakeup;

TAlsaDriver gAlsa;
// The rate each ALSA driver was last set to, kept while the process lives (the library
// is linked not to unload) so that a restart after ASIOSetSampleRate streams at it.
std::mutex gRatesLock;
std::map<std::string, unsigned> gAlsaRates;
std::string gAlsaName;

unsigned RememberedRate(const std::string& driver)
{
    std::lock_guard lock(gRatesLock);
    const auto it = gAlsaRates.find(driver);
    return it == gAlsaRates.end() ? 0 : it->second;
}

void RememberRate(const std::string& driver, unsigned rate)
{
    std::lock_guard lock(gRatesLock);
    gAlsaRates[driver] = rate;
}

bool InitializeAlsa(const char* driver)
{
    TAlsaDevice device;
    if (!marlix::asiohost::FindAlsaDevice(driver, device) || !gAlsa.Open(device, RememberedRate(driver)))
        return false;
    gAlsaName = driver;
    return true;
}

void CopyName(char* dst, const char* src);

void AlsaChannelName(const marlix::asiohost::TAlsaPcm& pcm, int32_t index, char* name)
{
    if (index >= 0 && index < pcm.Channels())
        CopyName(name, pcm.ChannelName(index).c_str());
}

int Process(jack_nframes_t nframes, void*)
{
    TDriver& d = gDriver;
    const int frames = static_cast<int>(nframes);
    for (int i = 0; i < d.Outputs.Count; ++i) {
        void* buffer = jack_port_get_buffer(d.Outputs.Ports[i], nframes);
        // Silence first: a channel the output callback leaves alone must not play garbage.
        std::memset(buffer, 0, sizeof(float) * nframes);
        d.Outputs.Buffers[i] = buffer;
    }
    for (int i = 0; i < d.Inputs.Count; ++i)
        d.Inputs.Buffers[i] = jack_port_get_buffer(d.Inputs.Ports[i], nframes);
    if (!d.Streaming.load(std::memory_order_acquire))
        return 0;
    if (TBufferCallback in = d.InputCallback.load(std::memory_order_acquire))
        in(d.Inputs.Count, frames, d.Inputs.Buffers, d.Inputs.Types);
    if (TBufferCallback out = d.OutputCallback.load(std::memory_order_acquire))
        out(d.Outputs.Count, frames, d.Outputs.Buffers, d.Outputs.Types);
    d.Position.fetch_add(nframes, std::memory_order_relaxed);
    return 0;
}

int Xrun(void*)
{
    gDriver.Xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void Shutdown(void*)
{
    gDriver.ServerGone.store(true, std::memory_order_release);
    gWakeup.Signal();
}

void CopyName(char* dst, const char* src)
{
    std::strncpy(dst, src, kNameBytes - 1);
    dst[kNameBytes - 1] = 0;
}

// Registers one port per physical port of the given direction (at least kMinChannels),
// each named after the system port it will connect to.
bool RegisterPorts(TPortSet& set, unsigned long physicalFlags, unsigned long ownFlags, const char* fallback)
{
    TDriver& d = gDriver;
    const char** physical = jack_get_ports(d.Client, nullptr, JACK_DEFAULT_AUDIO_TYPE, physicalFlags);
    int found = 0;
    while (physical && physical[found] && found < kMaxChannels)
        ++found;
    set.Count = std::max(found, kMinChannels);
    for (int i = 0; i < set.Count; ++i) {
        std::string name;
        if (i < found) {
            CopyName(set.Peers[i], physical[i]);
            const char* colon = std::strchr(physical[i], ':');
            name = colon ? colon + 1 : physical[i];
        } else {
            name = std::string(fallback) + std::to_string(i + 1);
        }
        CopyName(set.Names[i], name.c_str());
        set.Types[i] = kFloat32LSB;
        set.Ports[i] = jack_port_register(d.Client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, ownFlags, 0);
        if (!set.Ports[i]) {
            if (physical)
                jack_free(physical);
            return false;
        }
    }
    if (physical)
        jack_free(physical);
    return true;
}

void Connect(const TPortSet& set, bool outputs)
{
    for (int i = 0; i < set.Count; ++i) {
        if (!set.Peers[i][0])
            continue;
        const char* own = jack_port_name(set.Ports[i]);
        if (outputs)
            jack_connect(gDriver.Client, own, set.Peers[i]);
        else
            jack_connect(gDriver.Client, set.Peers[i], own);
    }
}

void Close()
{
    gAlsa.Close();
    TDriver& d = gDriver;
    d.Streaming.store(false, std::memory_order_release);
    if (d.Client)
        jack_client_close(d.Client);
    d.Client = nullptr;
    d.Outputs = TPortSet{};
    d.Inputs = TPortSet{};
    d.OutputCallback.store(nullptr);
    d.InputCallback.store(nullptr);
}

int32_t CheckRate(double rate)
{
    if (gAlsa.IsOpen())
        return gAlsa.CanSampleRate(rate);
    if (!gDriver.Client)
        return -1;
    return static_cast<double>(jack_get_sample_rate(gDriver.Client)) == rate ? 0 : 1;
}

// The full path of an executable found on PATH, or "".
std::string FindProgram(const char* name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t InitializeASIO(const char* driver, TStopPoll, TBufferCallback output,
                                                              TBufferCallback input)
{
    Close();
    if (!driver)
        return 0;
    if (std::strcmp(driver, kDriverName) != 0)
        return InitializeAlsa(driver) ? 1 : 0;
    TDriver& d = gDriver;
    jack_status_t status{};
    d.Client = jack_client_open(kClientName, JackNoStartServer, &status);
    if (!d.Client)
        return 0;
    d.ServerGone.store(false);
    d.Xruns.store(0);
    d.Position.store(0);
    jack_set_process_callback(d.Client, Process, nullptr);
    jack_set_xrun_callback(d.Client, Xrun, nullptr);
    jack_on_shutdown(d.Client, Shutdown, nullptr);
    if (!RegisterPorts(d.Outputs, JackPortIsPhysical | JackPortIsInput, JackPortIsOutput, "playback_") ||
        !RegisterPorts(d.Inputs, JackPortIsPhysical | JackPortIsOutput, JackPortIsInput, "capture_")) {
        Close();
        return 0;
    }
    d.OutputCallback.store(output, std::memory_order_release);
    d.InputCallback.store(input, std::memory_order_release);
    return 1;
}

// Streams until the stop poll answers true or the server goes away.
__attribute__((visibility("default"))) void testapi(const char*, TStopPoll stop, TBufferCallback output,
                                                    TBufferCallback input)
{
    if (gAlsa.IsOpen())
        return gAlsa.Stream(stop, output, input);
    TDriver& d = gDriver;
    if (!d.Client || !stop)
        return;
    if (output)
        d.OutputCallback.store(output, std::memory_order_release);
    if (input)
        d.InputCallback.store(input, std::memory_order_release);
    d.Streaming.store(true, std::memory_order_release);
    if (jack_activate(d.Client) != 0) {
        d.Streaming.store(false, std::memory_order_release);
        return;
    }
    Connect(d.Outputs, true);
    Connect(d.Inputs, false);
    // A server that ends while the client activates may never call back to say so: a
    // client it has not run once within a second of activation counts as cut off.
    const uint64_t activatedAt = d.Position.load(std::memory_order_relaxed);
    const auto activated = std::chrono::steady_clock::now();
    for (;;) {
        // Read before the poll, so that a wake-up between the poll and the wait still counts.
        const uint64_t seen = gWakeup.Seen();
        if (stop() || d.ServerGone.load(std::memory_order_acquire))
            break;
        if (d.Position.load(std::memory_order_relaxed) == activatedAt &&
            std::chrono::steady_clock::now() - activated >= std::chrono::seconds(1)) {
            d.ServerGone.store(true, std::memory_order_release);
            break;
        }
        gWakeup.WaitPast(seen);
    }
    d.Streaming.store(false, std::memory_order_release);
    if (!d.ServerGone.load(std::memory_order_acquire))
        jack_deactivate(d.Client);
}

// The stop poll may have changed: a waiting host thread asks it again now.
__attribute__((visibility("default"))) void ASIOWakeup()
{
    gWakeup.Signal();
}

// The JACK library's version.
__attribute__((visibility("default"))) const char* asioGetVersion() { return jack_get_version_string(); }

__attribute__((visibility("default"))) void DestroyASIO()
{
    Close();
}

// The under-run (xrun) count of the current driver.
__attribute__((visibility("default"))) int32_t GetTestInt()
{
    if (gAlsa.IsOpen())
        return gAlsa.Underruns();
    return gDriver.Xruns.load(std::memory_order_relaxed);
}

__attribute__((visibility("default"))) void GetInputName(int32_t index, char* name)
{
    if (!name)
        return;
    name[0] = 0;
    if (gAlsa.IsOpen())
        AlsaChannelName(gAlsa.Inputs(), index, name);
    else if (index >= 0 && index < gDriver.Inputs.Count)
        CopyName(name, gDriver.Inputs.Names[index]);
}

__attribute__((visibility("default"))) void GetOutputName(int32_t index, char* name)
{
    if (!name)
        return;
    name[0] = 0;
    if (gAlsa.IsOpen())
        AlsaChannelName(gAlsa.Outputs(), index, name);
    else if (index >= 0 && index < gDriver.Outputs.Count)
        CopyName(name, gDriver.Outputs.Names[index]);
}

__attribute__((visibility("default"))) void GetDriverNum(int32_t* count)
{
    if (count)
        *count = 1 + static_cast<int32_t>(marlix::asiohost::ListAlsaDevices().size());
}

// "JACK" first, then the ALSA drivers.
__attribute__((visibility("default"))) void GetDriverNames(char** names, int32_t count)
{
    if (!names || count <= 0)
        return;
    if (names[0])
        CopyName(names[0], kDriverName);
    const auto devices = marlix::asiohost::ListAlsaDevices();
    for (int32_t i = 1; i < count && static_cast<size_t>(i) <= devices.size(); ++i)
        if (names[i])
            CopyName(names[i], devices[static_cast<size_t>(i - 1)].DriverName.c_str());
}

// JACK has no panel of its own: open a patchbay program where one is installed, detached
// so that it outlives the driver. An ALSA card has nothing to show.
__attribute__((visibility("default"))) void ASIOControlPanel()
{
    if (gAlsa.IsOpen())
        return;
    for (const char* program : {"qpwgraph", "qjackctl"}) {
        const std::string path = FindProgram(program);
        if (path.empty())
            continue;
        const pid_t child = fork();
        if (child == 0) {
            if (fork() == 0) {
                setsid();
                execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
            }
            _exit(0);
        }
        if (child > 0)
            waitpid(child, nullptr, 0);
        return;
    }
}

__attribute__((visibility("default"))) int32_t ASIOCanSampleRate(double rate)
{
    return CheckRate(rate);
}

// For an ALSA driver the rate takes effect when streaming next starts.
__attribute__((visibility("default"))) int32_t ASIOSetSampleRate(double rate)
{
    if (!gAlsa.IsOpen())
        return CheckRate(rate);
    const int32_t answer = gAlsa.SetSampleRate(rate);
    if (answer == 0)
        RememberRate(gAlsaName, gAlsa.SampleRate());
    return answer;
}

__attribute__((visibility("default"))) int32_t ASIOGetSampleRate(double* rate)
{
    if (!rate)
        return -1;
    if (gAlsa.IsOpen()) {
        *rate = gAlsa.SampleRate();
        return 0;
    }
    if (!gDriver.Client)
        return -1;
    *rate = static_cast<double>(jack_get_sample_rate(gDriver.Client));
    return 0;
}

// Frames streamed since the driver was initialised.
__attribute__((visibility("default"))) int32_t ASIOGetSamplePosition(int64_t* samples, int64_t* stamp)
{
    if (gAlsa.IsOpen()) {
        if (samples)
            *samples = static_cast<int64_t>(gAlsa.Position());
        if (stamp)
            *stamp = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
        return 0;
    }
    if (!gDriver.Client)
        return -1;
    if (samples)
        *samples = static_cast<int64_t>(gDriver.Position.load(std::memory_order_relaxed));
    if (stamp)
        *stamp = static_cast<int64_t>(jack_get_time());
    return 0;
}

} // extern "C"
