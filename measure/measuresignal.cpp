#include "measure/measuresignal.h"

#include "dsp/fft.h"
#include "settings/setting.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace marlix {
namespace {

// Turns bins 0 … M-1 with the given phases into a real period of L = 2M - 2 samples
// (a power of two) and scales it to the peak amplitude.
template <class Phase> void SpectrumToSignal(std::vector<double>& block, double amplitude, Phase phase)
{
    const int m = static_cast<int>(block.size());
    int l = std::max(2 * m - 2, 2);
    NextPow2(l);
    std::vector<Complex> x(static_cast<size_t>(l) + 1);
    for (int i = 0; i < m && i <= l; ++i) {
        x[static_cast<size_t>(i)] = std::polar(block[static_cast<size_t>(i)], phase(i));
        x[static_cast<size_t>(l - i)] = std::conj(x[static_cast<size_t>(i)]);
    }
    TFFTTables tables;
    FFTInit(l, tables);
    FFTInverse(x.data(), l, tables);
    FFTFree(tables);
    double peak = 0;
    for (int k = 0; k < l; ++k)
        peak = std::max(peak, std::abs(x[static_cast<size_t>(k)].real()));
    const double scale = peak > 0 ? amplitude / peak : 0;
    block.resize(static_cast<size_t>(l));
    for (int k = 0; k < l; ++k)
        block[static_cast<size_t>(k)] = x[static_cast<size_t>(k)].real() * scale;
}

struct TMLSRegister {
    int Bits;
    std::array<int, 4> Taps;
    int TapCount;
};

TMLSRegister RegisterFor(int n)
{
    if (n == 8191 || n == 8192)
        return {13, {12, 3, 2, 0}, 4};
    if (n == 16383 || n == 16384)
        return {14, {13, 9, 5, 0}, 4};
    if (n == 32767 || n == 32768)
        return {15, {14, 0, 0, 0}, 2};
    return {16, {15, 8, 3, 2}, 4};
}

} // namespace

int ValidMeasureLen(int length)
{
    int n = std::clamp(length, 8192, 65536);
    NextPow2(n);
    return n;
}

double MeasureAmplitude(int dB)
{
    return std::exp2(std::clamp(dB, -96, 0) / 6.0);
}

void MakeNoiseSignal(std::vector<double>& block, double amplitude, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> phases(block.size());
    for (double& p : phases)
        p = 2 * std::numbers::pi * u(rng);
    SpectrumToSignal(block, amplitude, [&](int i) { return phases[static_cast<size_t>(i)]; });
}

void MakeTSPSignal(std::vector<double>& block, double amplitude)
{
    const double m = static_cast<double>(block.size());
    SpectrumToSignal(block, amplitude, [m](int i) { return -std::numbers::pi * i * (i + 1.0) / m; });
}

void MakeMLSSignal(std::vector<double>& block, int n, double amplitude)
{
    const TMLSRegister r = RegisterFor(n);
    const int centre = 1 << (r.Bits - 1);
    uint32_t q = 1; // bit k is q[k]
    block.assign(static_cast<size_t>(std::max(n, 0)), 0.0);
    for (double& sample : block) {
        const int v = static_cast<int>(q & ((1u << r.Bits) - 1));
        sample = amplitude * (v - centre) / (centre - 1.0);
        uint32_t feedback = 0;
        for (int t = 0; t < r.TapCount; ++t)
            feedback ^= (q >> r.Taps[static_cast<size_t>(t)]) & 1u;
        q = ((q << 1) | feedback) & ((1u << r.Bits) - 1);
    }
}

std::vector<double> BuildMeasureSignal(const TSettingMeasure& setting, uint32_t seed)
{
    const int n = ValidMeasureLen(setting.MeasureLen);
    const int m = n / 2 + 1;
    const int slope = setting.MeasureMethod == 0 ? setting.MeasureSlope : 0;
    std::vector<double> block(static_cast<size_t>(m), 1.0);
    for (int i = 1; i < m; ++i)
        block[static_cast<size_t>(i)] = slope == -6 ? 1.0 / i : slope == -3 ? 1.0 / std::sqrt(i) : 1.0;
    const double a = MeasureAmplitude(setting.MeasureAmplitude);
    if (setting.MeasureMethod == 1)
        MakeTSPSignal(block, a);
    else if (setting.MeasureMethod == 2)
        MakeMLSSignal(block, n, a);
    else
        MakeNoiseSignal(block, a, seed);
    return block;
}

} // namespace marlix
