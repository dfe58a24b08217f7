#pragma once
#include <QWidget>
#include <functional>
#include <vector>

class QComboBox;
class QListWidget;

namespace marlix {

class TSettings;

// The setup page "オーディオ出力": the driver type and the allowed output rates ("Output"
// record). At least one rate stays ticked: clearing the last ticks 44100 again.
class TSetupOutputPage : public QWidget {
public:
    TSetupOutputPage();
    void Load(const TSettings& s);
    void Save(TSettings& s) const;

    // The ticked rates, in the rate table's order.
    std::vector<int> TickedRates() const;
    // Called after the user ticked or cleared a rate.
    std::function<void()> OnRatesChanged;

private:
    void FreqListChange();

    QComboBox* Co_DriverType;
    QListWidget* CL_Freq;
    bool Updating = false;
};

} // namespace marlix
