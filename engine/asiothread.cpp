// The pro-audio output: TASIOThread hosts "asiohost.so" and converts between the
// chain's 32-bit integer channels and the driver's buffers. The buffer callbacks run on
// the library's real-time thread; they use only the arrays allocated before streaming.
#include "engine/asiothread.h"

#include "base/boundedwait.h"
#include "base/dynlib.h"
#include "base/programfolder.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace marlix {
namespace {

// Under-runs the drivers reported, over every streaming run of this process.
std::atomic<int64_t> gUnderruns{0};


constexpr int kNameBytes = 256;
constexpr double kScale = 2147483648.0; // 2^31

std::atomic<TASIOThread*> gHost{nullptr};
std::mutex gHostLock; // serialises asioStart / asioStop / asioResume
uint64_t gLastSerial = 0; // under gHostLock

// Channel enables, all on at start-up.
struct TEnables {
    TEnables()
    {
        for (auto& e : Flags)
            e.store(true);
    }
    std::atomic<bool>& operator[](int i) { return Flags[static_cast<size_t>(i)]; }
    std::array<std::atomic<bool>, TASIOThread::kMaxChannels> Flags;
};
TEnables gOutputEnable;
TEnables gInputEnable;

struct TNameTables {
    std::mutex Lock;
    std::array<std::string, TASIOThread::kMaxChannels> Inputs, Outputs;
    std::vector<std::string> Drivers;
};
TNameTables& Names()
{
    static TNameTables tables;
    return tables;
}

bool IsBigEndian(int32_t type)
{
    return (type >= 0 && type <= 4) || (type >= 8 && type <= 11);
}

bool IsPlainInt32(int32_t type)
{
    return type == kASIOInt32LSB || (type >= kASIOInt32LSB16 && type <= kASIOInt32LSB24);
}

int32_t Nearest(double x)
{
    if (!(x == x))
        return 0;
    const double r = std::round(x);
    if (r >= 2147483647.0)
        return INT32_MAX;
    if (r <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(r);
}

// The library's callbacks carry no context, so each host gets a set of its own, bound to
// a slot: a library left behind keeps calling its own slot, which no longer names a host
// (its stop poll then says stop, and its buffers get nothing). Such a slot is taken again
// only once its host has finished.
constexpr size_t kHostSlots = 8;
std::array<std::atomic<TASIOThread*>, kHostSlots> gSlots{};

template <size_t I> int32_t StopPollAt()
{
    TASIOThread* host = gSlots[I].load(std::memory_order_acquire);
    return !host || host->PanelRequest.load(std::memory_order_acquire) || host->IsTerminated();
}

template <size_t I> int32_t OutputAt(int32_t channels, int32_t frames, void** buffers, const int32_t* types)
{
    TASIOThread* host = gSlots[I].load(std::memory_order_acquire);
    return host ? host->OnOutput(channels, frames, buffers, types) : 0;
}

template <size_t I> int32_t InputAt(int32_t channels, int32_t frames, void** buffers, const int32_t* types)
{
    TASIOThread* host = gSlots[I].load(std::memory_order_acquire);
    return host ? host->OnInput(channels, frames, buffers, types) : 0;
}

template <size_t... I>
constexpr std::array<TASIOThread::TCallbacks, kHostSlots> SlotCallbacks(std::index_sequence<I...>)
{
    return {TASIOThread::TCallbacks{&StopPollAt<I>, &OutputAt<I>, &InputAt<I>}...};
}
constexpr auto kSlotCallbacks = SlotCallbacks(std::make_index_sequence<kHostSlots>{});

} // namespace

int ASIOSampleBytes(int32_t type)
{
    switch (type) {
    case kASIOInt16MSB:
    case kASIOInt16LSB:
        return 2;
    case kASIOInt24MSB:
    case kASIOInt24LSB:
        return 3;
    case kASIOFloat64MSB:
    case kASIOFloat64LSB:
        return 8;
    default:
        return IsBigEndian(type) || IsPlainInt32(type) || type == kASIOFloat32LSB ? 4 : 0;
    }
}

bool ConvertToDriver(const int32_t* samples, void* buffer, int frames, int32_t type)
{
    auto* out = static_cast<uint8_t*>(buffer);
    if (IsBigEndian(type)) {
        std::memset(buffer, 0, static_cast<size_t>(frames) * ASIOSampleBytes(type));
        return true;
    }
    switch (type) {
    case kASIOInt16LSB:
        for (int i = 0; i < frames; ++i) {
            const auto v = static_cast<uint16_t>(samples[i] >> 16);
            out[2 * i] = static_cast<uint8_t>(v);
            out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        return true;
    case kASIOInt24LSB:
        for (int i = 0; i < frames; ++i) {
            const auto v = static_cast<uint32_t>(samples[i]);
            out[3 * i] = static_cast<uint8_t>(v >> 8);
            out[3 * i + 1] = static_cast<uint8_t>(v >> 16);
            out[3 * i + 2] = static_cast<uint8_t>(v >> 24);
        }
        return true;
    case kASIOFloat32LSB:
        for (int i = 0; i < frames; ++i) {
            const float f = static_cast<float>(samples[i] / kScale);
            std::memcpy(out + 4 * i, &f, 4);
        }
        return true;
    case kASIOFloat64LSB:
        for (int i = 0; i < frames; ++i) {
            const double d = samples[i] / kScale;
            std::memcpy(out + 8 * i, &d, 8);
        }
        return true;
    default:
        if (IsPlainInt32(type)) {
            std::memcpy(out, samples, static_cast<size_t>(frames) * 4);
            return true;
        }
        return false;
    }
}

void ConvertFromDriver(const void* buffer, int32_t* samples, int frames, int32_t type)
{
    const auto* in = static_cast<const uint8_t*>(buffer);
    switch (type) {
    case kASIOInt16LSB:
        for (int i = 0; i < frames; ++i) {
            const auto v = static_cast<int16_t>(in[2 * i] | (in[2 * i + 1] << 8));
            samples[i] = v * 65536;
        }
        return;
    case kASIOInt24LSB:
        for (int i = 0; i < frames; ++i) {
            const uint32_t v = (uint32_t{in[3 * i]} << 8) | (uint32_t{in[3 * i + 1]} << 16) |
                               (uint32_t{in[3 * i + 2]} << 24);
            samples[i] = static_cast<int32_t>(v);
        }
        return;
    case kASIOFloat32LSB:
        for (int i = 0; i < frames; ++i) {
            float f;
            std::memcpy(&f, in + 4 * i, 4);
            samples[i] = Nearest(f * kScale);
        }
        return;
    case kASIOFloat64LSB:
        for (int i = 0; i < frames; ++i) {
            double d;
            std::memcpy(&d, in + 8 * i, 8);
            samples[i] = Nearest(d * kScale);
        }
        return;
    default:
        if (IsPlainInt32(type))
            std::memcpy(samples, in, static_cast<size_t>(frames) * 4);
        else
            std::memset(samples, 0, static_cast<size_t>(frames) * 4);
        return;
    }
}

struct TASIOThread::TLibrary {
    void (*TestApi)(const char*, TASIOStopPoll, TASIOBufferCallback, TASIOBufferCallback) = nullptr;
    int32_t (*GetTestInt)() = nullptr;
    int32_t (*Initialize)(const char*, TASIOStopPoll, TASIOBufferCallback, TASIOBufferCallback) = nullptr;
    void (*Destroy)() = nullptr;
    void (*InputName)(int32_t, char*) = nullptr;
    void (*OutputName)(int32_t, char*) = nullptr;
    void (*DriverNames)(char**, int32_t) = nullptr;
    void (*DriverNum)(int32_t*) = nullptr;
    void (*ControlPanel)() = nullptr;
    int32_t (*CanSampleRate)(double) = nullptr;
    int32_t (*GetSampleRate)(double*) = nullptr;
    int32_t (*SetSampleRate)(double) = nullptr;
    int32_t (*GetSamplePosition)(int64_t*, int64_t*) = nullptr;
    void (*Wakeup)() = nullptr;
};

TASIOThread::TASIOThread(std::string driverName, TASIORenderProc render, TCallbacks callbacks,
                         std::string modulePath)
    : DriverName(std::move(driverName)), RenderProc(render), Callbacks(callbacks), ModulePath(std::move(modulePath))
{
}

void TASIOThread::MarkAbandoned()
{
    {
        std::lock_guard lock(Names().Lock);
        Abandoned = true;
    }
    Thread.detach(); // nobody waits for it any more; it ends by itself if it ever returns
}

std::string TASIOThread::LoadedPath()
{
    std::lock_guard lock(LibLock);
    return Loaded;
}

TASIOThread::~TASIOThread()
{
    Terminate();
    if (Thread.joinable())
        Thread.join();
}

void TASIOThread::Terminate()
{
    Terminated.store(true, std::memory_order_release);
    WakeLibrary();
}

void TASIOThread::RequestPanel()
{
    PanelRequest.store(true, std::memory_order_release);
    WakeLibrary();
}

void TASIOThread::WakeLibrary()
{
    std::lock_guard lock(LibLock);
    TLibrary* lib = Lib.load(std::memory_order_acquire);
    if (lib && lib->Wakeup)
        lib->Wakeup();
}

void TASIOThread::Start()
{
    if (Thread.joinable())
        Thread.join();
    Finished.store(false, std::memory_order_release);
    Thread = std::thread([this] { Execute(); });
}

void TASIOThread::Execute()
{
    // Normal scheduling here: a driver that streams on this thread raises it itself, and
    // one that streams on its own thread (JACK) leaves this one only waiting.
    for (;;) {
        RunLibraryOnce();
        if (!PanelRequest.exchange(false, std::memory_order_acq_rel) || IsTerminated())
            break;
    }
    MarkDeviceLoss();
    Finished.store(true, std::memory_order_release);
}

// A stream that ran and ended while nobody asked it to stop lost its device.
void TASIOThread::MarkDeviceLoss()
{
    if (Started.load(std::memory_order_acquire) && !IsTerminated())
        DeviceLost.store(true, std::memory_order_release);
}

void TASIOThread::RunLibraryOnce()
{
    Initialized.store(false, std::memory_order_release);
    TDynLib handle = ModulePath.empty() ? OpenModule("asiohost.so") : TDynLib(ModulePath);
    if (!handle)
        return;
    {
        std::lock_guard lock(LibLock);
        Loaded = handle.Path();
    }
    TLibrary lib;
    handle.Resolve("testapi", lib.TestApi);
    handle.Resolve("GetTestInt", lib.GetTestInt);
    handle.Resolve("InitializeASIO", lib.Initialize);
    handle.Resolve("DestroyASIO", lib.Destroy);
    handle.Resolve("GetInputName", lib.InputName);
    handle.Resolve("GetOutputName", lib.OutputName);
    handle.Resolve("GetDriverNames", lib.DriverNames);
    handle.Resolve("GetDriverNum", lib.DriverNum);
    handle.Resolve("ASIOControlPanel", lib.ControlPanel);
    handle.Resolve("ASIOCanSampleRate", lib.CanSampleRate);
    handle.Resolve("ASIOGetSampleRate", lib.GetSampleRate);
    handle.Resolve("ASIOSetSampleRate", lib.SetSampleRate);
    handle.Resolve("ASIOGetSamplePosition", lib.GetSamplePosition);
    handle.Resolve("ASIOWakeup", lib.Wakeup);
    const bool initialized = !lib.Initialize ||
        lib.Initialize(DriverName.c_str(), Callbacks.StopPoll, Callbacks.Output, Callbacks.Input) != 0;
    Initialized.store(initialized, std::memory_order_release);
    if (!initialized) {
        lib.TestApi = nullptr;
        lib.Destroy = nullptr;
        lib.InputName = lib.OutputName = nullptr;
        lib.ControlPanel = nullptr;
        lib.CanSampleRate = lib.SetSampleRate = nullptr;
        lib.GetSampleRate = nullptr;
        lib.GetSamplePosition = nullptr;
    }

    ReadNames(lib);
    if (!initialized) {
        std::lock_guard lock(Names().Lock);
        if (!Abandoned)
            EnableChannels(false);
    }

    // The per-call arrays, allocated once before the first callback.
    if (OutputStore.empty()) {
        InputStore.assign(static_cast<size_t>(kMaxChannels) * kMaxFrames, 0);
        OutputStore.assign(static_cast<size_t>(kMaxChannels) * kMaxFrames, 0);
        for (int i = 0; i < kMaxChannels; ++i) {
            InputBufs[i] = InputStore.data() + static_cast<size_t>(i) * kMaxFrames;
            OutputBufs[i] = OutputStore.data() + static_cast<size_t>(i) * kMaxFrames;
        }
    }
    InputCount = 0;
    InputFrames = 0;

    {
        std::lock_guard lock(LibLock);
        Lib.store(&lib, std::memory_order_release);
    }
    if (lib.TestApi) {
        try {
            lib.TestApi(DriverName.c_str(), Callbacks.StopPoll, Callbacks.Output, Callbacks.Input);
        } catch (...) {
            // A failing driver ends streaming; the player stays silent.
        }
        // The driver's under-run count for this run (the library's "GetTestInt").
        if (lib.GetTestInt) {
            const int32_t underruns = lib.GetTestInt();
            std::lock_guard lock(Names().Lock);
            if (!Abandoned)
                gUnderruns.fetch_add(underruns, std::memory_order_relaxed);
        }
    }
    if (PanelRequest.load(std::memory_order_acquire) && lib.ControlPanel)
        lib.ControlPanel();
    {
        std::lock_guard lock(LibLock);
        Lib.store(nullptr, std::memory_order_release);
    }
    if (lib.Destroy)
        lib.Destroy();
    handle.Close();
}

// The channel and driver names into the process-wide tables; a host left behind keeps
// its names to itself.
void TASIOThread::ReadNames(const TLibrary& lib)
{
    std::array<std::string, kMaxChannels> inputs, outputs;
    char text[kNameBytes];
    for (int i = 0; i < kMaxChannels; ++i) {
        text[0] = 0;
        if (lib.InputName)
            lib.InputName(i, text);
        text[kNameBytes - 1] = 0;
        inputs[i] = text;
        text[0] = 0;
        if (lib.OutputName)
            lib.OutputName(i, text);
        text[kNameBytes - 1] = 0;
        outputs[i] = text;
    }
    int32_t count = 0;
    if (lib.DriverNum)
        lib.DriverNum(&count);
    count = std::clamp<int32_t>(count, 0, kMaxChannels);
    std::vector<std::array<char, kNameBytes>> store(static_cast<size_t>(count));
    std::vector<char*> pointers;
    for (auto& s : store) {
        s[0] = 0;
        pointers.push_back(s.data());
    }
    if (lib.DriverNames && count > 0)
        lib.DriverNames(pointers.data(), count);

    TNameTables& names = Names();
    std::lock_guard lock(names.Lock);
    if (Abandoned)
        return;
    names.Inputs = std::move(inputs);
    names.Outputs = std::move(outputs);
    names.Drivers.clear();
    for (auto& s : store) {
        s[kNameBytes - 1] = 0;
        names.Drivers.emplace_back(s.data());
    }
}

int32_t TASIOThread::OnOutput(int32_t channels, int32_t frames, void** buffers, const int32_t* types)
{
    const int n = std::clamp(channels, 0, kMaxChannels);
    Started.store(true, std::memory_order_release);
    if (OutputStore.empty() || frames <= 0 || !buffers || !types)
        return 0;
    for (int offset = 0; offset < frames; offset += kMaxFrames) {
        const int slice = std::min(frames - offset, kMaxFrames);
        for (int c = 0; c < n; ++c)
            std::memset(OutputBufs[c], 0, sizeof(int32_t) * static_cast<size_t>(slice));
        if (RenderProc) {
            // Inputs line up with this slice only while the last input block covers it.
            const int inputs = offset + slice <= InputFrames ? InputCount : 0;
            for (int c = 0; c < inputs; ++c)
                InputSlice[c] = InputBufs[c] + offset;
            RenderProc(slice, inputs, InputSlice, n, OutputBufs);
        }
        for (int c = 0; c < n; ++c) {
            if (!buffers[c])
                continue;
            const int bytes = ASIOSampleBytes(types[c]);
            auto* target = static_cast<uint8_t*>(buffers[c]) + static_cast<size_t>(offset) * bytes;
            if (gOutputEnable[c].load(std::memory_order_relaxed))
                ConvertToDriver(OutputBufs[c], target, slice, types[c]);
            else if (bytes > 0)
                std::memset(target, 0, static_cast<size_t>(slice) * bytes); // silence, not stale data
        }
    }
    return 0;
}

int32_t TASIOThread::OnInput(int32_t channels, int32_t frames, void** buffers, const int32_t* types)
{
    const int n = std::clamp(channels, 0, kMaxChannels);
    if (InputStore.empty() || !buffers || !types)
        return 0;
    const int count = std::clamp(frames, 0, kMaxFrames);
    for (int c = 0; c < n; ++c) {
        if (gInputEnable[c].load(std::memory_order_relaxed) && buffers[c])
            ConvertFromDriver(buffers[c], InputBufs[c], count, types[c]);
        else
            std::memset(InputBufs[c], 0, sizeof(int32_t) * static_cast<size_t>(count));
    }
    InputCount = n;
    InputFrames = count;
    return 0;
}

int32_t TASIOThread::CanSampleRate(double rate)
{
    std::lock_guard lock(LibLock);
    TLibrary* lib = Lib.load(std::memory_order_acquire);
    return lib && lib->CanSampleRate ? lib->CanSampleRate(rate) : -1;
}

int32_t TASIOThread::GetSampleRate(double* rate)
{
    std::lock_guard lock(LibLock);
    TLibrary* lib = Lib.load(std::memory_order_acquire);
    return lib && lib->GetSampleRate ? lib->GetSampleRate(rate) : -1;
}

int32_t TASIOThread::SetSampleRate(double rate)
{
    std::lock_guard lock(LibLock);
    TLibrary* lib = Lib.load(std::memory_order_acquire);
    return lib && lib->SetSampleRate ? lib->SetSampleRate(rate) : -1;
}

namespace {

std::atomic<std::chrono::milliseconds::rep> gStopTimeoutMs{5000};

// The host thread's run ended, by the stop deadline. A library that never returns is
// reported and false is returned; the caller then leaves the host behind.
bool HostFinished(TASIOThread& host)
{
    const std::chrono::milliseconds timeout(gStopTimeoutMs.load());
    if (WaitUntilDone([&] { return host.Finished.load(std::memory_order_acquire); }, timeout))
        return true;
    ReportAbandoned("the audio host library", timeout);
    return false;
}

// Which callback slots are given out (a slot stays taken while its host, or one left
// behind, may still call it), and the current host's.
std::array<bool, kHostSlots> gSlotTaken{};
size_t gCurrentSlot = 0;

// Hosts left behind, with their slots and the library files they run. Until one has
// finished, a new host runs a private copy of that file: the copy has globals of its
// own, which the one left behind, should it return, cannot reach.
struct TLeftBehind {
    TASIOThread* Host;
    size_t Slot;
    std::string Path;
};
std::vector<TLeftBehind> gLeftBehind;
std::map<std::string, std::string> gPrivateCopies; // library file -> its private copy

void ForgetFinishedHosts()
{
    std::erase_if(gLeftBehind, [](const TLeftBehind& l) {
        if (!l.Host->Finished.load(std::memory_order_acquire))
            return false;
        gSlotTaken[l.Slot] = false;
        delete l.Host;
        return true;
    });
}

bool LeftBehindRuns(const std::string& path)
{
    return std::any_of(gLeftBehind.begin(), gLeftBehind.end(), [&](const TLeftBehind& l) { return l.Path == path; });
}

// A copy of the library in memory, loaded under a name of its own; its descriptor stays
// open for the life of the process. "" when it cannot be made.
std::string PrivateCopy(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || bytes.empty())
        return {};
    const int fd = memfd_create("asiohost.so", MFD_CLOEXEC);
    if (fd < 0)
        return {};
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            close(fd);
            return {};
        }
        done += static_cast<size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

// The library file for a new host: "" (the usual search) unless a host left behind still
// runs the file that search finds.
std::string LibraryForNewHost()
{
    std::string found;
    for (const std::string& candidate : ModuleCandidates("asiohost.so"))
        if (access(candidate.c_str(), R_OK) == 0) {
            found = candidate;
            break;
        }
    if (found.empty() || !LeftBehindRuns(found))
        return {};
    std::string& copy = gPrivateCopies[found];
    if (copy.empty() || LeftBehindRuns(copy))
        copy = PrivateCopy(found);
    return copy;
}

void StopHostLocked()
{
    TASIOThread* host = gHost.load(std::memory_order_acquire);
    if (!host)
        return;
    host->Terminate();
    const bool finished = HostFinished(*host);
    gHost.store(nullptr, std::memory_order_release);
    gSlots[gCurrentSlot].store(nullptr, std::memory_order_release);
    if (finished) {
        gSlotTaken[gCurrentSlot] = false;
        delete host;
        return;
    }
    // With its thread: its callbacks find no host, so its stop poll says stop.
    host->MarkAbandoned();
    gLeftBehind.push_back({LeaveBehind(host), gCurrentSlot, host->LoadedPath()});
}

} // namespace

void ASIOSetStopTimeout(std::chrono::milliseconds timeout)
{
    gStopTimeoutMs.store(timeout.count());
}

int64_t ASIOUnderruns()
{
    return gUnderruns.load(std::memory_order_relaxed);
}

bool asioStart(const char* driverName, TASIORenderProc render)
{
    std::lock_guard lock(gHostLock);
    StopHostLocked();
    ForgetFinishedHosts();
    const auto free = std::find(gSlotTaken.begin(), gSlotTaken.end(), false);
    if (free == gSlotTaken.end()) {
        std::fprintf(stderr, "marlixaudio: too many audio host libraries left behind; not starting another\n");
        return false;
    }
    const auto slot = static_cast<size_t>(free - gSlotTaken.begin());
    auto* host = new TASIOThread(driverName ? driverName : "", render, kSlotCallbacks[slot], LibraryForNewHost());
    host->Serial = ++gLastSerial;
    gSlotTaken[slot] = true;
    gCurrentSlot = slot;
    gSlots[slot].store(host, std::memory_order_release);
    gHost.store(host, std::memory_order_release);
    host->Start();
    for (int step = 0; step < 300; ++step) {
        if (host->Started.load(std::memory_order_acquire))
            return true;
        if (host->Finished.load(std::memory_order_acquire))
            return host->Initialized.load(std::memory_order_acquire);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void asioStop()
{
    std::lock_guard lock(gHostLock);
    StopHostLocked();
    ForgetFinishedHosts();
}

uint64_t asioRunningHost()
{
    TASIOThread* host = gHost.load(std::memory_order_acquire);
    return host ? host->Serial : 0;
}

void asioStopHost(uint64_t serial)
{
    std::lock_guard lock(gHostLock);
    TASIOThread* host = gHost.load(std::memory_order_acquire);
    if (host && host->Serial == serial)
        StopHostLocked();
}

bool asioDeviceLost()
{
    TASIOThread* host = gHost.load(std::memory_order_acquire);
    return host && host->DeviceLost.load(std::memory_order_acquire);
}

void asioSuspend()
{
    if (TASIOThread* host = gHost.load(std::memory_order_acquire))
        host->Terminate();
}

// Starts a suspended host streaming again once its previous run has ended.
void asioResume()
{
    std::lock_guard lock(gHostLock);
    TASIOThread* host = gHost.load(std::memory_order_acquire);
    if (!host || !host->IsTerminated() || !HostFinished(*host))
        return;
    host->Resume();
    host->Start();
}

int32_t ASIOControlPanel()
{
    if (TASIOThread* host = gHost.load(std::memory_order_acquire))
        host->RequestPanel();
    return -1;
}

int32_t ASIOCanSampleRate(double rate)
{
    TASIOThread* host = gHost.load(std::memory_order_acquire);
    return host ? host->CanSampleRate(rate) : -1;
}

int32_t ASIOGetSampleRate(double* rate)
{
    TASIOThread* host = gHost.load(std::memory_order_acquire);
    return host ? host->GetSampleRate(rate) : -1;
}

int32_t ASIOSetSampleRate(double rate)
{
    TASIOThread* host = gHost.load(std::memory_order_acquire);
    return host ? host->SetSampleRate(rate) : -1;
}

void EnableChannels(bool value)
{
    for (int i = 0; i < TASIOThread::kMaxChannels; ++i) {
        gOutputEnable[i].store(value, std::memory_order_relaxed);
        gInputEnable[i].store(value, std::memory_order_relaxed);
    }
}

void SetOutputEnable(int channel, bool value)
{
    if (channel >= 0 && channel < TASIOThread::kMaxChannels)
        gOutputEnable[channel].store(value, std::memory_order_relaxed);
}

void SetInputEnable(int channel, bool value)
{
    if (channel >= 0 && channel < TASIOThread::kMaxChannels)
        gInputEnable[channel].store(value, std::memory_order_relaxed);
}

bool OutputEnabled(int channel)
{
    return channel >= 0 && channel < TASIOThread::kMaxChannels && gOutputEnable[channel].load();
}

bool InputEnabled(int channel)
{
    return channel >= 0 && channel < TASIOThread::kMaxChannels && gInputEnable[channel].load();
}

std::string ASIOInputName(int channel)
{
    if (channel < 0 || channel >= TASIOThread::kMaxChannels)
        return {};
    std::lock_guard lock(Names().Lock);
    return Names().Inputs[channel];
}

std::string ASIOOutputName(int channel)
{
    if (channel < 0 || channel >= TASIOThread::kMaxChannels)
        return {};
    std::lock_guard lock(Names().Lock);
    return Names().Outputs[channel];
}

std::string ASIODriverName(int index)
{
    std::lock_guard lock(Names().Lock);
    return index >= 0 && index < static_cast<int>(Names().Drivers.size()) ? Names().Drivers[index] : std::string();
}

int ASIODriverCount()
{
    std::lock_guard lock(Names().Lock);
    return static_cast<int>(Names().Drivers.size());
}

} // namespace marlix
