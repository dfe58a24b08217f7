#pragma once
// A pro-audio driver on a bare ALSA device: exclusive use of the playback PCM (and the
// capture PCM when there is one) in their native formats, streamed one period at a time
// through the host's callbacks.
#include "platform/asiohost/alsadevices.h"
#include "platform/asiohost/alsapcm.h"
#include "platform/asiohost/hostcallbacks.h"
#include "platform/asiohost/pacer.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace marlix::asiohost {

class TAlsaDriver {
public:
    static constexpr snd_pcm_uframes_t kPeriodFrames = 512;

    // Opens and configures the device for `rate` (0: 44100 Hz, else 48000 Hz, else the
    // nearest the device accepts). False when the playback PCM cannot be opened or
    // configured; a capture PCM that fails leaves the driver without inputs.
    bool Open(const TAlsaDevice& device, unsigned rate, bool interleavedOnly = false);
    void Close();
    bool IsOpen() const { return Playback.IsOpen(); }

    // 0 when the playback PCM accepts `rate`, 1 when not, -1 when closed.
    int32_t CanSampleRate(double rate) const;
    // The rate the next streaming run starts with; 0 when accepted.
    int32_t SetSampleRate(double rate);
    unsigned SampleRate() const { return Rate.load(std::memory_order_relaxed); }

    // Streams until the stop poll answers true or the device fails: capture period →
    // input callback, output callback → playback period.
    void Stream(TStopPoll stop, TBufferCallback output, TBufferCallback input);

    const TAlsaPcm& Outputs() const { return Playback; }
    const TAlsaPcm& Inputs() const { return Capture; }
    int32_t Underruns() const { return Playback.Underruns() + Capture.Underruns(); }
    uint64_t Position() const { return Frames.load(std::memory_order_relaxed); }

private:
    bool Configure();

    TAlsaPcm Playback;
    TAlsaPcm Capture;
    std::string CaptureName;
    bool InterleavedOnly = false;
    std::atomic<unsigned> Rate{0}; // set by other threads while streaming
    unsigned ConfiguredRate = 0;
    TPacer Pacer;
    std::atomic<uint64_t> Frames{0};
};

} // namespace marlix::asiohost
