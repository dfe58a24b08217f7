#pragma once
#include "gui/dspui/dspcontext.h"

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <array>
#include <string>

namespace marlix {

class TKnobSprites;
class TPaintBox;

// The master page: per channel the polarity switch, the level knob (−18 … +18 dB; the
// automatic volume control keeps a raised level from clipping) and the delay knob
// (0 … 20 ms, also shown as the sound's path in millimetres). The output stage reads
// these values as atomics, so edits are heard at its next block.
class TMasterPage : public QWidget {
public:
    static QPoint LevelCentre(int ch) { return {88, 40 * ch + 40}; }
    static QPoint DelayCentre(int ch) { return {184, 40 * ch + 40}; }
    static QPoint InvSwitch(int ch) { return {44, 40 * ch + 40 - 8}; }
    static QImage Paint(QSize size, const TSettings& s, const TKnobSprites& sprites);

    TMasterPage(const TDSPContext& context, const TKnobSprites& sprites, QWidget* parent);
    void Redraw();

    TPaintBox* PB_Master;

private:
    void MouseDown(QPoint p);
    void MouseMove(QPoint p);

    // What the painted image shows.
    struct TShown {
        QSize Size;
        std::array<double, 2> Level, Delay;
        std::array<bool, 2> Inverted;
        std::array<std::string, 2> Name;
        bool operator==(const TShown&) const = default;
    };

    TDSPContext Context;
    const TKnobSprites& Sprites;
    int GrabLevel = -1, GrabDelay = -1;
    TShown Drawn;
    bool HaveDrawn = false;
};

} // namespace marlix
