#pragma once
#include <QString>
#include <QWidget>
#include <vector>

class QCheckBox;
class QComboBox;
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

// The setup page "リサンプリング(1)": up-sampling, integer multiples, the fixed output
// rate among the allowed ones, and the table of what every source rate becomes.
class TSetupReSampling1Page : public QWidget {
public:
    TSetupReSampling1Page();
    // `allowed` are the ticked output rates the fixed rate is chosen from.
    void Load(const TSettings& s, const std::vector<int>& allowed);
    void Save(TSettings& s) const;

    // The allowed rates changed: the fixed-rate list is rebuilt, keeping the chosen rate
    // where it is still allowed, else the fixed rate is switched off.
    void AllowedRatesChanged(const std::vector<int>& allowed);
    // Recomputes the table; skipped while a target in use is no number.
    void UpdateResamplingTable();

private:
    void RebuildFixFreqList(const std::vector<int>& allowed);
    TResamplingChoice CurrentChoice(bool* valid) const;

    QCheckBox* Ch_UpSampling;
    QComboBox* Co_UpFreq;
    QCheckBox* Ch_Rational;
    QCheckBox* Ch_FixFreq;
    QComboBox* Co_FixFreq;
    QTableWidget* SG_Table;
    bool Updating = false;
};

} // namespace marlix
