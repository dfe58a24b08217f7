#pragma once
#include "dsp/efxslot.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace marlix {

// The eight effect slots and their state file. Without a host, a present slot's name and
// state are kept as read and written back unchanged.
class TSettingEFX {
public:
    static constexpr int SlotCount = kEFXSlotCount;
    static constexpr size_t MaxNameLength = 255;

    void SetHost(TEFXSlotHost* host) { SlotHost = host; }
    TEFXSlotHost* Host() const { return SlotHost; }

    [[nodiscard]] bool Save(const std::string& fileName) const;
    // Clears the slots, then reads the file (a missing file leaves them cleared). A slot
    // whose plug-in the host cannot load is left empty. Reading stops at the first
    // incomplete slot.
    void Load(const std::string& fileName);
    // Unloads every present slot and resets all slots.
    void Clear();

    // The file's bytes for the current slots, and reading them back.
    std::vector<uint8_t> Serialize() const;
    void Deserialize(const std::vector<uint8_t>& bytes);

    TEFXSlots Slots;

private:
    TEFXSlotHost* SlotHost = nullptr;
};

} // namespace marlix
