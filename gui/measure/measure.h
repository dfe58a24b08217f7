#pragma once
#include "measure/measuresession.h"

#include <QDialog>
#include <QElapsedTimer>
#include <string>

class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTabWidget;
class QTimer;

namespace marlix {

class TSettings;
class TFo_Plot;

// The measurement wizard: four pages that guide the user from setting levels to
// measuring each speaker and carrying the results over. The measurement itself lives in
// the session; the window shows it, and its 50 ms timer drives it.
class TFo_Measure : public QDialog {
public:
    // `check`: measure through the current correction (caption "音響特性補正結果の測定").
    TFo_Measure(TSettings& settings, const std::string& programFolder, bool check, QWidget* parent = nullptr);
    ~TFo_Measure() override;

    TMeasureSession& Session() { return Measure; }
    // Shows page `stage` (1 … 4) as the page control would.
    void ShowStage(int stage);
    // The last plot window opened (tests look at it).
    TFo_Plot* LastPlot() const { return Plot; }
    void Ti_CheckTimer();

protected:
    void showEvent(QShowEvent* e) override;
    void done(int result) override;

private:
    QWidget* MakePage(const QStringList& lines, QPushButton* extra, QPushButton* extra2 = nullptr);
    QWidget* MakeTable();
    void PCChange(int index);
    void Bu_NextClick();
    void Bu_BackClick();
    void SGSelectCell(int row);
    void Bu_PlotClick();
    void Bu_SaveResultClick();
    void Bu_ApplyToMasterClick();
    void RefreshTable();
    void SetCell(int row, int column, const QString& text);
    TFo_Plot* OpenPlot(const std::vector<double>& block, int rangeIndex, const QString& caption);
    int64_t Now() const { return Clock.elapsed(); }

    TSettings& Config;
    TMeasureSession Measure;
    QElapsedTimer Clock;
    bool Shown = false;
    QTabWidget* PC;
    QTableWidget* SG;
    QLabel* La_InLevel;
    QRadioButton* RB_Manual;
    QRadioButton* RB_Auto;
    QPushButton* Bu_Back;
    QPushButton* Bu_Next;
    QPushButton* Bu_Cancel;
    QPushButton* Bu_Plot;
    QPushButton* Bu_SaveResult;
    QPushButton* Bu_ApplyToMaster;
    QTimer* Ti_Check;
    TFo_Plot* Plot = nullptr;
};

} // namespace marlix
