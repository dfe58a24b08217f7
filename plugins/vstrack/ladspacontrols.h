#pragma once
// The values of a LADSPA plug-in's control inputs, which are the bridge's state.
//
// State block, little-endian: "MXLS", version (u32, 1), the plug-in's UniqueID (u32),
// the number of control inputs (u32), then one f32 per control input in port order.
#include <ladspa.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace marlix::plugins {

class TLadspaControls {
public:
    // Every control input starts at the default of its hints; bounds marked as relative
    // to the sample rate are taken at `rate`.
    TLadspaControls(const LADSPA_Descriptor& descriptor, unsigned long rate);

    size_t Count() const { return ports_.size(); }
    float Value(size_t i) const { return values_[i].load(std::memory_order_relaxed); }

    // Pipeline thread: writes each control input's value into its slot of `portValues`
    // (one LADSPA_Data per port of the plug-in).
    void CopyTo(LADSPA_Data* portValues) const;

    std::vector<uint8_t> Encode() const;
    // Takes the values of a block made by Encode for the same plug-in; anything else
    // (wrong size, magic, version, plug-in or count, a value that is not finite) keeps
    // the current values. Values are clamped to the port's bounds.
    bool Decode(const void* data, int32_t size);

private:
    struct Port {
        unsigned long Index;
        float Low, High; // bounds, -inf/+inf where open or relative to the rate
    };
    static float DefaultValue(const LADSPA_PortRangeHint& hint, unsigned long rate);

    unsigned long uniqueId_;
    std::vector<Port> ports_;
    std::unique_ptr<std::atomic<float>[]> values_;
};

} // namespace marlix::plugins
