#include "platform/waveout/alsawaveout.h"

#include "base/boundedwait.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sched.h>

namespace marlix {

namespace {

constexpr size_t MaxHinted = 32;
// Under-runs met by every device of this process.
std::atomic<int64_t> gUnderruns{0};
// ALSA's own buffer behind the queued wave buffers, in microseconds.
constexpr unsigned AlsaLatencyUs = 100000;

std::vector<std::string> HintedPcms()
{
    std::vector<std::string> names;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0)
        return names;
    for (void** h = hints; *h && names.size() < MaxHinted; ++h) {
        char* name = snd_device_name_get_hint(*h, "NAME");
        char* io = snd_device_name_get_hint(*h, "IOID");
        const bool plays = !io || std::strcmp(io, "Output") == 0;
        if (name && plays && std::strcmp(name, "null") != 0)
            names.emplace_back(name);
        std::free(name);
        std::free(io);
    }
    snd_device_name_free_hint(hints);
    return names;
}

std::vector<std::string> ListDevices()
{
    std::vector<std::string> names = HintedPcms();
    const char* extra = std::getenv("MARLIX_AUDIO_ALSA_PCM");
    if (extra && *extra && std::find(names.begin(), names.end(), extra) == names.end())
        names.emplace_back(extra);
    return names;
}

snd_pcm_format_t AlsaFormat(int bits)
{
    switch (bits) {
    case 8: return SND_PCM_FORMAT_U8;
    case 16: return SND_PCM_FORMAT_S16_LE;
    case 24: return SND_PCM_FORMAT_S24_3LE;
    case 32: return SND_PCM_FORMAT_S32_LE;
    default: return SND_PCM_FORMAT_UNKNOWN;
    }
}

TWaveOpenFailure Classify(int error)
{
    switch (-error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return TWaveOpenFailure::NoDevice;
    case EBUSY:
    case EAGAIN: return TWaveOpenFailure::Busy;
    default: return TWaveOpenFailure::Other;
    }
}

// A write error after which the device will take nothing more.
bool Gone(long error)
{
    return error == -ENODEV || error == -EBADFD || error == -ENXIO || error == -ESHUTDOWN || error == -EIO;
}

// Real-time scheduling where the system permits it; ordinary scheduling otherwise.
void RaisePriority()
{
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

} // namespace

const std::vector<std::string>& TAlsaWaveOut::DeviceNames()
{
    static const std::vector<std::string> names = ListDevices();
    return names;
}

std::string TAlsaWaveOut::PcmName(const std::vector<std::string>& names, int device)
{
    if (device == -1)
        return "default";
    if (device < 0 || size_t(device) >= names.size())
        return "";
    return names[size_t(device)];
}

int TAlsaWaveOut::Open(TAlsaWaveOut** handle, const std::string& pcm, const TWaveFormat& format,
                       TWaveDoneProc callback, void* instance, TWaveOpenFailure* failure, std::string* detail)
{
    TWaveOpenFailure ignored;
    std::string unused;
    TWaveOpenFailure& why = failure ? *failure : ignored;
    std::string& words = detail ? *detail : unused;
    why = TWaveOpenFailure::None;
    words.clear();
    if (!handle)
        return WaveBadParam;
    *handle = nullptr;
    const snd_pcm_format_t alsaFormat = AlsaFormat(format.BitsPerSample);
    if (format.Tag != 1 || format.Channels < 1 || format.SamplesPerSec == 0 ||
        alsaFormat == SND_PCM_FORMAT_UNKNOWN ||
        format.BlockAlign != format.Channels * (format.BitsPerSample / 8)) {
        why = TWaveOpenFailure::Format;
        return WaveBadFormat;
    }
    if (pcm.empty()) {
        why = TWaveOpenFailure::NoDevice;
        return WaveBadDevice;
    }
    snd_pcm_t* p = nullptr;
    if (const int r = snd_pcm_open(&p, pcm.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK); r < 0) {
        why = Classify(r);
        words = snd_strerror(r);
        return WaveBadDevice;
    }
    if (const int r = snd_pcm_set_params(p, alsaFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format.Channels,
                                         format.SamplesPerSec, 1, AlsaLatencyUs);
        r < 0) {
        snd_pcm_close(p);
        why = TWaveOpenFailure::Format;
        words = snd_strerror(r);
        return WaveBadFormat;
    }
    *handle = new TAlsaWaveOut(p, format.BlockAlign, format.SamplesPerSec, callback, instance);
    return WaveOk;
}

int TAlsaWaveOut::Close(TAlsaWaveOut* handle)
{
    if (!handle)
        return WaveBadParam;
    if (handle->Queued.load(std::memory_order_acquire) > 0)
        return WaveStillPlaying;
    handle->Stopping.store(true, std::memory_order_release);
    handle->Work.release();
    if (!WaitUntilDone([handle] { return handle->Ended.load(std::memory_order_acquire); }, handle->StopTimeout)) {
        ReportAbandoned("an ALSA playback device", handle->StopTimeout);
        Abandon(handle);
        return WaveError;
    }
    delete handle;
    return WaveOk;
}

void TAlsaWaveOut::Abandon(TAlsaWaveOut* handle)
{
    if (!handle)
        return;
    handle->Callback.store(nullptr, std::memory_order_release);
    handle->Stopping.store(true, std::memory_order_release);
    handle->Work.release();
    handle->Driver.detach(); // nobody waits for it: it ends by itself, or never
    LeaveBehind(handle);
}

TAlsaWaveOut::TAlsaWaveOut(_snd_pcm* pcm, int frameBytes, uint32_t rate, TWaveDoneProc callback, void* instance)
    : Pcm(pcm), FrameBytes(frameBytes), Rate(rate), Callback(callback), Instance(instance),
      Ring(size_t(MaxQueued), nullptr)
{
    Driver = std::thread([this] {
        RaisePriority();
        while (Step()) {
        }
        Ended.store(true, std::memory_order_release);
    });
}

TAlsaWaveOut::~TAlsaWaveOut()
{
    Stopping.store(true, std::memory_order_release);
    Work.release();
    Driver.join();
    snd_pcm_close(Pcm);
}

int TAlsaWaveOut::Prepare(TWaveHeader* header)
{
    if (!header || !header->Data)
        return WaveBadParam;
    header->Flags.fetch_or(WaveHdrPrepared);
    return WaveOk;
}

int TAlsaWaveOut::Unprepare(TWaveHeader* header)
{
    if (!header)
        return WaveBadParam;
    if (header->Flags.load() & WaveHdrInQueue)
        return WaveStillPlaying;
    header->Flags.fetch_and(~uint32_t(WaveHdrPrepared));
    return WaveOk;
}

int TAlsaWaveOut::Write(TWaveHeader* header)
{
    if (!header)
        return WaveBadParam;
    const uint32_t flags = header->Flags.load();
    if (!(flags & WaveHdrPrepared))
        return WaveUnprepared;
    if (flags & WaveHdrInQueue)
        return WaveStillPlaying;
    const uint64_t tail = Tail.load(std::memory_order_relaxed);
    if (tail - Head.load(std::memory_order_acquire) >= Ring.size())
        return WaveNoMemory;
    header->Flags.store((flags | WaveHdrInQueue) & ~uint32_t(WaveHdrDone));
    Queued.fetch_add(1, std::memory_order_acq_rel);
    Ring[tail % Ring.size()] = header;
    Tail.store(tail + 1, std::memory_order_release);
    Work.release();
    return WaveOk;
}

int TAlsaWaveOut::Reset()
{
    ResetWanted.store(true, std::memory_order_release);
    Work.release();
    return ResetDone.try_acquire_for(StopTimeout) ? WaveOk : WaveError;
}

std::string TAlsaWaveOut::LibraryVersion() { return snd_asoundlib_version(); }

int64_t TAlsaWaveOut::Underruns()
{
    return gUnderruns.load(std::memory_order_relaxed);
}

bool TAlsaWaveOut::Step()
{
    Work.acquire();
    if (Stopping.load(std::memory_order_acquire))
        return false;
    if (ResetWanted.load(std::memory_order_acquire)) {
        snd_pcm_drop(Pcm);
        snd_pcm_prepare(Pcm);
        PaceStarted = false;
        FinishQueued();
        ResetWanted.store(false, std::memory_order_release);
        ResetDone.release();
        return true;
    }
    if (TWaveHeader* header = Pop()) {
        Play(header);
        Finish(header);
    }
    return true;
}

bool TAlsaWaveOut::Interrupted() const
{
    return ResetWanted.load(std::memory_order_acquire) || Stopping.load(std::memory_order_acquire);
}

void TAlsaWaveOut::Play(TWaveHeader* header)
{
    const uint8_t* data = header->Data;
    snd_pcm_uframes_t left = header->Length / uint32_t(FrameBytes);
    LastTaken = std::chrono::steady_clock::now();
    int fruitless = 0; // errors in a row, nothing taken between them
    while (left > 0 && !Interrupted()) {
        if (Lost() || Stalled()) {
            GoneAway.store(true, std::memory_order_release);
            return Pause(uint32_t(left));
        }
        const snd_pcm_sframes_t n = snd_pcm_writei(Pcm, data, left);
        if (n == -EAGAIN) {
            if (!WaitWritable())
                return Pause(uint32_t(left));
            continue;
        }
        if (n < 0) {
            if (n == -EPIPE)
                gUnderruns.fetch_add(1, std::memory_order_relaxed);
            if (Gone(n) || snd_pcm_state(Pcm) == SND_PCM_STATE_DISCONNECTED || snd_pcm_recover(Pcm, int(n), 1) < 0) {
                GoneAway.store(true, std::memory_order_release);
                return Pause(uint32_t(left));
            }
            // A device that only ever "recovers" (a sound server gone) would spin this
            // real-time thread: wait a little between the tries until it counts as stalled.
            if (++fruitless > 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        fruitless = 0;
        LastTaken = std::chrono::steady_clock::now();
        if (snd_pcm_sframes_t delay = 0; snd_pcm_delay(Pcm, &delay) == 0)
            Delay.store(std::max<snd_pcm_sframes_t>(delay, 0), std::memory_order_release);
        data += size_t(n) * size_t(FrameBytes);
        left -= snd_pcm_uframes_t(n);
        KeepPace(uint32_t(n));
    }
}

// Samples have been waiting for the device longer than StallLimit.
bool TAlsaWaveOut::Stalled() const
{
    return std::chrono::steady_clock::now() - LastTaken > StallLimit;
}

// Never runs more than ALSA's own buffer ahead of the wall clock. A sound card blocks
// the writes long before that, so this only holds back PCMs without a clock of their
// own (a file or null device), which would otherwise take the audio as fast as it is
// rendered. After an under-run the clock starts again from where the audio is.
void TAlsaWaveOut::KeepPace(uint32_t frames)
{
    using namespace std::chrono;
    const auto now = steady_clock::now();
    if (!PaceStarted) {
        PaceStarted = true;
        PaceStart = now;
        PacedFrames = 0;
    }
    PacedFrames += frames;
    const auto played = duration_cast<steady_clock::duration>(duration<double>(double(PacedFrames) / Rate));
    const auto allowance = microseconds(AlsaLatencyUs) + milliseconds(50);
    const auto ahead = PaceStart + played - now;
    if (ahead < -allowance) {
        PaceStart = now - played;
        return;
    }
    const auto until = PaceStart + played - allowance;
    while (steady_clock::now() < until && !Interrupted())
        std::this_thread::sleep_for(std::min<steady_clock::duration>(until - steady_clock::now(), milliseconds(5)));
}

bool TAlsaWaveOut::WaitWritable()
{
    const int r = snd_pcm_wait(Pcm, 20);
    if (r >= 0)
        return true;
    if (Gone(r) || snd_pcm_state(Pcm) == SND_PCM_STATE_DISCONNECTED || snd_pcm_recover(Pcm, r, 1) < 0) {
        GoneAway.store(true, std::memory_order_release);
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

// A device that stopped working still paces its buffers at the playing rate, so the
// caller does not render faster than real time.
void TAlsaWaveOut::Pause(uint32_t frames)
{
    using namespace std::chrono;
    const auto until = steady_clock::now() + microseconds(uint64_t(frames) * 1000000u / Rate);
    while (steady_clock::now() < until && !Interrupted())
        std::this_thread::sleep_for(milliseconds(5));
}

void TAlsaWaveOut::Finish(TWaveHeader* header)
{
    const uint32_t flags = header->Flags.load();
    header->Flags.store((flags & ~uint32_t(WaveHdrInQueue)) | WaveHdrDone);
    Queued.fetch_sub(1, std::memory_order_acq_rel);
    if (TWaveDoneProc callback = Callback.load(std::memory_order_acquire))
        callback(this, WaveMsgDone, Instance, header);
}

void TAlsaWaveOut::FinishQueued()
{
    while (TWaveHeader* header = Pop())
        Finish(header);
}

TWaveHeader* TAlsaWaveOut::Pop()
{
    const uint64_t head = Head.load(std::memory_order_relaxed);
    if (head == Tail.load(std::memory_order_acquire))
        return nullptr;
    TWaveHeader* header = Ring[head % Ring.size()];
    Head.store(head + 1, std::memory_order_release);
    return header;
}

} // namespace marlix
