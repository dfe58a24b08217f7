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

// z[i] = a[i] + i·b[i] for i < n; a null lane loads zeros.
void InterleavePair(const double* a, const double* b, Complex* z, int n);

// a[i] = Re(tail[i] + head[i]) and b[i] = Im(tail[i] + head[i]) for i < n; a null lane is skipped.
void SumAndSplit(const Complex* tail, const Complex* head, double* a, double* b, int n);

// a[i] = Re z[i] and b[i] = Im z[i] for i < n; a null lane is skipped.
void SplitPair(const Complex* z, double* a, double* b, int n);

} // namespace marlix
