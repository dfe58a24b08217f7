#include "gui/dspui/eqgraph.h"

#include "gui/graph.h"
#include "settings/eqcurve.h"
#include "settings/settingeq.h"

#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>

namespace marlix {

namespace {

QImage MakeMarker(const QColor& outer, const QColor& inner, const QColor& fill)
{
    QImage img(TEQGraph::MarkerSize, TEQGraph::MarkerSize, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(outer, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(0.75, 0.75, 9.5, 9.5));
    p.setPen(QPen(inner, 1));
    p.setBrush(fill);
    p.drawEllipse(QRectF(2.5, 2.5, 6, 6));
    return img;
}

} // namespace

TEQGraph::TEQGraph()
    : Marker(MakeMarker(QColor(0, 0, 255), QColor(0x80, 0xC0, 0xFF), QColor(0x40, 0x40, 0xFF))),
      SelectedMarker(MakeMarker(QColor(255, 0, 0), QColor(255, 0x80, 0x80), QColor(0xFF, 0x40, 0x40)))
{
}

void TEQGraph::Resize(int w, int h)
{
    BoxW = std::max(w, Left + 1);
    BoxH = std::max(h, Top + 1);
    Width = BoxW - Left;
    Height = BoxH - Top;
}

QPoint TEQGraph::Clamp(int x, int y) const { return {std::clamp(x, Left, BoxW), std::clamp(y, Top, BoxH)}; }

double TEQGraph::FreqAt(int x) const { return LogPosToFreq(Bins, Rate, double(x - Left) / Width); }
double TEQGraph::GainAt(int y) const { return PosToValue(MaxGain, -MaxGain, 1 - double(y - Top) / Height); }

QPoint TEQGraph::MarkerCentre(const TEQ1& point) const
{
    const double x = FreqToLogPos(Bins, Rate, std::round(point.Freq)) * Width + Left;
    const double y = (1 - ValueToPos(MaxGain, -MaxGain, point.Gain)) * Height + Top;
    return {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
}

int TEQGraph::PointAt(const TEQ& curve, int x, int y) const
{
    int found = -1;
    for (size_t i = 0; i < curve.Count(); ++i) {
        const QPoint c = MarkerCentre(curve[i]);
        if (std::hypot(c.x() - x, c.y() - y) < 4)
            found = static_cast<int>(i);
    }
    return found;
}

QImage TEQGraph::Paint(const TSettingEQ& eq, int channel, const QString& title) const
{
    QImage img(BoxW, BoxH, QImage::Format_ARGB32);
    img.fill(GraphMarginColor());
    if (BoxH > 32)
        DrawLogFreqGraph(img, QRect(Left, Top, Width, Height), Rate, title, MaxGain, -MaxGain, Bins);
    // Values beyond ±18 dB run on over the margins and off the picture; a row far
    // outside is as good as an endless one and keeps the painter's numbers small.
    const double farRow = 8.0 * BoxH;
    auto curvePath = [&](auto response) {
        QPolygon line;
        for (int x = Left; x < BoxW; ++x) {
            const double v = response(LogPosToFreq(Bins, Rate, double(x - Left) / Width));
            const double y = std::clamp((1 - ValueToPos(MaxGain, -MaxGain, v)) * Height + Top, -farRow, farRow);
            line << QPoint(x, static_cast<int>(std::lround(std::isnan(y) ? farRow : y)));
        }
        return line;
    };
    QPainter p(&img);
    if (channel >= 0) {
        p.setPen(QColor(0xFF, 0x80, 0x80));
        p.drawPolyline(curvePath([&](double f) { return eq.Curve(channel).Response(f); }));
    }
    p.setPen(QColor(0, 0, 0xFF));
    p.drawPolyline(curvePath([&](double f) { return eq.GetEQ(channel, f); }));
    const TEQ& curve = eq.Curve(channel);
    for (size_t i = 0; i < curve.Count(); ++i) {
        const QPoint c = MarkerCentre(curve[i]);
        p.drawImage(c.x() - MarkerSize / 2, c.y() - MarkerSize / 2,
                    static_cast<int>(i) == Selected ? SelectedMarker : Marker);
    }
    return img;
}

bool TEQGraph::MouseMove(TEQ& curve, int x, int y)
{
    const QPoint m = Clamp(x, y);
    FreqLabel = FreqText(FreqAt(m.x()));
    if (!Dragging) {
        const int hit = PointAt(curve, m.x(), m.y());
        Repaint = hit != Selected;
        Selected = hit;
        return false;
    }
    if (Selected < 0 || static_cast<size_t>(Selected) >= curve.Count())
        return false;
    curve[static_cast<size_t>(Selected)].Freq = FreqAt(m.x());
    curve[static_cast<size_t>(Selected)].Gain = GainAt(m.y());
    Repaint = true;
    return true;
}

bool TEQGraph::MouseDown(TEQ& curve, Qt::MouseButton button, int x, int y)
{
    Repaint = false;
    if (Dragging)
        return false;
    const QPoint m = Clamp(x, y);
    Selected = PointAt(curve, m.x(), m.y());
    if (button == Qt::LeftButton) {
        Dragging = true;
        Repaint = true;
        if (Selected >= 0)
            return false;
        curve.Add({0, FreqAt(m.x()), 3.0, -0.5, GainAt(m.y())});
        Selected = static_cast<int>(curve.Count()) - 1;
        return true;
    }
    if (button == Qt::RightButton && Selected >= 0) {
        curve.Delete(static_cast<size_t>(Selected));
        Selected = -1;
        Repaint = true;
        return true;
    }
    return false;
}

void TEQGraph::MouseUp()
{
    Dragging = false;
    Selected = -1;
    Repaint = true;
}

bool TEQGraph::DoubleClick(TEQ& curve, int x, int y)
{
    const QPoint m = Clamp(x, y);
    Selected = PointAt(curve, m.x(), m.y());
    if (Selected < 0)
        return false;
    int32_t& kind = curve[static_cast<size_t>(Selected)].Kind;
    const int32_t k = kind < -1 || kind > 2 ? -2 : kind; // outside -1 … 2 acts as a low-pass
    kind = k == 2 ? -2 : k + 1;
    Repaint = true;
    return true;
}

bool TEQGraph::Wheel(TEQ& curve, int delta)
{
    if (Selected < 0 || static_cast<size_t>(Selected) >= curve.Count())
        return false;
    double& width = curve[static_cast<size_t>(Selected)].Width;
    width = std::clamp(width + delta / 1200.0, 0.0, MaxWidth);
    Repaint = true;
    return true;
}

void TEQGraph::Deselect()
{
    Selected = -1;
    Dragging = false;
    Repaint = true;
}

QString TEQGraph::FreqText(double f)
{
    const long r = std::lround(f);
    if (f > 1000)
        return QStringLiteral("%1.%2kHz").arg(r / 1000).arg((r / 100) % 10);
    return QStringLiteral("%1Hz").arg(r);
}

} // namespace marlix
