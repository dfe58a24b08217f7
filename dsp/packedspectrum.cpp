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

using TOverlapKernel = void (*)(double* z, int n, double* a, double* aNext, double* b, double* bNext,
                                const double* inA, const double* inB);

// Elements from..n − 1 (scalar tail of the vector version, or all of them).
void OverlapScalar(double* z, int n, double* a, double* aNext, double* b, double* bNext, const double* inA,
                   const double* inB, int from)
{
    double* tail = z + 2 * n;
    for (int i = from; i < n; ++i) {
        a[i] += z[2 * i];
        aNext[i] = tail[2 * i];
        if (b) {
            b[i] += z[2 * i + 1];
            bNext[i] = tail[2 * i + 1];
        }
        z[2 * i] = inA[i];
        z[2 * i + 1] = inB ? inB[i] : 0.0;
        tail[2 * i] = tail[2 * i + 1] = 0.0;
    }
}

void OverlapPlain(double* z, int n, double* a, double* aNext, double* b, double* bNext, const double* inA,
                  const double* inB)
{
    OverlapScalar(z, n, a, aNext, b, bNext, inA, inB, 0);
}

// Four values per step: two complex loads split into real and imaginary halves, and back.
__attribute__((target("avx2"))) void OverlapAvx2(double* z, int n, double* a, double* aNext, double* b,
                                                 double* bNext, const double* inA, const double* inB)
{
    double* tail = z + 2 * n;
    const __m256d zero = _mm256_setzero_pd();
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d z0 = _mm256_loadu_pd(z + 2 * i), z1 = _mm256_loadu_pd(z + 2 * i + 4);
        const __m256d t0 = _mm256_loadu_pd(tail + 2 * i), t1 = _mm256_loadu_pd(tail + 2 * i + 4);
        // unpack gives r0 r2 r1 r3; the permute puts them in order.
        const __m256d re = _mm256_permute4x64_pd(_mm256_unpacklo_pd(z0, z1), 0xD8);
        const __m256d tre = _mm256_permute4x64_pd(_mm256_unpacklo_pd(t0, t1), 0xD8);
        _mm256_storeu_pd(a + i, _mm256_add_pd(_mm256_loadu_pd(a + i), re));
        _mm256_storeu_pd(aNext + i, tre);
        if (b) {
            const __m256d im = _mm256_permute4x64_pd(_mm256_unpackhi_pd(z0, z1), 0xD8);
            const __m256d tim = _mm256_permute4x64_pd(_mm256_unpackhi_pd(t0, t1), 0xD8);
            _mm256_storeu_pd(b + i, _mm256_add_pd(_mm256_loadu_pd(b + i), im));
            _mm256_storeu_pd(bNext + i, tim);
        }
        // r0 r1 r2 r3 and i0 i1 i2 i3 back to r0 i0 r1 i1 | r2 i2 r3 i3.
        const __m256d x = _mm256_permute4x64_pd(_mm256_loadu_pd(inA + i), 0xD8);
        const __m256d y = inB ? _mm256_permute4x64_pd(_mm256_loadu_pd(inB + i), 0xD8) : zero;
        _mm256_storeu_pd(z + 2 * i, _mm256_unpacklo_pd(x, y));
        _mm256_storeu_pd(z + 2 * i + 4, _mm256_unpackhi_pd(x, y));
        _mm256_storeu_pd(tail + 2 * i, zero);
        _mm256_storeu_pd(tail + 2 * i + 4, zero);
    }
    OverlapScalar(z, n, a, aNext, b, bNext, inA, inB, i);
}

bool HasAvx2Fma()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

const TRunKernel gRun = HasAvx2Fma() ? RunAvx2 : RunScalar;
const TOverlapKernel gOverlap = HasAvx2Fma() ? OverlapAvx2 : OverlapPlain;

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

void OverlapAddAndLoad(Complex* z, int n, double* a, double* aNext, double* b, double* bNext, const double* inA,
                       const double* inB)
{
    gOverlap(reinterpret_cast<double*>(z), n, a, aNext, b, bNext, inA, inB);
}

} // namespace marlix
