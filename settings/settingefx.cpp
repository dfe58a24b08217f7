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
    explicit TReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    bool Byte(uint8_t& v)
    {
        if (Remaining() < 1)
            return false;
        v = bytes_[pos_++];
        return true;
    }
    bool UInt32(uint32_t& v)
    {
        if (Remaining() < 4)
            return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(bytes_[pos_++]) << (8 * i);
        return true;
    }
    bool Name(std::string& name)
    {
        if (Remaining() < NameBlockSize)
            return false;
        const auto* block = bytes_.data() + pos_;
        name.assign(block + 1, block + 1 + block[0]);
        pos_ += NameBlockSize;
        return true;
    }
    bool Bytes(size_t count, std::vector<uint8_t>& out)
    {
        if (Remaining() < count)
            return false;
        out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + count));
        pos_ += count;
        return true;
    }

private:
    size_t Remaining() const { return bytes_.size() - pos_; }

    const std::vector<uint8_t>& bytes_;
    size_t pos_ = 0;
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
        const std::vector<uint8_t> data = host_ ? host_->GetData(i) : slot.Data;
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
        if (host_) {
            if (!host_->FindAndLoad(i, name))
                continue;
            host_->SetData(i, data);
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
        if (slot.Present && host_)
            host_->Unload(i);
        slot = TEFXSlotSetting{};
    }
}

} // namespace marlix
