#include "platform/asiohost/alsapcm.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace marlix::asiohost {
namespace {

struct TNativeFormat {
    snd_pcm_format_t Format;
    int32_t Type; // the host library's sample type
    int Bytes;
};

// Widest integer first; a float container keeps 24 bits, more than S16_LE.
constexpr TNativeFormat kFormats[] = {
    {SND_PCM_FORMAT_S32_LE, 18, 4},
    {SND_PCM_FORMAT_S24_3LE, 17, 3},
    {SND_PCM_FORMAT_FLOAT_LE, 19, 4},
    {SND_PCM_FORMAT_S16_LE, 16, 2},
};

constexpr int kWaitMs = 100;
constexpr unsigned kPeriodsPerBuffer = 4;

bool IntegralRate(double rate)
{
    return rate >= 1 && rate <= 4294967295.0 && std::floor(rate) == rate;
}

} // namespace

bool TAlsaPcm::Open(const std::string& name, snd_pcm_stream_t stream)
{
    Close();
    Stream = stream;
    return !name.empty() && snd_pcm_open(&Pcm, name.c_str(), stream, SND_PCM_NONBLOCK) >= 0;
}

void TAlsaPcm::Close()
{
    if (Pcm)
        snd_pcm_close(Pcm);
    Pcm = nullptr;
    RateSpace.reset();
    Buffers.clear();
    Names.clear();
    Xruns.store(0, std::memory_order_relaxed);
}

bool TAlsaPcm::Configure(unsigned rate, snd_pcm_uframes_t period, bool exact, bool interleavedOnly)
{
    if (!Pcm)
        return false;
    snd_pcm_drop(Pcm);
    snd_pcm_hw_free(Pcm);
    snd_pcm_hw_params_t* raw = nullptr;
    if (snd_pcm_hw_params_malloc(&raw) < 0)
        return false;
    THwParams hw(raw, &snd_pcm_hw_params_free);
    snd_pcm_hw_params_any(Pcm, raw);
    snd_pcm_hw_params_set_rate_resample(Pcm, raw, 0); // bit-perfect: never resample inside ALSA
    const bool planar = !interleavedOnly && snd_pcm_hw_params_set_access(Pcm, raw, SND_PCM_ACCESS_RW_NONINTERLEAVED) == 0;
    if (!planar && snd_pcm_hw_params_set_access(Pcm, raw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0)
        return false;
    if (!ChooseFormat(raw) || !ChooseChannels(raw))
        return false;
    snd_pcm_hw_params_t* space = nullptr;
    if (snd_pcm_hw_params_malloc(&space) < 0)
        return false;
    snd_pcm_hw_params_copy(space, raw);
    RateSpace.reset(space);
    int dir = 0;
    ConfiguredRate = ChooseRate(rate);
    if (snd_pcm_hw_params_set_rate(Pcm, raw, ConfiguredRate, 0) < 0)
        return false;
    if (exact ? snd_pcm_hw_params_set_period_size(Pcm, raw, period, 0) < 0
              : snd_pcm_hw_params_set_period_size_near(Pcm, raw, &period, &dir) < 0)
        return false;
    snd_pcm_uframes_t buffer = period * kPeriodsPerBuffer;
    snd_pcm_hw_params_set_buffer_size_near(Pcm, raw, &buffer);
    if (snd_pcm_hw_params(Pcm, raw) < 0)
        return false;
    snd_pcm_hw_params_get_period_size(raw, &Period, &dir);
    snd_pcm_hw_params_get_buffer_size(raw, &BufferSize);
    unsigned channels = 0;
    snd_pcm_hw_params_get_channels(raw, &channels);
    if (!SetSoftware(Stream))
        return false;
    Allocate(static_cast<int>(channels));
    if (!planar)
        Frame.assign(static_cast<size_t>(Period) * channels * static_cast<size_t>(Bytes), 0);
    ReadNames(Stream == SND_PCM_STREAM_PLAYBACK ? "Output " : "Input ");
    return snd_pcm_prepare(Pcm) >= 0;
}

bool TAlsaPcm::ChooseFormat(snd_pcm_hw_params_t* hw)
{
    for (const TNativeFormat& f : kFormats) {
        if (snd_pcm_hw_params_set_format(Pcm, hw, f.Format) == 0) {
            Format = f.Format;
            Type = f.Type;
            Bytes = f.Bytes;
            return true;
        }
    }
    return false;
}

// Every channel of a card (they are few); stereo, or the least above it, for a
// plug-in device that takes any number.
bool TAlsaPcm::ChooseChannels(snd_pcm_hw_params_t* hw)
{
    unsigned low = 0, high = 0;
    snd_pcm_hw_params_get_channels_min(hw, &low);
    snd_pcm_hw_params_get_channels_max(hw, &high);
    unsigned channels = high;
    if (high > kMaxChannels)
        channels = std::max(low, 2u);
    return channels <= kMaxChannels && snd_pcm_hw_params_set_channels(Pcm, hw, channels) == 0;
}

bool TAlsaPcm::SetSoftware(snd_pcm_stream_t stream)
{
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if (snd_pcm_sw_params_current(Pcm, sw) < 0)
        return false;
    // Playback starts once its buffer is full, capture on the first read.
    const snd_pcm_uframes_t start = stream == SND_PCM_STREAM_PLAYBACK ? BufferSize : 1;
    snd_pcm_sw_params_set_start_threshold(Pcm, sw, start);
    snd_pcm_sw_params_set_avail_min(Pcm, sw, Period);
    return snd_pcm_sw_params(Pcm, sw) >= 0;
}

void TAlsaPcm::Allocate(int channels)
{
    const size_t bytes = static_cast<size_t>(Period) * static_cast<size_t>(Bytes);
    Store.assign(bytes * static_cast<size_t>(channels), 0);
    Buffers.resize(static_cast<size_t>(channels));
    Moved.resize(static_cast<size_t>(channels));
    TypeList.assign(static_cast<size_t>(channels), Type);
    for (size_t c = 0; c < Buffers.size(); ++c)
        Buffers[c] = Store.data() + c * bytes;
    Frame.clear();
}

void TAlsaPcm::ReadNames(const char* prefix)
{
    Names.clear();
    snd_pcm_chmap_t* map = snd_pcm_get_chmap(Pcm);
    for (int c = 0; c < Channels(); ++c) {
        const unsigned pos = map && static_cast<unsigned>(c) < map->channels ? map->pos[c] : 0u;
        const char* name = nullptr;
        if (pos != SND_CHMAP_UNKNOWN && pos != SND_CHMAP_NA)
            name = snd_pcm_chmap_name(static_cast<snd_pcm_chmap_position>(pos));
        Names.push_back(name ? std::string(name) : prefix + std::to_string(c + 1));
    }
    std::free(map);
}

int32_t TAlsaPcm::CanRate(double rate) const
{
    if (!RateSpace || !IntegralRate(rate))
        return 1;
    return snd_pcm_hw_params_test_rate(Pcm, RateSpace.get(), static_cast<unsigned>(rate), 0) == 0 ? 0 : 1;
}

unsigned TAlsaPcm::ChooseRate(unsigned rate) const
{
    for (unsigned candidate : {rate, 44100u, 48000u})
        if (candidate && CanRate(candidate) == 0)
            return candidate;
    snd_pcm_hw_params_t* copy = nullptr;
    snd_pcm_hw_params_alloca(&copy);
    snd_pcm_hw_params_copy(copy, RateSpace.get());
    unsigned nearest = 44100;
    int dir = 0;
    snd_pcm_hw_params_set_rate_near(Pcm, copy, &nearest, &dir);
    return nearest;
}

void TAlsaPcm::Silence()
{
    std::memset(Store.data(), 0, Store.size());
}

bool TAlsaPcm::Write(TStopPoll stop)
{
    if (Interleaved())
        Interleave();
    const size_t frameBytes = static_cast<size_t>(Bytes) * Buffers.size();
    snd_pcm_uframes_t done = 0;
    while (done < Period) {
        const snd_pcm_sframes_t n = Interleaved()
                                        ? snd_pcm_writei(Pcm, Frame.data() + done * frameBytes, Period - done)
                                        : snd_pcm_writen(Pcm, Offsets(done), Period - done);
        if (n >= 0)
            done += static_cast<snd_pcm_uframes_t>(n);
        else if (!Recover(n, stop))
            return false;
    }
    return true;
}

bool TAlsaPcm::Read(TStopPoll stop)
{
    const size_t frameBytes = static_cast<size_t>(Bytes) * Buffers.size();
    snd_pcm_uframes_t done = 0;
    while (done < Period) {
        const snd_pcm_sframes_t n = Interleaved() ? snd_pcm_readi(Pcm, Frame.data() + done * frameBytes, Period - done)
                                                  : snd_pcm_readn(Pcm, Offsets(done), Period - done);
        if (n >= 0)
            done += static_cast<snd_pcm_uframes_t>(n);
        else if (!Recover(n, stop))
            return false;
    }
    if (Interleaved())
        Deinterleave();
    return true;
}

void TAlsaPcm::Halt()
{
    snd_pcm_drop(Pcm);
    snd_pcm_prepare(Pcm);
}

// Waits for room or data, or brings the device back after an under-run (counted) or a
// suspend. False when told to stop or the device is gone.
bool TAlsaPcm::Recover(long error, TStopPoll stop)
{
    if (error == -EAGAIN) {
        if (stop && stop())
            return false;
        const int waited = snd_pcm_wait(Pcm, kWaitMs);
        return waited >= 0 || snd_pcm_recover(Pcm, waited, 1) >= 0;
    }
    if (error == -EPIPE)
        Xruns.fetch_add(1, std::memory_order_relaxed);
    if (snd_pcm_recover(Pcm, static_cast<int>(error), 1) < 0)
        return false;
    if (Stream == SND_PCM_STREAM_CAPTURE)
        snd_pcm_start(Pcm);
    return true;
}

void** TAlsaPcm::Offsets(snd_pcm_uframes_t done)
{
    for (size_t c = 0; c < Buffers.size(); ++c)
        Moved[c] = static_cast<uint8_t*>(Buffers[c]) + done * static_cast<size_t>(Bytes);
    return Moved.data();
}

void TAlsaPcm::Interleave()
{
    const size_t n = Buffers.size();
    const size_t b = static_cast<size_t>(Bytes);
    for (size_t c = 0; c < n; ++c) {
        const auto* in = static_cast<const uint8_t*>(Buffers[c]);
        for (size_t i = 0; i < Period; ++i)
            std::memcpy(Frame.data() + (i * n + c) * b, in + i * b, b);
    }
}

void TAlsaPcm::Deinterleave()
{
    const size_t n = Buffers.size();
    const size_t b = static_cast<size_t>(Bytes);
    for (size_t c = 0; c < n; ++c) {
        auto* out = static_cast<uint8_t*>(Buffers[c]);
        for (size_t i = 0; i < Period; ++i)
            std::memcpy(out + i * b, Frame.data() + (i * n + c) * b, b);
    }
}

} // namespace marlix::asiohost
