#include "gui/plot.h"

#include "gui/paintbox.h"
#include "gui/speedbutton.h"
#include "settings/inifile.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace marlix {

namespace {

constexpr int kRangeZoom[] = {13312, 13824, 14336, 14848, 15360};

template <class W> W* Named(W* w, const char* name)
{
    w->setObjectName(name);
    return w;
}

QScrollBar* ZoomBar(Qt::Orientation o, int min, int start, const char* name)
{
    auto* s = Named(new QScrollBar(o), name);
    s->setRange(min, 16384);
    s->setPageStep(256);
    s->setSingleStep(64);
    s->setValue(start);
    return s;
}

// A paint box with a vertical bar at its right and a horizontal one below.
QWidget* PlotArea(TPaintBox* box, QScrollBar* vertical, QScrollBar* horizontal)
{
    auto* w = new QWidget;
    auto* g = new QGridLayout(w);
    g->setContentsMargins(0, 0, 0, 0);
    g->setSpacing(0);
    g->addWidget(box, 0, 0);
    g->addWidget(vertical, 0, 1);
    g->addWidget(horizontal, 1, 0);
    return w;
}

} // namespace

TFo_Plot::TFo_Plot(QWidget* parent)
    : QWidget(parent)
    , pcPlot_(Named(new QTabWidget(this), "PC_Plot"))
    , coFRLevel_(Named(new QComboBox, "Co_FRLevel"))
    , rbFreqLin_(Named(new QRadioButton(QStringLiteral("リニア")), "RB_FreqLin"))
    , rbFreqLog_(Named(new QRadioButton(QStringLiteral("ログ")), "RB_FreqLog"))
    , chSmooth_(Named(new QCheckBox(QStringLiteral("平滑化")), "Ch_Smooth"))
    , chDelay_(Named(new QCheckBox(QStringLiteral("群遅延")), "Ch_Delay"))
    , buCopyFR_(Named(new QPushButton(QStringLiteral("クリップボードにコピー")), "Bu_CopyFR"))
    , copyCoef_(Named(new QPushButton(QStringLiteral("CopyCoef")), "CopyCoef"))
    , scSpectrumZoomA_(ZoomBar(Qt::Vertical, 12288, 16384, "Sc_SpectrumZoomA"))
    , scSpectrumZoomF_(ZoomBar(Qt::Horizontal, 0, 0, "Sc_SpectrumZoomF"))
    , scImpulseZoomT_(ZoomBar(Qt::Horizontal, 0, 0, "Sc_ImpulseZoomT"))
    , scImpulseZoomA_(ZoomBar(Qt::Vertical, 0, 16384, "Sc_ImpulseZoomA"))
    , pbSpectrum_(Named(new TPaintBox, "PB_Spectrum"))
    , pbImpulse_(Named(new TPaintBox, "PB_Impulse"))
{
    setObjectName("Fo_Plot");
    setWindowTitle(QStringLiteral("プロット"));
    SetHint(this, QStringLiteral("プロット|フィルタの係数をプロットして表示します"));
    setAttribute(Qt::WA_DeleteOnClose);
    copyCoef_->setParent(this);
    copyCoef_->hide();
    coFRLevel_->addItems({"6", "12", "24", "48", "96"});
    coFRLevel_->setCurrentIndex(-1);
    rbFreqLin_->setChecked(true);

    pcPlot_->addTab(MakeFrequencyPage(), QStringLiteral("周波数特性"));
    pcPlot_->addTab(MakeImpulsePage(), QStringLiteral("インパルス応答"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pcPlot_);

    for (QScrollBar* s : {scSpectrumZoomA_, scSpectrumZoomF_, scImpulseZoomT_, scImpulseZoomA_})
        connect(s, &QScrollBar::valueChanged, this, [this] { Redraw(); });
    // A hand-moved level bar no longer matches a listed range.
    connect(scSpectrumZoomA_, &QScrollBar::actionTriggered, this, [this] { coFRLevel_->setCurrentIndex(-1); });
    connect(coFRLevel_, &QComboBox::activated, this, [this](int i) { SetRangeIndex(i); });
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{rbFreqLin_, rbFreqLog_, chSmooth_, chDelay_})
        connect(b, &QAbstractButton::toggled, this, [this] { Redraw(); });
    connect(buCopyFR_, &QPushButton::clicked, this, [this] { CopyFR(); });
    connect(copyCoef_, &QPushButton::clicked, this, [this] { CopyCoef(); });
    pbSpectrum_->OnResize = [this] { Redraw(); };
    pbImpulse_->OnResize = [this] { Redraw(); };
    resize(560, 360);
}

QWidget* TFo_Plot::MakeFrequencyPage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_Frequency");
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("レベル軸:")));
    bar->addWidget(coFRLevel_);
    bar->addWidget(new QLabel(QStringLiteral("dB")));
    bar->addSpacing(12);
    bar->addWidget(new QLabel(QStringLiteral("周波数軸:")));
    bar->addWidget(rbFreqLin_);
    bar->addWidget(rbFreqLog_);
    bar->addSpacing(12);
    bar->addWidget(chSmooth_);
    bar->addWidget(chDelay_);
    bar->addStretch();
    bar->addWidget(buCopyFR_);
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(4, 4, 4, 4);
    v->addLayout(bar);
    v->addWidget(PlotArea(pbSpectrum_, scSpectrumZoomA_, scSpectrumZoomF_), 1);
    return page;
}

QWidget* TFo_Plot::MakeImpulsePage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_Impulse");
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(4, 4, 4, 4);
    v->addWidget(PlotArea(pbImpulse_, scImpulseZoomA_, scImpulseZoomT_), 1);
    return page;
}

void TFo_Plot::LoadBlock(std::span<const double> block)
{
    data_.Load(block);
    Redraw();
}

void TFo_Plot::SetSampleRate(double rate)
{
    if (rate > 0)
        data_.Rate = rate;
    Redraw();
}

void TFo_Plot::SetFreqLog(bool on) { (on ? rbFreqLog_ : rbFreqLin_)->setChecked(true); }

void TFo_Plot::SetSmooth(bool on) { chSmooth_->setChecked(on); }

void TFo_Plot::SetRangeIndex(int index)
{
    if (index < 0 || index >= int(std::size(kRangeZoom))) {
        coFRLevel_->setCurrentIndex(-1);
        return;
    }
    coFRLevel_->setCurrentIndex(index);
    scSpectrumZoomA_->setValue(kRangeZoom[index]);
}

void TFo_Plot::ReadControls()
{
    view_.FreqLog = rbFreqLog_->isChecked();
    view_.Smooth = chSmooth_->isChecked();
    view_.Delay = chDelay_->isChecked();
    view_.SpectrumZoomA = scSpectrumZoomA_->value();
    view_.SpectrumZoomF = scSpectrumZoomF_->value();
    view_.ImpulseZoomT = scImpulseZoomT_->value();
    view_.ImpulseZoomA = scImpulseZoomA_->value();
}

QImage TFo_Plot::FrequencyImage(QSize size) const { return PaintFrequencyPage(data_, view_, size); }

void TFo_Plot::Redraw()
{
    ReadControls();
    if (pbSpectrum_->width() > 0)
        pbSpectrum_->SetImage(PaintFrequencyPage(data_, view_, pbSpectrum_->size()));
    if (pbImpulse_->width() > 0)
        pbImpulse_->SetImage(PaintImpulsePage(data_, view_, pbImpulse_->size()));
}

void TFo_Plot::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    Redraw();
}

void TFo_Plot::CopyFR()
{
    ReadControls();
    QApplication::clipboard()->setImage(FrequencyImage(QSize(512, 256)));
}

void TFo_Plot::CopyCoef()
{
    std::string text;
    for (double v : data_.Time)
        text += FormatFloat(v) + "\r\n";
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

} // namespace marlix
