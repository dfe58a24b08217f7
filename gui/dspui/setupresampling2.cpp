#include "gui/dspui/setupresampling2.h"

#include "base/flexbuf.h"
#include "dsp/firdesign.h"
#include "gui/dspui/setupcontrols.h"
#include "gui/plot.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

namespace marlix {
namespace {

// The cut-off box shows "+" before values that are not negative.
class TSignedSpin : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QString textFromValue(int v) const override { return (v >= 0 ? "+" : "") + QString::number(v); }
    int valueFromText(const QString& text) const override { return text.toInt(); }
};

} // namespace

TSetupReSampling2Page::TSetupReSampling2Page()
{
    setObjectName("TS_ReSampling2");
    auto* form = new QVBoxLayout(this);
    auto* filter = new QGroupBox("リサンプリングフィルタ設定", this);
    Co_IWindow = Combo(filter, "Co_IWindow", WindowNames());
    Co_ITaps = Combo(filter, "Co_ITaps", OddPowers(4, 20), true);
    Ed_ICutoff = new TSignedSpin(filter);
    Ed_ICutoff->setObjectName("Ed_ICutoff");
    Ed_ICutoff->setRange(-10, 10);
    auto* f = new QVBoxLayout(filter);
    f->addWidget(Row(filter, {Label(filter, "窓関数"), Co_IWindow}));
    f->addWidget(Row(filter, {Label(filter, "タップ長"), Co_ITaps, Label(filter, "taps")}));
    f->addWidget(Row(filter, {Label(filter, "遮断周波数"), Ed_ICutoff}));

    auto* fraction = new QGroupBox("非整数倍リサンプリングフィルタ", this);
    RB_Linear = new QRadioButton("線形補間", fraction);
    RB_Linear->setObjectName("RB_Linear");
    RB_Filtering = new QRadioButton("フィルタリング", fraction);
    RB_Filtering->setObjectName("RB_Filtering");
    QStringList odd;
    for (int t = 5; t <= 31; t += 2)
        odd << QString::number(t);
    Co_RFTaps = Combo(fraction, "Co_RFTaps", odd, true);
    auto* tapsLabel = Label(fraction, "taps");
    connect(RB_Filtering, &QRadioButton::toggled, this, [this, tapsLabel](bool on) {
        Co_RFTaps->setEnabled(on);
        tapsLabel->setEnabled(on);
    });
    (new QVBoxLayout(fraction))->addWidget(Row(fraction, {RB_Linear, RB_Filtering, Co_RFTaps, tapsLabel}));

    auto* plot = new QPushButton("係数確認", this);
    plot->setObjectName("Bu_PlotFilter");
    connect(plot, &QPushButton::clicked, this, [this] { Bu_PlotFilterClick(); });

    // Kept for their keys, not shown.
    const char* const direct[] = {"3倍,1/3", "5倍,1/5", "7倍,1/7"};
    const char* const names[] = {"Ch_Direct3x", "Ch_Direct5x", "Ch_Direct7x"};
    for (int i = 0; i < 3; ++i) {
        Ch_Direct[i] = Check(this, names[i], direct[i]);
        Ch_Direct[i]->hide();
    }
    Co_DWindow = Combo(this, "Co_DWindow", WindowNames());
    Co_DTaps = Combo(this, "Co_DTaps", OddPowers(4, 20), true);
    Ch_AutoTapLen = Check(this, "Ch_AutoTapLen", "3倍以上のダイレクトリサンプリング時に自動的にタップ長を延長");
    for (QWidget* w : {static_cast<QWidget*>(Co_DWindow), static_cast<QWidget*>(Co_DTaps),
                       static_cast<QWidget*>(Ch_AutoTapLen)})
        w->hide();

    form->addWidget(filter);
    form->addWidget(fraction);
    form->addWidget(Row(this, {plot}));
    form->addStretch();
}

void TSetupReSampling2Page::Load(const TSettings& s)
{
    const TSettingReSampler& r = s.ReSampler;
    Co_IWindow->setCurrentIndex(r.IWindow);
    Co_ITaps->setCurrentText(QString::number(r.nITaps));
    Ed_ICutoff->setValue(r.ICutoff);
    (r.RFType == 0 ? RB_Linear : RB_Filtering)->setChecked(true);
    Co_RFTaps->setEnabled(r.RFType != 0);
    Co_RFTaps->setCurrentText(QString::number(r.nRFFilterTaps));
    Ch_Direct[0]->setChecked(r.bDirect3x);
    Ch_Direct[1]->setChecked(r.bDirect5x);
    Ch_Direct[2]->setChecked(r.bDirect7x);
    Co_DWindow->setCurrentIndex(r.DWindow);
    Co_DTaps->setCurrentText(QString::number(r.nDTaps));
    Ch_AutoTapLen->setChecked(r.bAutoTapLen);
}

void TSetupReSampling2Page::Save(TSettings& s) const
{
    TSettingReSampler& r = s.ReSampler;
    r.IWindow = Co_IWindow->currentIndex();
    r.nITaps = NumberOr(Co_ITaps->currentText(), 1023);
    r.ICutoff = Ed_ICutoff->value();
    r.RFType = RB_Filtering->isChecked() ? 1 : 0;
    r.nRFFilterTaps = NumberOr(Co_RFTaps->currentText(), 7);
    r.bDirect3x = Ch_Direct[0]->isChecked();
    r.bDirect5x = Ch_Direct[1]->isChecked();
    r.bDirect7x = Ch_Direct[2]->isChecked();
    r.DWindow = Co_DWindow->currentIndex();
    r.nDTaps = NumberOr(Co_DTaps->currentText(), 1023);
    r.bAutoTapLen = Ch_AutoTapLen->isChecked();
}

void TSetupReSampling2Page::Bu_PlotFilterClick()
{
    const QString tapsText = Co_ITaps->currentText();
    int length = std::max(2, NumberOr(tapsText, 1023));
    NextPow2(length);
    const double cutoff = 0.5 * std::exp2(Ed_ICutoff->value() / 300.0 * 1024.0 / length);
    const int points = length / 2 + 1;
    std::vector<double> magnitude(points);
    for (int i = 0; i < points; ++i)
        magnitude[i] = static_cast<double>(i) / (points - 1) < cutoff ? 1.0 : 0.0;
    const void* channel[] = {magnitude.data()};
    TFlexBuf block;
    block.SetBuf(channel, 1, 65, points);
    LinearPhaseFIR(block);
    block.Window(Co_IWindow->currentIndex());
    const double* taps = static_cast<const double*>(block.GetData(65)[0]);

    auto* plot = new TFo_Plot;
    plot->setWindowTitle("プロット - リサンプリングフィルタ  " + tapsText + " taps  " + Co_IWindow->currentText() +
                         " window");
    plot->LoadBlock(std::span<const double>(taps, static_cast<size_t>(block.GetLength())));
    plot->show();
}

} // namespace marlix
