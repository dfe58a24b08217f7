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
    , operation_(operation)
    , pbScroll_(new TPaintBox(this))
{
    setObjectName("Fr_Scroll");
    pbScroll_->setObjectName("PB_Scroll");
    SetHint(pbScroll_, QStringLiteral("|マウスを上下に動かして表示をスクロールします"));
    pbScroll_->setMouseTracking(true);
    pbScroll_->OnMouseDown = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton) {
            Dragging = true;
            MouseMove(e->position().toPoint().y());
        }
    };
    pbScroll_->OnMouseUp = [this](QMouseEvent* e) {
        if (e->button() == Qt::LeftButton)
            Dragging = false;
    };
    pbScroll_->OnMouseMove = [this](QMouseEvent* e) {
        if (Dragging || (operation_ && operation_->bMouseScroll))
            MouseMove(e->position().toPoint().y());
    };
}

void TFr_Scroll::SetCount(int n)
{
    // The size is read here too: a hidden frame gets its resize event only when shown.
    state_.Width = width();
    state_.Height = height();
    state_.Total = std::max(n, 0);
    const int visible = state_.Visible();
    if (visible < state_.Total) {
        state_.MaxPosition = state_.Total - visible;
        state_.Position = std::min(state_.Position, state_.MaxPosition);
    } else {
        state_.MaxPosition = 0;
        state_.Position = 0;
    }
    Repaint();
}

void TFr_Scroll::SetRowHeight(int h)
{
    state_.RowHeight = std::max(h, 1);
    SetCount(state_.Total);
}

void TFr_Scroll::SetPosition(int p)
{
    state_.Position = std::clamp(p, 0, state_.MaxPosition);
    Repaint();
}

void TFr_Scroll::resizeEvent(QResizeEvent*)
{
    pbScroll_->setGeometry(rect());
    SetCount(state_.Total);
}

void TFr_Scroll::MouseMove(int y)
{
    const int p = state_.PositionAt(y);
    if (p != state_.Position) {
        state_.Position = p;
        Changed = true;
        Repaint();
    }
}

void TFr_Scroll::Repaint() { pbScroll_->SetImage(state_.Paint()); }

} // namespace marlix
