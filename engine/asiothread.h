#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace marlix {

// Sample types of driver buffers, numbered as the host library numbers them.
enum TASIOSampleType : int32_t {
    kASIOInt16MSB = 0,
    kASIOInt24MSB = 1,
    kASIOInt32MSB = 2,
    kASIOFloat32MSB = 3,
    kASIOFloat64MSB = 4,
    kASIOInt32MSB16 = 8,
    kASIOInt32MSB18 = 9,
    kASIOInt32MSB20 = 10,
    kASIOInt32MSB24 = 11,
    kASIOInt16LSB = 16,
    kASIOInt24LSB = 17,
    kASIOInt32LSB = 18,
    kASIOFloat32LSB = 19,
    kASIOFloat64LSB = 20,
    kASIOInt32LSB16 = 24,
    kASIOInt32LSB18 = 25,
    kASIOInt32LSB20 = 26,
    kASIOInt32LSB24 = 27,
};

// Writes `frames` chain samples into a driver buffer of the given type. Big-endian types
// get silence over their width; a type outside the list leaves the buffer untouched
// (returns false).
bool ConvertToDriver(const int32_t* samples, void* buffer, int frames, int32_t type);
// Fills `frames` chain samples from a driver buffer. Big-endian and unknown types give zeros.
void ConvertFromDriver(const void* buffer, int32_t* samples, int frames, int32_t type);
// Bytes per sample of a type, 0 for a type outside the list.
int ASIOSampleBytes(int32_t type);

// Render callback: (frames, input count, input arrays, output count, output arrays).
using TASIORenderProc = void (*)(int frames, int inputCount, int32_t* const* inputs, int outputCount,
                                 int32_t* const* outputs);

// Call shapes of the host library's callbacks.
using TASIOStopPoll = int32_t (*)();
using TASIOBufferCallback = int32_t (*)(int32_t channels, int32_t frames, void** buffers, const int32_t* types);

// Hosts "asiohost.so" on its own thread: loads it, initialises the named driver, reads
// the channel and driver names, streams until told to stop (converting between the
// chain's integers and the driver's sample types) and unloads it. A control-panel
// request leaves streaming, shows the panel and starts over.
class TASIOThread {
public:
    static constexpr int kMaxChannels = 64;
    // The per-call arrays hold this many frames; longer driver periods render in slices.
    static constexpr int kMaxFrames = 16384;

    // The callbacks the library is given for this host.
    struct TCallbacks {
        TASIOStopPoll StopPoll = nullptr;
        TASIOBufferCallback Output = nullptr;
        TASIOBufferCallback Input = nullptr;
    };

    // `modulePath` is the library file to load; empty: "asiohost.so" where modules are found.
    TASIOThread(std::string driverName, TASIORenderProc render, TCallbacks callbacks, std::string modulePath);
    ~TASIOThread(); // terminates and joins
    TASIOThread(const TASIOThread&) = delete;
    TASIOThread& operator=(const TASIOThread&) = delete;

    void Start();
    // Asks the streaming run to end and wakes a library waiting for that.
    void Terminate();
    void RequestPanel();
    void Resume() { Terminated.store(false, std::memory_order_release); }
    bool IsTerminated() const { return Terminated.load(std::memory_order_acquire); }

    int32_t CanSampleRate(double rate);
    int32_t GetSampleRate(double* rate);
    int32_t SetSampleRate(double rate);

    // Buffer callbacks of the library, working on the running host.
    int32_t OnOutput(int32_t channels, int32_t frames, void** buffers, const int32_t* types);
    int32_t OnInput(int32_t channels, int32_t frames, void** buffers, const int32_t* types);

    const std::string DriverName;
    const TASIORenderProc RenderProc;
    uint64_t Serial = 0; // set before Start
    std::atomic<bool> Started{false};
    std::atomic<bool> Finished{false};
    // The library loaded and its driver initialised (last attempt).
    std::atomic<bool> Initialized{false};
    std::atomic<bool> PanelRequest{false};
    // The stream ended without being told to: the device went away (the JACK server
    // quit, the ALSA card failed or was unplugged).
    std::atomic<bool> DeviceLost{false};

    // The host was given up on (its library did not stop in time). Should the library ever
    // return, the thread touches nothing outside this host any more.
    void MarkAbandoned();
    // The library file this host loaded ("" before it did).
    std::string LoadedPath();

private:
    struct TLibrary;
    void Execute();
    void RunLibraryOnce();
    void ReadNames(const TLibrary& lib);
    void WakeLibrary();
    void MarkDeviceLoss();

    const TCallbacks Callbacks;
    const std::string ModulePath;
    std::string Loaded; // under LibLock
    bool Abandoned = false; // under the name tables' lock, with the process-wide writes it stops
    std::thread Thread;
    std::atomic<bool> Terminated{false};
    std::atomic<TLibrary*> Lib{nullptr};
    std::mutex LibLock; // the rate calls of other threads against unloading
    // Allocated once before streaming: kMaxChannels arrays of kMaxFrames each.
    std::vector<int32_t> InputStore, OutputStore;
    int32_t* InputBufs[kMaxChannels] = {};
    int32_t* OutputBufs[kMaxChannels] = {};
    int32_t* InputSlice[kMaxChannels] = {};
    int InputCount = 0;
    int InputFrames = 0;
};

// The exported operations of the pro-audio output. One host at most runs at a time.
// asioStart is false when the driver does not stream within 3 s, and when the library
// is missing or the driver fails to initialise (e.g. a busy or absent card).
[[nodiscard]] bool asioStart(const char* driverName, TASIORenderProc render);
// Buffer under-runs the drivers reported since the process started.
int64_t ASIOUnderruns();
// Stops the host; a library that has not returned after the stop timeout (5 s) is
// reported on stderr and left running rather than waited for. Hosts after it run their
// own copy of the library, so one left behind never shares its state with them.
void asioStop();
// The running host, as a number no other host gets (0: none).
uint64_t asioRunningHost();
// Stops the running host only when it is `host` (a host started since by someone else
// is left alone).
void asioStopHost(uint64_t host);
void ASIOSetStopTimeout(std::chrono::milliseconds timeout);
// True when the running host's stream ended by itself: the device was lost.
bool asioDeviceLost();
void asioSuspend();
void asioResume();
int32_t ASIOControlPanel();
int32_t ASIOCanSampleRate(double rate);
int32_t ASIOGetSampleRate(double* rate);
int32_t ASIOSetSampleRate(double rate);
// Sets all 64 input and all 64 output enables.
void EnableChannels(bool value);
void SetOutputEnable(int channel, bool value);
void SetInputEnable(int channel, bool value);
bool OutputEnabled(int channel);
bool InputEnabled(int channel);

// Name tables filled by the host thread.
std::string ASIOInputName(int channel);
std::string ASIOOutputName(int channel);
std::string ASIODriverName(int index);
int ASIODriverCount();

} // namespace marlix
