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
    , PC_Plot(Named(new QTabWidget(this), "PC_Plot"))
    , Co_FRLevel(Named(new QComboBox, "Co_FRLevel"))
    , RB_FreqLin(Named(new QRadioButton(QStringLiteral("リニア")), "RB_FreqLin"))
    , RB_FreqLog(Named(new QRadioButton(QStringLiteral("ログ")), "RB_FreqLog"))
    , Ch_Smooth(Named(new QCheckBox(QStringLiteral("平滑化")), "Ch_Smooth"))
    , Ch_Delay(Named(new QCheckBox(QStringLiteral("群遅延")), "Ch_Delay"))
    , Bu_CopyFR(Named(new QPushButton(QStringLiteral("クリップボードにコピー")), "Bu_CopyFR"))
    , Bu_CopyCoef(Named(new QPushButton(QStringLiteral("CopyCoef")), "CopyCoef"))
    , Sc_SpectrumZoomA(ZoomBar(Qt::Vertical, 12288, 16384, "Sc_SpectrumZoomA"))
    , Sc_SpectrumZoomF(ZoomBar(Qt::Horizontal, 0, 0, "Sc_SpectrumZoomF"))
    , Sc_ImpulseZoomT(ZoomBar(Qt::Horizontal, 0, 0, "Sc_ImpulseZoomT"))
    , Sc_ImpulseZoomA(ZoomBar(Qt::Vertical, 0, 16384, "Sc_ImpulseZoomA"))
    , PB_Spectrum(Named(new TPaintBox, "PB_Spectrum"))
    , PB_Impulse(Named(new TPaintBox, "PB_Impulse"))
{
    setObjectName("Fo_Plot");
    setWindowTitle(QStringLiteral("プロット"));
    SetHint(this, QStringLiteral("プロット|フィルタの係数をプロットして表示します"));
    setAttribute(Qt::WA_DeleteOnClose);
    Bu_CopyCoef->setParent(this);
    Bu_CopyCoef->hide();
    Co_FRLevel->addItems({"6", "12", "24", "48", "96"});
    Co_FRLevel->setCurrentIndex(-1);
    RB_FreqLin->setChecked(true);

    PC_Plot->addTab(MakeFrequencyPage(), QStringLiteral("周波数特性"));
    PC_Plot->addTab(MakeImpulsePage(), QStringLiteral("インパルス応答"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PC_Plot);

    for (QScrollBar* s : {Sc_SpectrumZoomA, Sc_SpectrumZoomF, Sc_ImpulseZoomT, Sc_ImpulseZoomA})
        connect(s, &QScrollBar::valueChanged, this, [this] { Redraw(); });
    // A hand-moved level bar no longer matches a listed range.
    connect(Sc_SpectrumZoomA, &QScrollBar::actionTriggered, this, [this] { Co_FRLevel->setCurrentIndex(-1); });
    connect(Co_FRLevel, &QComboBox::activated, this, [this](int i) { SetRangeIndex(i); });
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{RB_FreqLin, RB_FreqLog, Ch_Smooth, Ch_Delay})
        connect(b, &QAbstractButton::toggled, this, [this] { Redraw(); });
    connect(Bu_CopyFR, &QPushButton::clicked, this, [this] { CopyFR(); });
    connect(Bu_CopyCoef, &QPushButton::clicked, this, [this] { CopyCoef(); });
    PB_Spectrum->OnResize = [this] { Redraw(); };
    PB_Impulse->OnResize = [this] { Redraw(); };
    resize(560, 360);
}

QWidget* TFo_Plot::MakeFrequencyPage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_Frequency");
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("レベル軸:")));
    bar->addWidget(Co_FRLevel);
    bar->addWidget(new QLabel(QStringLiteral("dB")));
    bar->addSpacing(12);
    bar->addWidget(new QLabel(QStringLiteral("周波数軸:")));
    bar->addWidget(RB_FreqLin);
    bar->addWidget(RB_FreqLog);
    bar->addSpacing(12);
    bar->addWidget(Ch_Smooth);
    bar->addWidget(Ch_Delay);
    bar->addStretch();
    bar->addWidget(Bu_CopyFR);
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(4, 4, 4, 4);
    v->addLayout(bar);
    v->addWidget(PlotArea(PB_Spectrum, Sc_SpectrumZoomA, Sc_SpectrumZoomF), 1);
    return page;
}

QWidget* TFo_Plot::MakeImpulsePage()
{
    auto* page = new QWidget;
    page->setObjectName("TS_Impulse");
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(4, 4, 4, 4);
    v->addWidget(PlotArea(PB_Impulse, Sc_ImpulseZoomA, Sc_ImpulseZoomT), 1);
    return page;
}

void TFo_Plot::LoadBlock(std::span<const double> block)
{
    PlotData.Load(block);
    Redraw();
}

void TFo_Plot::SetSampleRate(double rate)
{
    if (rate > 0)
        PlotData.Rate = rate;
    Redraw();
}

void TFo_Plot::SetFreqLog(bool on) { (on ? RB_FreqLog : RB_FreqLin)->setChecked(true); }

void TFo_Plot::SetSmooth(bool on) { Ch_Smooth->setChecked(on); }

void TFo_Plot::SetRangeIndex(int index)
{
    if (index < 0 || index >= int(std::size(kRangeZoom))) {
        Co_FRLevel->setCurrentIndex(-1);
        return;
    }
    Co_FRLevel->setCurrentIndex(index);
    Sc_SpectrumZoomA->setValue(kRangeZoom[index]);
}

void TFo_Plot::ReadControls()
{
    PlotView.FreqLog = RB_FreqLog->isChecked();
    PlotView.Smooth = Ch_Smooth->isChecked();
    PlotView.Delay = Ch_Delay->isChecked();
    PlotView.SpectrumZoomA = Sc_SpectrumZoomA->value();
    PlotView.SpectrumZoomF = Sc_SpectrumZoomF->value();
    PlotView.ImpulseZoomT = Sc_ImpulseZoomT->value();
    PlotView.ImpulseZoomA = Sc_ImpulseZoomA->value();
}

QImage TFo_Plot::FrequencyImage(QSize size) const { return PaintFrequencyPage(PlotData, PlotView, size); }

void TFo_Plot::Redraw()
{
    ReadControls();
    if (PB_Spectrum->width() > 0)
        PB_Spectrum->SetImage(PaintFrequencyPage(PlotData, PlotView, PB_Spectrum->size()));
    if (PB_Impulse->width() > 0)
        PB_Impulse->SetImage(PaintImpulsePage(PlotData, PlotView, PB_Impulse->size()));
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
    for (double v : PlotData.Time)
        text += FormatFloat(v) + "\r\n";
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

} // namespace marlix
