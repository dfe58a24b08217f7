#pragma once
#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <span>
#include <vector>

class QPainter;

namespace marlix {

// The shared graph routines: frequency-response frames and curves drawn into a bitmap.
// `rect` is the plot area; the labels go into the margins left of and above it.
// `n` is the number of spectrum bins, so the bin spacing is rate / (2n − 2).

double FreqToLogPos(int n, double rate, double f);
double LogPosToFreq(int n, double rate, double p);
double ValueToPos(double top, double bottom, double v);
double PosToValue(double top, double bottom, double p);

// 6·2^(−a) dB for the largest a from 29 downward whose spacing is at least 16 pixels;
// 0 when no spacing can be had.
double LevelGridStep(double pixelsPerDb);

struct TGridLine {
    int Pos = 0;       // x of a frequency line, y of a level line
    QString Label;     // empty: no label (none wanted, or it would crowd)
    int LabelLeft = 0; // where a frequency label starts
    bool Zero = false; // the 0 dB line, drawn grey
};

// The font of every graph label.
QFont GraphFont();

std::vector<TGridLine> LogFreqGridLines(const QRect& rect, int imageWidth, double rate, int n);
std::vector<TGridLine> LinFreqGridLines(const QRect& rect, int imageWidth, double rate);
std::vector<TGridLine> LevelGridLines(const QRect& rect, double top, double bottom);

// The margins, their borders, the white plot area and the title at (8, 8).
void DrawGraphMargins(QImage& bitmap, const QRect& rect, const QString& title);
// Margins, borders, title and the level grid (or the phase grid when top == bottom).
void DrawGraphFrame(QImage& bitmap, const QRect& rect, const QString& title, double top, double bottom);
// Phase labels and lines: "+PI" at the top, "0" at mid-height, "-PI" at the bottom.
void DrawPhaseGrid(QImage& bitmap, const QRect& rect);
// Frequency lines at their x and labels centred on them at the top.
void DrawFreqLines(QImage& bitmap, const QRect& rect, const std::vector<TGridLine>& lines);

void DrawLogFreqGraph(QImage& bitmap, const QRect& rect, double rate, const QString& title,
                      double top, double bottom, int n);
void DrawLinFreqGraph(QImage& bitmap, const QRect& rect, double rate, const QString& title,
                      double top, double bottom, int n);
void DrawLogCurve(QImage& bitmap, const QRect& rect, double rate, const QColor& colour,
                  std::span<const double> spectrum, double top, double bottom, int n);
void DrawLinCurve(QImage& bitmap, const QRect& rect, double rate, const QColor& colour,
                  std::span<const double> spectrum, double top, double bottom);
// The same curves through a painter whose clip the caller has set (several curves and
// graphs drawn with one painter, straight into the picture).
void DrawLogCurve(QPainter& painter, const QRect& rect, double rate, const QColor& colour,
                  std::span<const double> spectrum, double top, double bottom, int n);
void DrawLinCurve(QPainter& painter, const QRect& rect, double rate, const QColor& colour,
                  std::span<const double> spectrum, double top, double bottom);

// Colours shared by every graph.
QColor GraphMarginColor();
inline QColor GraphGridColor() { return QColor(0xC0, 0xC0, 0xC0); }
inline QColor GraphZeroColor() { return QColor(0x80, 0x80, 0x80); }
inline QColor GraphCurveColor() { return QColor(0x00, 0x00, 0x80); }

} // namespace marlix
