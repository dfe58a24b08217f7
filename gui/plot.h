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

    const TPlotData& Data() const { return data_; }
    const TPlotView& View() const { return view_; }

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

    TPlotData data_;
    TPlotView view_;
    QTabWidget* pcPlot_;
    QComboBox* coFRLevel_;
    QRadioButton* rbFreqLin_;
    QRadioButton* rbFreqLog_;
    QCheckBox* chSmooth_;
    QCheckBox* chDelay_;
    QPushButton* buCopyFR_;
    QPushButton* copyCoef_;
    QScrollBar* scSpectrumZoomA_;
    QScrollBar* scSpectrumZoomF_;
    QScrollBar* scImpulseZoomT_;
    QScrollBar* scImpulseZoomA_;
    TPaintBox* pbSpectrum_;
    TPaintBox* pbImpulse_;
};

} // namespace marlix
