#include "settings/settingefx.h"

#include "settings/inifile.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace marlix {
namespace {

constexpr size_t NameBlockSize = 256;

class TReader {
public:
    explicit TReader(const std::vector<uint8_t>& bytes) : Data(bytes) {}

    bool Byte(uint8_t& v)
    {
        if (Remaining() < 1)
            return false;
        v = Data[Pos++];
        return true;
    }
    bool UInt32(uint32_t& v)
    {
        if (Remaining() < 4)
            return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(Data[Pos++]) << (8 * i);
        return true;
    }
    bool Name(std::string& name)
    {
        if (Remaining() < NameBlockSize)
            return false;
        const auto* block = Data.data() + Pos;
        name.assign(block + 1, block + 1 + block[0]);
        Pos += NameBlockSize;
        return true;
    }
    bool Bytes(size_t count, std::vector<uint8_t>& out)
    {
        if (Remaining() < count)
            return false;
        out.assign(Data.begin() + static_cast<std::ptrdiff_t>(Pos), Data.begin() + static_cast<std::ptrdiff_t>(Pos + count));
        Pos += count;
        return true;
    }

private:
    size_t Remaining() const { return Data.size() - Pos; }

    const std::vector<uint8_t>& Data;
    size_t Pos = 0;
};

void PutUInt32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutName(std::vector<uint8_t>& out, const std::string& name)
{
    const size_t length = std::min(name.size(), TSettingEFX::MaxNameLength);
    out.push_back(static_cast<uint8_t>(length));
    out.insert(out.end(), name.begin(), name.begin() + static_cast<std::ptrdiff_t>(length));
    out.resize(out.size() + NameBlockSize - 1 - length, 0);
}

} // namespace

std::vector<uint8_t> TSettingEFX::Serialize() const
{
    std::vector<uint8_t> out;
    for (int i = 0; i < SlotCount; ++i) {
        const TEFXSlotSetting& slot = Slots[static_cast<size_t>(i)];
        out.push_back(slot.Present ? 1 : 0);
        out.push_back(slot.On ? 1 : 0);
        if (!slot.Present)
            continue;
        const std::vector<uint8_t> data = SlotHost ? SlotHost->GetData(i) : slot.Data;
        PutName(out, slot.Name);
        PutUInt32(out, static_cast<uint32_t>(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

void TSettingEFX::Deserialize(const std::vector<uint8_t>& bytes)
{
    TReader in(bytes);
    for (int i = 0; i < SlotCount; ++i) {
        TEFXSlotSetting& slot = Slots[static_cast<size_t>(i)];
        uint8_t present = 0, on = 1;
        if (!in.Byte(present) || !in.Byte(on))
            return;
        slot.On = on != 0;
        if (!present)
            continue;
        std::string name;
        uint32_t size = 0;
        std::vector<uint8_t> data;
        if (!in.Name(name) || !in.UInt32(size) || !in.Bytes(size, data))
            return;
        if (SlotHost) {
            if (!SlotHost->FindAndLoad(i, name))
                continue;
            SlotHost->SetData(i, data);
        }
        slot.Present = true;
        slot.Name = std::move(name);
        slot.Data = std::move(data);
    }
}

bool TSettingEFX::Save(const std::string& fileName) const
{
    return WriteFileAtomic(fileName, Serialize());
}

void TSettingEFX::Load(const std::string& fileName)
{
    Clear();
    std::vector<uint8_t> bytes;
    if (ReadFileBytes(fileName, bytes))
        Deserialize(bytes);
}

void TSettingEFX::Clear()
{
    for (int i = 0; i < SlotCount; ++i) {
        TEFXSlotSetting& slot = Slots[static_cast<size_t>(i)];
        if (slot.Present && SlotHost)
            SlotHost->Unload(i);
        slot = TEFXSlotSetting{};
    }
}

} // namespace marlix
