#include "gui/graph.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <limits>

namespace marlix {

namespace {

double BinSpacing(int n, double rate) { return n > 1 ? rate / (2.0 * n - 2.0) : rate / 2.0; }

QString DbText(double v) { return QString::number(v, 'g', 6) + "dB"; }

// Labels centred on their lines, skipped when they would crowd the previous one or run
// past the right edge.
void PlaceLabels(std::vector<TGridLine>& lines, int imageWidth)
{
    const QFontMetrics fm(GraphFont());
    int prevEnd = std::numeric_limits<int>::min() / 2;
    for (TGridLine& l : lines) {
        if (l.Label.isEmpty())
            continue;
        const int w = fm.horizontalAdvance(l.Label);
        l.LabelLeft = l.Pos - w / 2;
        if (l.LabelLeft < prevEnd + 8 || l.LabelLeft + w > imageWidth) {
            l.Label.clear();
            continue;
        }
        prevEnd = l.LabelLeft + w;
    }
}

void DrawLevelLines(QPainter& p, const QRect& rect, const std::vector<TGridLine>& lines)
{
    const QFontMetrics fm(p.font());
    for (const TGridLine& l : lines) {
        p.setPen(l.Zero ? GraphZeroColor() : GraphGridColor());
        p.drawLine(rect.left(), l.Pos, rect.right(), l.Pos);
        p.setPen(Qt::black);
        p.drawText(8, l.Pos - fm.height() / 2 + fm.ascent(), l.Label);
    }
}

QPointF CurvePoint(const QRect& rect, double x, double db, double top, double bottom, bool silent)
{
    const double bottomEdge = rect.top() + rect.height();
    double y = silent ? rect.bottom() : bottomEdge - ValueToPos(top, bottom, db) * rect.height();
    y = std::clamp(y, double(rect.top()), double(rect.bottom()));
    return {x, y};
}

void DrawCurve(QPainter& p, const QColor& colour, const std::vector<QPointF>& pts)
{
    p.setPen(colour);
    p.drawPolyline(pts.data(), int(pts.size()));
}

} // namespace

double FreqToLogPos(int n, double rate, double f)
{
    const double fmin = BinSpacing(n, rate);
    return (std::log(f) - std::log(fmin)) / (std::log(rate / 2) - std::log(fmin));
}

double LogPosToFreq(int n, double rate, double p)
{
    const double fmin = BinSpacing(n, rate);
    return std::exp(std::log(fmin) + (std::log(rate / 2) - std::log(fmin)) * p);
}

double ValueToPos(double top, double bottom, double v) { return (v - bottom) / (top - bottom); }

double PosToValue(double top, double bottom, double p) { return bottom + (top - bottom) * p; }

double LevelGridStep(double pixelsPerDb)
{
    if (!(pixelsPerDb > 0) || !std::isfinite(pixelsPerDb))
        return 0;
    for (int a = 29; a >= -60; --a) {
        const double step = 6 * std::ldexp(1.0, -a);
        if (step * pixelsPerDb >= 16)
            return step;
    }
    return 0;
}

QFont GraphFont()
{
    QFont f("Arial");
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    return f;
}

QColor GraphMarginColor()
{
    const QColor face = QGuiApplication::palette().color(QPalette::Button);
    return QColor((face.red() + 255) / 2, (face.green() + 255) / 2, (face.blue() + 255) / 2);
}

std::vector<TGridLine> LogFreqGridLines(const QRect& rect, int imageWidth, double rate, int n)
{
    std::vector<TGridLine> lines;
    const double spacing = BinSpacing(n, rate);
    for (double decade = 1; decade < rate / 2; decade *= 10) {
        for (int i = 1; i <= 9; ++i) {
            const double f = i * decade;
            if (f >= rate / 2)
                break;
            if (f < spacing)
                continue;
            TGridLine l;
            l.Pos = rect.left() + int(std::lround(FreqToLogPos(n, rate, f) * rect.width()));
            if (i == 1 || i == 2 || i == 5)
                l.Label = f >= 1000 ? QString::number(qint64(f) / 1000) + "k" : QString::number(qint64(f));
            lines.push_back(l);
        }
    }
    PlaceLabels(lines, imageWidth);
    return lines;
}

std::vector<TGridLine> LinFreqGridLines(const QRect& rect, int imageWidth, double rate)
{
    std::vector<TGridLine> lines;
    const double pxPerHz = rect.width() / (rate / 2);
    int stepK = 10;
    while (stepK > 1 && stepK * 1000 * pxPerHz > 64)
        stepK /= 2;
    if (stepK * 1000 * pxPerHz > 64)
        return lines;
    for (int k = 0; k * 1000.0 <= rate / 2; k += stepK) {
        TGridLine l;
        l.Pos = rect.left() + int(std::lround(k * 1000 * pxPerHz));
        l.Label = k == 0 ? QString("0") : QString::number(k) + "k";
        lines.push_back(l);
    }
    PlaceLabels(lines, imageWidth);
    return lines;
}

std::vector<TGridLine> LevelGridLines(const QRect& rect, double top, double bottom)
{
    std::vector<TGridLine> lines;
    const double ppd = rect.height() / (top - bottom);
    const double step = LevelGridStep(ppd);
    if (step <= 0)
        return lines;
    const int bottomEdge = rect.top() + rect.height();
    for (long long i = std::llround(bottom / step) + 1;; ++i) {
        const int y = bottomEdge - int(std::lround((i * step - bottom) * ppd));
        if (y < rect.top())
            break;
        if (y <= rect.bottom())
            lines.push_back({y, DbText(i * step), 0, i == 0});
    }
    return lines;
}

void DrawGraphMargins(QImage& bitmap, const QRect& rect, const QString& title)
{
    QPainter p(&bitmap);
    p.fillRect(bitmap.rect(), GraphMarginColor());
    p.fillRect(rect, Qt::white);
    p.setPen(Qt::black);
    p.drawLine(rect.left() - 1, rect.top() - 1, bitmap.width() - 1, rect.top() - 1);
    p.drawLine(rect.left() - 1, rect.top() - 1, rect.left() - 1, bitmap.height() - 1);
    p.setFont(GraphFont());
    if (!title.isEmpty())
        p.drawText(8, 8 + QFontMetrics(p.font()).ascent(), title);
}

void DrawGraphFrame(QImage& bitmap, const QRect& rect, const QString& title, double top, double bottom)
{
    DrawGraphMargins(bitmap, rect, title);
    if (top == bottom) {
        DrawPhaseGrid(bitmap, rect);
        return;
    }
    QPainter p(&bitmap);
    p.setFont(GraphFont());
    DrawLevelLines(p, rect, LevelGridLines(rect, top, bottom));
}

void DrawPhaseGrid(QImage& bitmap, const QRect& rect)
{
    QPainter p(&bitmap);
    p.setFont(GraphFont());
    const int h = rect.height();
    std::vector<TGridLine> lines{{rect.top() + h / 4, "+PI/2", 0, false},
                                 {rect.top() + h / 2, "0", 0, false},
                                 {rect.top() + 3 * h / 4, "-PI/2", 0, false}};
    DrawLevelLines(p, rect, lines);
    const QFontMetrics fm(p.font());
    p.setPen(Qt::black);
    p.drawText(8, rect.top() + fm.ascent(), "+PI");
    p.drawText(8, rect.bottom() - fm.descent(), "-PI");
}

void DrawFreqLines(QImage& bitmap, const QRect& rect, const std::vector<TGridLine>& lines)
{
    QPainter p(&bitmap);
    p.setFont(GraphFont());
    const QFontMetrics fm(p.font());
    for (const TGridLine& l : lines) {
        p.setPen(GraphGridColor());
        p.drawLine(l.Pos, rect.top(), l.Pos, rect.bottom());
        if (!l.Label.isEmpty()) {
            p.setPen(Qt::black);
            p.drawText(l.LabelLeft, 8 + fm.ascent(), l.Label);
        }
    }
}

void DrawLogFreqGraph(QImage& bitmap, const QRect& rect, double rate, const QString& title,
                      double top, double bottom, int n)
{
    DrawGraphFrame(bitmap, rect, title, top, bottom);
    DrawFreqLines(bitmap, rect, LogFreqGridLines(rect, bitmap.width(), rate, n));
}

void DrawLinFreqGraph(QImage& bitmap, const QRect& rect, double rate, const QString& title,
                      double top, double bottom, int)
{
    DrawGraphFrame(bitmap, rect, title, top, bottom);
    DrawFreqLines(bitmap, rect, LinFreqGridLines(rect, bitmap.width(), rate));
}

void DrawLogCurve(QImage& bitmap, const QRect& rect, double rate, const QColor& colour,
                  std::span<const double> spectrum, double top, double bottom, int n)
{
    QPainter p(&bitmap);
    p.setClipRect(rect);
    DrawLogCurve(p, rect, rate, colour, spectrum, top, bottom, n);
}

void DrawLinCurve(QImage& bitmap, const QRect& rect, double rate, const QColor& colour,
                  std::span<const double> spectrum, double top, double bottom)
{
    QPainter p(&bitmap);
    p.setClipRect(rect);
    DrawLinCurve(p, rect, rate, colour, spectrum, top, bottom);
}

void DrawLogCurve(QPainter& painter, const QRect& rect, double rate, const QColor& colour,
                  std::span<const double> spectrum, double top, double bottom, int n)
{
    n = std::min<int>(n, int(spectrum.size()));
    const double spacing = BinSpacing(n, rate);
    std::vector<QPointF> pts;
    for (int i = 1; i < n; ++i) {
        const double v = spectrum[i];
        const double x = rect.left() + FreqToLogPos(n, rate, i * spacing) * rect.width();
        pts.push_back(CurvePoint(rect, x, v > 0 ? 6 * std::log2(v) : 0, top, bottom, !(v > 0)));
    }
    DrawCurve(painter, colour, pts);
}

void DrawLinCurve(QPainter& painter, const QRect& rect, double rate, const QColor& colour,
                  std::span<const double> spectrum, double top, double bottom)
{
    const int n = int(spectrum.size());
    const double spacing = BinSpacing(n, rate);
    std::vector<QPointF> pts;
    for (int i = 1; i < n; ++i) {
        const double v = spectrum[i];
        const double x = rect.left() + i * spacing / (rate / 2) * rect.width();
        pts.push_back(CurvePoint(rect, x, v > 0 ? 6 * std::log2(v) : 0, top, bottom, !(v > 0)));
    }
    DrawCurve(painter, colour, pts);
}

} // namespace marlix
