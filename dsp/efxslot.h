#pragma once
#include "base/atomicvalue.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace marlix {

// What the effect slots' state needs from the plug-in host: load a plug-in into a slot by
// its saved name, hand it its saved state, ask for its state, and unload it.
class TEFXSlotHost {
public:
    virtual ~TEFXSlotHost() = default;
    virtual bool FindAndLoad(int slot, const std::string& name) = 0;
    virtual void SetData(int slot, const std::vector<uint8_t>& data) = 0;
    virtual std::vector<uint8_t> GetData(int slot) = 0;
    virtual void Unload(int slot) = 0;
};

// What the player shows of a plug-in's name: the part after the first "|", or all of it.
std::string PlugDisplayName(const std::string& name);

struct TEFXSlotSetting {
    bool Present = false; // the slot holds a plug-in
    TAtomicValue<bool> On = true; // the effect stage reads it on every block
    std::string Name;     // the plug-in's name, the key it is saved under (up to 255 bytes)
    std::vector<uint8_t> Data; // its saved state

    std::string DisplayName() const { return PlugDisplayName(Name); }

    bool operator==(const TEFXSlotSetting&) const = default;
};

inline constexpr int kEFXSlotCount = 8;
using TEFXSlots = std::array<TEFXSlotSetting, kEFXSlotCount>;

} // namespace marlix
