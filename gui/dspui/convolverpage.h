#pragma once
#include "gui/dspui/dspcontext.h"
#include "player/impulselist.h"

#include <QWidget>
#include <array>
#include <vector>

class QGridLayout;
class QSpinBox;
class QToolButton;

namespace marlix {

class TPresetBar;

// The convolver page: two convolvers, each with its impulse response (one channel of a
// WAV file from the "impulseresponce" folder), input and output channel, direct-sound and
// delay cuts, level, ON and a plot of the response; and the dry/wet choice. Every change
// is published to the running convolver stage; responses and routing change only while
// the output is stopped.
class TConvolverPage : public QWidget {
public:
    TConvolverPage(const TDSPContext& context, QWidget* parent);

    // Item −1 is "No Impulse responce", else an index into Responses.
    void ChooseResponse(int k, int item);
    void SetChannel(int k, bool output, int channel);
    void SetDryWet(int value);
    void Bu_PlotClick(int k);
    void Refresh(bool outputRunning);
    void RefreshPresets();

    std::vector<TImpulseItem> Responses;

    struct TRow {
        QToolButton* IR;
        QToolButton* In;
        QToolButton* Out;
        QToolButton* Cut;
        QToolButton* No;
        QSpinBox* Lv;
        QToolButton* On;
        QToolButton* Plot;
        // The response name the IR button was last shortened from, and for which width.
        QString Elided;
        int ElidedWidth = -1;
    };
    std::array<TRow, 2> Rows{};
    QToolButton* Bu_DryWet;
    QToolButton* Bu_C2;
    QToolButton* Bu_CReset;
    TPresetBar* Preset;

private:
    void BuildRow(int k, QGridLayout* grid);
    void ShowResponseMenu(int k);
    void ShowChannelMenu(int k, bool output);
    void ShowDryWetMenu();
    void Changed();

    TDSPContext Context;
    bool Updating = false;
};

} // namespace marlix
