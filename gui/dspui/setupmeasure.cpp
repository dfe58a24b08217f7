#include "gui/dspui/setupmeasure.h"

#include "gui/dspui/setupcontrols.h"
#include "settings/outputrate.h"
#include "settings/settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace marlix {

TSetupMeasurePage::TSetupMeasurePage()
{
    setObjectName("TS_Measure");
    auto* form = new QVBoxLayout(this);
    QStringList rates;
    for (int r : RateTable)
        rates << QString::number(r);
    Co_MeasureFreq = Combo(this, "Co_MeasureFreq", rates);
    auto* signal = new QGroupBox("測定用信号", this);
    Co_MeasureMethod = Combo(signal, "Co_MeasureMethod", {"Noise", "TSP", "MLS"});
    Co_MeasureAmplitude = Combo(signal, "Co_MeasureAmplitude", {"-0", "-3", "-6", "-10", "-20"}, true);
    Co_MeasureLen = Combo(signal, "Co_MeasureLen", Numbers({8192, 16384, 32768, 65536}));
    Co_MeasureSlope = Combo(signal, "Co_MeasureSlope", {"-0", "-3", "-6"});
    auto* slopeLabel = Label(signal, "周波数バランス:");
    auto* slopeUnit = Label(signal, "dB/oct");
    connect(Co_MeasureMethod, &QComboBox::currentIndexChanged, this, [this, slopeLabel, slopeUnit](int index) {
        for (QWidget* w : {static_cast<QWidget*>(slopeLabel), static_cast<QWidget*>(Co_MeasureSlope),
                           static_cast<QWidget*>(slopeUnit)})
            w->setEnabled(index == 0);
    });
    Ed_MeasureAddNum = Spin(this, "Ed_MeasureAddNum", 1, 256, "回");
    auto* s = new QVBoxLayout(signal);
    s->addWidget(Row(signal, {Label(signal, "種類"), Co_MeasureMethod}));
    s->addWidget(Row(signal, {Label(signal, "ピーク音量:"), Co_MeasureAmplitude, Label(signal, "dB")}));
    s->addWidget(Row(signal, {Label(signal, "長さ:"), Co_MeasureLen, Label(signal, "Samples")}));
    s->addWidget(Row(signal, {slopeLabel, Co_MeasureSlope, slopeUnit}));
    form->addWidget(Row(this, {Label(this, "測定周波数:"), Co_MeasureFreq, Label(this, "Hz")}));
    form->addWidget(signal);
    form->addWidget(Row(this, {Label(this, "同期加算回数:"), Ed_MeasureAddNum}));
    form->addStretch();
}

void TSetupMeasurePage::Load(const TSettings& s)
{
    const TSettingMeasure& m = s.Measure;
    const int freq = Co_MeasureFreq->findText(QString::number(m.MeasureFreq));
    Co_MeasureFreq->setCurrentIndex(freq >= 0 ? freq : Co_MeasureFreq->findText("48000"));
    Co_MeasureMethod->setCurrentIndex(m.MeasureMethod);
    Co_MeasureAmplitude->setCurrentText(m.MeasureAmplitude == 0 ? "-0" : QString::number(m.MeasureAmplitude));
    Show(Co_MeasureLen, QString::number(m.MeasureLen));
    Co_MeasureSlope->setCurrentIndex(-m.MeasureSlope / 3);
    Ed_MeasureAddNum->setValue(m.MeasureAddNum);
}

void TSetupMeasurePage::Save(TSettings& s) const
{
    TSettingMeasure& m = s.Measure;
    m.MeasureFreq = NumberOr(Co_MeasureFreq->currentText(), 48000);
    m.MeasureMethod = Co_MeasureMethod->currentIndex();
    m.MeasureAmplitude = std::clamp(NumberOr(Co_MeasureAmplitude->currentText(), m.MeasureAmplitude), -96, 0);
    m.MeasureLen = Co_MeasureLen->currentIndex() < 0 ? 32768 : NumberOr(Co_MeasureLen->currentText(), 32768);
    m.MeasureSlope = -3 * std::max(0, Co_MeasureSlope->currentIndex());
    m.MeasureAddNum = Ed_MeasureAddNum->value();
}

} // namespace marlix
