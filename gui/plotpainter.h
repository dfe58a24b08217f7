#pragma once
#include <QImage>
#include <QSize>
#include <span>
#include <vector>

namespace marlix {

// What a plot window shows: a time block and its spectrum.
struct TPlotData {
    std::vector<double> Time;
    std::vector<double> Magnitude; // K = L/2 + 1 bins
    std::vector<double> PhaseStep; // phase difference to the previous bin, in (−π, π]
    double Rate = 48000;

    // Copies the block and analyses it with an FFT of twice the smallest power of two
    // not below its length.
    void Load(std::span<const double> block);
};

// The plot window's controls, as positions of its scroll bars and switches.
struct TPlotView {
    bool FreqLog = false;
    bool Smooth = false;
    bool Delay = false;
    int SpectrumZoomA = 16384; // 12288 … 16384
    int SpectrumZoomF = 0;     // 0 … 16384
    int ImpulseZoomT = 0;      // 0 … 16384
    int ImpulseZoomA = 16384;  // 0 … 16384

    // The level zoom Z: the visible half-height is 384 / Z dB.
    double LevelZoom() const;
};

// The frequency page: grid, watermark and the magnitude (or group-delay) curve.
QImage PaintFrequencyPage(const TPlotData& data, const TPlotView& view, QSize size,
                          int left = 65, int top = 32);
// The impulse page: the time block around its middle.
QImage PaintImpulsePage(const TPlotData& data, const TPlotView& view, QSize size,
                        int left = 64, int top = 32);

// The y of magnitude v on the frequency page (plot area top, height h, zoom Z).
int MagnitudeToY(double v, int top, int h, double zoom);

} // namespace marlix
