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
    // The system's default output first (stored as -1), then ALSA's list (stored as its
    // index): the stored numbers keep their meaning.
    Co_MMEDevice0 = Combo(this, "Co_MMEDevice0", {});
    Co_MMEDevice0->addItem(QStringLiteral("既定の出力 (default)"), -1);
    const auto& names = TAlsaWaveOut::DeviceNames();
    for (size_t i = 0; i < names.size(); ++i)
        Co_MMEDevice0->addItem(QString::fromStdString(names[i]), static_cast<int>(i));
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
    Co_MMEDevice0->setCurrentIndex(Co_MMEDevice0->findData(s.MME.Device0));
    Co_BufferSize->setCurrentText(QString::number(s.MME.nBufferSize));
    Ed_BufferNum->setValue(s.MME.nBufferNum);
}

void TSetupMMEPage::Save(TSettings& s) const
{
    // Nothing chosen (a device no longer listed) keeps what was stored.
    if (Co_MMEDevice0->currentIndex() >= 0)
        s.MME.Device0 = Co_MMEDevice0->currentData().toInt();
    s.MME.nBufferSize = std::clamp(NumberOr(Co_BufferSize->currentText(), s.MME.nBufferSize), 1024, 8192);
    s.MME.nBufferNum = Ed_BufferNum->value();
}

} // namespace marlix
