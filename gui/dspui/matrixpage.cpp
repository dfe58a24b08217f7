#include "gui/dspui/matrixpage.h"

#include "gui/colour.h"
#include "gui/dspui/knob.h"
#include "gui/dspui/presetbar.h"
#include "gui/paintbox.h"
#include "gui/speedbutton.h"
#include "player/dsppresets.h"
#include "player/outputchain.h"
#include "settings/settings.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace marlix {

namespace {

QColor Face() { return QColor::fromRgb(TKnobSprites::FaceColour() | 0xFF000000u); }

} // namespace

QImage TMatrixPainter::Paint(QSize size, const TSettingMatrix& m, const TSettings& s, const TKnobSprites& sprites)
{
    QImage img(size.expandedTo(QSize(176, 108)), QImage::Format_ARGB32);
    img.fill(Face());
    {
        QPainter p(&img);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xD0, 0xE4, 0xFF));
        p.drawPolygon(QPolygon({QPoint(0, 0), QPoint(0, 100), QPoint(40, 100), QPoint(40, 20)}));
        p.setBrush(QColor(0xFF, 0xD8, 0xD8));
        p.drawPolygon(QPolygon({QPoint(0, 0), QPoint(168, 0), QPoint(168, 20), QPoint(40, 20)}));
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::black);
        p.drawText(29, 3 + 11, QStringLiteral("Out"));
        p.drawText(3, 8 + 11 + 8, QStringLiteral("In"));
        f.setBold(false);
        p.setFont(f);
        for (int n = 0; n < 2; ++n) {
            const QString name = QString::fromStdString(s.Output.szChName[static_cast<size_t>(n)]).trimmed();
            p.drawText(3, 40 * n + 40 + 4, name);
            p.drawText(QRect(64 * n + 72 - 20, 3, 40, 14), Qt::AlignHCenter | Qt::AlignTop, name);
            p.drawLine(32, 40 * n + 40, 168, 40 * n + 40);
            p.drawLine(64 * n + 80, 16, 64 * n + 80, 100);
        }
    }
    for (int in = 0; in < 2; ++in)
        for (int out = 0; out < 2; ++out) {
            const QPoint on = OnSwitch(in, out), inv = InvSwitch(in, out), knob = KnobCentre(in, out);
            sprites.DrawSwitch(img, on.x(), on.y(), false, m.bONOFF[in][out]);
            sprites.DrawSwitch(img, inv.x(), inv.y(), true, m.bInv[in][out]);
            sprites.DrawKnob(img, knob.x() - 16, knob.y() - 16, LevelKnobAngle(m.fLevel[in][out]));
        }
    return img;
}

TMatrixPage::TMatrixPage(const TDSPContext& context, const TKnobSprites& sprites, QWidget* parent)
    : QWidget(parent), PB_Matrix(new TPaintBox(this)), La_Matrix(new QLabel(this)), Bu_Matrix2(new QToolButton(this)),
      Context(context), Sprites(sprites)
{
    PB_Matrix->setObjectName("PB_Matrix");
    PB_Matrix->setMouseTracking(true);
    PB_Matrix->setMinimumSize(180, 110);
    La_Matrix->setObjectName("La_Matrix");
    La_Matrix->setMinimumWidth(60);
    Bu_Matrix2->setObjectName("Bu_Matrix2");
    Bu_Matrix2->setText("ON");
    Bu_Matrix2->setCheckable(true);
    SetHint(Bu_Matrix2, QStringLiteral("マトリクス|チャンネルマトリクスのON/OFFを切り替えます"));
    auto* reset = new QToolButton(this);
    reset->setObjectName("Bu_MatrixReset");
    reset->setText(QStringLiteral("初期化"));
    SetHint(reset, QStringLiteral("マトリクスの設定を初期化します"));
    connect(reset, &QToolButton::clicked, this, [this] {
        Context.Settings.Matrix.Reset();
        Changed();
    });
    TDSPPresets& p = Context.Presets;
    Preset = new TPresetBar("Co_MatrixPreset", QStringLiteral("マトリクス"),
                            {[&p] { return p.MatrixList(); },
                             [this, &p](const std::string& n) {
                                 if (!p.ChooseMatrix(n, Context.Settings.Matrix))
                                     return false;
                                 Changed();
                                 return true;
                             },
                             [this, &p](const std::string& n) { return p.SaveMatrix(n, Context.Settings.Matrix); },
                             [&p](const std::string& n) { return p.DeleteMatrix(n); }},
                            this);
    auto* panel = new QHBoxLayout;
    panel->addWidget(Bu_Matrix2);
    panel->addWidget(La_Matrix);
    panel->addWidget(Preset, 1);
    panel->addWidget(reset);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(PB_Matrix, 1);
    column->addLayout(panel);

    PB_Matrix->OnResize = [this] { Redraw(); };
    PB_Matrix->OnMouseDown = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton)
            MouseDown(e->position().toPoint());
    };
    PB_Matrix->OnMouseMove = [this](QMouseEvent* e) { MouseMove(e->position().toPoint()); };
    PB_Matrix->OnMouseUp = [this](QMouseEvent*) {
        if (GrabIn >= 0)
            La_Matrix->clear();
        GrabIn = GrabOut = -1;
    };
}

void TMatrixPage::Redraw()
{
    DrawnMatrix = Context.Chain.Live.Matrix.Version();
    PB_Matrix->SetImage(TMatrixPainter::Paint(PB_Matrix->size(), Context.Settings.Matrix, Context.Settings, Sprites));
}

void TMatrixPage::Changed()
{
    Context.Chain.Live.PublishMatrix(Context.Settings.Matrix);
    Redraw();
}

void TMatrixPage::MouseDown(QPoint p)
{
    TSettingMatrix& m = Context.Settings.Matrix;
    for (int in = 0; in < 2; ++in)
        for (int out = 0; out < 2; ++out) {
            const QPoint on = TMatrixPainter::OnSwitch(in, out), inv = TMatrixPainter::InvSwitch(in, out);
            const QPoint c = TMatrixPainter::KnobCentre(in, out);
            if (TKnobSprites::SwitchHit(on.x(), on.y(), p.x(), p.y()))
                m.bONOFF[in][out] = !m.bONOFF[in][out];
            else if (TKnobSprites::SwitchHit(inv.x(), inv.y(), p.x(), p.y()))
                m.bInv[in][out] = !m.bInv[in][out];
            else if (std::hypot(p.x() - c.x(), p.y() - c.y()) <= TKnobSprites::GrabRadius) {
                GrabIn = in, GrabOut = out;
                continue;
            } else
                continue;
            Changed();
            return;
        }
}

void TMatrixPage::MouseMove(QPoint p)
{
    TSettingMatrix& m = Context.Settings.Matrix;
    if (GrabIn >= 0) {
        const QPoint c = TMatrixPainter::KnobCentre(GrabIn, GrabOut);
        m.fLevel[GrabIn][GrabOut] = LevelKnobValueAt(p.x(), p.y(), c.x(), c.y());
        La_Matrix->setText(LevelText(m.fLevel[GrabIn][GrabOut]));
        Changed();
        return;
    }
    for (int in = 0; in < 2; ++in)
        for (int out = 0; out < 2; ++out) {
            const QPoint c = TMatrixPainter::KnobCentre(in, out);
            if (std::hypot(p.x() - c.x(), p.y() - c.y()) <= TKnobSprites::GrabRadius)
                La_Matrix->setText(LevelText(m.fLevel[in][out]));
        }
}

void TMatrixPage::RefreshPresets() { Preset->Refresh(); }
void TMatrixPage::Refresh()
{
    Preset->SetAllowed(true);
    if (Context.Chain.Live.Matrix.Version() != DrawnMatrix)
        Redraw();
}

} // namespace marlix
