#include "gui/dspui/eqpage.h"

#include "engine/decoder.h"
#include "gui/dspui/presetbar.h"
#include "gui/paintbox.h"
#include "gui/plot.h"
#include "gui/speedbutton.h"
#include "player/dsppresets.h"
#include "player/outputchain.h"
#include "settings/settings.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace marlix {

TEqualizerPage::TEqualizerPage(const TDSPContext& context, QWidget* parent)
    : QWidget(parent), PB_EQPaint(new TPaintBox(this)), Context(context)
{
    PB_EQPaint->setObjectName("PB_EQPaint");
    PB_EQPaint->setMouseTracking(true);
    PB_EQPaint->setMinimumSize(200, 120);
    SetHint(PB_EQPaint, QStringLiteral("|クリックして追加、ポイントをドラッグして周波数とゲインを調節、"
                                       "マウスホイールでQを調節、ダブルクリックで種類変更、右クリックで削除します"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(PB_EQPaint, 1);
    column->addWidget(BuildPanel());

    PB_EQPaint->OnResize = [this] {
        Graph.Resize(PB_EQPaint->width(), PB_EQPaint->height());
        Redraw();
    };
    PB_EQPaint->OnMouseMove = [this](QMouseEvent* e) {
        const QPoint p = e->position().toPoint();
        const bool changed = Graph.MouseMove(Curve(), p.x(), p.y());
        La_Freq->setText(Graph.FreqLabel);
        changed ? CurveChanged() : Graph.Repaint ? Redraw() : void();
    };
    PB_EQPaint->OnMouseDown = [this](QMouseEvent* e) {
        Bu_Reset->setFocus(); // so that the wheel reaches the page
        const QPoint p = e->position().toPoint();
        Graph.MouseDown(Curve(), e->button(), p.x(), p.y()) ? CurveChanged() : Redraw();
    };
    PB_EQPaint->OnMouseUp = [this](QMouseEvent* e) {
        if (e->button() != Qt::LeftButton)
            return;
        Graph.MouseUp();
        Redraw();
    };
    PB_EQPaint->OnDoubleClick = [this](QMouseEvent* e) {
        const QPoint p = e->position().toPoint();
        if (Graph.DoubleClick(Curve(), p.x(), p.y()))
            CurveChanged();
    };
}

QWidget* TEqualizerPage::BuildPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName("Pa_EQTool");
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);

    Bu_EQ2 = MakeSpeedButton(panel, "Bu_EQ2", "ON", QStringLiteral("イコライザ|イコライザのON/OFFを切り替えます"));
    Bu_EQ2->setCheckable(true);
    Co_Channel = new QComboBox(panel);
    Co_Channel->setObjectName("Co_Channel");
    Co_Channel->addItem("Master");
    for (int n = 0; n < 2; ++n)
        Co_Channel->addItem(QStringLiteral("%1:%2").arg(n + 1).arg(
            QString::fromStdString(Context.Settings.Output.szChName[static_cast<size_t>(n)])));
    connect(Co_Channel, &QComboBox::currentIndexChanged, this, [this] { ChannelChanged(); });
    La_Freq = new QLabel(panel);
    La_Freq->setObjectName("La_Freq");
    La_Freq->setMinimumWidth(56);
    Bu_Reset = MakeSpeedButton(panel, "Bu_Reset", QStringLiteral("初期化"),
                      QStringLiteral("このチャンネルのイコライザ設定を初期化します"));
    connect(Bu_Reset, &QToolButton::clicked, this, [this] { Bu_ResetClick(); });
    Bu_Plot = MakeSpeedButton(panel, "Bu_Plot", QStringLiteral("イコライザ係数の確認"),
                     QStringLiteral("イコライザ係数の確認|選択中のチャンネルのイコライザ係数をプロットします"));
    connect(Bu_Plot, &QToolButton::clicked, this, [this] { Bu_PlotClick(); });

    TDSPPresets& p = Context.Presets;
    Preset = new TPresetBar("Co_Preset", QStringLiteral("チャンネルのイコライザ"),
                            {[&p] { return p.EQList(); },
                             [this, &p](const std::string& n) {
                                 if (!p.ChooseEQ(n, Curve()))
                                     return false;
                                 Graph.Deselect();
                                 CurveChanged();
                                 return true;
                             },
                             [this, &p](const std::string& n) { return p.SaveEQ(n, Curve()); },
                             [&p](const std::string& n) { return p.DeleteEQ(n); }},
                            panel);
    PresetAll = new TPresetBar("Co_PresetAll", QStringLiteral("全チャンネルのイコライザ"),
                               {[&p] { return p.EQAllList(); },
                                [this, &p](const std::string& n) {
                                    if (!p.ChooseEQAll(n, Context.Settings.EQ))
                                        return false;
                                    Graph.Deselect();
                                    CurveChanged();
                                    return true;
                                },
                                [this, &p](const std::string& n) { return p.SaveEQAll(n, Context.Settings.EQ); },
                                [&p](const std::string& n) { return p.DeleteEQAll(n); }},
                               panel);
    auto* resetAll = MakeSpeedButton(panel, "Bu_ResetAll", QStringLiteral("初期化"),
                            QStringLiteral("すべてのチャンネルのイコライザ設定を初期化します"));
    connect(resetAll, &QToolButton::clicked, this, [this] { Bu_ResetAllClick(); });

    // The parametric editor is the only mode; the measurement-based correction stays hidden.
    auto* graphic = MakeSpeedButton(panel, "Bu_Graphic", QStringLiteral("グラフィック"), {});
    auto* parametric = MakeSpeedButton(panel, "Bu_Parametric", QStringLiteral("パラメトリック"), {});
    parametric->setCheckable(true);
    parametric->setChecked(true);
    graphic->hide();
    parametric->hide();
    Pa_Revise = new QWidget(panel);
    Pa_Revise->setObjectName("Pa_Revise");
    auto* revise = new QGridLayout(Pa_Revise);
    PresetRevise = new TPresetBar("Co_PresetRevise", QStringLiteral("測定結果"),
                                  {[&p] { return p.MeasurementList(); },
                                   [this, &p](const std::string& n) {
                                       const bool ok = p.ChooseMeasurement(n, Context.Settings.EQ);
                                       CurveChanged();
                                       return ok;
                                   },
                                   [&p](const std::string& n) { return p.SaveMeasurement(n); },
                                   [&p](const std::string& n) { return p.DeleteMeasurement(n); }},
                                  Pa_Revise);
    revise->addWidget(PresetRevise, 0, 0);
    revise->addWidget(MakeSpeedButton(Pa_Revise, "Bu_Measure", QStringLiteral("音響特性の測定"), {}), 0, 1);
    Pa_Revise->hide();

    // Three short rows, so the page fits the narrow column some layouts give it: the
    // channel and the curve's plot, then the channel's reset and presets, then those of
    // all channels.
    grid->addWidget(Bu_EQ2, 0, 0);
    grid->addWidget(Co_Channel, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("周波数:"), panel), 0, 2);
    grid->addWidget(La_Freq, 0, 3);
    grid->addWidget(Bu_Plot, 0, 4, Qt::AlignLeft);
    // The preset rows start right after the reset buttons, so that they fit narrow layouts.
    grid->addWidget(Bu_Reset, 1, 0, Qt::AlignLeft);
    grid->addWidget(Preset, 1, 1, 1, 4);
    grid->addWidget(resetAll, 2, 0, Qt::AlignLeft);
    grid->addWidget(PresetAll, 2, 1, 1, 4);
    grid->addWidget(Pa_Revise, 3, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    return panel;
}

int TEqualizerPage::Channel() const { return Co_Channel->currentIndex() - 1; }
TEQ& TEqualizerPage::Curve() { return Context.Settings.EQ.Curve(Channel()); }

void TEqualizerPage::ShowFirst()
{
    Co_Channel->setCurrentIndex(0);
    Graph.Deselect();
    Redraw();
}

void TEqualizerPage::ChannelChanged()
{
    Graph.Deselect();
    Bu_Reset->setFocus();
    Redraw();
}

void TEqualizerPage::CurveChanged()
{
    Context.Chain.Live.PublishEQ(Context.Settings.EQ);
    Redraw();
}

void TEqualizerPage::Redraw()
{
    DrawnCurves = Context.Chain.Live.EQ.Version();
    PB_EQPaint->SetImage(Graph.Paint(Context.Settings.EQ, Channel(), Co_Channel->currentText()));
    Graph.Repaint = false;
}

void TEqualizerPage::wheelEvent(QWheelEvent* e)
{
    if (Graph.Wheel(Curve(), e->angleDelta().y()))
        CurveChanged();
    e->accept();
}

void TEqualizerPage::Bu_ResetClick()
{
    Curve().Clear();
    Graph.Deselect();
    CurveChanged();
}

void TEqualizerPage::Bu_ResetAllClick()
{
    const bool ok = Confirm ? Confirm()
                            : QMessageBox::question(this, QStringLiteral("イコライザの初期化"),
                                                    QStringLiteral("すべてのチャンネルのイコライザ設定を初期化します。よろしいですか？"),
                                                    QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    if (!ok)
        return;
    for (TEQ& c : Context.Settings.EQ.Curves)
        c.Clear();
    Graph.Deselect();
    CurveChanged();
}

void TEqualizerPage::Bu_PlotClick()
{
    const int rate = Context.Decoder.IsOpen && Context.Decoder.Format.nSamplesPerSec > 0
                         ? static_cast<int>(Context.Decoder.Format.nSamplesPerSec)
                         : 44100;
    TFlexBuf taps;
    DesignEQTaps(Context.Settings.EQ.Curves, Channel(), rate,
                 TSettingFilter::ValidEQTaps(Context.Settings.Filter.EQFilterTaps), taps);
    auto* plot = new TFo_Plot;
    plot->setAttribute(Qt::WA_DeleteOnClose);
    plot->setWindowTitle(QStringLiteral("プロット - イコライザ係数  ") + Co_Channel->currentText());
    plot->SetSampleRate(rate);
    plot->SetFreqLog(true);
    plot->SetSmooth(true);
    plot->SetRangeIndex(2);
    plot->LoadBlock({static_cast<const double*>(taps.Data[0]), static_cast<size_t>(taps.Length)});
    plot->show();
}

void TEqualizerPage::Refresh(bool outputRunning)
{
    if (Context.Chain.Live.EQ.Version() != DrawnCurves)
        Redraw();
    SetEnabledSwitch(Bu_Plot, Channel() >= 0);
    Preset->SetAllowed(true);
    PresetAll->SetAllowed(true);
    PresetRevise->SetAllowed(!outputRunning);
}

void TEqualizerPage::RefreshPresets()
{
    Preset->Refresh();
    PresetAll->Refresh();
    PresetRevise->Refresh();
}

} // namespace marlix
