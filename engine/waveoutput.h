#pragma once
#include "platform/waveout/alsawaveout.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

namespace marlix {

// The output render stage: fills `frames` samples of each of `channels` arrays.
using TRenderProc = void (*)(int32_t* const* outputs, int frames, int channels);

// Open is pre-filling the devices' buffers; ordered, so "at least open" reads as a comparison.
enum class TOutState : int32_t { Closed = 0, Closing = 1, Open = 2, Playing = 3 };

// The wave output: one stereo device per pair of channels, each with a ring of
// buffers kept queued; a 20 ms timer thread refills every buffer a device has given
// back by calling the render stage.
class TWaveOutput {
public:
    static constexpr int MaxPairs = 32;

    struct TPair {
        TAlsaWaveOut* Handle = nullptr;
        std::unique_ptr<TWaveHeader[]> Headers;
        std::vector<std::vector<uint8_t>> Buffers;
        // Buffers the device has given back, not yet refilled.
        std::atomic<int> FreeCount{0};
    };

    // Devices from ALSA.
    TWaveOutput();
    // Devices named by the caller (device i opens the ALSA PCM deviceNames[i]).
    explicit TWaveOutput(std::vector<std::string> deviceNames);
    // No device at all: the output opens without one, renders its pre-fill and nothing
    // more, and the caller renders the rest (tests that clock the chain themselves).
    enum TCallerRenders { CallerRenders };
    explicit TWaveOutput(TCallerRenders);
    ~TWaveOutput();
    TWaveOutput(const TWaveOutput&) = delete;
    TWaveOutput& operator=(const TWaveOutput&) = delete;

    // Frame count factor of the chain's buffers at an output rate.
    static int BufferFactor(int rate);
    // Interleaves two 32-bit channels into `bits`-bit little-endian samples.
    static void ConvertPair(const int32_t* left, const int32_t* right, int frames, int bits, uint8_t* out);

    // Buffer count and frames; ignored while open.
    void SetBuffers(int count, int frames);
    // Rate and bits of the stereo format; ignored while open.
    void SetFormat(int rate, int bits);
    // 65535 stands for -1, the default device. Only while closed.
    void SetPairDevice(int pair, int device);
    // Opens a device per pair, allocates the buffers and starts the timer. True when
    // every device opened; a device that did not open stays silent, and FailedDevice,
    // Failure and FailureDetail say which one and why.
    [[nodiscard]] bool OpenOutput(int channels);
    // A device of the open output went away while playing.
    bool DeviceLost() const;
    // Seconds of sound rendered for the device that it has not played yet: its queued
    // buffers and what ALSA holds.
    double QueuedSeconds() const;
    void FillOne();
    void Flush();
    void CloseOutput();
    // The chain's start: device and buffers from the settings, 16 bits, stereo,
    // every buffer pre-filled and queued. True when the device opened.
    bool StartForChain(int device, int bufferNum, int bufferSize, int outRate);

    int GetDeviceCount() const { return DeviceCount; }
    std::string GetDeviceName(int index) const;
    void SetRender(TRenderProc render) { Render.store(render, std::memory_order_release); }

    // One turn of the timer thread: refills every free buffer and queues them.
    void Tick();

    // How long closing waits for a device to give its buffers back.
    std::chrono::milliseconds CloseTimeout{2000};
    int DeviceCount = 0;
    std::vector<std::string> DeviceNames;
    bool RenderedByCaller = false;
    // The PCM of the last device that failed to open, and why (main thread).
    std::string FailedDevice;
    TWaveOpenFailure Failure = TWaveOpenFailure::None;
    std::string FailureDetail;
    std::array<int, MaxPairs> PairDevice{};
    int BufCount = 4;
    int BufLen = 2048;
    TWaveFormat Format;
    int Pairs = 0;
    int Channels = 0;
    std::array<TPair, MaxPairs> PairData;
    int FillIndex = 0;
    int WriteIndex = 0;
    int Pending = 0;
    std::vector<std::vector<int32_t>> ChannelBufs;
    std::atomic<TOutState> OutState{TOutState::Closed};
    std::atomic<bool> Filling{false};
    std::atomic<TRenderProc> Render{nullptr};

private:
    static void DoneProc(TAlsaWaveOut* handle, unsigned msg, void* instance, TWaveHeader* header);
    bool AllPairsFree() const;
    void PrepareBuffers();
    void ClosePair(TPair& pair);
    void StartTimer();
    void StopTimer();

    std::vector<int32_t*> ChannelPtrs;
    std::thread Timer;
    std::binary_semaphore TimerStop{0};
};

// The process's wave output, made on first use.
TWaveOutput& WaveOutput();

} // namespace marlix
