#pragma once
#include <QWidget>
#include <string>

class QComboBox;

namespace marlix {

class TSettings;

// The setup page "ASIOドライバ": the pro-audio driver, its output pair and the
// measurement microphone's input pair ("ASIO" record). The lists come from starting the
// chosen driver briefly; a driver that does not start leaves them empty.
class TSetupASIOPage : public QWidget {
public:
    TSetupASIOPage();
    // Starts the stored driver for its lists and selects the stored pairs.
    void Load(const TSettings& s);
    void Save(TSettings& s) const;

    // The chosen JACK driver's control panel is the desktop's JACK patchbay.
    void Bu_ASIOControlPanelClick();

private:
    void FillASIOLists();

    std::string EditedDriver;
    int StoredDevice = -1;
    int StoredInDevice = -1;
    QComboBox* Co_ASIODriver;
    QComboBox* Co_ASIODevice0;
    QComboBox* Co_ASIOChAssign0;
    QComboBox* Co_ASIOInDevice0;
    bool ChAssignReset = false;
};

} // namespace marlix
