#include "gui/dspui/convolverpage.h"

#include "gui/dspui/presetbar.h"
#include "gui/plot.h"
#include "gui/speedbutton.h"
#include "player/dsppresets.h"
#include "player/outputchain.h"
#include "settings/settings.h"

#include <QActionGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QToolButton>

namespace marlix {

namespace {

QString DryWetCaption(int value)
{
    switch (value) {
    case 1: return QStringLiteral("Dry");
    case 2: return QStringLiteral("Wet");
    default: return QStringLiteral("Dry + Wet");
    }
}

} // namespace

TConvolverPage::TConvolverPage(const TDSPContext& context, QWidget* parent)
    : QWidget(parent), Responses(GatherImpulseResponses(context.Folder + "impulseresponce")), Context(context)
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setVerticalSpacing(2);
    grid->setHorizontalSpacing(3);
    grid->addWidget(new QLabel("Impulse responce:", this), 0, 1);
    for (int k = 0; k < 2; ++k)
        BuildRow(k, grid);
    Bu_DryWet = MakeSpeedButton(this, "Bu_DryWet", "Dry + Wet",
                     QStringLiteral("直接音、間接音の切り替え|直接音+間接音、直接音のみ、間接音のみの切り替えを行います"), false);
    connect(Bu_DryWet, &QToolButton::clicked, this, [this] { ShowDryWetMenu(); });
    grid->addWidget(Bu_DryWet, 3, 1);
    Bu_C2 = MakeSpeedButton(this, "Bu_C2", "ON", QStringLiteral("コンボルバー|コンボルバーのON/OFFを切り替えます"), true);
    Bu_CReset = MakeSpeedButton(this, "Bu_CReset", QStringLiteral("初期化"), QStringLiteral("コンボルバの設定を初期化します"), false);
    connect(Bu_CReset, &QToolButton::clicked, this, [this] {
        Context.Settings.Convolver.Clear();
        Changed();
    });
    TDSPPresets& p = Context.Presets;
    Preset = new TPresetBar("Co_CPreset", QStringLiteral("コンボルバ"),
                            {[&p] { return p.ConvolverList(); },
                             [this, &p](const std::string& n) {
                                 if (!p.ChooseConvolver(n, Context.Settings.Convolver))
                                     return false;
                                 Changed();
                                 return true;
                             },
                             [this, &p](const std::string& n) { return p.SaveConvolver(n, Context.Settings.Convolver); },
                             [&p](const std::string& n) { return p.DeleteConvolver(n); }},
                            this);
    auto* panel = new QHBoxLayout;
    panel->addWidget(Bu_C2);
    panel->addWidget(Preset, 1);
    panel->addWidget(Bu_CReset);
    grid->addLayout(panel, 4, 0, 1, 15);
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(15, 1);
}

void TConvolverPage::BuildRow(int k, QGridLayout* grid)
{
    TRow& r = Rows[static_cast<size_t>(k)];
    const QString n = QString::number(k);
    grid->addWidget(new QLabel(QStringLiteral("Convolver %1:").arg(k + 1), this), k + 1, 0);
    r.IR = MakeSpeedButton(this, "Bu_IR" + n, "No IR", QStringLiteral("インパルス応答|畳み込むインパルス応答を指定します"), false);
    // The response's name does not widen the page: a long one is shortened to fit.
    r.IR->setMinimumWidth(110);
    r.In = MakeSpeedButton(this, "Bu_In" + n, {}, QStringLiteral("入力チャンネル|このコンボルバーの入力チャンネルを選択します"), false);
    r.Out = MakeSpeedButton(this, "Bu_Out" + n, {},
                 QStringLiteral("出力チャンネル|畳み込み結果をミックスするチャンネルを選択します"), false);
    r.Cut = MakeSpeedButton(this, "Bu_Cut" + n, "Cut", QStringLiteral("直接音のカット|元のインパルス応答から直接音をカットします"), true);
    r.No = MakeSpeedButton(this, "Bu_No" + n, "No", QStringLiteral("ディレイのカット|元のインパルス応答に含まれるディレイをカットします"), true);
    r.Lv = new QSpinBox(this);
    r.Lv->setObjectName("Ed_Lv" + n);
    r.Lv->setRange(-96, 24);
    SetHint(r.Lv, QStringLiteral("ミックスレベル|畳み込んだ結果をミックスするレベルを指定します"));
    r.On = MakeSpeedButton(this, "Bu_COn" + n, "ON", QStringLiteral("コンボルバ|このコンボルバのON/OFFを切り替えます"), true);
    r.Plot = MakeSpeedButton(this, "Bu_Plot" + n, "Plot", QStringLiteral("インパルス応答をプロットして確認します"), false);
    int col = 1;
    grid->addWidget(r.IR, k + 1, col++);
    for (auto [label, w] : {std::pair<const char*, QWidget*>{"In:", r.In}, {"Out:", r.Out}, {"CutDS:", r.Cut},
                            {"", r.No}, {"Lv:", r.Lv}, {"ON:", r.On}, {"Plot:", r.Plot}}) {
        if (*label)
            grid->addWidget(new QLabel(label, this), k + 1, col++);
        grid->addWidget(w, k + 1, col++);
    }
    auto entry = [this, k]() -> TConvolverEntry& { return Context.Settings.Convolver.Conv[static_cast<size_t>(k)]; };
    connect(r.IR, &QToolButton::clicked, this, [this, k] { ShowResponseMenu(k); });
    connect(r.In, &QToolButton::clicked, this, [this, k] { ShowChannelMenu(k, false); });
    connect(r.Out, &QToolButton::clicked, this, [this, k] { ShowChannelMenu(k, true); });
    connect(r.Cut, &QToolButton::clicked, this, [this, entry](bool on) { entry().CutDS = on, Changed(); });
    connect(r.No, &QToolButton::clicked, this, [this, entry](bool on) { entry().NoDelay = on, Changed(); });
    connect(r.On, &QToolButton::clicked, this, [this, entry](bool on) { entry().On = on, Changed(); });
    connect(r.Lv, &QSpinBox::valueChanged, this, [this, entry](int v) {
        if (!Updating && entry().HasIR && entry().Level != v)
            entry().Level = v, Changed();
    });
    connect(r.Plot, &QToolButton::clicked, this, [this, k] { Bu_PlotClick(k); });
}

void TConvolverPage::Changed() { Context.Chain.Live.PublishConvolver(Context.Settings.Convolver); }

void TConvolverPage::ShowResponseMenu(int k)
{
    QMenu menu(this);
    menu.addAction("No Impulse responce")->setData(-1);
    menu.addSeparator();
    for (size_t i = 0; i < Responses.size(); ++i)
        menu.addAction(QString::fromStdString(Responses[i].Caption))->setData(static_cast<int>(i));
    QToolButton* b = Rows[static_cast<size_t>(k)].IR;
    if (QAction* chosen = menu.exec(b->mapToGlobal(QPoint(0, b->height()))))
        ChooseResponse(k, chosen->data().toInt());
}

void TConvolverPage::ChooseResponse(int k, int item)
{
    TConvolverEntry& e = Context.Settings.Convolver.Conv[static_cast<size_t>(k)];
    TConvolverEntry next = e;
    next.HasIR = false;
    next.IR.clear();
    next.IRLength = 0;
    if (item >= 0 && static_cast<size_t>(item) < Responses.size())
        LoadImpulseResponse(Responses[static_cast<size_t>(item)], next);
    e = std::move(next);
    Changed();
}

void TConvolverPage::ShowChannelMenu(int k, bool output)
{
    QMenu menu(this);
    for (int ch = 0; ch < 2; ++ch)
        menu.addAction(QString::fromStdString(Context.Settings.Output.szChName[static_cast<size_t>(ch)]))->setData(ch);
    QToolButton* b = output ? Rows[static_cast<size_t>(k)].Out : Rows[static_cast<size_t>(k)].In;
    if (QAction* chosen = menu.exec(b->mapToGlobal(QPoint(0, b->height()))))
        SetChannel(k, output, chosen->data().toInt());
}

void TConvolverPage::SetChannel(int k, bool output, int channel)
{
    TConvolverEntry& e = Context.Settings.Convolver.Conv[static_cast<size_t>(k)];
    (output ? e.OutCh : e.InCh) = channel;
    Changed();
}

void TConvolverPage::ShowDryWetMenu()
{
    QMenu menu(this);
    auto* group = new QActionGroup(&menu);
    const char* const items[] = {"Dry(&D)", "Wet(&W)", "Dry + Wet(&P)"};
    for (int v = 1; v <= 3; ++v) {
        QAction* a = menu.addAction(items[v - 1]);
        a->setData(v);
        a->setCheckable(true);
        a->setChecked(Context.Settings.Convolver.DryWet == v);
        group->addAction(a);
    }
    if (QAction* chosen = menu.exec(Bu_DryWet->mapToGlobal(QPoint(0, Bu_DryWet->height()))))
        SetDryWet(chosen->data().toInt());
}

void TConvolverPage::SetDryWet(int value)
{
    Context.Settings.Convolver.DryWet = value;
    Changed();
}

void TConvolverPage::Bu_PlotClick(int k)
{
    const TConvolverEntry& e = Context.Settings.Convolver.Conv[static_cast<size_t>(k)];
    if (!e.HasIR || e.IR.empty())
        return;
    auto* plot = new TFo_Plot;
    plot->setAttribute(Qt::WA_DeleteOnClose);
    plot->setWindowTitle(QStringLiteral("プロット - インパルス応答  ") + QString::fromStdString(e.IRName));
    plot->SetSampleRate(e.IRRate);
    plot->SetFreqLog(true);
    plot->SetSmooth(true);
    plot->SetRangeIndex(2);
    plot->LoadBlock(e.IR);
    plot->show();
}

void TConvolverPage::Refresh(bool outputRunning)
{
    Updating = true;
    for (size_t k = 0; k < 2; ++k) {
        const TConvolverEntry& e = Context.Settings.Convolver.Conv[k];
        TRow& r = Rows[k];
        const bool has = e.HasIR;
        SetEnabledSwitch(r.IR, !outputRunning);
        for (QWidget* w : {static_cast<QWidget*>(r.On), static_cast<QWidget*>(r.Cut), static_cast<QWidget*>(r.No),
                           static_cast<QWidget*>(r.In), static_cast<QWidget*>(r.Out)})
            SetEnabledSwitch(w, has && !outputRunning);
        SetEnabledSwitch(r.Lv, has);
        SetEnabledSwitch(r.Plot, has);
        SetLitSwitch(r.On, has && e.On);
        SetLitSwitch(r.Cut, has && e.CutDS);
        SetLitSwitch(r.No, has && e.NoDelay);
        auto name = [&](int ch) {
            return has && ch >= 0 && ch < 2
                       ? QString::fromStdString(Context.Settings.Output.szChName[static_cast<size_t>(ch)])
                       : QString();
        };
        if (r.In->text() != name(e.InCh))
            r.In->setText(name(e.InCh));
        if (r.Out->text() != name(e.OutCh))
            r.Out->setText(name(e.OutCh));
        const int level = has ? e.Level : 0;
        if (r.Lv->value() != level)
            r.Lv->setValue(level);
        const QString response = has ? QString::fromStdString(e.IRName) : QStringLiteral("No IR");
        if (response != r.Elided || r.IR->width() != r.ElidedWidth) {
            r.Elided = response;
            r.ElidedWidth = r.IR->width();
            const QString ir = r.IR->fontMetrics().elidedText(response, Qt::ElideRight, r.IR->width() - 8);
            if (r.IR->text() != ir)
                r.IR->setText(ir);
        }
    }
    if (Bu_DryWet->text() != DryWetCaption(Context.Settings.Convolver.DryWet))
        Bu_DryWet->setText(DryWetCaption(Context.Settings.Convolver.DryWet));
    SetEnabledSwitch(Bu_CReset, !outputRunning);
    SetEnabledSwitch(Preset->Combo(), !outputRunning);
    Preset->SetAllowed(!outputRunning);
    Updating = false;
}

void TConvolverPage::RefreshPresets() { Preset->Refresh(); }

} // namespace marlix
