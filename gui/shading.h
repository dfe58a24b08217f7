#pragma once
#include "gui/colour.h"

#include <QImage>
#include <QRect>

namespace marlix {

// Colours each pixel by its position t (0 … 1) projected onto the line from (x0, y0) to
// (x1, y1): MixColor(startCol, farCol, t). Alpha stays.
void LinearShade(QImage& bitmap, int x0, int y0, TColor32 farCol, TColor32 startCol, int y1, int x1);

// Opaque lines across `rect`, one per column (horizontal) or row, in
// MixColor(a, b, t^x) with t = index / (count − 1).
void DrawGradient(QImage& canvas, const QRect& rect, TColor32 a, bool horizontal, double x, TColor32 b);

// A cylinder: edge → centre with exponent x over the first half, centre → edge with 1/x
// over the second.
void DrawBar(QImage& canvas, const QRect& rect, TColor32 centre, bool horizontal, double x, TColor32 edge);

} // namespace marlix
