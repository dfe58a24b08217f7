#pragma once
#include "gui/fdib.h"

namespace marlix {

// A soft switch face, w × h; lit (> 0) adds an orange glow around a warmer face.
// Colours are in bitmap order.
class TSoftSW : public TFDIB {
public:
    TSoftSW(int w, TColor32 face, int lit, int h);
};

// A knob of radius R with shadow, shaded body, cap and sheen; hot spot at its centre.
class TDial3 : public TFDIB {
public:
    TDial3(int radius, double gloss, int shadow, double shading, TColor32 cap, TColor32 body, int capRadius);
};

// A dial scale: n ticks from the start to the end angle (radians, y down) around a ring,
// every `interval`-th a major tick. Style 0 draws flat-ended ticks, 1 round-ended ones.
class TDIVLine : public TFDIB {
public:
    TDIVLine(int n, int style, TColor32 colour, double majorWidth, double minorWidth,
             double majorLength, double minorLength, double ring, int interval,
             double endAngle, double startAngle);
};

} // namespace marlix
