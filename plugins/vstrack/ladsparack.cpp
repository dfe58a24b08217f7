#include "plugins/vstrack/ladsparack.h"

#include <algorithm>

namespace marlix::plugins {

TLadspaRack::TLadspaRack(const LADSPA_Descriptor& descriptor, const TLadspaControls& controls)
    : d_(descriptor), controls_(controls), inPlaceBroken_(LADSPA_IS_INPLACE_BROKEN(descriptor.Properties)),
      portValues_(descriptor.PortCount, 0.0f), silence_(kChunk, 0.0f)
{
    for (unsigned long i = 0; i < d_.PortCount; ++i) {
        const auto pd = d_.PortDescriptors[i];
        if (LADSPA_IS_PORT_AUDIO(pd))
            (LADSPA_IS_PORT_INPUT(pd) ? audioIn_ : audioOut_).push_back(i);
    }
    inputCopy_.assign(inPlaceBroken_ ? audioIn_.size() : 0, std::vector<float>(kChunk));
    discard_.assign(audioOut_.size(), std::vector<float>(kChunk));
    instances_.reserve(kMaxChannels);
    Instantiate(kInitialRate);
}

TLadspaRack::~TLadspaRack() { Release(); }

void TLadspaRack::Instantiate(unsigned long rate)
{
    Release();
    rate_ = rate;
    const size_t count = Mono() ? kMaxChannels : 1;
    for (size_t i = 0; i < count; ++i) {
        LADSPA_Handle h = d_.instantiate(&d_, rate);
        if (!h) {
            Release();
            return;
        }
        instances_.push_back(h);
        for (unsigned long p = 0; p < d_.PortCount; ++p)
            if (LADSPA_IS_PORT_CONTROL(d_.PortDescriptors[p]))
                d_.connect_port(h, p, &portValues_[p]);
        if (d_.activate)
            d_.activate(h);
    }
}

void TLadspaRack::Release()
{
    for (LADSPA_Handle h : instances_) {
        if (d_.deactivate)
            d_.deactivate(h);
        d_.cleanup(h);
    }
    instances_.clear();
}

void TLadspaRack::Clear()
{
    for (LADSPA_Handle h : instances_) {
        if (d_.deactivate)
            d_.deactivate(h);
        if (d_.activate)
            d_.activate(h);
    }
}

void TLadspaRack::Process(float** channels, int32_t rate, int32_t channelCount, int32_t count)
{
    if (!channels || rate <= 0 || channelCount <= 0 || count <= 0)
        return;
    if (static_cast<unsigned long>(rate) != rate_)
        Instantiate(static_cast<unsigned long>(rate));
    controls_.CopyTo(portValues_.data());
    for (int32_t offset = 0; offset < count; offset += kChunk) {
        const int32_t n = std::min(kChunk, count - offset);
        if (Mono()) {
            const int used = std::min<int>(channelCount, static_cast<int>(instances_.size()));
            for (int c = 0; c < used; ++c)
                if (channels[c])
                    Run(instances_[c], channels, channelCount, c, offset, n);
        } else if (!instances_.empty()) {
            Run(instances_[0], channels, channelCount, 0, offset, n);
        }
    }
}

void TLadspaRack::Run(LADSPA_Handle instance, float** channels, int32_t channelCount, int first, int32_t offset,
                      int32_t n)
{
    auto channel = [&](size_t port) -> float* {
        const size_t c = first + port;
        return c < static_cast<size_t>(channelCount) && channels[c] ? channels[c] + offset : nullptr;
    };
    for (size_t i = 0; i < audioIn_.size(); ++i) {
        float* in = channel(i);
        if (!in) {
            in = silence_.data();
        } else if (inPlaceBroken_) {
            std::copy_n(in, n, inputCopy_[i].data());
            in = inputCopy_[i].data();
        }
        d_.connect_port(instance, audioIn_[i], in);
    }
    for (size_t o = 0; o < audioOut_.size(); ++o) {
        float* out = channel(o);
        d_.connect_port(instance, audioOut_[o], out ? out : discard_[o].data());
    }
    d_.run(instance, static_cast<unsigned long>(n));
}

} // namespace marlix::plugins
