#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

struct _snd_pcm; // snd_pcm_t of ALSA

namespace marlix {

// Result codes of the wave-out calls.
enum : int {
    WaveOk = 0,
    WaveError = 1,
    WaveBadDevice = 2,
    WaveNoMemory = 7,
    WaveBadParam = 11,
    WaveBadFormat = 32,
    WaveStillPlaying = 33,
    WaveUnprepared = 34,
};

// Why a device did not open.
enum class TWaveOpenFailure { None, NoDevice, Busy, Format, Other };

// Messages sent to the done callback.
enum : unsigned { WaveMsgDone = 957 };

// Header flags.
enum : uint32_t { WaveHdrDone = 1, WaveHdrPrepared = 2, WaveHdrInQueue = 16 };

struct TWaveFormat {
    uint16_t Tag = 1;
    uint16_t Channels = 2;
    uint32_t SamplesPerSec = 44100;
    uint32_t AvgBytesPerSec = 44100 * 4;
    uint16_t BlockAlign = 4;
    uint16_t BitsPerSample = 16;
    uint16_t Size = 0;
};

// One buffer handed to a device: `Length` bytes of interleaved frames at `Data`.
// `Flags` changes on the driver thread while the buffer is queued.
struct TWaveHeader {
    uint8_t* Data = nullptr;
    uint32_t Length = 0;
    std::atomic<uint32_t> Flags{0};
};

class TAlsaWaveOut;
using TWaveDoneProc = void (*)(TAlsaWaveOut* handle, unsigned msg, void* instance, TWaveHeader* header);

// A wave-out device on ALSA. Buffers written to it play in order; a driver thread
// per open device writes them to the PCM (recovering from under-runs) and reports
// each one finished (WaveMsgDone) through the callback, on that thread, once ALSA
// has taken all of it. Reset and Close must not be called from the callback.
class TAlsaWaveOut {
public:
    // Most buffers a device holds queued at once.
    static constexpr int MaxQueued = 1024;

    // Playback PCMs of ALSA's hint list (at most 32, "null" skipped), then the PCM
    // named by MARLIX_AUDIO_ALSA_PCM when set. Looked up once per process.
    static const std::vector<std::string>& DeviceNames();
    // The version of the ALSA library in use.
    static std::string LibraryVersion();
    // Under-runs met by every device of this process so far.
    static int64_t Underruns();
    // The PCM name of a device id of `names`: -1 is "default"; "" when out of range.
    static std::string PcmName(const std::vector<std::string>& names, int device);

    // Opens the PCM `pcm` for the interleaved integer format `format` (8, 16, 24 or 32
    // bits) and starts the driver thread. On success `*handle` is the device; otherwise
    // `failure` (when given) says why, with ALSA's own words in `detail`.
    static int Open(TAlsaWaveOut** handle, const std::string& pcm, const TWaveFormat& format,
                    TWaveDoneProc callback, void* instance, TWaveOpenFailure* failure = nullptr,
                    std::string* detail = nullptr);
    // Stops the driver thread and closes the PCM; WaveStillPlaying while buffers are
    // queued (Reset first). A driver thread that does not end by StopTimeout (stuck
    // inside ALSA) is reported and left behind with the device (WaveError).
    static int Close(TAlsaWaveOut* handle);
    // Gives up on a device: no callback from it any more; its thread ends when it can,
    // and the device, with whatever it still holds, is left behind.
    static void Abandon(TAlsaWaveOut* handle);

    int Prepare(TWaveHeader* header);
    int Unprepare(TWaveHeader* header);
    // Queues a prepared buffer; it plays after every buffer queued before it.
    int Write(TWaveHeader* header);
    // Stops playing and returns every queued buffer as done; returns when that is over,
    // or WaveError when the driver thread has not done it by StopTimeout.
    int Reset();

    // How long Reset and Close wait for the driver thread.
    std::chrono::milliseconds StopTimeout{2000};
    // How long a device may take no samples at all before it counts as lost.
    std::chrono::milliseconds StallLimit{2000};
    // The device went away while playing: its writes fail for good (unplugged, its
    // sound server gone) or it has taken nothing for StallLimit. Its buffers are then
    // returned unplayed, at the playing pace.
    bool Lost() const { return GoneAway.load(std::memory_order_acquire); }
    // Frames written to ALSA that it has not played yet, as it last said.
    int64_t AlsaDelay() const { return Delay.load(std::memory_order_acquire); }

    // One turn of the driver thread: waits for work, then plays one buffer or carries
    // out a reset. False once the device is closing.
    bool Step();

    ~TAlsaWaveOut();
    TAlsaWaveOut(const TAlsaWaveOut&) = delete;
    TAlsaWaveOut& operator=(const TAlsaWaveOut&) = delete;

private:
    TAlsaWaveOut(_snd_pcm* pcm, int frameBytes, uint32_t rate, TWaveDoneProc callback, void* instance);
    bool Interrupted() const;
    bool Stalled() const;
    void Play(TWaveHeader* header);
    bool WaitWritable();
    void Pause(uint32_t frames);
    void KeepPace(uint32_t frames);
    void Finish(TWaveHeader* header);
    void FinishQueued();
    TWaveHeader* Pop();

    _snd_pcm* Pcm;
    int FrameBytes;
    uint32_t Rate;
    std::atomic<TWaveDoneProc> Callback;
    void* Instance;

    // Single-producer single-consumer ring of queued buffers.
    std::vector<TWaveHeader*> Ring;
    std::atomic<uint64_t> Head{0};
    std::atomic<uint64_t> Tail{0};
    std::atomic<int> Queued{0};

    std::counting_semaphore<1 << 30> Work{0};
    std::binary_semaphore ResetDone{0};
    std::atomic<bool> ResetWanted{false};
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Ended{false}; // the driver thread has left its loop
    std::thread Driver;

    std::atomic<bool> GoneAway{false};
    std::atomic<int64_t> Delay{0};
    // When the device last took samples, or was first offered the buffer it plays
    // (driver thread only).
    std::chrono::steady_clock::time_point LastTaken;

    // Wall-clock pacing of what has been written (driver thread only).
    bool PaceStarted = false;
    std::chrono::steady_clock::time_point PaceStart;
    uint64_t PacedFrames = 0;
};

} // namespace marlix
