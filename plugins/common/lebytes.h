#pragma once
// Little-endian fields of the plug-ins' state blocks.
#include <bit>
#include <cstdint>
#include <cstring>

namespace marlix::plugins {

inline void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t GetU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void PutF32(uint8_t* p, float v) { PutU32(p, std::bit_cast<uint32_t>(v)); }
inline float GetF32(const uint8_t* p) { return std::bit_cast<float>(GetU32(p)); }

inline bool HasMagic(const uint8_t* p, const char (&magic)[5]) { return std::memcmp(p, magic, 4) == 0; }

} // namespace marlix::plugins
