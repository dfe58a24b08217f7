#include "gui/dspui/knob.h"

#include "gui/colour.h"
#include "gui/sprites.h"

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace marlix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kSoundSpeed = 340.29; // mm per ms

// −R … 0 for a drag to (x, y): 0 at four-thirty, −R at seven-thirty.
double KnobPosition(double x, double y, double cx, double cy, double range)
{
    double a = std::atan2(cy - y, x - cx);
    if (a < -kPi / 2)
        a += 2 * kPi;
    return std::clamp(-((a / (2 * kPi) + 0.125) / 0.75) * range, -range, 0.0);
}

QImage SwitchImage(bool polarity, bool lit)
{
    TSoftSW face(TKnobSprites::SwitchWidth, TKnobSprites::FaceColour(), lit ? 1 : 0, TKnobSprites::SwitchHeight);
    QImage img = face.Image().copy();
    QPainter p(&img);
    p.setPen(lit ? QColor(255, 0, 0) : QColor(0, 0, 0));
    QFont f(QStringLiteral("Arial"));
    if (!polarity) {
        f.setPixelSize(10);
        p.setFont(f);
        p.drawText(QRect(3, 2, 16, 12), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ON"));
        return img;
    }
    // "o" with "/" struck through it, both centred on the face.
    const QRect box(0, 0, TKnobSprites::SwitchWidth, TKnobSprites::SwitchHeight);
    f.setPixelSize(12);
    p.setFont(f);
    p.drawText(box.adjusted(0, -1, 0, -1), Qt::AlignCenter, QStringLiteral("o"));
    f.setPixelSize(11);
    p.setFont(f);
    p.drawText(box, Qt::AlignCenter, QStringLiteral("/"));
    return img;
}

} // namespace

double LevelKnobAngle(double tenths) { return ((tenths - 180) / 360 * 0.75 + 0.375) * 2 * kPi; }
double DelayKnobAngle(double ms) { return ((ms - 20) / 20 * 0.75 + 0.375) * 2 * kPi; }

int LevelKnobValueAt(double x, double y, double cx, double cy)
{
    return static_cast<int>(std::lround(KnobPosition(x, y, cx, cy, 36) * 10 + 180));
}

double DelayKnobValueAt(double x, double y, double cx, double cy) { return KnobPosition(x, y, cx, cy, 20) + 20; }

QString LevelText(double tenths) { return QString::number(tenths / 10, 'f', 1) + QStringLiteral("dB"); }
QString DelayMsText(double ms) { return QString::number(ms, 'f', 2) + QStringLiteral("ms"); }
QString DelayMmText(double ms) { return QString::number(std::lround(ms * kSoundSpeed)) + QStringLiteral("mm"); }

TColor32 TKnobSprites::FaceColour() { return MixColor(PixRGB(0xF0, 0xF0, 0xF0), PixRGB(255, 255, 255), 0.5); }

TKnobSprites::TKnobSprites()
    : Knob(KnobSize, KnobSize)
{
    Knob.FillColor(FaceColour());
    Knob.OpaqueAll();
    TDIVLine scale(37, 0, PixRGB(96, 96, 96), 2.5, 1.5, 1.5, 1.5, 13, 6, 9 * kPi / 4, 3 * kPi / 4);
    scale.DrawOnto(Knob, KnobSize / 2, KnobSize / 2);
    TDial3 dial(13, 0.5, 5, 2, PixRGB(221, 214, 208), PixRGB(170, 165, 160), 11);
    dial.DrawOnto(Knob, KnobSize / 2, KnobSize / 2);
    Switches = {SwitchImage(false, false), SwitchImage(false, true), SwitchImage(true, false),
                SwitchImage(true, true)};
}

void TKnobSprites::DrawKnob(QImage& target, int x, int y, double angle) const
{
    QPainter p(&target);
    p.drawImage(x, y, Knob.Image());
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(80, 80, 80), 2));
    const double cx = x + KnobSize / 2.0, cy = y + KnobSize / 2.0;
    auto at = [&](double r) { return QPointF(cx + r * std::sin(angle), cy - r * std::cos(angle)); };
    p.drawLine(at(KnobSize / 2.0 - 10), at(KnobSize / 2.0 - 4));
}

void TKnobSprites::DrawSwitch(QImage& target, int x, int y, bool polarity, bool lit) const
{
    QPainter p(&target);
    p.drawImage(x, y, Switches[(polarity ? 2 : 0) + (lit ? 1 : 0)]);
}

bool TKnobSprites::SwitchHit(int x, int y, int px, int py)
{
    return px >= x + 2 && px < x + 18 && py >= y && py < y + 16;
}

} // namespace marlix
