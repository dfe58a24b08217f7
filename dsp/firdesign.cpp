#include "dsp/firdesign.h"

#include "dsp/firfilter.h"
#include "base/flexbuf.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace marlix {

void MagnitudeSingle(const Complex* z, TFlexBuf& block, int count)
{
    block.SetBuf(nullptr, 1, 33, count);
    float* out = static_cast<float*>(block.Data[0]);
    for (int i = 0; i < count; ++i) {
        const double s = z[i].real() * z[i].real() + z[i].imag() * z[i].imag();
        out[i] = s > 0 ? static_cast<float>(std::sqrt(s)) : 0.0f;
    }
}

void MagnitudeDouble(const Complex* z, TFlexBuf& block, int count)
{
    block.SetBuf(nullptr, 1, 65, count);
    double* out = static_cast<double*>(block.Data[0]);
    for (int i = 0; i < count; ++i) {
        if (std::isnan(z[i].real()) || std::isnan(z[i].imag()))
            out[i] = 0;
        else
            out[i] = std::sqrt(z[i].real() * z[i].real() + z[i].imag() * z[i].imag());
    }
}

void PhaseSteps(const Complex* z, TFlexBuf& block, int count)
{
    block.SetBuf(nullptr, 1, 65, count);
    double* out = static_cast<double*>(block.Data[0]);
    auto arg = [](const Complex& c) {
        return (std::isnan(c.real()) || std::isnan(c.imag())) ? 0.0 : std::atan2(c.imag(), c.real());
    };
    double previous = count > 0 ? arg(z[0]) : 0;
    for (int k = 0; k < count; ++k) {
        const double a = arg(z[k]);
        double step = k == 0 ? 0 : a - previous;
        if (step > std::numbers::pi)
            step -= 2 * std::numbers::pi;
        else if (step < -std::numbers::pi)
            step += 2 * std::numbers::pi;
        out[k] = step;
        previous = a;
    }
}

namespace {

// Fills a mirrored spectrum of size L from K values, inverts it and keeps the
// real parts of elements 1 … L − 1 as the block's taps.
template <class BinFn>
void SpectrumToTaps(TFlexBuf& block, int k, BinFn bin)
{
    int l = 2 * k - 2;
    NextPow2(l);
    std::vector<Complex> s(static_cast<size_t>(l) + 1);
    for (int i = 0; i < k; ++i) {
        s[i] = bin(i, l);
        s[l - i] = std::conj(s[i]);
    }
    TFFTTables tables;
    FFTInit(l, tables);
    FFTInverse(s.data(), l, tables);
    FFTFree(tables);
    block.SetBuf(nullptr, 1, 65, l - 1);
    double* taps = static_cast<double*>(block.Data[0]);
    for (int i = 1; i < l; ++i)
        taps[i - 1] = s[i].real();
}

} // namespace

void LinearPhaseFIR(TFlexBuf& block)
{
    const int k = block.GetLength();
    std::vector<double> m(static_cast<const double*>(block.GetData(65)[0]),
                          static_cast<const double*>(block.GetData(65)[0]) + k);
    SpectrumToTaps(block, k, [&](int i, int) { return Complex(i % 2 ? -m[i] : m[i], 0); });
}

void DesignFIR(TFlexBuf& block, double rate)
{
    const int k = block.GetLength();
    void** data = block.GetData(65);
    const double* mag = static_cast<const double*>(data[0]);
    const double* delay = block.GetChannels() > 1 ? static_cast<const double*>(data[1]) : nullptr;
    std::vector<double> m(mag, mag + k), d(k, 0.0);
    if (delay)
        d.assign(delay, delay + k);
    double phi = 0;
    SpectrumToTaps(block, k, [&](int i, int l) {
        if (i > 0)
            phi += std::numbers::pi + 2 * std::numbers::pi * rate * d[i - 1] / l;
        return std::polar(1.0, phi) * m[i];
    });
}

void LowPassFIR(TFlexBuf& block, int order, double gain, double cutoff)
{
    const int k = (1 << (order - 1)) + 1;
    block.SetBuf(nullptr, 1, 65, k);
    double* m = static_cast<double*>(block.Data[0]);
    for (int i = 0; i < k; ++i)
        m[i] = static_cast<double>(i) / (k - 1) < cutoff ? gain : 0.0;
    LinearPhaseFIR(block);
}

void InterpolationTaps(TFlexBuf& block, int iTaps, int window, int inRate, int outRate, int factor)
{
    int size = iTaps;
    const int order = NextPow2(size);
    const double cutoff = outRate > inRate ? 1.0 / factor : static_cast<double>(outRate) / (static_cast<double>(inRate) * factor);
    LowPassFIR(block, order, factor, cutoff);
    block.Window(window);
}

std::unique_ptr<TFIRFilter> CreateInterpolationFilter(int channels, int iTaps, int window, int inRate, int outRate,
                                                      int factor, double bufferSeconds)
{
    const double upRate = static_cast<double>(inRate) * factor;
    auto filter = std::make_unique<TFIRFilter>(channels, false, iTaps / upRate > 0.1,
                                               static_cast<int>(std::lround(upRate * bufferSeconds)), iTaps);
    TFlexBuf taps;
    InterpolationTaps(taps, iTaps, window, inRate, outRate, factor);
    const std::vector<TFlexBuf*> every(static_cast<size_t>(channels), &taps);
    filter->SetTaps(every);
    filter->SetStuffing(factor);
    return filter;
}

} // namespace marlix
