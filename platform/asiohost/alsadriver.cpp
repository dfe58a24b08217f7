#include "platform/asiohost/alsadriver.h"

#include "base/threadpriority.h"

namespace marlix::asiohost {

bool TAlsaDriver::Open(const TAlsaDevice& device, unsigned rate, bool interleavedOnly)
{
    Close();
    InterleavedOnly = interleavedOnly;
    CaptureName = device.Capture;
    Rate.store(rate, std::memory_order_relaxed);
    if (!Playback.Open(device.Playback, SND_PCM_STREAM_PLAYBACK) || !Configure()) {
        Close();
        return false;
    }
    return true;
}

void TAlsaDriver::Close()
{
    Playback.Close();
    Capture.Close();
    Rate.store(0, std::memory_order_relaxed);
    ConfiguredRate = 0;
    Frames.store(0, std::memory_order_relaxed);
}

// Playback takes the rate asked for or its default; capture runs in step with it (same
// rate and period) or not at all.
bool TAlsaDriver::Configure()
{
    if (!Playback.Configure(Rate.load(std::memory_order_relaxed), kPeriodFrames, false, InterleavedOnly))
        return false;
    ConfiguredRate = Playback.Rate();
    Rate.store(ConfiguredRate, std::memory_order_relaxed);
    if (CaptureName.empty())
        return true;
    const bool ready = (Capture.IsOpen() || Capture.Open(CaptureName, SND_PCM_STREAM_CAPTURE)) &&
                       Capture.Configure(ConfiguredRate, static_cast<snd_pcm_uframes_t>(Playback.Frames()), true,
                                         InterleavedOnly) &&
                       Capture.Rate() == ConfiguredRate;
    if (!ready)
        Capture.Close();
    return true;
}

int32_t TAlsaDriver::CanSampleRate(double rate) const
{
    return IsOpen() ? Playback.CanRate(rate) : -1;
}

int32_t TAlsaDriver::SetSampleRate(double rate)
{
    const int32_t answer = CanSampleRate(rate);
    if (answer == 0)
        Rate.store(static_cast<unsigned>(rate), std::memory_order_relaxed);
    return answer;
}

void TAlsaDriver::Stream(TStopPoll stop, TBufferCallback output, TBufferCallback input)
{
    if (!IsOpen() || !stop)
        return;
    if (Rate.load(std::memory_order_relaxed) != ConfiguredRate && !Configure())
        return;
    const int frames = Playback.Frames();
    Pacer.Reset(ConfiguredRate, Playback.BufferFrames());
    if (Capture.IsOpen())
        Capture.Start();
    RaiseToRealtime();
    while (!stop()) {
        if (Capture.IsOpen()) {
            if (!Capture.Read(stop))
                break;
            if (input)
                input(Capture.Channels(), frames, Capture.ChannelBuffers(), Capture.Types());
        }
        Playback.Silence();
        if (output)
            output(Playback.Channels(), frames, Playback.ChannelBuffers(), Playback.Types());
        if (!Playback.Write(stop))
            break;
        Frames.fetch_add(static_cast<uint64_t>(frames), std::memory_order_relaxed);
        Pacer.Advance(static_cast<uint64_t>(frames));
    }
    DropRealtime();
    Playback.Halt();
    if (Capture.IsOpen())
        Capture.Halt();
}

} // namespace marlix::asiohost
