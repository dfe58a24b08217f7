#pragma once
#include <QDialog>
#include <QString>
#include <array>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QKeySequenceEdit;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTableWidget;

namespace marlix {

class TSettings;

// The resampling choices the overview table is computed from.
struct TResamplingChoice {
    std::vector<int> Allowed; // the ticked rates, in the rate table's order
    bool UpSampling = false;
    int UpFreq = 96000;
    bool Rational = true;
    bool FixFreq = false;
    int FixFreqValue = 48000;
};

// One row: internal rate ("アップサンプリング"), band limit and output rate, "←" where
// nothing changes.
struct TResamplingRow {
    int Source = 0;
    QString Up, Band, Out;
};
std::vector<TResamplingRow> ResamplingTable(const TResamplingChoice& choice);

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
    void Bu_ClearHistoryClick();
    void Bu_ASIOControlPanelClick();
    void Bu_PlotFilterClick();

private:
    QWidget* MakeOperationPage();
    QWidget* MakeViewPage();
    QWidget* MakeFunctionPage();
    QWidget* MakeOutputPage();
    QWidget* MakeMMEPage();
    QWidget* MakeASIOPage();
    QWidget* MakeFilterPage();
    QWidget* MakeReSampling1Page();
    QWidget* MakeReSampling2Page();
    QWidget* MakeMeasurePage();

    void LoadControls();
    void SaveControls();
    void FillASIOLists();
    void FreqListChange();
    void RebuildFixFreqList();
    void UpdateResamplingTable();
    TResamplingChoice CurrentChoice(bool* valid) const;

    TSettings& Config;
    std::string Folder;
    std::string EditedDriver;
    bool Updating = false;

    QTabWidget* PC_Setup;
    // 操作
    QCheckBox* Ch_ClickRoot;
    QComboBox* Co_BrowserType;
    QCheckBox* Ch_SkipSubFolder;
    QLineEdit* Ed_BrowseExts;
    QCheckBox* Ch_JukeBoxMode;
    QCheckBox* Ch_MouseScroll;
    QCheckBox* Ch_PlayAtOpen;
    std::vector<QKeySequenceEdit*> HK_ShortCut; // in the page's order
    QCheckBox* Ch_CheckNew;
    // 表示
    QSpinBox* Ed_FontSize;
    QCheckBox* Ch_AlphaBlend;
    QSlider* TB_AlphaBlend;
    QCheckBox* Ch_SmoothScroll;
    QLineEdit* Ed_WallPaper;
    // 機能
    QCheckBox* Ch_Download;
    QCheckBox* Ch_DownloadTonkaraOnly;
    QLineEdit* Ed_DownloadPath;
    QLineEdit* Ed_BGMPlaylist;
    QSpinBox* Ed_BGMVolume;
    QCheckBox* Ch_SaveHistory;
    QCheckBox* Ch_SavePlaylist;
    // オーディオ出力
    QComboBox* Co_DriverType;
    QListWidget* CL_Freq;
    // 標準ドライバ
    QComboBox* Co_MMEDevice0;
    QComboBox* Co_BufferSize;
    QSpinBox* Ed_BufferNum;
    // ASIOドライバ
    QComboBox* Co_ASIODriver;
    QComboBox* Co_ASIODevice0;
    QComboBox* Co_ASIOChAssign0;
    QComboBox* Co_ASIOInDevice0;
    bool ChAssignReset = false;
    // フィルタ
    QComboBox* Co_EQTaps;
    QComboBox* Co_Bufms;
    QComboBox* Co_HSCMode;
    // リサンプリング(1)
    QCheckBox* Ch_UpSampling;
    QComboBox* Co_UpFreq;
    QCheckBox* Ch_Rational;
    QCheckBox* Ch_FixFreq;
    QComboBox* Co_FixFreq;
    QTableWidget* SG_Table;
    // リサンプリング(2) and its hidden controls
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
    // 音響特性の測定
    QComboBox* Co_MeasureFreq;
    QComboBox* Co_MeasureMethod;
    QComboBox* Co_MeasureAmplitude;
    QComboBox* Co_MeasureLen;
    QComboBox* Co_MeasureSlope;
    QSpinBox* Ed_MeasureAddNum;
};

} // namespace marlix
