#include "plugins/vstrack/ladspacontrols.h"

#include "plugins/common/lebytes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace marlix::plugins {

namespace {

constexpr char kMagic[5] = "MXLS";
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 16;
constexpr float kInf = std::numeric_limits<float>::infinity();

// lo^(1-t) * hi^t on a logarithmic port, else lo + t*(hi - lo).
float Between(float lo, float hi, float t, bool logarithmic)
{
    if (logarithmic && lo > 0 && hi > 0)
        return std::exp(std::log(lo) * (1 - t) + std::log(hi) * t);
    return lo * (1 - t) + hi * t;
}

} // namespace

float TLadspaControls::DefaultValue(const LADSPA_PortRangeHint& hint, unsigned long rate)
{
    const auto h = hint.HintDescriptor;
    const float scale = LADSPA_IS_HINT_SAMPLE_RATE(h) ? static_cast<float>(rate) : 1.0f;
    const float lo = hint.LowerBound * scale, hi = hint.UpperBound * scale;
    const bool log = LADSPA_IS_HINT_LOGARITHMIC(h);
    float v = LADSPA_IS_HINT_BOUNDED_BELOW(h) ? lo : 0.0f;
    switch (h & LADSPA_HINT_DEFAULT_MASK) {
    case LADSPA_HINT_DEFAULT_MINIMUM: v = lo; break;
    case LADSPA_HINT_DEFAULT_LOW: v = Between(lo, hi, 0.25f, log); break;
    case LADSPA_HINT_DEFAULT_MIDDLE: v = Between(lo, hi, 0.5f, log); break;
    case LADSPA_HINT_DEFAULT_HIGH: v = Between(lo, hi, 0.75f, log); break;
    case LADSPA_HINT_DEFAULT_MAXIMUM: v = hi; break;
    case LADSPA_HINT_DEFAULT_0: v = 0.0f; break;
    case LADSPA_HINT_DEFAULT_1: v = 1.0f; break;
    case LADSPA_HINT_DEFAULT_100: v = 100.0f; break;
    case LADSPA_HINT_DEFAULT_440: v = 440.0f; break;
    default: break;
    }
    if (LADSPA_IS_HINT_BOUNDED_ABOVE(h))
        v = std::min(v, hi);
    if (LADSPA_IS_HINT_INTEGER(h))
        v = std::round(v);
    return v;
}

TLadspaControls::TLadspaControls(const LADSPA_Descriptor& descriptor, unsigned long rate)
    : uniqueId_(descriptor.UniqueID)
{
    for (unsigned long i = 0; i < descriptor.PortCount; ++i) {
        const auto pd = descriptor.PortDescriptors[i];
        if (!LADSPA_IS_PORT_CONTROL(pd) || !LADSPA_IS_PORT_INPUT(pd))
            continue;
        const auto& hint = descriptor.PortRangeHints[i];
        const auto h = hint.HintDescriptor;
        const bool absolute = !LADSPA_IS_HINT_SAMPLE_RATE(h);
        Port port{i, absolute && LADSPA_IS_HINT_BOUNDED_BELOW(h) ? hint.LowerBound : -kInf,
                  absolute && LADSPA_IS_HINT_BOUNDED_ABOVE(h) ? hint.UpperBound : kInf};
        if (!(port.Low <= port.High)) // contradictory bounds: leave the value alone
            port.Low = -kInf, port.High = kInf;
        ports_.push_back(port);
    }
    values_ = std::make_unique<std::atomic<float>[]>(ports_.size());
    for (size_t i = 0; i < ports_.size(); ++i)
        values_[i].store(DefaultValue(descriptor.PortRangeHints[ports_[i].Index], rate));
}

void TLadspaControls::CopyTo(LADSPA_Data* portValues) const
{
    for (size_t i = 0; i < ports_.size(); ++i)
        portValues[ports_[i].Index] = Value(i);
}

std::vector<uint8_t> TLadspaControls::Encode() const
{
    std::vector<uint8_t> block(kHeaderSize + 4 * ports_.size());
    std::copy(kMagic, kMagic + 4, block.begin());
    PutU32(&block[4], kVersion);
    PutU32(&block[8], static_cast<uint32_t>(uniqueId_));
    PutU32(&block[12], static_cast<uint32_t>(ports_.size()));
    for (size_t i = 0; i < ports_.size(); ++i)
        PutF32(&block[kHeaderSize + 4 * i], Value(i));
    return block;
}

bool TLadspaControls::Decode(const void* data, int32_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    if (!p || size < 0 || static_cast<size_t>(size) != kHeaderSize + 4 * ports_.size())
        return false;
    if (!HasMagic(p, kMagic) || GetU32(p + 4) != kVersion || GetU32(p + 8) != uniqueId_ ||
        GetU32(p + 12) != ports_.size())
        return false;
    for (size_t i = 0; i < ports_.size(); ++i)
        if (!std::isfinite(GetF32(p + kHeaderSize + 4 * i)))
            return false;
    for (size_t i = 0; i < ports_.size(); ++i) {
        const float v = std::clamp(GetF32(p + kHeaderSize + 4 * i), ports_[i].Low, ports_[i].High);
        values_[i].store(v, std::memory_order_relaxed);
    }
    return true;
}

} // namespace marlix::plugins
