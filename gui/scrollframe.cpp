#include "gui/scrollframe.h"

#include "gui/paintbox.h"
#include "gui/shading.h"
#include "gui/speedbutton.h"
#include "settings/setting.h"

#include <QMouseEvent>
#include <algorithm>

namespace marlix {

int TScrollBarState::ThumbLength() const
{
    const int t = Total < 1 ? 0 : Visible() * (Height - 6) / Total;
    return std::max(t, 5);
}

int TScrollBarState::ThumbTop() const
{
    const int span = Total - Visible();
    return span > 0 ? 3 + Position * (Height - ThumbLength() - 6) / span : 3;
}

int TScrollBarState::PositionAt(int y) const
{
    const int track = Height - ThumbLength() - 6;
    if (track <= 0)
        return Position;
    const int p = (Total - Visible()) * (y - ThumbLength() / 2) / track;
    return std::clamp(p, 0, MaxPosition);
}

QImage TScrollBarState::Paint() const
{
    QImage img(std::max(Width, 1), std::max(Height, 1), QImage::Format_ARGB32);
    img.fill(PixRGB(192, 192, 255) | 0xFF000000u);
    if (Total > Visible())
        DrawBar(img, QRect(QPoint(4, ThumbTop()), QPoint(Width - 4, ThumbTop() + ThumbLength() - 1)),
                PixRGB(160, 160, 255), true, 0.5, PixRGB(96, 96, 255));
    return img;
}

TFr_Scroll::TFr_Scroll(const TSettingOperation* operation, QWidget* parent)
    : QWidget(parent)
    , Operation(operation)
    , PB_Scroll(new TPaintBox(this))
{
    setObjectName("Fr_Scroll");
    PB_Scroll->setObjectName("PB_Scroll");
    SetHint(PB_Scroll, QStringLiteral("|マウスを上下に動かして表示をスクロールします"));
    PB_Scroll->setMouseTracking(true);
    PB_Scroll->OnMouseDown = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton) {
            Dragging = true;
            MouseMove(e->position().toPoint().y());
        }
    };
    PB_Scroll->OnMouseUp = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton)
            Dragging = false;
    };
    PB_Scroll->OnMouseMove = [this](QMouseEvent* e) {
        if (Dragging || (Operation && Operation->bMouseScroll))
            MouseMove(e->position().toPoint().y());
    };
}

void TFr_Scroll::SetCount(int n)
{
    // The size is read here too: a hidden frame gets its resize event only when shown.
    Bar.Width = width();
    Bar.Height = height();
    Bar.Total = std::max(n, 0);
    const int visible = Bar.Visible();
    if (visible < Bar.Total) {
        Bar.MaxPosition = Bar.Total - visible;
        Bar.Position = std::min(Bar.Position, Bar.MaxPosition);
    } else {
        Bar.MaxPosition = 0;
        Bar.Position = 0;
    }
    Repaint();
}

void TFr_Scroll::SetRowHeight(int h)
{
    Bar.RowHeight = std::max(h, 1);
    SetCount(Bar.Total);
}

void TFr_Scroll::SetPosition(int p)
{
    Bar.Position = std::clamp(p, 0, Bar.MaxPosition);
    Repaint();
}

void TFr_Scroll::resizeEvent(QResizeEvent*)
{
    PB_Scroll->setGeometry(rect());
    SetCount(Bar.Total);
}

void TFr_Scroll::MouseMove(int y)
{
    const int p = Bar.PositionAt(y);
    if (p != Bar.Position) {
        Bar.Position = p;
        Changed = true;
        Repaint();
    }
}

void TFr_Scroll::Repaint() { PB_Scroll->SetImage(Bar.Paint()); }

} // namespace marlix
