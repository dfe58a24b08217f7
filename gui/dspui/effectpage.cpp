#include "gui/dspui/effectpage.h"

#include "dsp/pluginhost.h"
#include "gui/dspui/presetbar.h"
#include "gui/speedbutton.h"
#include "player/dsppresets.h"
#include "settings/settings.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

namespace marlix {

TEffectPage::TEffectPage(const TDSPContext& context, QWidget* parent)
    : QWidget(parent), Context(context)
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(2);
    grid->addWidget(new QLabel("Plug in:", this), 0, 1);
    grid->addWidget(new QLabel("ON:", this), 0, 2);
    grid->addWidget(new QLabel("Edit:", this), 0, 3);
    for (int s = 0; s < Slots; ++s) {
        const auto i = static_cast<size_t>(s);
        grid->addWidget(new QLabel(QStringLiteral("EFX %1:").arg(s + 1), this), s + 1, 0);
        Bu_Plug[i] = MakeSpeedButton(this, QStringLiteral("Bu_Plug%1").arg(s), "No Effect",
                          QStringLiteral("エフェクタの選択|使用するエフェクタを選択します"), false);
        Bu_Plug[i]->setMinimumWidth(180);
        Bu_On[i] = MakeSpeedButton(this, QStringLiteral("Bu_EFXOn%1").arg(s), "ON",
                        QStringLiteral("エフェクタ|エフェクタのON/OFFを切り替えます"), true);
        Bu_Edit[i] = MakeSpeedButton(this, QStringLiteral("Bu_EFXEdit%1").arg(s), "Edit",
                          QStringLiteral("エフェクタ編集|エフェクタの設定を編集します"), false);
        // Rows 24 pixels apart, so the page fits the height the layouts give the window.
        for (QToolButton* b : {Bu_Plug[i], Bu_On[i], Bu_Edit[i]})
            b->setFixedHeight(22);
        grid->addWidget(Bu_Plug[i], s + 1, 1);
        grid->addWidget(Bu_On[i], s + 1, 2);
        grid->addWidget(Bu_Edit[i], s + 1, 3);
        connect(Bu_Plug[i], &QToolButton::clicked, this, [this, s] { ShowMenu(s); });
        connect(Bu_On[i], &QToolButton::clicked, this, [this, s] { OnClick(s); });
        connect(Bu_Edit[i], &QToolButton::clicked, this, [this, s] { EditClick(s); });
    }
    Bu_EFX2 = MakeSpeedButton(this, "Bu_EFX2", "ON", QStringLiteral("エフェクタ|エフェクタのON/OFFを切り替えます"), true);
    Bu_EFXReset = MakeSpeedButton(this, "Bu_EFXReset", QStringLiteral("初期化"), QStringLiteral("エフェクタの設定を初期化します"),
                       false);
    connect(Bu_EFXReset, &QToolButton::clicked, this, [this] { Context.Settings.EFX.Clear(); });
    TDSPPresets& p = Context.Presets;
    Preset = new TPresetBar("Co_EFXPreset", QStringLiteral("エフェクタ"),
                            {[&p] { return p.EFXList(); },
                             [this, &p](const std::string& n) { return p.ChooseEFX(n, Context.Settings.EFX); },
                             [this, &p](const std::string& n) { return p.SaveEFX(n, Context.Settings.EFX); },
                             [&p](const std::string& n) { return p.DeleteEFX(n); }},
                            this);
    auto* panel = new QHBoxLayout;
    panel->addWidget(Bu_EFX2);
    panel->addWidget(Preset, 1);
    panel->addWidget(Bu_EFXReset);
    grid->addLayout(panel, Slots + 1, 0, 1, 4);
    grid->setRowStretch(Slots + 2, 1);
    grid->setColumnStretch(4, 1);
}

void TEffectPage::ShowMenu(int slot)
{
    QMenu menu(this);
    menu.addAction("No Effect")->setData(-1);
    menu.addSeparator();
    if (Context.Plugins) {
        const auto& catalogue = Context.Plugins->Catalogue();
        for (size_t i = 0; i < catalogue.size(); ++i)
            menu.addAction(QString::fromStdString(catalogue[i].DisplayName))->setData(static_cast<int>(i));
    }
    QToolButton* b = Bu_Plug[static_cast<size_t>(slot)];
    if (QAction* chosen = menu.exec(b->mapToGlobal(QPoint(0, b->height()))))
        ChoosePlugin(slot, chosen->data().toInt());
}

void TEffectPage::ChoosePlugin(int slot, int item)
{
    TEFXSlotSetting& s = Context.Settings.EFX.Slots[static_cast<size_t>(slot)];
    TPluginHost* host = Context.Plugins;
    if (s.Present) {
        if (host)
            host->UnloadPlugin(slot, true);
        s = TEFXSlotSetting{};
    }
    if (item < 0 || !host || static_cast<size_t>(item) >= host->Catalogue().size())
        return;
    if (!host->LoadPlugin(slot, host->Catalogue()[static_cast<size_t>(item)].Path, true))
        return;
    TPluginSlot& loaded = host->Slot(slot);
    s.Name = loaded.Name;
    s.Present = true;
    s.On = true;
}

void TEffectPage::OnClick(int slot)
{
    Context.Settings.EFX.Slots[static_cast<size_t>(slot)].On = Bu_On[static_cast<size_t>(slot)]->isChecked();
    if (Context.Plugins)
        Context.Plugins->RequestClear(slot);
}

void TEffectPage::EditClick(int slot)
{
    if (Context.Plugins && Context.Settings.EFX.Slots[static_cast<size_t>(slot)].Present &&
        Context.Plugins->Slot(slot).Entry.Show)
        Context.Plugins->Slot(slot).Entry.Show();
}

void TEffectPage::Refresh(bool outputRunning)
{
    for (size_t i = 0; i < Slots; ++i) {
        const TEFXSlotSetting& s = Context.Settings.EFX.Slots[i];
        SetEnabledSwitch(Bu_Plug[i], !outputRunning);
        SetEnabledSwitch(Bu_On[i], s.Present);
        SetEnabledSwitch(Bu_Edit[i], s.Present);
        SetLitSwitch(Bu_On[i], s.Present && s.On);
        const QString caption = s.Present ? QString::fromStdString(s.Name.substr(0, s.Name.find('|')))
                                          : QStringLiteral("No Effect");
        if (Bu_Plug[i]->text() != caption)
            Bu_Plug[i]->setText(caption);
    }
    SetEnabledSwitch(Bu_EFXReset, !outputRunning);
    SetEnabledSwitch(Preset->Combo(), !outputRunning);
    Preset->SetAllowed(!outputRunning);
}

void TEffectPage::RefreshPresets() { Preset->Refresh(); }

} // namespace marlix
