#pragma once
#include <cstdint>
#include <vector>

namespace marlix {

class TSettingMeasure;

// The period length actually used: "MeasureLen" rounded up to a power of two, kept
// within the lengths the setup offers (8192 … 65536) so the transforms stay valid.
int ValidMeasureLen(int length);
// Peak amplitude of the test signal: 2^(dB/6), with dB limited to −96 … 0.
double MeasureAmplitude(int dB);

// Replace `block` (the magnitude spectrum, N/2 + 1 bins) by N time samples whose peak
// magnitude is `amplitude`. Noise draws a fresh random phase per bin from `seed`'s
// generator; TSP uses the quadratic phase of a linear sweep.
void MakeNoiseSignal(std::vector<double>& block, double amplitude, uint32_t seed);
void MakeTSPSignal(std::vector<double>& block, double amplitude);
// Fills `block` with N samples of the maximum-length sequence whose register suits N,
// scaled to −amplitude … +amplitude (the first sample is −amplitude).
void MakeMLSSignal(std::vector<double>& block, int n, double amplitude);

// One period of the configured test signal (method, slope, amplitude, length).
std::vector<double> BuildMeasureSignal(const TSettingMeasure& setting, uint32_t seed);

} // namespace marlix
