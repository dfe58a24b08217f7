#include "gui/dspui/setupfilter.h"

#include "gui/dspui/setupcontrols.h"
#include "settings/settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

namespace marlix {

TSetupFilterPage::TSetupFilterPage()
{
    setObjectName("TS_Filter");
    auto* form = new QVBoxLayout(this);
    auto* eq = new QGroupBox("イコライザ", this);
    Co_EQTaps = Combo(eq, "Co_EQTaps", OddPowers(10, 16), true);
    (new QVBoxLayout(eq))->addWidget(Row(eq, {Label(eq, "タップ数:"), Co_EQTaps, Label(eq, "Taps")}));
    auto* buffer = new QGroupBox("バッファ", this);
    Co_Bufms = Combo(buffer, "Co_Bufms", Numbers({250, 500, 1000, 2000, 3000, 4000}), true);
    (new QVBoxLayout(buffer))->addWidget(Row(buffer, {Label(buffer, "バッファサイズ"), Co_Bufms, Label(buffer, "ms")}));
    auto* hsc = new QGroupBox("Rivor Edevu Vezirada", this);
    Co_HSCMode = Combo(hsc, "Co_HSCMode", {"A", "B", "C"});
    (new QVBoxLayout(hsc))->addWidget(Row(hsc, {Label(hsc, "モード:"), Co_HSCMode}));
    form->addWidget(eq);
    form->addWidget(buffer);
    form->addWidget(hsc);
    form->addStretch();
}

void TSetupFilterPage::Load(const TSettings& s)
{
    Co_EQTaps->setCurrentText(QString::number(s.Filter.EQFilterTaps));
    Co_Bufms->setCurrentText(QString::number(s.Filter.Bufms));
    Co_HSCMode->setCurrentIndex(s.Filter.HSCMode);
}

void TSetupFilterPage::Save(TSettings& s) const
{
    s.Filter.EQFilterTaps = TSettingFilter::ValidEQTaps(std::max(1023, NumberOr(Co_EQTaps->currentText(), 1023)));
    s.Filter.Bufms = std::clamp(NumberOr(Co_Bufms->currentText(), 500), 100, 3000);
    s.Filter.HSCMode = Co_HSCMode->currentIndex();
}

} // namespace marlix
