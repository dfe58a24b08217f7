#pragma once
#include "dsp/fft.h"

namespace marlix {

class TFlexBuf;

// Spectrum helpers: one channel of `count` values into `block`.
void MagnitudeSingle(const Complex* z, TFlexBuf& block, int count);
void MagnitudeDouble(const Complex* z, TFlexBuf& block, int count);
void PhaseSteps(const Complex* z, TFlexBuf& block, int count);

// Magnitude-to-FIR generators; the block's first channel is read as doubles and
// replaced by the taps (one channel of code 65).
void LinearPhaseFIR(TFlexBuf& block);
void DesignFIR(TFlexBuf& block, double rate);
void LowPassFIR(TFlexBuf& block, int order, double gain, double cutoff);

} // namespace marlix
