#include "gui/paintbox.h"

#include <QPainter>

namespace marlix {

TPaintBox::TPaintBox(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::SetImage(QImage image)
{
    Bitmap = std::move(image);
    update();
}

void TPaintBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, Bitmap);
}

void TPaintBox::mousePressEvent(QMouseEvent* e)
{
    if (OnMouseDown)
        OnMouseDown(e);
}

void TPaintBox::mouseMoveEvent(QMouseEvent* e)
{
    if (OnMouseMove)
        OnMouseMove(e);
}

void TPaintBox::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (OnDoubleClick)
        OnDoubleClick(e);
    else
        mousePressEvent(e);
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* e)
{
    if (OnMouseUp)
        OnMouseUp(e);
}

void TPaintBox::resizeEvent(QResizeEvent*)
{
    if (OnResize)
        OnResize();
}

} // namespace marlix
