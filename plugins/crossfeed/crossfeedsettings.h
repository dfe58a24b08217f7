#pragma once
// The crossfeed's settings and their state block.
//
// State block, 20 bytes, little-endian: "MXCF", version (u32, 1), cut-off in Hz (f32),
// delay in ms (f32), level of the crossed signal in dB (f32).
#include <array>
#include <cstdint>
#include <optional>

namespace marlix::plugins {

struct TCrossfeedSettings {
    float CutoffHz = 700.0f;
    float DelayMs = 0.3f;
    float LevelDb = -6.0f;

    static constexpr float kMinCutoffHz = 50.0f, kMaxCutoffHz = 10000.0f;
    static constexpr float kMaxDelayMs = 1.0f;
    static constexpr float kMinLevelDb = -30.0f, kMaxLevelDb = 0.0f;
    static constexpr int32_t kBlockSize = 20;

    bool Valid() const;
    std::array<uint8_t, kBlockSize> Encode() const;
    // The settings in `data`, or nothing when it is not a valid block of this version.
    static std::optional<TCrossfeedSettings> Decode(const void* data, int32_t size);
};

} // namespace marlix::plugins
