#pragma once
#include <QWidget>

class QComboBox;
class QSpinBox;

namespace marlix {

class TSettings;

// The setup page "音響特性の測定": the measurement's rate, test signal, level, length,
// spectral slope and number of synchronous averages ("Measure" record).
class TSetupMeasurePage : public QWidget {
public:
    TSetupMeasurePage();
    void Load(const TSettings& s);
    void Save(TSettings& s) const;

private:
    QComboBox* Co_MeasureFreq;
    QComboBox* Co_MeasureMethod;
    QComboBox* Co_MeasureAmplitude;
    QComboBox* Co_MeasureLen;
    QComboBox* Co_MeasureSlope;
    QSpinBox* Ed_MeasureAddNum;
};

} // namespace marlix
