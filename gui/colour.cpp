#include "gui/colour.h"

#include <algorithm>

namespace marlix {

namespace {

uint32_t Byte(TColor32 c, int i) { return (c >> (8 * i)) & 0xFF; }

} // namespace

TColor32 MixColor(TColor32 a, TColor32 b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    TColor32 r = a & 0xFF000000u;
    for (int i = 0; i < 3; ++i) {
        const auto v = uint32_t((1.0 - t) * Byte(a, i) + t * Byte(b, i));
        r |= std::min(v, 255u) << (8 * i);
    }
    return r;
}

TColor32 ScaleColor(TColor32 c, double f)
{
    TColor32 r = c & 0xFF000000u;
    for (int i = 0; i < 3; ++i) {
        const double v = std::clamp(Byte(c, i) * f, 0.0, 255.0);
        r |= uint32_t(v) << (8 * i);
    }
    return r;
}

TColor32 AlphaOver(TColor32 d, TColor32 s)
{
    const uint32_t a = Byte(s, 3);
    TColor32 r = std::max(Byte(d, 3), a) << 24;
    for (int i = 0; i < 3; ++i)
        r |= ((Byte(d, i) * (256 - a) + Byte(s, i) * a) >> 8) << (8 * i);
    return r;
}

TColor32 SwapColor(TColor32 c)
{
    return (c & 0x00FF00u) | Byte(c, 0) << 16 | Byte(c, 2);
}

} // namespace marlix
