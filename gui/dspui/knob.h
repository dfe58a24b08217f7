#pragma once
#include "gui/fdib.h"

#include <QImage>
#include <QString>
#include <array>

namespace marlix {

// The rotary knobs of the matrix and master pages: 270° from seven-thirty (minimum)
// to four-thirty (maximum). Angles are radians clockwise from twelve o'clock.
double LevelKnobAngle(double tenths); // −180 … 180 tenths of a dB
double DelayKnobAngle(double ms);     // 0 … 20 ms
// The value a drag to (x, y) selects on a knob centred at (cx, cy), limited to its range.
int LevelKnobValueAt(double x, double y, double cx, double cy);
double DelayKnobValueAt(double x, double y, double cx, double cy);

QString LevelText(double tenths); // "-18.0dB"
QString DelayMsText(double ms);   // "10.00ms"
QString DelayMmText(double ms);   // "3403mm": the path sound travels at 340.29 m/s

// The knob and switch images, made once and drawn onto the pages' bitmaps.
class TKnobSprites {
public:
    static constexpr int KnobSize = 32;
    static constexpr int SwitchWidth = 20, SwitchHeight = 16;
    static constexpr double GrabRadius = 16;

    TKnobSprites();
    // The knob with its top-left corner at (x, y), its pointer at `angle`.
    void DrawKnob(QImage& target, int x, int y, double angle) const;
    // The on/off ("ON") or polarity ("o" under "/") switch, top-left at (x, y).
    void DrawSwitch(QImage& target, int x, int y, bool polarity, bool lit) const;
    // Whether (px, py) hits the 16 × 16 click box of a switch drawn at (x, y).
    static bool SwitchHit(int x, int y, int px, int py);

    // The face colour of the pages: button face mixed half and half with white.
    static TColor32 FaceColour();

private:
    TGUIDIB Knob;
    std::array<QImage, 4> Switches; // on/off unlit, lit; polarity unlit, lit
};

} // namespace marlix
