#include "engine/decoder.h"

#include "base/mainthread.h"
#include "settings/settings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace marlix {

namespace {

using namespace std::chrono_literals;

bool HasWavExtension(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".wav";
}

} // namespace

// ---- TFeedThread ----

TFeedThread::TFeedThread(std::chrono::milliseconds period, std::function<bool()> wanted, std::function<void()> step,
                         std::chrono::milliseconds idlePeriod, std::function<bool()> due)
    : Period(period), IdlePeriod(std::max(period, idlePeriod)), Wanted(std::move(wanted)), Step(std::move(step)),
      Due(std::move(due))
{
    TMainThread::Instance(); // the creating thread is the main thread unless set otherwise
    Thread = std::thread([this] { Execute(); });
}

TFeedThread::~TFeedThread()
{
    Terminate();
    Join();
}

void TFeedThread::Terminate()
{
    {
        std::lock_guard lock(Lock);
        Terminated = true;
    }
    Wake.notify_all();
}

void TFeedThread::Nudge()
{
    {
        std::lock_guard lock(Lock);
        Nudged = true;
    }
    Wake.notify_all();
}

void TFeedThread::Join()
{
    if (Thread.joinable())
        Thread.join();
}

void TFeedThread::Execute()
{
    Idle = false;
    Started = true;
    std::unique_lock lock(Lock);
    auto wait = Period;
    for (;;) {
        Wake.wait_for(lock, wait, [&] { return Terminated || Nudged; });
        if (Terminated)
            break;
        Nudged = false;
        wait = Period;
        if (PauseCount.load() > 0)
            continue;
        if (!Wanted()) {
            wait = IdlePeriod;
            continue;
        }
        if (Due && !Due())
            continue;
        lock.unlock();
        InCall = true;
        TMainThread::Instance().Synchronize(Step);
        InCall = false;
        lock.lock();
    }
    Idle = true;
}

TWavBufThread::TWavBufThread(TFo_Decoder& owner)
    : TFeedThread(
          10ms, [&owner] { return owner.IsOpen.load() && owner.SourceKind.load() == TSourceKind::Wav; },
          [&owner] { owner.WavFeedStep(); }, 1000ms,
          // The step tops the FIFO up to its target a quarter second at a time: above the
          // target it has nothing to do.
          [&owner] { return owner.FIFO.Available() < owner.FeedTargetFrames.load(); })
{
}

TMP3BufThread::TMP3BufThread(TFo_Decoder& owner)
    : TFeedThread(
          100ms,
          [&owner] {
              return owner.IsOpen.load() && owner.SourceKind.load() == TSourceKind::Library &&
                     owner.FIFO.State.load() > 0;
          },
          [&owner] { owner.LibraryEndStep(); }, 1000ms)
{
}

// ---- TDecoderCallBack ----

void TDecoderCallBack::Deliver(double timeSeconds, const void* pcm, int bytes)
{
    TFo_Decoder& d = Owner;
    d.DeliveredBytes += bytes;
    // The first blocks can arrive while OpenSource is still taking the format.
    while (!d.IsOpen.load(std::memory_order_acquire) && Active.load())
        std::this_thread::sleep_for(1ms);
    if (!d.IsOpen.load(std::memory_order_acquire) || !pcm || bytes <= 0)
        return;
    const int channels = d.Format.nChannels;
    const int bits = d.Format.wBitsPerSample;
    if (channels <= 0 || (bits != 8 && bits != 16))
        return;
    const int m = std::min(channels, int(d.FIFO.Channels));
    const int frames = bytes / (channels * (bits / 8));
    Samples.resize(size_t(frames) * size_t(m));
    const auto* p8 = static_cast<const uint8_t*>(pcm);
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < m; ++c) {
            const size_t i = size_t(f) * size_t(channels) + size_t(c);
            int16_t v16;
            if (bits == 16)
                std::memcpy(&v16, p8 + 2 * i, 2);
            Samples[size_t(f) * size_t(m) + size_t(c)] =
                bits == 8 ? (int(p8[i]) - 128) / 128.0 : v16 / 32768.0;
        }
    // Wait for room below the buffer target; a stopped, inactive decoder never waits (so
    // dsdFree can finish) and writes only what fits.
    for (int done = 0; done < frames;) {
        while (d.TargetFrames() <= d.FIFO.Available() && (d.FIFO.State.load() > 0 || Active.load()))
            std::this_thread::sleep_for(10ms);
        const int n = std::min(frames - done, int(d.FIFO.Free()));
        if (n <= 0) {
            if (d.FIFO.State.load() <= 0 && !Active.load())
                break; // nobody drains the FIFO: drop the rest
            std::this_thread::sleep_for(10ms);
            continue;
        }
        d.FIFO.WriteInterleaved(Samples.data() + size_t(done) * size_t(m), n, m);
        done += n;
    }
    d.LibPosMs = timeSeconds * 1000.0;
}

// ---- TFo_Decoder ----

TFo_Decoder::TFo_Decoder() = default;

TFo_Decoder::~TFo_Decoder()
{
    Callback.Active = false;
    StopSource();
    WavThread.Terminate();
    LibThread.Terminate();
    // A thread may be waiting for the main thread: keep pumping, within a bounded time.
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    auto bothDone = [&] {
        return (WavThread.Idle && LibThread.Idle) || std::chrono::steady_clock::now() > deadline;
    };
    if (TMainThread::Instance().IsMainThread())
        TMainThread::Instance().WaitPumping(bothDone);
    WavThread.Join();
    LibThread.Join();
    // The library goes before the FIFO and callback it writes into.
    IsOpen = false;
    if (LibHandle)
        dsdFree(LibHandle);
    LibHandle = nullptr;
    FileBuf.reset();
}

void TFo_Decoder::PauseFeeds()
{
    ++WavThread.PauseCount;
    ++LibThread.PauseCount;
    auto idle = [&] { return !WavThread.InCall && !LibThread.InCall; };
    if (TMainThread::Instance().IsMainThread())
        TMainThread::Instance().WaitPumping(idle);
}

void TFo_Decoder::ResumeFeeds()
{
    FeedTargetFrames = TargetFrames();
    --WavThread.PauseCount;
    --LibThread.PauseCount;
    // A source just opened is fed and watched without waiting out the idle period.
    WavThread.Nudge();
    LibThread.Nudge();
}

bool TFo_Decoder::Paused() const { return WavThread.PauseCount > 0 || LibThread.PauseCount > 0; }

double TFo_Decoder::TargetFrames() const { return double(Format.nSamplesPerSec) * BufferSec.load(); }

void TFo_Decoder::OpenSource(const std::string& name)
{
    BufferSec = Settings().Filter.Bufms / 1000.0;
    Finished = false;
    FileName = name;
    Busy = true;
    PauseFeeds();
    CloseSource();
    SourceKind = TSourceKind::Wav;
    bool ok = HasWavExtension(name) && TryWavOpen();
    if (!ok)
        ok = TryLibraryOpen();
    if (ok) {
        // A target the FIFO cannot hold would never be reached; keep it within the FIFO.
        const double rate = Format.nSamplesPerSec;
        BufferSec = std::clamp(BufferSec.load(), 0.01, (FIFOCapacity - 1) / rate);
        EndHandled = false;
        LengthMs.store(SourceLengthMs(), std::memory_order_release);
    } else {
        Finished = true;
    }
    ++OpenCount;
    ResumeFeeds();
    Busy = false;
}

bool TFo_Decoder::TryWavOpen()
{
    auto buf = std::make_unique<TFlexFileBuf>();
    if (buf->OpenFile(TFlexFileBuf::ReadSide, {FileName}, 0, 0, 0, 0) != 0)
        return false;
    Format = TWaveFormatEx{};
    Format.wFormatTag = 1;
    Format.nChannels = uint16_t(buf->GetFileChannels(TFlexFileBuf::ReadSide));
    Format.nSamplesPerSec = uint32_t(buf->GetFileRate(TFlexFileBuf::ReadSide));
    Format.wBitsPerSample = uint16_t(buf->GetFileBits(TFlexFileBuf::ReadSide));
    FileBuf = std::move(buf);
    WavReadFailed = false;
    IsOpen.store(true, std::memory_order_release);
    return true;
}

bool TFo_Decoder::TryLibraryOpen()
{
    SourceKind = TSourceKind::Library;
    Callback.Active = true;
    LibPosMs = 0.0;
    LibHandle = dsdCreate(FileName.c_str(), 0, &Callback);
    const TWaveFormatEx* format = LibHandle ? dsdGetWaveFormatEx(LibHandle) : nullptr;
    if (!format || format->nChannels == 0 || format->nSamplesPerSec == 0) {
        // A handle that failed to open is released at once.
        Callback.Active = false;
        dsdFree(LibHandle);
        LibHandle = nullptr;
        return false;
    }
    std::memcpy(&Format, format, sizeof Format);
    IsOpen.store(true, std::memory_order_release);
    return true;
}

void TFo_Decoder::CloseSource()
{
    if (!IsOpen)
        return;
    StopSource();
    PauseFeeds();
    LengthMs.store(0.0, std::memory_order_release);
    IsOpen = false;
    if (SourceKind == TSourceKind::Library) {
        Callback.Active = false;
        dsdFree(LibHandle);
        LibHandle = nullptr;
    } else {
        FileBuf.reset();
    }
    ++OpenCount;
    ResumeFeeds();
}

void TFo_Decoder::PlaySource()
{
    FIFO.State = 2;
    Callback.Active = false;
    LibThread.Nudge(); // a library source is watched from its start, not after the idle period
}

void TFo_Decoder::PauseSource() { FIFO.State = 1; }

void TFo_Decoder::StopSource() { FIFO.State = 0; }

void TFo_Decoder::SeekMs(double ms)
{
    if (Busy || Paused() || !IsOpen)
        return;
    if (SourceKind == TSourceKind::Library) {
        dsdSetPosition(LibHandle, ms);
    } else if (FileBuf) {
        const double frame = std::max(0.0, std::round(Format.nSamplesPerSec * ms / 1000.0));
        FileBuf->SeekFrame(TFlexFileBuf::ReadSide, int64_t(frame));
        WavReadFailed = false;
    }
    EndHandled = true;
}

double TFo_Decoder::GetLengthMs()
{
    if (Busy || Paused())
        return 1.0;
    return SourceLengthMs();
}

double TFo_Decoder::SourceLengthMs()
{
    if (!IsOpen)
        return 0.0;
    if (SourceKind == TSourceKind::Library)
        return dsdGetLength(LibHandle);
    return FileBuf ? double(FileBuf->GetFileLength(TFlexFileBuf::ReadSide)) * 1000.0 / Format.nSamplesPerSec : 0.0;
}

double TFo_Decoder::GetPositionMs()
{
    if (!IsOpen)
        return 0.0;
    if (SourceKind == TSourceKind::Library)
        return std::max(dsdGetPosition(LibHandle), LibPosMs.load());
    return FileBuf ? double(FileBuf->GetFilePos(TFlexFileBuf::ReadSide)) * 1000.0 / Format.nSamplesPerSec : 0.0;
}

void TFo_Decoder::WriteZeros(int32_t frames)
{
    for (int32_t c = 0; c < FIFO.Channels; ++c)
        FIFO.FIFOs[size_t(c)]->WriteZeros(frames);
}

void TFo_Decoder::WriteWavBlock(int32_t frames)
{
    void** data = FileBuf->GetData(65);
    const int channels = FileBuf->GetChannels();
    for (int32_t c = 0; c < FIFO.Channels; ++c) {
        if (c < channels)
            FIFO.FIFOs[size_t(c)]->Write(static_cast<const double*>(data[c]), frames);
        else
            FIFO.FIFOs[size_t(c)]->WriteZeros(frames);
    }
}

void TFo_Decoder::WavFeedStep()
{
    if (WavThread.PauseCount > 0 || !IsOpen || SourceKind != TSourceKind::Wav || !FileBuf)
        return;
    try {
        const int rate = int(Format.nSamplesPerSec);
        auto atEnd = [&] {
            return WavReadFailed || FileBuf->GetFilePos(TFlexFileBuf::ReadSide) >= FileBuf->GetFileLength(TFlexFileBuf::ReadSide);
        };
        if (atEnd() && FIFO.Available() == 0)
            Finished = true;
        while (TargetFrames() > FIFO.Available()) {
            if (atEnd() && !TailActive)
                break;
            const int32_t n = std::min(int32_t(std::lround(rate * 0.25)), FIFO.Free());
            if (n <= 0)
                break;
            const int got = atEnd() ? 0 : FileBuf->ReadBlock(n);
            if (got > 0) {
                WriteWavBlock(got);
                continue;
            }
            // A file that stops yielding frames early counts as ended.
            WavReadFailed = true;
            if (!TailActive)
                break;
            WriteZeros(n);
        }
    } catch (...) {
        // A damaged file ends in silence rather than taking the main loop down.
    }
}

void TFo_Decoder::LibraryEndStep()
{
    if (LibThread.PauseCount > 0 || !IsOpen || SourceKind != TSourceKind::Library || !LibHandle || FIFO.State <= 0)
        return;
    Finished = dsdGetFinished(LibHandle) > 0;
    const int32_t n = int32_t(std::lround(BufferSec * Format.nSamplesPerSec * 0.25));
    while (TargetFrames() > FIFO.Available() && TailActive && Finished) {
        const int32_t k = std::min(n, FIFO.Free());
        if (k <= 0)
            break;
        WriteZeros(k);
    }
}

} // namespace marlix
