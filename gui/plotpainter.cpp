#include "gui/plotpainter.h"

#include "dsp/fft.h"
#include "gui/graph.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace marlix {

namespace {

constexpr double kPi = std::numbers::pi;

double Finite(double v) { return std::isnan(v) ? 0.0 : v; }

// One x column's points: range for the raw view, sum for the smoothed one.
struct TColumn {
    int X = 0;
    double MinY = 0, MaxY = 0, FirstY = 0, LastY = 0, Sum = 0;
    int Count = 0;
};

// Gathers (x, value) points that land in the same pixel column and draws them: each
// column as a vertical line over its range joined to the next, or with smoothing one
// polyline through the column averages.
class TColumnPlot {
public:
    TColumnPlot(QPainter& p, bool smooth, std::function<double(double)> toY)
        : Painter(p), Smooth(smooth), ToY(std::move(toY)) {}

    void Add(int x, double value)
    {
        if (Column.Count > 0 && x != Column.X)
            Flush();
        const double y = ToY(value);
        if (Column.Count == 0) {
            Column = {x, y, y, y, y, 0, 0};
        }
        Column.MinY = std::min(Column.MinY, y);
        Column.MaxY = std::max(Column.MaxY, y);
        Column.LastY = y;
        Column.Sum += value;
        ++Column.Count;
    }

    void Finish()
    {
        if (Column.Count > 0)
            Flush();
    }

private:
    void Flush()
    {
        if (Smooth) {
            const QPointF pt(Column.X, ToY(Column.Sum / Column.Count));
            if (HavePrevious)
                Painter.drawLine(Previous, pt);
            else
                Painter.drawPoint(pt);
            Previous = pt;
        } else {
            if (HavePrevious)
                Painter.drawLine(Previous, QPointF(Column.X, Column.FirstY));
            Painter.drawLine(QPointF(Column.X, Column.MinY), QPointF(Column.X, Column.MaxY));
            Previous = QPointF(Column.X, Column.LastY);
        }
        HavePrevious = true;
        Column.Count = 0;
    }

    QPainter& Painter;
    bool Smooth;
    std::function<double(double)> ToY;
    TColumn Column;
    QPointF Previous;
    bool HavePrevious = false;
};

void DrawWatermark(QImage& img, const QRect& rect)
{
    QPainter p(&img);
    QFont f("Arial");
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(28); // 21 points at 96 dpi
    f.setBold(true);
    f.setItalic(true);
    p.setFont(f);
    p.setPen(GraphGridColor());
    const QFontMetrics fm = p.fontMetrics();
    const QString text = QStringLiteral("Marlix Audio");
    const int x = std::max(rect.left(), rect.right() + 1 - 8 - fm.horizontalAdvance(text));
    const int y = std::max(rect.top() + fm.ascent(), rect.bottom() + 1 - 8 - fm.descent());
    p.drawText(x, y, text);
}

void DrawLinearFreqGrid(QImage& img, const QRect& rect, const TPlotView& view)
{
    const double z = std::exp2(12.0 * view.SpectrumZoomF / 16384);
    const int cx = rect.left() + rect.width() / 2;
    std::vector<TGridLine> lines{{cx, "0", 0, false}};
    const QFontMetrics fm(GraphFont());
    for (long long p = 4; p <= (1LL << 40); p *= 2) {
        const double off = 2.0 * rect.width() * z / p;
        const QString label = "1/" + QString::number(p);
        if (off / 2 < 2 * fm.horizontalAdvance("-" + label))
            break;
        if (off >= rect.width() / 2.0 - 16)
            continue;
        const int d = int(std::lround(off));
        lines.push_back({cx + d, label, 0, false});
        lines.push_back({cx - d, "-" + label, 0, false});
    }
    for (TGridLine& l : lines)
        l.LabelLeft = l.Pos - fm.horizontalAdvance(l.Label) / 2;
    DrawFreqLines(img, rect, lines);
}

void DrawLinearLevelGrid(QImage& img, const QRect& rect, double zoom)
{
    const int h = rect.height();
    const int mid = rect.top() + h / 2;
    const double step = LevelGridStep(h * zoom / 768);
    std::vector<TGridLine> lines{{mid, "0dB", 0, true}};
    for (int k = 1; step > 0; ++k) {
        const int d = int(std::lround(k * step * h * zoom / 768));
        if (d >= h / 2 - 8)
            break;
        const QString v = QString::number(k * step, 'g', 6);
        lines.push_back({mid - d, v + "dB", 0, false});
        lines.push_back({mid + d, "-" + v + "dB", 0, false});
    }
    QPainter p(&img);
    p.setFont(GraphFont());
    const QFontMetrics fm(p.font());
    for (const TGridLine& l : lines) {
        p.setPen(l.Zero ? GraphZeroColor() : GraphGridColor());
        p.drawLine(rect.left(), l.Pos, rect.right(), l.Pos);
        p.setPen(Qt::black);
        p.drawText(8, l.Pos - fm.height() / 2 + fm.ascent(), l.Label);
    }
}

} // namespace

void TPlotData::Load(std::span<const double> block)
{
    Time.assign(block.begin(), block.end());
    int half = 1;
    while (half < int(block.size()))
        half *= 2;
    const int L = 2 * half;
    std::vector<Complex> x(L);
    std::copy(block.begin(), block.end(), x.begin());
    TFFTTables tables;
    FFTInit(L, tables);
    FFTForward(x.data(), L, tables);
    FFTFree(tables);
    const int K = L / 2 + 1;
    Magnitude.assign(K, 0.0);
    PhaseStep.assign(K, 0.0);
    double prev = 0;
    for (int k = 0; k < K; ++k) {
        const double re = Finite(x[k].real());
        const double im = Finite(x[k].imag());
        Magnitude[k] = std::hypot(re, im);
        const double phi = Finite(std::atan2(im, re));
        if (k > 0) {
            double d = phi - prev;
            while (d > kPi)
                d -= 2 * kPi;
            while (d <= -kPi)
                d += 2 * kPi;
            PhaseStep[k] = d;
        }
        prev = phi;
    }
}

double TPlotView::LevelZoom() const { return std::exp2(32.0 * (16384 - SpectrumZoomA) / 16384); }

int MagnitudeToY(double v, int top, int h, double zoom)
{
    if (!(v > 0))
        return top + h + 1;
    const double off = std::clamp(std::round(-zoom * std::log2(v) * h / 128), double(-(h / 2)), double(h / 2 + 1));
    return top + h / 2 + int(off);
}

QImage PaintFrequencyPage(const TPlotData& data, const TPlotView& view, QSize size, int left, int top)
{
    QImage img(size.expandedTo(QSize(left + 2, top + 2)), QImage::Format_ARGB32);
    const QRect rect(left, top, img.width() - left, img.height() - top);
    const double zoom = view.LevelZoom();
    const double half = 384 / zoom;
    const int K = int(data.Magnitude.size());
    const int h = rect.height();
    if (view.FreqLog) {
        DrawLogFreqGraph(img, rect, data.Rate, QString(), view.Delay ? 0 : half, view.Delay ? 0 : -half, std::max(K, 2));
    } else {
        DrawGraphMargins(img, rect, QString());
        if (view.Delay)
            DrawPhaseGrid(img, rect);
        else
            DrawLinearLevelGrid(img, rect, zoom);
        DrawLinearFreqGrid(img, rect, view);
    }
    DrawWatermark(img, rect);
    if (K < 2)
        return img;

    const std::vector<double>& values = view.Delay ? data.PhaseStep : data.Magnitude;
    auto toY = [&](double v) -> double {
        if (view.Delay)
            return rect.top() + h / 2 + std::lround(v / kPi * (h / 2));
        return MagnitudeToY(v, rect.top(), h, zoom);
    };
    QPainter p(&img);
    p.setClipRect(rect);
    p.setPen(GraphCurveColor());
    TColumnPlot plot(p, view.Smooth, toY);
    if (view.FreqLog) {
        for (int i = 1; i < K; ++i) {
            const double f = double(i) / K * data.Rate / 2;
            plot.Add(rect.left() + int(std::lround(FreqToLogPos(K, data.Rate, f) * rect.width())), values[i]);
        }
    } else {
        const double z = std::exp2(12.0 * view.SpectrumZoomF / 16384);
        for (int j = 0; j < K; ++j) {
            const double x = rect.left() + rect.width() / 2 + z * (j - K / 2) * rect.width() / K;
            if (x >= rect.left() - 1 && x <= rect.right() + 1)
                plot.Add(int(std::lround(x)), values[j]);
        }
    }
    plot.Finish();
    return img;
}

QImage PaintImpulsePage(const TPlotData& data, const TPlotView& view, QSize size, int left, int top)
{
    QImage img(size.expandedTo(QSize(left + 2, top + 2)), QImage::Format_ARGB32);
    const QRect rect(left, top, img.width() - left, img.height() - top);
    DrawGraphMargins(img, rect, QString());
    const int h = rect.height();
    const int mid = rect.top() + h / 2;
    const int cx = rect.left() + rect.width() / 2;
    QPainter p(&img);
    p.setFont(GraphFont());
    p.setPen(GraphGridColor());
    p.drawLine(rect.left(), mid, rect.right(), mid);
    p.drawLine(cx, rect.top(), cx, rect.bottom());
    const QFontMetrics fm(p.font());
    p.setPen(Qt::black);
    p.drawText(8, mid - fm.height() / 2 + fm.ascent(), "0");

    const int T = int(data.Time.size());
    if (T == 0)
        return img;
    const double zt = std::exp2(12.0 * view.ImpulseZoomT / 16384);
    const double za = std::exp2(32.0 * (16384 - view.ImpulseZoomA) / 16384);
    p.setClipRect(rect);
    p.setPen(GraphCurveColor());
    auto toY = [&](double v) {
        return std::round(std::clamp(mid - v * (h / 2) * za, double(rect.top()), double(rect.bottom())));
    };
    TColumnPlot plot(p, false, toY);
    for (int i = 0; i < T; ++i) {
        const double x = std::round(cx + zt * (i - T / 2.0) * rect.width() / T);
        if (x >= rect.left() - 1 && x <= rect.right() + 1)
            plot.Add(int(x), data.Time[i]);
    }
    plot.Finish();
    return img;
}

} // namespace marlix
