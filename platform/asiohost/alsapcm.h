#pragma once
// One direction of an ALSA device in its native sample format, with one buffer per
// channel in the device's format (sample types as the host library numbers them).
#include "platform/asiohost/hostcallbacks.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace marlix::asiohost {

class TAlsaPcm {
public:
    static constexpr int kMaxChannels = 64;

    TAlsaPcm() = default;
    ~TAlsaPcm() { Close(); }
    TAlsaPcm(const TAlsaPcm&) = delete;
    TAlsaPcm& operator=(const TAlsaPcm&) = delete;

    // Opens without waiting: a busy device fails at once.
    bool Open(const std::string& name, snd_pcm_stream_t stream);
    void Close();
    bool IsOpen() const { return Pcm != nullptr; }

    // Chooses access (non-interleaved unless `interleavedOnly` or refused), the widest
    // format (S32_LE, S24_3LE, FLOAT_LE, S16_LE in that order) and the channel count,
    // sets `rate` exactly (when it is 0 or refused: 44100 Hz, else 48000 Hz, else the
    // nearest to 44100 Hz the device takes) and a period near `period` frames (exactly
    // when `exact`), and allocates the channel buffers. False when the device refuses.
    bool Configure(unsigned rate, snd_pcm_uframes_t period, bool exact, bool interleavedOnly);
    // 0 when the device accepts `rate` with the chosen format and channels, 1 when not.
    int32_t CanRate(double rate) const;
    unsigned Rate() const { return ConfiguredRate; }

    int Channels() const { return static_cast<int>(Buffers.size()); }
    int Frames() const { return static_cast<int>(Period); }
    snd_pcm_uframes_t BufferFrames() const { return BufferSize; }
    int32_t SampleType() const { return Type; }
    bool Interleaved() const { return !Frame.empty(); }
    void** ChannelBuffers() { return Buffers.data(); }
    const int32_t* Types() const { return TypeList.data(); }
    // The channel map's name ("FL", ...) or prefix + number.
    const std::string& ChannelName(int channel) const { return Names[static_cast<size_t>(channel)]; }
    int32_t Underruns() const { return Xruns.load(std::memory_order_relaxed); }

    // Real-time side: nothing below allocates or locks.
    void Silence();
    // One period from the buffers to the device / from the device into the buffers.
    // False when the stop poll answered true while waiting, or the device failed.
    bool Write(TStopPoll stop);
    bool Read(TStopPoll stop);
    void Start() { snd_pcm_start(Pcm); }
    // Stops at once and makes the device ready for the next start.
    void Halt();

private:
    bool ChooseFormat(snd_pcm_hw_params_t* hw);
    bool ChooseChannels(snd_pcm_hw_params_t* hw);
    unsigned ChooseRate(unsigned rate) const;
    bool SetSoftware(snd_pcm_stream_t stream);
    void Allocate(int channels);
    void ReadNames(const char* prefix);
    bool Recover(long error, TStopPoll stop);
    void** Offsets(snd_pcm_uframes_t done);
    void Interleave();
    void Deinterleave();

    using THwParams = std::unique_ptr<snd_pcm_hw_params_t, decltype(&snd_pcm_hw_params_free)>;

    snd_pcm_t* Pcm = nullptr;
    snd_pcm_stream_t Stream = SND_PCM_STREAM_PLAYBACK;
    THwParams RateSpace{nullptr, &snd_pcm_hw_params_free}; // the space before the rate was set
    snd_pcm_format_t Format = SND_PCM_FORMAT_UNKNOWN;
    int32_t Type = 0;
    int Bytes = 0;
    unsigned ConfiguredRate = 0;
    snd_pcm_uframes_t Period = 0;
    snd_pcm_uframes_t BufferSize = 0;
    std::vector<uint8_t> Store;  // channel after channel, one period each
    std::vector<uint8_t> Frame;  // one interleaved period, only for interleaved access
    std::vector<void*> Buffers;  // channel starts in Store
    std::vector<void*> Moved;    // channel starts advanced by a partial transfer
    std::vector<int32_t> TypeList;
    std::vector<std::string> Names;
    std::atomic<int32_t> Xruns{0};
};

} // namespace marlix::asiohost
