#pragma once
#include "gui/plotpainter.h"

#include <QWidget>
#include <span>

class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTabWidget;

namespace marlix {

class TPaintBox;

// The plot window: the frequency response of a time block and the block itself, on two
// pages. It frees itself when closed.
class TFo_Plot : public QWidget {
public:
    explicit TFo_Plot(QWidget* parent = nullptr);

    void LoadBlock(std::span<const double> block);
    void SetSampleRate(double rate);
    void SetFreqLog(bool on);
    void SetSmooth(bool on);
    // 0 … 4 for "6" … "96" dB; −1 clears the selection.
    void SetRangeIndex(int index);

    const TPlotData& Data() const { return PlotData; }
    const TPlotView& View() const { return PlotView; }

    // The frequency page redrawn at 512 × 256 and put on the clipboard.
    void CopyFR();
    // The time block as text on the clipboard, one value per line ended by CR LF.
    void CopyCoef();
    QImage FrequencyImage(QSize size) const;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    QWidget* MakeFrequencyPage();
    QWidget* MakeImpulsePage();
    void ReadControls();
    void Redraw();

    TPlotData PlotData;
    TPlotView PlotView;
    QTabWidget* PC_Plot;
    QComboBox* Co_FRLevel;
    QRadioButton* RB_FreqLin;
    QRadioButton* RB_FreqLog;
    QCheckBox* Ch_Smooth;
    QCheckBox* Ch_Delay;
    QPushButton* Bu_CopyFR;
    QPushButton* Bu_CopyCoef;
    QScrollBar* Sc_SpectrumZoomA;
    QScrollBar* Sc_SpectrumZoomF;
    QScrollBar* Sc_ImpulseZoomT;
    QScrollBar* Sc_ImpulseZoomA;
    TPaintBox* PB_Spectrum;
    TPaintBox* PB_Impulse;
};

} // namespace marlix
