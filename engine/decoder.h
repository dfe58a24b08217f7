#pragma once
#include "base/fifo.h"
#include "base/flexfilebuf.h"
#include "platform/dsdec/dsdec.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace marlix {

class TFo_Decoder;

// Receives the stream decoder's PCM and pushes it into the decoder FIFO.
class TDecoderCallBack : public TDSDCallBack {
public:
    explicit TDecoderCallBack(TFo_Decoder& owner) : Owner(owner) {}
    void Deliver(double timeSeconds, const void* pcm, int bytes) override;

private:
    TFo_Decoder& Owner;
    std::vector<double> Samples; // the block as doubles, kept between calls
};

// A thread that, every Period, runs its step on the main thread as a synchronised call
// while it is wanted and not paused. The step itself checks PauseCount again on the main
// thread, so a call that was queued before a pause began does nothing.
class TFeedThread {
public:
    // While `wanted` answers false the thread looks again only every `idlePeriod` (at
    // least `period`), or at once when nudged. A `due` that answers false skips one
    // period's step without troubling the main thread (the step would do nothing).
    TFeedThread(std::chrono::milliseconds period, std::function<bool()> wanted, std::function<void()> step,
                std::chrono::milliseconds idlePeriod = {}, std::function<bool()> due = {});
    virtual ~TFeedThread();
    TFeedThread(const TFeedThread&) = delete;
    TFeedThread& operator=(const TFeedThread&) = delete;

    void Terminate();
    void Join();
    // Wakes the thread to ask `wanted` again now (a source was opened).
    void Nudge();

    std::atomic<bool> Started{false};
    std::atomic<bool> Idle{true};
    std::atomic<int32_t> PauseCount{0};
    std::atomic<bool> InCall{false};

private:
    void Execute();

    std::chrono::milliseconds Period, IdlePeriod;
    std::function<bool()> Wanted;
    std::function<void()> Step;
    std::function<bool()> Due;
    std::mutex Lock;
    std::condition_variable Wake;
    bool Terminated = false;
    bool Nudged = false;
    std::thread Thread;
};

// Feeds a WAV source every 10 ms, whenever the FIFO holds less than its target.
class TWavBufThread : public TFeedThread {
public:
    explicit TWavBufThread(TFo_Decoder& owner);
};

// Watches a library source for its end every 100 ms while it plays or pauses; otherwise
// it looks once a second, or when nudged.
class TMP3BufThread : public TFeedThread {
public:
    explicit TMP3BufThread(TFo_Decoder& owner);
};

// The decoder: one source at a time, a PCM WAV file read here or any other file or URL
// decoded by the stream decoder, feeding the 2-channel decoder FIFO. OpenSource,
// What feeds the decoder's FIFO: a PCM WAV file read here, or the decoder library.
enum class TSourceKind : int32_t { Wav = 0, Library = 1 };

// CloseSource, SeekMs and the feed steps belong to the main thread.
class TFo_Decoder {
public:
    static constexpr int32_t FIFOChannels = 2;
    static constexpr int32_t FIFOCapacity = 131072;

    TFo_Decoder();
    ~TFo_Decoder();
    TFo_Decoder(const TFo_Decoder&) = delete;
    TFo_Decoder& operator=(const TFo_Decoder&) = delete;

    // Closes the current source and opens `name`; IsOpen tells the result.
    void OpenSource(const std::string& name);
    void CloseSource();
    void PlaySource();
    void PauseSource();
    void StopSource();
    // Moves the read position; the audio already buffered still plays first.
    void SeekMs(double ms);
    double GetLengthMs();
    double GetPositionMs();

    // One pass of the WAV feeder and of the library end watch (main thread).
    void WavFeedStep();
    void LibraryEndStep();

    std::string FileName;
    std::atomic<bool> IsOpen{false};
    std::atomic<TSourceKind> SourceKind{TSourceKind::Wav};
    TWaveFormatEx Format{};
    TMChFIFO FIFO{FIFOChannels, FIFOCapacity};
    std::unique_ptr<TFlexFileBuf> FileBuf;
    TDSDHandle LibHandle = nullptr;
    TDecoderCallBack Callback{*this};
    std::atomic<double> LibPosMs{0.0};
    std::atomic<double> BufferSec{0.5};
    // TargetFrames of the open source, for the WAV feed thread to read.
    std::atomic<double> FeedTargetFrames{0.0};
    std::atomic<bool> Finished{true};
    std::atomic<bool> TailActive{false};
    std::atomic<bool> EndHandled{false};
    std::atomic<bool> Busy{false};
    std::atomic<int32_t> OpenCount{0};
    std::atomic<int64_t> DeliveredBytes{0};
    // The source's length, published by OpenSource and cleared by CloseSource: what
    // other threads read (the device callback's pre-roll) instead of GetLengthMs,
    // which reaches into the source the main thread may be freeing.
    std::atomic<double> LengthMs{0.0};
    TWavBufThread WavThread{*this};
    TMP3BufThread LibThread{*this};

private:
    friend class TDecoderCallBack;

    bool TryWavOpen();
    bool TryLibraryOpen();
    void PauseFeeds();
    void ResumeFeeds();
    bool Paused() const;
    double SourceLengthMs();
    // Frames the feeds keep in the FIFO: rate × BufferSec.
    double TargetFrames() const;
    void WriteZeros(int32_t frames);
    void WriteWavBlock(int32_t frames);

    bool WavReadFailed = false;
};

} // namespace marlix
