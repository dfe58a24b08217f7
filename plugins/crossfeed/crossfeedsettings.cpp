#include "plugins/crossfeed/crossfeedsettings.h"

#include "plugins/common/lebytes.h"

#include <algorithm>
#include <cmath>

namespace marlix::plugins {

namespace {
constexpr char kMagic[5] = "MXCF";
constexpr uint32_t kVersion = 1;

bool InRange(float v, float lo, float hi) { return std::isfinite(v) && v >= lo && v <= hi; }
} // namespace

bool TCrossfeedSettings::Valid() const
{
    return InRange(CutoffHz, kMinCutoffHz, kMaxCutoffHz) && InRange(DelayMs, 0.0f, kMaxDelayMs) &&
           InRange(LevelDb, kMinLevelDb, kMaxLevelDb);
}

std::array<uint8_t, TCrossfeedSettings::kBlockSize> TCrossfeedSettings::Encode() const
{
    std::array<uint8_t, kBlockSize> block{};
    std::copy(kMagic, kMagic + 4, block.begin());
    PutU32(&block[4], kVersion);
    PutF32(&block[8], CutoffHz);
    PutF32(&block[12], DelayMs);
    PutF32(&block[16], LevelDb);
    return block;
}

std::optional<TCrossfeedSettings> TCrossfeedSettings::Decode(const void* data, int32_t size)
{
    if (!data || size != kBlockSize)
        return std::nullopt;
    auto* p = static_cast<const uint8_t*>(data);
    if (!HasMagic(p, kMagic) || GetU32(p + 4) != kVersion)
        return std::nullopt;
    TCrossfeedSettings s{GetF32(p + 8), GetF32(p + 12), GetF32(p + 16)};
    if (!s.Valid())
        return std::nullopt;
    return s;
}

} // namespace marlix::plugins
