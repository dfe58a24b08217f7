#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace marlix {

// What the effect record needs from the plug-in host: load a plug-in into a slot by its
// saved name, hand it its saved state, ask for its state, and unload it.
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
    bool On = true;
    std::string Name;     // the plug-in's name, the key it is saved under (up to 255 bytes)
    std::vector<uint8_t> Data; // its saved state

    std::string DisplayName() const { return PlugDisplayName(Name); }

    bool operator==(const TEFXSlotSetting&) const = default;
};

// The eight effect slots and their state file. Without a host, a present slot's name and
// state are kept as read and written back unchanged.
class TSettingEFX {
public:
    static constexpr int SlotCount = 8;
    static constexpr size_t MaxNameLength = 255;

    void SetHost(TEFXSlotHost* host) { host_ = host; }
    TEFXSlotHost* Host() const { return host_; }

    bool Save(const std::string& fileName) const;
    // Clears the slots, then reads the file (a missing file leaves them cleared). A slot
    // whose plug-in the host cannot load is left empty. Reading stops at the first
    // incomplete slot.
    void Load(const std::string& fileName);
    // Unloads every present slot and resets all slots.
    void Clear();

    // The file's bytes for the current slots, and reading them back.
    std::vector<uint8_t> Serialize() const;
    void Deserialize(const std::vector<uint8_t>& bytes);

    std::array<TEFXSlotSetting, SlotCount> Slots;

private:
    TEFXSlotHost* host_ = nullptr;
};

} // namespace marlix
