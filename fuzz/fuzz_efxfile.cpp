// Arbitrary bytes as an effect state file, read through a stand-in plug-in host that
// knows every name except those starting with "?". What was read must be what the host
// received, and writing it back and reading that again must give the same slots and bytes.
#include "settings/settingefx.h"

#include "fuzz/fuzzsupport.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace marlix;

class THost : public TEFXSlotHost {
public:
    bool FindAndLoad(int slot, const std::string& name) override
    {
        fuzz::Check(slot >= 0 && slot < TSettingEFX::SlotCount, "slot in range");
        fuzz::Check(name.size() <= TSettingEFX::MaxNameLength, "name fits its block");
        Loaded[slot] = name.empty() || name[0] != '?';
        return Loaded[slot];
    }
    void SetData(int slot, const std::vector<uint8_t>& data) override
    {
        fuzz::Check(Loaded[slot], "state goes to a loaded slot only");
        State[slot] = data;
    }
    std::vector<uint8_t> GetData(int slot) override { return State[slot]; }
    void Unload(int slot) override { Loaded[slot] = false; }

    std::array<bool, TSettingEFX::SlotCount> Loaded{};
    std::array<std::vector<uint8_t>, TSettingEFX::SlotCount> State;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    THost host;
    TSettingEFX first;
    first.SetHost(&host);
    first.Deserialize(std::vector<uint8_t>(data, data + size));
    for (int i = 0; i < TSettingEFX::SlotCount; ++i) {
        const TEFXSlotSetting& slot = first.Slots[static_cast<size_t>(i)];
        fuzz::Check(slot.Present == host.Loaded[static_cast<size_t>(i)], "present exactly when loaded");
        fuzz::Check(!slot.Present || slot.Data == host.State[static_cast<size_t>(i)], "host got the saved state");
    }
    const std::vector<uint8_t> bytes = first.Serialize();
    THost again;
    TSettingEFX second;
    second.SetHost(&again);
    second.Deserialize(bytes);
    fuzz::Check(second.Slots == first.Slots, "same slots after a round trip");
    fuzz::Check(second.Serialize() == bytes, "same bytes after a round trip");
    return 0;
}
