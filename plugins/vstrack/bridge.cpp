#include "plugins/vstrack/bridge.h"

#include "plugins/aep.h"

#include <cstring>

namespace marlix::plugins {

namespace {

// The saved settings keep names of at most 255 bytes; cut at a character boundary.
std::string FitName(std::string name)
{
    constexpr size_t kMax = 255;
    if (name.size() <= kMax)
        return name;
    size_t end = kMax;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    name.resize(end);
    return name;
}

// The library path in a bridge block, or "" when `data` is not one.
std::string BridgePath(const void* data, int32_t size)
{
    static constexpr uint8_t kLead[AEP_BRIDGE_NAME_OFFSET] = {1, 1, 0, 0};
    const auto* p = static_cast<const uint8_t*>(data);
    if (!p || size != AEP_BRIDGE_BLOCK_SIZE || std::memcmp(p, kLead, sizeof kLead) != 0)
        return {};
    const char* path = reinterpret_cast<const char*>(p + AEP_BRIDGE_NAME_OFFSET);
    const size_t length = strnlen(path, AEP_BRIDGE_BLOCK_SIZE - AEP_BRIDGE_NAME_OFFSET);
    if (length == AEP_BRIDGE_BLOCK_SIZE - AEP_BRIDGE_NAME_OFFSET)
        return {}; // not terminated
    return {path, length};
}

} // namespace

void TBridge::SetData(const void* data, int32_t size)
{
    if (std::string path = BridgePath(data, size); !path.empty()) {
        // Only the first plug-in is taken: swapping it could race the pipeline thread.
        if (!ready_.load(std::memory_order_acquire))
            Load(path);
    } else if (controls_) {
        controls_->Decode(data, size);
    }
}

void TBridge::Load(const std::string& path)
{
    // A bare name would make dlopen search the system's library folders.
    const std::string file = (path.find('/') == std::string::npos ? "./" : "") + path + ".so";
    if (!library_.Open(file))
        return;
    const LADSPA_Descriptor& d = *library_.Descriptor();
    const char* title = d.Name && *d.Name ? d.Name : d.Label;
    if (!title || !*title) {
        library_.Close();
        return;
    }
    controls_ = std::make_unique<TLadspaControls>(d, TLadspaRack::kInitialRate);
    rack_ = std::make_unique<TLadspaRack>(d, *controls_);
    name_ = FitName(std::string("LADSPA|") + title);
    ready_.store(true, std::memory_order_release);
}

void TBridge::GetData(void** data, int32_t* size)
{
    if (!data || !size)
        return;
    state_ = controls_ ? controls_->Encode() : std::vector<uint8_t>{};
    *data = state_.data();
    *size = static_cast<int32_t>(state_.size());
}

void TBridge::Destroy()
{
    ready_.store(false, std::memory_order_release);
    rack_.reset();
    controls_.reset();
    library_.Close();
    name_.clear();
}

void TBridge::Clear()
{
    if (ready_.load(std::memory_order_acquire))
        rack_->Clear();
}

void TBridge::Process(float** channels, int32_t rate, int32_t channelCount, int32_t count)
{
    if (ready_.load(std::memory_order_acquire))
        rack_->Process(channels, rate, channelCount, count);
}

} // namespace marlix::plugins
