#pragma once
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

namespace marlix {

using Complex = std::complex<double>;

// Tables of the built-in radix-2 transform for one size. With the external
// library loaded they stay empty: the library keeps its own plans.
struct TFFTTables {
    int Size = 0;
    std::vector<Complex> W;       // n + 1 twiddles, W[t] = (cos 2πt/n, −sin 2πt/n)
    std::vector<int32_t> BitRev;  // j with its log2 n low bits reversed
    std::vector<Complex> Scratch; // the stages alternate between the buffer and this
    std::vector<Complex> StageW;  // W regrouped per stage, so each stage reads it in order
};

// Replaces n by the smallest power of two ≥ n (2 when n ≤ 2) and returns its log2.
int NextPow2(int& n);

void FFTInit(int n, TFFTTables& tables);
void FFTFree(TFFTTables& tables);

// In place, size n (a power of two), on n elements; forward unscaled, inverse scaled by 1/n.
void FFTForward(Complex* buffer, int n, TFFTTables& tables);
void FFTInverse(Complex* buffer, int n, TFFTTables& tables);
// The inverse without the 1/n factor, for callers that fold it into their own
// coefficients (a power-of-two factor, so the results are the same).
void FFTInverseUnscaled(Complex* buffer, int n, TFFTTables& tables);

// The optional external transform ("nsp.so" in the program folder). Loading
// returns false and keeps the built-in transform when the file is absent or unusable.
[[nodiscard]] bool LoadFFTLibrary(const std::string& path);
void UnloadFFTLibrary();
bool FFTLibraryLoaded();

// Tables of the real transforms for one size n. With the external library they run a
// complex transform of size n/2 on the samples taken in pairs, plus a pass with the
// twiddles e^(−2πik/n). The built-in transform rounds every butterfly's difference to single
// precision, so a different split would change its results by far more than rounding (and
// with them the decisions that depend on them); it runs the complex transform of size n.
struct TRealFFTTables {
    int Size = 0;
    TFFTTables Half;              // size n/2, external library without a real transform
    TFFTTables Full;              // size n, built-in transform
    std::vector<Complex> Twiddle; // n/4 + 1 values e^(−2πik/n), as Half
    std::vector<Complex> Work;    // n/2 + 1 (external library) or n (built-in)
};

// n is a power of two, at least 2.
void RealFFTInit(int n, TRealFFTTables& tables);
void RealFFTFree(TRealFFTTables& tables);
// n real samples to bins 0 … n/2 of their forward transform (as FFTForward gives them).
void RealFFTForward(const double* in, Complex* bins, int n, TRealFFTTables& tables);
// Bins 0 … n/2 of a Hermitian spectrum to its n real samples, scaled by 1/n like
// FFTInverse. The imaginary parts of bins 0 and n/2 do not reach a real result and are ignored.
void RealFFTInverse(const Complex* bins, double* out, int n, TRealFFTTables& tables);

// Separates two real signals packed as real and imaginary parts of a spectrum Z
// of size n into bins 0 … n/2 of A and B (twice their spectra); B may be null.
void SplitPair(const Complex* z, int n, Complex* a, Complex* b);

} // namespace marlix
