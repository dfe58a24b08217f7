#pragma once
#include "settings/eqcurve.h"

#include <array>
#include <string>
#include <vector>

namespace marlix {

class TIniFile;

// The EQ curves (master -1, channels 0 and 1), the correction parameters per channel and
// the measured responses the correction is derived from.
class TSettingEQ {
public:
    TEQ& Curve(int c) { return Curves[static_cast<size_t>(c + 1)]; }
    const TEQ& Curve(int c) const { return Curves[static_cast<size_t>(c + 1)]; }

    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    std::array<TEQ, 3> Curves; // index c + 1 for curve c = -1, 0, 1

    std::array<double, 2> fSmoothness{0, 0};
    std::array<double, 2> fSmoothness2{1, 1};
    std::array<double, 2> fPercentage{1, 1};
    std::array<double, 2> fHiFreq{10000, 10000};
    std::array<double, 2> fLoFreq{160, 160};
    std::array<bool, 2> bReviseON{true, true};
    std::array<bool, 2> bRevisePON{true, true};
    std::array<double, 2> fPeakDipWeighting{1, 1};

    // Measurements (not in the INI file).
    std::array<bool, 2> MeasurePresent{false, false};
    std::array<std::vector<double>, 2> MeasureIR;
    std::array<int, 2> MeasureRate{48000, 48000};
    std::array<int, 2> MeasureLength{32768, 32768};
    std::array<std::vector<double>, 2> Magnitude;
    std::array<std::vector<double>, 2> Delay;
};

} // namespace marlix
