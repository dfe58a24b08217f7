#include "gui/sprites.h"

#include "gui/shading.h"

#include <QPainter>
#include <cmath>

namespace marlix {

TSoftSW::TSoftSW(int w, TColor32 face, int lit, int h)
    : TFDIB(w, h)
{
    Bitmap.fill(face & 0xFFFFFFu);
    if (lit > 0) {
        TGUIDIB glow(w, h);
        glow.FillColor(PixRGB(255, 128, 0));
        glow.SoftDisc(8, (w + h) / 4, h / 2 - 0.5, w / 2 - 0.5);
        glow.DrawOnto(*this, 0, 0);
    }
    TGUIDIB top(w - 4, h - 4);
    top.OpaqueAll();
    top.FillColor(lit > 0 ? PixRGB(255, 224, 192) : PixRGB(224, 224, 224));
    top.Bevel(PixRGB(255, 255, 255), PixRGB(128, 112, 96));
    top.DrawOnto(*this, 2, 2);
}

TDial3::TDial3(int radius, double gloss, int shadow, double shading, TColor32 cap, TColor32 body, int capRadius)
    : TFDIB(2 * radius + shadow, 2 * radius + shadow)
{
    HotX = HotY = radius;
    const int d = 2 * radius;
    const int r = capRadius;

    TGUIDIB layer(d, d);
    layer.FullDisc(20);
    layer.ScaleAlpha(gloss);
    layer.DrawOnto(*this, shadow, shadow);

    layer.Resize(d, d);
    layer.FullDisc(1);
    LinearShade(layer.Canvas(), 0, 0, ScaleColor(body, 1 / shading),
                ScaleColor(body, shading), d, d);
    layer.DrawOnto(*this, 0, 0);

    layer.Resize(2 * r, 2 * r);
    layer.FullDisc(1);
    LinearShade(layer.Canvas(), 0, 0, ScaleColor(body, 0.75 / shading),
                ScaleColor(body, 0.75 * shading), 2 * r, 2 * r);
    layer.DrawOnto(*this, radius - r, radius - r);

    layer.Resize(2 * r - 2, 2 * r - 2);
    layer.FullDisc(1);
    layer.ArcGradient(cap, PixRGB(255, 255, 255), 0.34906584, 1.2217305, r - 2, r - 2);
    layer.DrawOnto(*this, radius - r + 1, radius - r + 1);
}

namespace {

int DivLineSize(double ring, double majorLength, double majorWidth)
{
    return 2 * int(std::lround(ring + majorLength + majorWidth));
}

} // namespace

TDIVLine::TDIVLine(int n, int style, TColor32 colour, double majorWidth, double minorWidth,
                   double majorLength, double minorLength, double ring, int interval,
                   double endAngle, double startAngle)
    : TFDIB(DivLineSize(ring, majorLength, majorWidth), DivLineSize(ring, majorLength, majorWidth))
{
    HotX = Width() / 2;
    HotY = Height() / 2;
    const double cx = (Width() - 1) / 2.0;
    const double cy = (Height() - 1) / 2.0;
    // The ticks go into the alpha channel; the colour is applied afterwards.
    QImage mask(Bitmap.size(), QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        // Pixel centres lie at integer coordinates here, as in the ring's formula.
        p.translate(0.5, 0.5);
        for (int k = 0; k < n; ++k) {
            const double a = n > 1 ? startAngle + (endAngle - startAngle) * k / (n - 1) : startAngle;
            const bool major = interval > 0 && k % interval == 0;
            const double len = major ? majorLength : minorLength;
            p.setPen(QPen(Qt::white, major ? majorWidth : minorWidth, Qt::SolidLine,
                          style == 1 ? Qt::RoundCap : Qt::FlatCap));
            p.drawLine(QPointF(cx + ring * std::cos(a), cy + ring * std::sin(a)),
                       QPointF(cx + (ring + len) * std::cos(a), cy + (ring + len) * std::sin(a)));
        }
    }
    for (int y = 0; y < Height(); ++y) {
        const auto* m = reinterpret_cast<const uint32_t*>(mask.constScanLine(y));
        uint32_t* p = Row(y);
        for (int x = 0; x < Width(); ++x)
            p[x] = (m[x] & 0xFF000000u) | (colour & 0xFFFFFFu);
    }
}

} // namespace marlix
