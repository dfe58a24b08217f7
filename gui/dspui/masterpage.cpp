#include "gui/dspui/masterpage.h"

#include "gui/dspui/knob.h"
#include "gui/paintbox.h"
#include "settings/settings.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

namespace marlix {

QImage TMasterPage::Paint(QSize size, const TSettings& s, const TKnobSprites& sprites)
{
    QImage img(size.expandedTo(QSize(260, 108)), QImage::Format_ARGB32);
    img.fill(QColor::fromRgb(TKnobSprites::FaceColour() | 0xFF000000u));
    {
        QPainter p(&img);
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(11);
        p.setFont(f);
        p.setPen(Qt::black);
        p.drawText(QRect(88 - 30, 3, 60, 14), Qt::AlignHCenter, QStringLiteral("Level"));
        p.drawText(QRect(184 - 30, 3, 60, 14), Qt::AlignHCenter, QStringLiteral("Delay"));
        for (size_t ch = 0; ch < 2; ++ch) {
            const int y = 40 * static_cast<int>(ch) + 40;
            const double delay = s.Output.fDelay[ch];
            p.drawText(3, y + 4, QString::fromStdString(s.Output.szChName[ch]).trimmed());
            p.drawText(112, y + 4, LevelText(s.Output.fLevel[ch]));
            p.drawText(208, y - 8 + 4, DelayMsText(delay));
            p.drawText(208, y + 8 + 4, DelayMmText(delay));
        }
    }
    for (int ch = 0; ch < 2; ++ch) {
        const auto i = static_cast<size_t>(ch);
        sprites.DrawSwitch(img, InvSwitch(ch).x(), InvSwitch(ch).y(), true, s.Output.bInvPhase[i]);
        sprites.DrawKnob(img, LevelCentre(ch).x() - 16, LevelCentre(ch).y() - 16, LevelKnobAngle(s.Output.fLevel[i]));
        sprites.DrawKnob(img, DelayCentre(ch).x() - 16, DelayCentre(ch).y() - 16, DelayKnobAngle(s.Output.fDelay[i]));
    }
    return img;
}

TMasterPage::TMasterPage(const TDSPContext& context, const TKnobSprites& sprites, QWidget* parent)
    : QWidget(parent), PB_Master(new TPaintBox(this)), Context(context), Sprites(sprites)
{
    PB_Master->setObjectName("PB_Master");
    PB_Master->setMinimumSize(270, 110);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(PB_Master, 1);
    PB_Master->OnResize = [this] { Redraw(); };
    PB_Master->OnMouseDown = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton)
            MouseDown(e->position().toPoint());
    };
    PB_Master->OnMouseMove = [this](QMouseEvent* e) { MouseMove(e->position().toPoint()); };
    PB_Master->OnMouseUp = [this](QMouseEvent*) { GrabLevel = GrabDelay = -1; };
}

// Painted again only when the size or a value it shows changed.
void TMasterPage::Redraw()
{
    const TSettingOutput& o = Context.Settings.Output;
    TShown now{PB_Master->size(), {}, {}, {}, {}};
    for (size_t ch = 0; ch < 2; ++ch) {
        now.Level[ch] = o.fLevel[ch];
        now.Delay[ch] = o.fDelay[ch];
        now.Inverted[ch] = o.bInvPhase[ch];
        now.Name[ch] = o.szChName[ch];
    }
    if (HaveDrawn && now == Drawn)
        return;
    Drawn = now;
    HaveDrawn = true;
    PB_Master->SetImage(Paint(PB_Master->size(), Context.Settings, Sprites));
}

void TMasterPage::MouseDown(QPoint p)
{
    for (int ch = 0; ch < 2; ++ch) {
        auto near = [&](QPoint c) { return std::hypot(p.x() - c.x(), p.y() - c.y()) <= TKnobSprites::GrabRadius; };
        if (TKnobSprites::SwitchHit(InvSwitch(ch).x(), InvSwitch(ch).y(), p.x(), p.y())) {
            auto& inv = Context.Settings.Output.bInvPhase[static_cast<size_t>(ch)];
            inv = !inv.Load();
        } else if (near(LevelCentre(ch)))
            GrabLevel = ch;
        else if (near(DelayCentre(ch)))
            GrabDelay = ch;
    }
    Redraw();
}

void TMasterPage::MouseMove(QPoint p)
{
    TSettingOutput& out = Context.Settings.Output;
    if (GrabLevel >= 0) {
        const QPoint c = LevelCentre(GrabLevel);
        out.fLevel[static_cast<size_t>(GrabLevel)] = LevelKnobValueAt(p.x(), p.y(), c.x(), c.y());
    } else if (GrabDelay >= 0) {
        const QPoint c = DelayCentre(GrabDelay);
        out.fDelay[static_cast<size_t>(GrabDelay)] = DelayKnobValueAt(p.x(), p.y(), c.x(), c.y());
    } else
        return;
    Redraw();
}

} // namespace marlix
