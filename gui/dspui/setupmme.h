#pragma once
#include <QWidget>

class QComboBox;
class QSpinBox;

namespace marlix {

class TSettings;

// The setup page "標準ドライバ": the shared output's device, buffer size and buffer count
// ("MME" record).
class TSetupMMEPage : public QWidget {
public:
    TSetupMMEPage();
    void Load(const TSettings& s);
    void Save(TSettings& s) const;

private:
    QComboBox* Co_MMEDevice0;
    QComboBox* Co_BufferSize;
    QSpinBox* Ed_BufferNum;
};

} // namespace marlix
