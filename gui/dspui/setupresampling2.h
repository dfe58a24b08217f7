#pragma once
#include <QWidget>
#include <array>

class QCheckBox;
class QComboBox;
class QRadioButton;
class QSpinBox;

namespace marlix {

class TSettings;

// The setup page "リサンプリング(2)": the up-sampling filter's window, taps and cut-off,
// the fractional resampler's filter, the filter plot, and the hidden direct-resampling
// controls kept for their keys.
class TSetupReSampling2Page : public QWidget {
public:
    TSetupReSampling2Page();
    void Load(const TSettings& s);
    void Save(TSettings& s) const;

    // Opens a plot window of the low-pass the chosen taps, cut-off and window make.
    void Bu_PlotFilterClick();

private:
    QComboBox* Co_IWindow;
    QComboBox* Co_ITaps;
    QSpinBox* Ed_ICutoff;
    QRadioButton* RB_Linear;
    QRadioButton* RB_Filtering;
    QComboBox* Co_RFTaps;
    std::array<QCheckBox*, 3> Ch_Direct;
    QComboBox* Co_DWindow;
    QComboBox* Co_DTaps;
    QCheckBox* Ch_AutoTapLen;
};

} // namespace marlix
