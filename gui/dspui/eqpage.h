#pragma once
#include "gui/dspui/dspcontext.h"
#include "gui/dspui/eqgraph.h"

#include <QWidget>
#include <cstdint>
#include <functional>

class QComboBox;
class QLabel;
class QToolButton;

namespace marlix {

class TEQ;
class TPaintBox;
class TPresetBar;

// The equaliser page: the EQ curve editor over its tool panel (channel, frequency read-out,
// reset, presets of one channel and of all channels, the coefficient plot). Every edit of
// a curve is published to the running pipeline at once.
class TEqualizerPage : public QWidget {
public:
    TEqualizerPage(const TDSPContext& context, QWidget* parent);

    // −1 for "Master", else the channel whose curve is edited.
    int Channel() const;
    TEQ& Curve();
    // The timer's mirroring: buttons' enabling, preset rows, and the graph again when
    // the curves were published from elsewhere (a remote command).
    void Refresh(bool outputRunning);
    void RefreshPresets();
    // "Master" selected, nothing selected in the graph.
    void ShowFirst();

    void Bu_ResetClick();
    // Asks first (OK / Cancel); `Confirm` replaces the message box.
    void Bu_ResetAllClick();
    void Bu_PlotClick();
    std::function<bool()> Confirm;

    TEQGraph Graph;
    TPaintBox* PB_EQPaint;
    QToolButton* Bu_EQ2 = nullptr;

protected:
    void wheelEvent(QWheelEvent* e) override;

private:
    QWidget* BuildPanel();
    void ChannelChanged();
    void CurveChanged();
    void Redraw();

    TDSPContext Context;
    QComboBox* Co_Channel = nullptr;
    QLabel* La_Freq = nullptr;
    QToolButton* Bu_Reset = nullptr;
    QToolButton* Bu_Plot = nullptr;
    TPresetBar* Preset = nullptr;
    TPresetBar* PresetAll = nullptr;
    TPresetBar* PresetRevise = nullptr;
    QWidget* Pa_Revise = nullptr;
    uint64_t DrawnCurves = 0; // the published curves' version the graph shows
};

} // namespace marlix
