#include "dsp/packedspectrum.h"

#include <algorithm>
#include <immintrin.h>

namespace marlix {
namespace {

// Bins lo and hi = 2n − lo of the packed product, from Z[lo] = zl and Z[hi] = zh:
// A = Zl + conj Zh and B = −i (Zl − conj Zh) are twice the two channels' spectra;
// out[lo] = (A·sa + i B·sb) / 2 and out[hi] = conj(A·sa − i B·sb) / 2.
inline void PackedBin(Complex zl, Complex zh, Complex* outLo, Complex* outHi, Complex sa, const Complex* sb)
{
    const double zr = zl.real(), zi = zl.imag(), mr = zh.real(), mi = zh.imag();
    double ar = zr + mr, ai = zi - mi;
    const double tar = ar * sa.real() - ai * sa.imag();
    ai = ar * sa.imag() + ai * sa.real();
    ar = tar;
    double br = 0, bi = 0;
    if (sb) {
        const double ur = zi + mi, ui = mr - zr;
        br = ur * sb->real() - ui * sb->imag();
        bi = ur * sb->imag() + ui * sb->real();
    }
    *outHi = Complex(0.5 * (ar + bi), 0.5 * (br - ai));
    *outLo = Complex(0.5 * (ar - bi), 0.5 * (ai + br));
}

// `count` bins j: Z[lo + j] = srcLo[j], Z[hi − j] = srcHi[−j], written to outLo[j] and outHi[−j].
using TRunKernel = void (*)(const Complex* srcLo, const Complex* srcHi, Complex* outLo, Complex* outHi,
                            const Complex* sa, const Complex* sb, int count);

void RunScalar(const Complex* srcLo, const Complex* srcHi, Complex* outLo, Complex* outHi, const Complex* sa,
               const Complex* sb, int count)
{
    for (int j = 0; j < count; ++j)
        PackedBin(srcLo[j], srcHi[-j], outLo + j, outHi - j, sa[j], sb ? sb + j : nullptr);
}

// (xr + i xi)(sr + i si) for two complex values per register.
__attribute__((target("avx2,fma"))) inline __m256d Mul(__m256d x, __m256d s)
{
    const __m256d sr = _mm256_movedup_pd(s);
    const __m256d si = _mm256_permute_pd(s, 0xF);
    const __m256d swapped = _mm256_permute_pd(x, 0x5);
    return _mm256_fmaddsub_pd(x, sr, _mm256_mul_pd(swapped, si));
}

// Two bins per step: the high side is loaded one bin lower and its halves swapped.
__attribute__((target("avx2,fma"))) void RunAvx2(const Complex* srcLo, const Complex* srcHi, Complex* outLo,
                                                  Complex* outHi, const Complex* sa, const Complex* sb, int count)
{
    const double* lo = reinterpret_cast<const double*>(srcLo);
    const double* hi = reinterpret_cast<const double*>(srcHi);
    const double* pa = reinterpret_cast<const double*>(sa);
    const double* pb = reinterpret_cast<const double*>(sb);
    double* ol = reinterpret_cast<double*>(outLo);
    double* oh = reinterpret_cast<double*>(outHi);
    const __m256d conj = _mm256_set_pd(-0.0, 0.0, -0.0, 0.0);
    const __m256d half = _mm256_set1_pd(0.5);
    int j = 0;
    for (; j + 2 <= count; j += 2) {
        const __m256d zl = _mm256_loadu_pd(lo + 2 * j);
        const __m256d zhRaw = _mm256_loadu_pd(hi - 2 * j - 2);
        const __m256d zhConj = _mm256_xor_pd(_mm256_permute2f128_pd(zhRaw, zhRaw, 1), conj);
        const __m256d pA = Mul(_mm256_add_pd(zl, zhConj), _mm256_loadu_pd(pa + 2 * j));
        __m256d iPb = _mm256_setzero_pd();
        if (pb) {
            // −i(Zl − conj Zh) · sb, then times i: (Zl − conj Zh) · sb.
            iPb = Mul(_mm256_sub_pd(zl, zhConj), _mm256_loadu_pd(pb + 2 * j));
        }
        const __m256d lower = _mm256_mul_pd(half, _mm256_add_pd(pA, iPb));
        const __m256d upper = _mm256_xor_pd(_mm256_mul_pd(half, _mm256_sub_pd(pA, iPb)), conj);
        _mm256_storeu_pd(ol + 2 * j, lower);
        _mm256_storeu_pd(oh - 2 * j - 2, _mm256_permute2f128_pd(upper, upper, 1));
    }
    RunScalar(srcLo + j, srcHi - j, outLo + j, outHi - j, sa + j, sb ? sb + j : nullptr, count - j);
}

// Elements from..n − 1 of the lane moves, one at a time.
void InterleaveScalar(const double* a, const double* b, double* z, int n, int from)
{
    for (int i = from; i < n; ++i) {
        z[2 * i] = a ? a[i] : 0.0;
        z[2 * i + 1] = b ? b[i] : 0.0;
    }
}

void InterleavePlain(const double* a, const double* b, double* z, int n)
{
    InterleaveScalar(a, b, z, n, 0);
}

void SumSplitScalar(const double* tail, const double* head, double* a, double* b, int n, int from)
{
    for (int i = from; i < n; ++i) {
        if (a)
            a[i] = tail[2 * i] + head[2 * i];
        if (b)
            b[i] = tail[2 * i + 1] + head[2 * i + 1];
    }
}

void SumSplitPlain(const double* tail, const double* head, double* a, double* b, int n)
{
    SumSplitScalar(tail, head, a, b, n, 0);
}

void SplitScalar(const double* z, double* a, double* b, int n, int from)
{
    for (int i = from; i < n; ++i) {
        if (a)
            a[i] = z[2 * i];
        if (b)
            b[i] = z[2 * i + 1];
    }
}

void SplitPlain(const double* z, double* a, double* b, int n)
{
    SplitScalar(z, a, b, n, 0);
}

__attribute__((target("avx2"))) void SplitAvx2(const double* z, double* a, double* b, int n)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d z0 = _mm256_loadu_pd(z + 2 * i), z1 = _mm256_loadu_pd(z + 2 * i + 4);
        if (a)
            _mm256_storeu_pd(a + i, _mm256_permute4x64_pd(_mm256_unpacklo_pd(z0, z1), 0xD8));
        if (b)
            _mm256_storeu_pd(b + i, _mm256_permute4x64_pd(_mm256_unpackhi_pd(z0, z1), 0xD8));
    }
    SplitScalar(z, a, b, n, i);
}

// Four values per step: r0 r1 r2 r3 and i0 i1 i2 i3 to r0 i0 r1 i1 | r2 i2 r3 i3.
__attribute__((target("avx2"))) void InterleaveAvx2(const double* a, const double* b, double* z, int n)
{
    const __m256d zero = _mm256_setzero_pd();
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d x = a ? _mm256_permute4x64_pd(_mm256_loadu_pd(a + i), 0xD8) : zero;
        const __m256d y = b ? _mm256_permute4x64_pd(_mm256_loadu_pd(b + i), 0xD8) : zero;
        _mm256_storeu_pd(z + 2 * i, _mm256_unpacklo_pd(x, y));
        _mm256_storeu_pd(z + 2 * i + 4, _mm256_unpackhi_pd(x, y));
    }
    InterleaveScalar(a, b, z, n, i);
}

// The sums of two complex loads, split into real and imaginary halves.
__attribute__((target("avx2"))) void SumSplitAvx2(const double* tail, const double* head, double* a, double* b, int n)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d s0 = _mm256_add_pd(_mm256_loadu_pd(tail + 2 * i), _mm256_loadu_pd(head + 2 * i));
        const __m256d s1 = _mm256_add_pd(_mm256_loadu_pd(tail + 2 * i + 4), _mm256_loadu_pd(head + 2 * i + 4));
        // unpack gives r0 r2 r1 r3; the permute puts them in order.
        if (a)
            _mm256_storeu_pd(a + i, _mm256_permute4x64_pd(_mm256_unpacklo_pd(s0, s1), 0xD8));
        if (b)
            _mm256_storeu_pd(b + i, _mm256_permute4x64_pd(_mm256_unpackhi_pd(s0, s1), 0xD8));
    }
    SumSplitScalar(tail, head, a, b, n, i);
}

using TInterleaveKernel = void (*)(const double* a, const double* b, double* z, int n);
using TSumSplitKernel = void (*)(const double* tail, const double* head, double* a, double* b, int n);
using TSplitKernel = void (*)(const double* z, double* a, double* b, int n);

bool HasAvx2Fma()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

const TRunKernel gRun = HasAvx2Fma() ? RunAvx2 : RunScalar;
const TInterleaveKernel gInterleave = HasAvx2Fma() ? InterleaveAvx2 : InterleavePlain;
const TSumSplitKernel gSumSplit = HasAvx2Fma() ? SumSplitAvx2 : SumSplitPlain;
const TSplitKernel gSplit = HasAvx2Fma() ? SplitAvx2 : SplitPlain;

} // namespace

void MultiplyPacked(const Complex* zs, int mask, Complex* out, int n, const Complex* sa, const Complex* sb)
{
    const int m = 2 * n, period = mask + 1;
    // Bin c of every period reads Z[0] on both sides; the bins between run as a pair of
    // mirrored ranges that never overlap, so zs may be out.
    for (int c = 0; c < n; c += period) {
        PackedBin(zs[0], zs[0], out + c, out + m - c, sa[c], sb ? sb + c : nullptr);
        const int count = std::min(period, n - c) - 1;
        gRun(zs + 1, zs + period - 1, out + c + 1, out + m - c - 1, sa + c + 1, sb ? sb + c + 1 : nullptr, count);
    }
    const Complex zn = zs[n & mask];
    PackedBin(zn, zn, out + n, out + n, sa[n], sb ? sb + n : nullptr);
}

void InterleavePair(const double* a, const double* b, Complex* z, int n)
{
    gInterleave(a, b, reinterpret_cast<double*>(z), n);
}

void SumAndSplit(const Complex* tail, const Complex* head, double* a, double* b, int n)
{
    gSumSplit(reinterpret_cast<const double*>(tail), reinterpret_cast<const double*>(head), a, b, n);
}

void SplitPair(const Complex* z, double* a, double* b, int n)
{
    gSplit(reinterpret_cast<const double*>(z), a, b, n);
}

} // namespace marlix
