#pragma once
#include <QImage>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <array>
#include <span>
#include <vector>

class QComboBox;
class QRadioButton;

namespace marlix {

class TPaintBox;
class TSettings;
class TSpectrumAnalyser;
class TWindowTimer;

// Where the graphs of K channels go in a W × H paint box. `Switch` asks for the other
// layout (graphs too narrow: stacked; too low: two rows) and then nothing is drawn.
struct TSpectrumLayout {
    std::vector<QRect> Graphs;
    bool Switch = false;
};
TSpectrumLayout LayoutSpectrum(int channels, int width, int height, bool vertical);

// What one picture of the analyser shows.
struct TSpectrumPicture {
    int Width = 0;
    int Height = 0;
    bool Vertical = true;
    bool Log = true;
    int RangeDb = 96;
    double Rate = 44100;
    int Bins = 257;
    QStringList Titles;                          // one per channel
    std::vector<std::span<const double>> Spectra; // empty: no buffers yet
    std::vector<std::span<const double>> Peaks;
};
QImage PaintSpectrum(const TSpectrumPicture& p, const TSpectrumLayout& layout);
// The graphs' frames (margins, grid, labels, titles), one per graph of the layout, and the
// picture drawn with them. The pictures have no alpha channel, so the 20 Hz repaint
// copies them to the window's (opaque) backing store without blending.
std::vector<QImage> PaintSpectrumFrames(const TSpectrumPicture& p, const TSpectrumLayout& layout);
QImage PaintSpectrum(const TSpectrumPicture& p, const TSpectrumLayout& layout, const std::vector<QImage>& frames);

// The spectrum analyser window "スペクトル": one graph per output channel with the
// falling spectrum in blue and the held peaks in red. Its timer sets the analyser up
// while the window shows and repaints when a curve moves; hiding or minimising the
// window stops the timer and tears the analyser down.
class TFo_Spectrum : public QWidget {
public:
    TFo_Spectrum(TSpectrumAnalyser& analyser, TSettings& settings, QWidget* parent = nullptr);
    ~TFo_Spectrum() override;

    void Ti_RedrawTimer();
    // Shown and not minimised: only then does the analyser run.
    bool Showing() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Co_DBChange();
    void AxisClick();
    TSpectrumPicture Picture() const;
    // Paints when the picture changed, or always.
    void Redraw(bool always = true);
    void MirrorSettings();

    // What the graphs' frames are drawn from.
    struct TFrameInputs {
        int Width = 0, Height = 0;
        bool Vertical = false, Log = false;
        int RangeDb = 0;
        double Rate = 0;
        int Bins = 0;
        QStringList Titles;
        bool operator==(const TFrameInputs&) const = default;
    };

    TSpectrumAnalyser& Analyser;
    TSettings& Config;
    TPaintBox* PB_Spectrum;
    QComboBox* Co_DB;
    QRadioButton* RB_Lin;
    QRadioButton* RB_Log;
    TWindowTimer* Ti_Redraw;
    bool Updating = false;
    TFrameInputs FrameKey;
    std::vector<QImage> Frames;
    std::vector<int> DrawnRows;
    // The analyser's state and the view settings at the last tick's drawing.
    std::array<int, 4> IdleDrawn{-1, -1, -1, -1};
};

} // namespace marlix
