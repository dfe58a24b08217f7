#pragma once
#include "gui/dspui/dspcontext.h"
#include "gui/dspui/knob.h"

#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

class QTabWidget;
class QToolButton;

namespace marlix {

class TWindowTimer;
class TConvolverPage;
class TEffectPage;
class TEqualizerPage;
class TMasterPage;
class TMatrixPage;
class TSignalFlowPage;

// What the DSP window is made from.
struct TEqualizerCores {
    TSettings& Settings;
    TPlayerState& State;
    TOutputChain& Chain;
    TFo_Decoder& Decoder;
    TPluginHost* Plugins; // none: no effect plug-ins
    std::string Folder;   // the program folder, with its trailing "/"
};

// The DSP window "DSP": the signal-flow, effect, convolver, matrix, equaliser and master
// pages. It owns no DSP state: controls edit the setting records and publish them to the
// running chain; the stage switches are the player state's, each click counted in
// DSPChangeCount. A 50 ms timer mirrors the shared values into the controls.
class TFo_Equalizer : public QWidget {
public:
    enum TPage { pgFlow, pgEffect, pgConvolver, pgMatrix, pgEqualizer, pgMaster, PageCount };
    static constexpr const char* PageNames[PageCount] = {"flow", "effect", "convolver", "matrix", "equalizer", "master"};

    explicit TFo_Equalizer(const TEqualizerCores& cores, QWidget* parent = nullptr);
    ~TFo_Equalizer() override;

    // Page 1-4 as the transport's edit requests number them (effect, convolver, matrix,
    // equaliser), 5 the master page, 0 the signal flow.
    void SelectPage(int page);
    // Mirrors the values into the page in front (and runs again when another comes forward).
    void Ti_CheckTimer();
    QSize sizeHint() const override { return {640, 400}; }

    // Raised by the resampler's Edit; the main window opens the setup window's page.
    std::function<void()> OnReSamplerEdit;

    QTabWidget* PageControl;
    TSignalFlowPage* Flow;
    TEffectPage* Effect;
    TConvolverPage* Convolver;
    TMatrixPage* Matrix;
    TEqualizerPage* Equalizer;
    TMasterPage* Master;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void BindStage(QToolButton* button, std::atomic<bool>& stage);

    std::unique_ptr<TDSPPresets> Presets;
    TDSPContext Context;
    TKnobSprites Sprites;
    TWindowTimer* Ti_Check;
    // A stage switch, the page it lies on (found at the first tick) and what it shows.
    struct TStageSwitch {
        QToolButton* Button;
        std::atomic<bool>* Stage;
        QWidget* Page = nullptr;
        int Shown = -1;
    };
    std::vector<TStageSwitch> Stages;
};

} // namespace marlix
