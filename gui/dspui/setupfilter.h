#pragma once
#include <QWidget>

class QComboBox;

namespace marlix {

class TSettings;

// The setup page "フィルタ": the equaliser's taps, the buffer length and the HSC mode
// ("Filter" record).
class TSetupFilterPage : public QWidget {
public:
    TSetupFilterPage();
    void Load(const TSettings& s);
    void Save(TSettings& s) const;

private:
    QComboBox* Co_EQTaps;
    QComboBox* Co_Bufms;
    QComboBox* Co_HSCMode;
};

} // namespace marlix
