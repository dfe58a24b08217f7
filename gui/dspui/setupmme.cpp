#include "gui/dspui/setupmme.h"

#include "gui/dspui/setupcontrols.h"
#include "platform/waveout/alsawaveout.h"
#include "settings/settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace marlix {

TSetupMMEPage::TSetupMMEPage()
{
    setObjectName("TS_MME");
    auto* form = new QVBoxLayout(this);
    QStringList devices;
    for (const std::string& name : TAlsaWaveOut::DeviceNames())
        devices << QString::fromStdString(name);
    Co_MMEDevice0 = Combo(this, "Co_MMEDevice0", devices);
    Co_MMEDevice0->setMinimumWidth(260);
    auto* assign = new QGroupBox("出力デバイスのアサイン", this);
    (new QVBoxLayout(assign))->addWidget(Row(assign, {Label(assign, "左右のスピーカ(L,R)"), Co_MMEDevice0}));
    Co_BufferSize = Combo(this, "Co_BufferSize", Numbers({1024, 2048, 4096, 8192}), true);
    Ed_BufferNum = Spin(this, "Ed_BufferNum", 3, 8);
    form->addWidget(assign);
    form->addWidget(Row(this, {Label(this, "バッファサイズ"), Co_BufferSize, Label(this, "samples/1fs")}));
    form->addWidget(Row(this, {Label(this, "バッファ数"), Ed_BufferNum}));
    form->addStretch();
}

void TSetupMMEPage::Load(const TSettings& s)
{
    Co_MMEDevice0->setCurrentIndex(s.MME.Device0 < Co_MMEDevice0->count() ? s.MME.Device0 : -1);
    Co_BufferSize->setCurrentText(QString::number(s.MME.nBufferSize));
    Ed_BufferNum->setValue(s.MME.nBufferNum);
}

void TSetupMMEPage::Save(TSettings& s) const
{
    s.MME.Device0 = Co_MMEDevice0->currentIndex();
    s.MME.nBufferSize = std::clamp(NumberOr(Co_BufferSize->currentText(), s.MME.nBufferSize), 1024, 8192);
    s.MME.nBufferNum = Ed_BufferNum->value();
}

} // namespace marlix
