#include "gui/player/glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace marlix {

namespace {

void Triangle(QPainter& p, double x, double y, double w, double h, bool right)
{
    QPainterPath path;
    if (right) {
        path.moveTo(x, y);
        path.lineTo(x + w, y + h / 2);
        path.lineTo(x, y + h);
    } else {
        path.moveTo(x + w, y);
        path.lineTo(x, y + h / 2);
        path.lineTo(x + w, y + h);
    }
    path.closeSubpath();
    p.fillPath(path, p.brush());
}

void Loop(QPainter& p)
{
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3, 4, 14, 8), 4, 4);
    p.setBrush(QColor(48, 48, 48));
    Triangle(p, 11, 1.5, 4, 5, true);
}

void Text(QPainter& p, const QRectF& r, const QString& text, int pixels)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(true);
    p.setFont(f);
    p.drawText(r, Qt::AlignCenter, text);
}

} // namespace

QIcon GlyphIcon(TGlyph glyph)
{
    QPixmap pix(20, 16);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(48, 48, 48);
    p.setPen(QPen(ink, 1.5));
    p.setBrush(ink);
    switch (glyph) {
    case TGlyph::Back:
        p.fillRect(QRectF(3, 3, 2, 10), ink);
        Triangle(p, 5, 3, 6, 10, false);
        Triangle(p, 11, 3, 6, 10, false);
        break;
    case TGlyph::Stop:
        p.fillRect(QRectF(5, 3, 10, 10), ink);
        break;
    case TGlyph::Pause:
        p.fillRect(QRectF(5, 3, 3.5, 10), ink);
        p.fillRect(QRectF(11.5, 3, 3.5, 10), ink);
        break;
    case TGlyph::Play:
        Triangle(p, 6, 2, 9, 12, true);
        break;
    case TGlyph::Next:
        Triangle(p, 3, 3, 6, 10, true);
        Triangle(p, 9, 3, 6, 10, true);
        p.fillRect(QRectF(15, 3, 2, 10), ink);
        break;
    case TGlyph::Play1:
        Triangle(p, 2, 3, 8, 10, true);
        Text(p, QRectF(9, 0, 11, 16), QStringLiteral("1"), 11);
        break;
    case TGlyph::Repeat:
        Loop(p);
        break;
    case TGlyph::Repeat1:
        Loop(p);
        Text(p, QRectF(3, 3, 14, 10), QStringLiteral("1"), 8);
        break;
    case TGlyph::Random:
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(2, 4), QPointF(15, 12));
        p.drawLine(QPointF(2, 12), QPointF(15, 4));
        p.setBrush(ink);
        Triangle(p, 14, 1.5, 4, 5, true);
        Triangle(p, 14, 9.5, 4, 5, true);
        break;
    case TGlyph::BGM:
        Text(p, QRectF(0, 0, 20, 16), QStringLiteral("BGM"), 8);
        break;
    }
    p.end();
    return QIcon(pix);
}

} // namespace marlix
