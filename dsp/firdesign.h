#pragma once
#include "dsp/fft.h"

#include <memory>

namespace marlix {

class TFlexBuf;
class TFIRFilter;

// Spectrum helpers: one channel of `count` values into `block`.
void MagnitudeSingle(const Complex* z, TFlexBuf& block, int count);
void MagnitudeDouble(const Complex* z, TFlexBuf& block, int count);
void PhaseSteps(const Complex* z, TFlexBuf& block, int count);

// Magnitude-to-FIR generators; the block's first channel is read as doubles and
// replaced by the taps (one channel of code 65).
void LinearPhaseFIR(TFlexBuf& block);
void DesignFIR(TFlexBuf& block, double rate);
void LowPassFIR(TFlexBuf& block, int order, double gain, double cutoff);

// The up-sampler's low-pass for an integer factor r: gain r (for the r − 1 zeros
// stuffed after each sample), cut-off at the lower of the input and output Nyquist
// frequencies, shaped by the window numbered `window` ("IWindow").
void InterpolationTaps(TFlexBuf& block, int iTaps, int window, int inRate, int outRate, int factor);

// The up-sampler's filter with those taps on every channel, told that its input is
// zero-stuffed by `factor`; its transforms move to a worker thread when the filter spans
// more than 100 ms at the up-sampled rate.
std::unique_ptr<TFIRFilter> CreateInterpolationFilter(int channels, int iTaps, int window, int inRate, int outRate,
                                                      int factor, double bufferSeconds);

} // namespace marlix
