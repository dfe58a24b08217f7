#include "gui/fdib.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace marlix {

TFDIB::TFDIB(int width, int height)
    : Bitmap(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32)
{
    Clear();
}

void TFDIB::DrawOnto(QImage& target, int x, int y) const
{
    if (target.format() != QImage::Format_ARGB32)
        return;
    const int ox = x - HotX;
    const int oy = y - HotY;
    const int x0 = std::max(0, -ox);
    const int x1 = std::min(Width(), target.width() - ox);
    const int y0 = std::max(0, -oy);
    const int y1 = std::min(Height(), target.height() - oy);
    for (int sy = y0; sy < y1; ++sy) {
        const uint32_t* src = Row(sy);
        auto* dst = reinterpret_cast<uint32_t*>(target.scanLine(sy + oy)) + ox;
        for (int sx = x0; sx < x1; ++sx)
            dst[sx] = AlphaOver(dst[sx], src[sx]);
    }
}

void TFDIB::ScaleAlpha(double f)
{
    for (int y = 0; y < Height(); ++y) {
        uint32_t* p = Row(y);
        for (int x = 0; x < Width(); ++x) {
            const double a = std::clamp(f * double(p[x] >> 24), 0.0, 255.0);
            p[x] = (p[x] & 0xFFFFFFu) | uint32_t(a) << 24;
        }
    }
}

void TFDIB::Clear() { Bitmap.fill(0u); }

void TGUIDIB::Resize(int width, int height)
{
    Bitmap = QImage(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32);
    Clear();
}

void TGUIDIB::SoftDisc(double edge, double radius, double cy, double cx)
{
    const int x0 = std::max(0, int(std::floor(cx - radius)));
    const int x1 = std::min(Width() - 1, int(std::ceil(cx + radius)));
    const int y0 = std::max(0, int(std::floor(cy - radius)));
    const int y1 = std::min(Height() - 1, int(std::ceil(cy + radius)));
    for (int y = y0; y <= y1; ++y) {
        uint32_t* p = Row(y);
        for (int x = x0; x <= x1; ++x) {
            const double h = std::hypot(x - cx, y - cy);
            uint32_t a = p[x] >> 24;
            if (h < radius - edge)
                a = 255;
            else if (h < radius)
                a = std::min<uint32_t>(255, a + uint32_t((radius - h) * 255.0 / edge));
            p[x] = (p[x] & 0xFFFFFFu) | a << 24;
        }
    }
}

void TGUIDIB::FullDisc(double edge)
{
    SoftDisc(edge, (Width() - 1) / 2.0, Height() / 2.0, Width() / 2.0);
}

void TGUIDIB::OpaqueRect(const QRect& r)
{
    const QRect c = r.intersected(Bitmap.rect());
    for (int y = c.top(); y <= c.bottom(); ++y) {
        uint32_t* p = Row(y);
        for (int x = c.left(); x <= c.right(); ++x)
            p[x] |= 0xFF000000u;
    }
}

void TGUIDIB::OpaqueAll() { OpaqueRect(Bitmap.rect()); }

void TGUIDIB::FillColor(TColor32 col)
{
    for (int y = 0; y < Height(); ++y) {
        uint32_t* p = Row(y);
        for (int x = 0; x < Width(); ++x)
            p[x] = (p[x] & 0xFF000000u) | (col & 0xFFFFFFu);
    }
}

void TGUIDIB::Bevel(TColor32 light, TColor32 dark)
{
    const uint32_t l = light | 0xFF000000u;
    const uint32_t d = dark | 0xFF000000u;
    const int w = Width();
    const int h = Height();
    std::fill_n(Row(0), w, l);
    for (int y = 1; y < h - 1; ++y) {
        Row(y)[0] = l;
        Row(y)[w - 1] = d;
    }
    if (h > 1)
        std::fill_n(Row(h - 1), w, d);
}

void TGUIDIB::ArcGradient(TColor32 a, TColor32 b, double from, double to, double cx, double cy)
{
    const double span = to - from;
    for (int y = 0; y < Height(); ++y) {
        uint32_t* p = Row(y);
        for (int x = 0; x < Width(); ++x) {
            const double phi = std::atan2(y - cy, x - cx);
            double t = 0;
            if (span != 0 && phi >= from && phi <= to)
                t = (phi - from) / span;
            else if (span != 0 && phi >= from - std::numbers::pi && phi <= to - std::numbers::pi)
                t = (phi - from + std::numbers::pi) / span;
            const TColor32 c = t < 0.5 ? MixColor(a, b, 2 * t) : MixColor(a, b, 2 * (1 - t));
            p[x] = (p[x] & 0xFF000000u) | (c & 0xFFFFFFu);
        }
    }
}

} // namespace marlix
