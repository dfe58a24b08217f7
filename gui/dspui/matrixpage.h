#pragma once
#include "gui/dspui/dspcontext.h"

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <cstdint>

class QLabel;
class QToolButton;

namespace marlix {

class TKnobSprites;
class TPaintBox;
class TPresetBar;
class TSettingMatrix;

// The matrix page's picture: input rows, output columns and at each cross-point the
// on/off switch, the polarity switch and the level knob.
class TMatrixPainter {
public:
    static QPoint KnobCentre(int in, int out) { return {64 * out + 80, 40 * in + 40}; }
    static QPoint OnSwitch(int in, int out) { return {64 * out + 44, 40 * in + 40 - 16}; }
    static QPoint InvSwitch(int in, int out) { return {64 * out + 44, 40 * in + 40}; }
    static QImage Paint(QSize size, const TSettingMatrix& m, const TSettings& s, const TKnobSprites& sprites);
};

// The matrix page: a click toggles a switch, a drag turns a knob; every change is
// published to the running matrix stage.
class TMatrixPage : public QWidget {
public:
    TMatrixPage(const TDSPContext& context, const TKnobSprites& sprites, QWidget* parent);

    void Redraw();
    void RefreshPresets();
    // The timer's mirroring: the preset row, and the page again when the matrix was
    // published from elsewhere (a remote command).
    void Refresh();

    TPaintBox* PB_Matrix;
    QLabel* La_Matrix;
    QToolButton* Bu_Matrix2;

private:
    void MouseDown(QPoint p);
    void MouseMove(QPoint p);
    void Changed();

    TDSPContext Context;
    const TKnobSprites& Sprites;
    TPresetBar* Preset;
    int GrabIn = -1, GrabOut = -1;
    uint64_t DrawnMatrix = 0; // the published matrix's version the page shows
};

} // namespace marlix
