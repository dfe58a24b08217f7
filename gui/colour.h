#pragma once
#include <cstdint>

namespace marlix {

// 32-bit colours. Window colours keep red in the lowest byte; bitmap pixels keep blue in
// the lowest byte, then green, red and alpha (QImage::Format_ARGB32 in memory).
using TColor32 = uint32_t;

// RGB(r, g, b) as a window colour and as a bitmap pixel (alpha 0).
constexpr TColor32 WinRGB(int r, int g, int b) { return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16; }
constexpr TColor32 PixRGB(int r, int g, int b) { return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16; }

// (1 − t)·a + t·b per colour byte with t clamped to 0 … 1, truncated; a's top byte stays.
TColor32 MixColor(TColor32 a, TColor32 b, double t);
// Each colour byte times f, truncated and limited to 0 … 255; the top byte stays.
TColor32 ScaleColor(TColor32 c, double f);
// Source s over destination d weighted by s's alpha α: (d·(256 − α) + s·α) div 256 per
// colour byte; the result keeps the larger alpha.
TColor32 AlphaOver(TColor32 d, TColor32 s);
// Exchanges the lowest and the third byte and clears the top byte (window ↔ pixel order).
TColor32 SwapColor(TColor32 c);

} // namespace marlix
