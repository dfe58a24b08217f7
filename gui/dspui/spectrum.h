#pragma once
#include <QImage>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <span>
#include <vector>

class QComboBox;
class QRadioButton;
class QTimer;

namespace marlix {

class TPaintBox;
class TSettings;
class TSpectrumAnalyser;

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

// The spectrum analyser window "スペクトル": one graph per output channel with the
// falling spectrum in blue and the held peaks in red. Its timer sets the analyser up
// while the window shows and tears it down when hidden or minimised.
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
    void Redraw();
    void MirrorSettings();

    TSpectrumAnalyser& Analyser;
    TSettings& Config;
    TPaintBox* PB_Spectrum;
    QComboBox* Co_DB;
    QRadioButton* RB_Lin;
    QRadioButton* RB_Log;
    QTimer* Ti_Redraw;
    bool Updating = false;
};

} // namespace marlix
