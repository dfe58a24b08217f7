#pragma once
#include "gui/dspui/dspcontext.h"

#include <QWidget>
#include <array>

class QToolButton;

namespace marlix {

class TPresetBar;

// The effect page: eight slots, each with its plug-in menu, ON and Edit. Plug-ins are
// exchanged only while the output is stopped; ON may change while it plays.
class TEffectPage : public QWidget {
public:
    static constexpr int Slots = 8;

    TEffectPage(const TDSPContext& context, QWidget* parent);

    // Item −1 is "No Effect", else the index in the plug-in catalogue.
    void ChoosePlugin(int slot, int item);
    void OnClick(int slot);
    void EditClick(int slot);
    void Refresh(bool outputRunning);
    void RefreshPresets();

    std::array<QToolButton*, Slots> Bu_Plug{};
    std::array<QToolButton*, Slots> Bu_On{};
    std::array<QToolButton*, Slots> Bu_Edit{};
    QToolButton* Bu_EFX2;
    QToolButton* Bu_EFXReset;
    TPresetBar* Preset;

private:
    void ShowMenu(int slot);

    TDSPContext Context;
};

} // namespace marlix
