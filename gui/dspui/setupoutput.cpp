#include "gui/dspui/setupoutput.h"

#include "gui/dspui/setupcontrols.h"
#include "settings/outputrate.h"
#include "settings/settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QListWidget>
#include <QVBoxLayout>

namespace marlix {

TSetupOutputPage::TSetupOutputPage()
{
    setObjectName("TS_Output");
    auto* form = new QVBoxLayout(this);
    Co_DriverType = Combo(this, "Co_DriverType", {"標準", "ASIO"});
    CL_Freq = new QListWidget(this);
    CL_Freq->setObjectName("CL_Freq");
    for (int rate : RateTable) {
        auto* item = new QListWidgetItem(QString::number(rate), CL_Freq);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(Qt::Unchecked);
    }
    CL_Freq->setMaximumSize(160, 7 * 22 + 6);
    connect(CL_Freq, &QListWidget::itemChanged, this, [this] { FreqListChange(); });
    auto* driver = new QGroupBox("オーディオドライバ", this);
    (new QVBoxLayout(driver))->addWidget(Co_DriverType);
    auto* rates = new QGroupBox("使用周波数", this);
    (new QVBoxLayout(rates))->addWidget(CL_Freq);
    form->addWidget(driver);
    form->addWidget(rates);
    form->addStretch();
}

void TSetupOutputPage::Load(const TSettings& s)
{
    Updating = true;
    Co_DriverType->setCurrentIndex(s.Output.nDriverType);
    for (int i = 0; i < 7; ++i)
        CL_Freq->item(i)->setCheckState(s.Output.bFreq[i] ? Qt::Checked : Qt::Unchecked);
    Updating = false;
}

void TSetupOutputPage::Save(TSettings& s) const
{
    s.Output.nDriverType = Co_DriverType->currentIndex();
    for (int i = 0; i < 7; ++i)
        s.Output.bFreq[i] = CL_Freq->item(i)->checkState() == Qt::Checked;
}

std::vector<int> TSetupOutputPage::TickedRates() const
{
    std::vector<int> rates;
    for (int i = 0; i < 7; ++i)
        if (CL_Freq->item(i)->checkState() == Qt::Checked)
            rates.push_back(RateTable[i]);
    return rates;
}

void TSetupOutputPage::FreqListChange()
{
    if (Updating)
        return;
    if (TickedRates().empty()) {
        Updating = true;
        CL_Freq->item(1)->setCheckState(Qt::Checked); // 44100
        Updating = false;
    }
    if (OnRatesChanged)
        OnRatesChanged();
}

} // namespace marlix
