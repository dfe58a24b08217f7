#pragma once
#include "settings/eqcurve.h"

#include <array>
#include <string>
#include <vector>

namespace marlix {

class TIniFile;
class TFIRFilter;
class TFlexBuf;

// The three EQ curves, index c + 1 for curve c = -1 (master), 0, 1.
using TEQCurves = std::array<TEQ, 3>;

// Master curve plus channel c's curve (c = 0, 1; other channels get the master alone), dB.
double CurvesEQ(const TEQCurves& curves, int channel, double freq);
// Channel c's linear-phase FIR for input rate `rate` with `taps` coefficients, into `block`.
void DesignEQTaps(const TEQCurves& curves, int channel, int rate, int taps, TFlexBuf& block);

// The EQ curves (master -1, channels 0 and 1), the correction parameters per channel and
// the measured responses the correction is derived from.
class TSettingEQ {
public:
    TEQ& Curve(int c) { return Curves[static_cast<size_t>(c + 1)]; }
    const TEQ& Curve(int c) const { return Curves[static_cast<size_t>(c + 1)]; }

    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    // Master curve plus channel c's curve (c = 0, 1; other channels get the master alone), dB.
    double GetEQ(int channel, double freq) const;
    // Designs the linear-phase FIR of every channel of `filter` for input rate `rate`
    // with `taps` ("EQFilterTaps") coefficients, and installs it.
    void DesignEQ(TFIRFilter& filter, int rate, int taps) const;
    // The correction curve in dB; 0 without a measurement or with the correction off.
    double GetRevise(int channel, double freq) const;

    // Stores a measured impulse response (length a power of two) and its smoothed
    // magnitude. Other lengths leave the channel without a measurement.
    void SetMeasurement(int channel, const double* samples, int rate, int length);
    // Reads "ir" + channel + ".wav" from the program folder; a missing file clears.
    void LoadMeasurement(int channel);
    void LoadMeasurements();
    // Forgets a present measurement and deletes its "ir" and "ir_c" files.
    void ClearMeasurement(int channel);

    // Where the measurement files live; empty means the program folder.
    std::string Folder;

    TEQCurves Curves;

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

private:
    void ForgetMeasurement(int channel);
    std::string MeasureFile(const char* prefix, int channel) const;
};

} // namespace marlix
