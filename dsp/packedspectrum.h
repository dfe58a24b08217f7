#pragma once
#include "dsp/fft.h"

namespace marlix {

// The per-bin work of fast convolution with two real channels packed into one complex
// transform. Each picks the widest instructions the CPU offers when first called.

// Z is the spectrum of the packed pair, read as Z[k & mask] (periodic when mask < 2n − 1).
// Splits it into the two channels' spectra, multiplies them by `sa` and `sb` (bins 0 … n;
// `sb` null for a lone channel) and writes the spectrum of the packed products to out[0 … 2n].
// zs may be out itself (mask 2n − 1).
void MultiplyPacked(const Complex* zs, int mask, Complex* out, int n, const Complex* sa, const Complex* sb);

// One pass over a transformed pair z (2n values) that also loads the next block:
// a[i] += Re z[i], b[i] += Im z[i], aNext[i] = Re z[n + i], bNext[i] = Im z[n + i], then
// z[i] = inA[i] + i·inB[i] and z[n + i] = 0, for i < n. b, bNext and inB may be null
// (a lone channel: the imaginary parts are dropped, and loaded as zeros).
void OverlapAddAndLoad(Complex* z, int n, double* a, double* aNext, double* b, double* bNext, const double* inA,
                       const double* inB);

} // namespace marlix
