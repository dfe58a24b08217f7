#include "gui/player/appicon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace marlix {
namespace {

QPixmap DrawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient face(0, 2, 0, 62);
    face.setColorAt(0, QColor(0x34, 0x45, 0x5F));
    face.setColorAt(1, QColor(0x1C, 0x26, 0x36));
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setBrush(QColor(0x4F, 0xC3, 0xC8));
    const QRectF bars[] = {{12, 34, 6, 18}, {22, 26, 6, 26}, {32, 30, 6, 22}, {42, 20, 6, 32}};
    for (const QRectF& bar : bars)
        p.drawRoundedRect(bar, 2, 2);
    QPainterPath wave(QPointF(8, 22));
    wave.cubicTo(16, 6, 24, 6, 32, 22);
    wave.cubicTo(40, 38, 48, 38, 56, 22);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xF2, 0xA5, 0x41), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(wave);
    return pixmap;
}

} // namespace

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(DrawIcon(size));
    return icon;
}

} // namespace marlix
