#pragma once
#include "gui/colour.h"

#include <QImage>
#include <QRect>

namespace marlix {

// A 32-bit bitmap with alpha and a hot spot: the point that lands on the target
// coordinates when it is drawn. Pixels are in bitmap order (blue lowest).
class TFDIB {
public:
    TFDIB(int width, int height);
    virtual ~TFDIB() = default;

    int Width() const { return Bitmap.width(); }
    int Height() const { return Bitmap.height(); }
    const QImage& Image() const { return Bitmap; }
    QImage& Canvas() { return Bitmap; }
    TColor32 Pixel(int x, int y) const { return Row(y)[x]; }

    int HotX = 0;
    int HotY = 0;

    // Alpha-over of every pixel onto `target` at (x − HotX, y − HotY), clipped.
    void DrawOnto(QImage& target, int x, int y) const;
    void DrawOnto(TFDIB& target, int x, int y) const { DrawOnto(target.Bitmap, x, y); }
    // Every alpha becomes the integer part of f × alpha.
    void ScaleAlpha(double f);
    void Clear();

protected:
    uint32_t* Row(int y) { return reinterpret_cast<uint32_t*>(Bitmap.scanLine(y)); }
    const uint32_t* Row(int y) const { return reinterpret_cast<const uint32_t*>(Bitmap.constScanLine(y)); }

    QImage Bitmap;
};

// A TFDIB with the primitives the sprite generators build with.
class TGUIDIB : public TFDIB {
public:
    using TFDIB::TFDIB;

    void Resize(int width, int height);
    // Alpha 255 inside r − e of (cx, cy); between r − e and r alpha grows by (r − h)·255/e.
    void SoftDisc(double edge, double radius, double cy, double cx);
    // A soft disc of radius (width − 1)/2 centred at (width/2, height/2).
    void FullDisc(double edge);
    void OpaqueRect(const QRect& r);
    void OpaqueAll();
    // Sets the colour bytes of every pixel, keeping each alpha.
    void FillColor(TColor32 col);
    // Top row light, bottom row dark, left column light, right column dark; all opaque.
    void Bevel(TColor32 light, TColor32 dark);
    // a, with b in the middle of the sector from … to (radians, y down) and its opposite.
    void ArcGradient(TColor32 a, TColor32 b, double from, double to, double cx, double cy);
};

} // namespace marlix
