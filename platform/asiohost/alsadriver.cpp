#include "platform/asiohost/alsadriver.h"

namespace marlix::asiohost {

bool TAlsaDriver::Open(const TAlsaDevice& device, unsigned rate, bool interleavedOnly)
{
    Close();
    InterleavedOnly = interleavedOnly;
    if (!Playback.Open(device.Playback, SND_PCM_STREAM_PLAYBACK))
        return false;
    CaptureName = device.Capture;
    // Format and channels are settled by a first configuration; the rate follows.
    if (!Playback.Configure(44100, kPeriodFrames, false, interleavedOnly) &&
        !Playback.Configure(Playback.NearestRate(44100), kPeriodFrames, false, interleavedOnly)) {
        Close();
        return false;
    }
    Rate.store(rate && Playback.CanRate(rate) == 0 ? rate : DefaultRate(), std::memory_order_relaxed);
    if (!Configure()) {
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

unsigned TAlsaDriver::DefaultRate() const
{
    for (unsigned rate : {44100u, 48000u})
        if (Playback.CanRate(rate) == 0)
            return rate;
    return Playback.NearestRate(44100);
}

// Capture runs in step with playback: same rate and period, or not at all.
bool TAlsaDriver::Configure()
{
    const unsigned rate = Rate.load(std::memory_order_relaxed);
    if (!Playback.Configure(rate, kPeriodFrames, false, InterleavedOnly))
        return false;
    ConfiguredRate = rate;
    if (CaptureName.empty())
        return true;
    const bool ready = (Capture.IsOpen() || Capture.Open(CaptureName, SND_PCM_STREAM_CAPTURE)) &&
                       Capture.Configure(rate, static_cast<snd_pcm_uframes_t>(Playback.Frames()), true, InterleavedOnly);
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
    Playback.Halt();
    if (Capture.IsOpen())
        Capture.Halt();
}

} // namespace marlix::asiohost
