#pragma once
#include "gui/dspui/setupresampling1.h"

#include <QDialog>
#include <QString>
#include <string>

class QTabWidget;

namespace marlix {

class TSettings;
class TSetupASIOPage;
class TSetupFilterPage;
class TSetupFunctionPage;
class TSetupMMEPage;
class TSetupMeasurePage;
class TSetupOperationPage;
class TSetupOutputPage;
class TSetupReSampling2Page;
class TSetupViewPage;

// The modal setup dialog "環境の設定": every setting record on ten pages. It copies the
// records into its controls when made and back only on "OK"; "キャンセル", the close
// box and Esc change nothing.
class TFo_Setup : public QDialog {
public:
    // `programFolder` ends in "/" (the history lives below it).
    TFo_Setup(TSettings& settings, std::string programFolder, QWidget* parent = nullptr);

    // Brings the page with this object name ("TS_ReSampling1" …) to the front.
    void SelectPage(const QString& name);
    // The pages' object names, in order.
    QStringList PageNames() const;

    void Bu_OKClick();

private:
    void LoadControls();
    void SaveControls();

    TSettings& Config;
    QTabWidget* PC_Setup;
    TSetupOperationPage* Operation;
    TSetupViewPage* View;
    TSetupFunctionPage* Function;
    TSetupOutputPage* Output;
    TSetupMMEPage* MME;
    TSetupASIOPage* ASIO;
    TSetupFilterPage* Filter;
    TSetupReSampling1Page* ReSampling1;
    TSetupReSampling2Page* ReSampling2;
    TSetupMeasurePage* Measure;
};

} // namespace marlix
