#include "gui/dspui/equalizer.h"

#include "gui/dspui/convolverpage.h"
#include "gui/dspui/effectpage.h"
#include "gui/dspui/eqpage.h"
#include "gui/dspui/flowpage.h"
#include "gui/dspui/masterpage.h"
#include "gui/dspui/matrixpage.h"
#include "gui/speedbutton.h"
#include "player/dsppresets.h"
#include "player/playerstate.h"
#include "gui/windowtimer.h"

#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace marlix {

TFo_Equalizer::TFo_Equalizer(const TEqualizerCores& c, QWidget* parent)
    : QWidget(parent), PageControl(new QTabWidget(this)), Presets(std::make_unique<TDSPPresets>(c.Folder)),
      Context{c.Settings, c.State, c.Chain, c.Decoder, c.Plugins, *Presets, c.Folder}, Ti_Check(new TWindowTimer(this, [this] { Ti_CheckTimer(); }))
{
    setObjectName("Fo_Equalizer");
    setWindowTitle("DSP");
    PageControl->setObjectName("PageControl");
    Flow = new TSignalFlowPage(PageControl);
    Effect = new TEffectPage(Context, PageControl);
    Convolver = new TConvolverPage(Context, PageControl);
    Matrix = new TMatrixPage(Context, Sprites, PageControl);
    Equalizer = new TEqualizerPage(Context, PageControl);
    Master = new TMasterPage(Context, Sprites, PageControl);
    PageControl->addTab(Flow, QStringLiteral("シグナルフロー"));
    PageControl->addTab(Effect, QStringLiteral("エフェクタ"));
    PageControl->addTab(Convolver, QStringLiteral("コンボルバ"));
    PageControl->addTab(Matrix, QStringLiteral("マトリクス"));
    PageControl->addTab(Equalizer, QStringLiteral("イコライザ"));
    PageControl->addTab(Master, QStringLiteral("マスター"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(PageControl);

    TPlayerState& s = c.State;
    BindStage(Flow->Bu_EFX, s.EFX);
    BindStage(Flow->Bu_C, s.Convolver);
    BindStage(Flow->Bu_Matrix, s.Matrix);
    BindStage(Flow->Bu_EQ, s.EQ);
    BindStage(Flow->Bu_HSC, s.HSC);
    BindStage(Effect->Bu_EFX2, s.EFX);
    BindStage(Convolver->Bu_C2, s.Convolver);
    BindStage(Matrix->Bu_Matrix2, s.Matrix);
    BindStage(Equalizer->Bu_EQ2, s.EQ);
    const std::pair<int, int> edits[] = {{TSignalFlowPage::Effect, pgEffect}, {TSignalFlowPage::Convolver, pgConvolver},
                                         {TSignalFlowPage::Matrix, pgMatrix}, {TSignalFlowPage::Equalizer, pgEqualizer},
                                         {TSignalFlowPage::Master, pgMaster}};
    for (auto [box, page] : edits)
        connect(Flow->Edit[static_cast<size_t>(box)], &QToolButton::clicked, this,
                [this, page] { PageControl->setCurrentIndex(page); });
    connect(Flow->Edit[TSignalFlowPage::ReSampler], &QToolButton::clicked, this, [this] {
        if (OnReSamplerEdit)
            OnReSamplerEdit();
    });

    Ti_Check->setObjectName("Ti_Check");
    connect(PageControl, &QTabWidget::currentChanged, this, [this] { Ti_CheckTimer(); });
    Ti_CheckTimer();
}

TFo_Equalizer::~TFo_Equalizer() = default;

void TFo_Equalizer::BindStage(QToolButton* button, std::atomic<bool>& stage)
{
    button->setCheckable(true);
    Stages.push_back({button, &stage});
    connect(button, &QToolButton::clicked, this, [this, button, &stage] {
        stage = button->isChecked();
        ++Context.State.DSPChangeCount;
        SetLitSwitch(button, stage);
    });
}

void TFo_Equalizer::SelectPage(int page)
{
    if (page >= 0 && page < PageCount)
        PageControl->setCurrentIndex(page);
}

void TFo_Equalizer::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    Equalizer->ShowFirst();
    Effect->RefreshPresets();
    Convolver->RefreshPresets();
    Matrix->RefreshPresets();
    Equalizer->RefreshPresets();
    PageControl->setCurrentIndex(pgEqualizer);
}

void TFo_Equalizer::Ti_CheckTimer()
{
    // Only the page in front is on screen; another page catches up when it comes forward.
    const bool running = Context.State.OutputRunning;
    QWidget* shown = PageControl->currentWidget();
    for (TStageSwitch& s : Stages) {
        if (!s.Page)
            for (int i = 0; i < PageControl->count() && !s.Page; ++i)
                if (PageControl->widget(i)->isAncestorOf(s.Button))
                    s.Page = PageControl->widget(i);
        const bool on = s.Stage->load();
        if (s.Page == shown && (on != s.Shown || s.Button->isChecked() != on)) {
            SetLitSwitch(s.Button, on);
            s.Shown = on;
        }
    }
    if (shown == Equalizer)
        Equalizer->Refresh(running);
    else if (shown == Matrix)
        Matrix->Refresh();
    else if (shown == Effect)
        Effect->Refresh(running);
    else if (shown == Convolver)
        Convolver->Refresh(running);
    else if (shown == Master)
        Master->Redraw();
}

} // namespace marlix
