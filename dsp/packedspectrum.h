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

// Overlap-add of a transformed pair z (2n values): a[i] += Re z[i], b[i] += Im z[i] and
// aNext[i] = Re z[n + i], bNext[i] = Im z[n + i] for i < n; b and bNext may be null.
void SplitOverlapAdd(const Complex* z, int n, double* a, double* aNext, double* b, double* bNext);

// z[i] = a[i] + i·b[i] for i < n; b null gives zero imaginary parts.
void PackPair(const double* a, const double* b, int n, Complex* z);

} // namespace marlix
