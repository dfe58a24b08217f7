#include "gui/shading.h"

#include <algorithm>
#include <cmath>

namespace marlix {

void LinearShade(QImage& bitmap, int x0, int y0, TColor32 farCol, TColor32 startCol, int y1, int x1)
{
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    const double len2 = dx * dx + dy * dy;
    for (int y = 0; y < bitmap.height(); ++y) {
        auto* p = reinterpret_cast<uint32_t*>(bitmap.scanLine(y));
        for (int x = 0; x < bitmap.width(); ++x) {
            const double t = len2 > 0 ? std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0, 1.0) : 0.0;
            p[x] = (p[x] & 0xFF000000u) | (MixColor(startCol, farCol, t) & 0xFFFFFFu);
        }
    }
}

void DrawGradient(QImage& canvas, const QRect& rect, TColor32 a, bool horizontal, double x, TColor32 b)
{
    const QRect r = rect.intersected(canvas.rect());
    const int count = horizontal ? rect.width() : rect.height();
    for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* p = reinterpret_cast<uint32_t*>(canvas.scanLine(y));
        for (int xx = r.left(); xx <= r.right(); ++xx) {
            const int index = horizontal ? xx - rect.left() : y - rect.top();
            const double t = count > 1 ? double(index) / (count - 1) : 0.0;
            p[xx] = MixColor(a, b, std::pow(t, x)) | 0xFF000000u;
        }
    }
}

void DrawBar(QImage& canvas, const QRect& rect, TColor32 centre, bool horizontal, double x, TColor32 edge)
{
    QRect first = rect;
    QRect second = rect;
    if (horizontal) {
        first.setWidth(rect.width() / 2);
        second.setLeft(first.right() + 1);
    } else {
        first.setHeight(rect.height() / 2);
        second.setTop(first.bottom() + 1);
    }
    DrawGradient(canvas, first, edge, horizontal, x, centre);
    DrawGradient(canvas, second, centre, horizontal, x != 0 ? 1.0 / x : 1.0, edge);
}

} // namespace marlix
