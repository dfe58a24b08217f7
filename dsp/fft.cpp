#include "dsp/fft.h"

#include "base/dynlib.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>
#include <numbers>

namespace marlix {
namespace {

using ExternalFft = void (*)(Complex* buffer, int order, int flag);
using ExternalPrepare = void (*)(int order);

struct ExternalLibrary {
    TDynLib Library;
    ExternalFft Fft = nullptr;
    ExternalPrepare Prepare = nullptr; // present in our own library, which also takes flag 3
};

// Written once at start-up, before any transform runs.
ExternalLibrary gLibrary;

int Log2(int n)
{
    int p = 0;
    while (n > 1) {
        n /= 2;
        ++p;
    }
    return p;
}

// (a + bi)(c + di) written out: std::complex's operator* adds NaN recovery calls.
inline void Mul(double a, double b, const Complex& w, double& re, double& im)
{
    re = a * w.real() - b * w.imag();
    im = a * w.imag() + b * w.real();
}

inline void Butterfly(const double* in, double* out, int i, int k, const Complex& w)
{
    const double ar = in[i], ai = in[i + 1], br = in[k], bi = in[k + 1];
    out[i] = ar + br;
    out[i + 1] = ai + bi;
    const double dr = static_cast<float>(ar - br);
    const double di = static_cast<float>(ai - bi);
    Mul(dr, di, w, out[k], out[k + 1]);
}

// One decimation-in-frequency stage from `x` into `y`, with the stage's twiddles
// W[f·2^s] laid out one after another. The difference of each butterfly is rounded
// to single precision before the twiddle multiply.
void Stage(const Complex* x, Complex* y, int n, int s, const Complex* w)
{
    const int half = n >> (s + 1);
    const int groups = 1 << s;
    const double* in = reinterpret_cast<const double*>(x);
    double* out = reinterpret_cast<double*>(y);
    if (half >= 8) {
        for (int d = 0; d < groups; ++d) {
            const int base = 4 * half * d;
            for (int f = 0; f < half; ++f)
                Butterfly(in, out, base + 2 * f, base + 2 * (f + half), w[f]);
        }
        return;
    }
    // Short groups: one twiddle at a time across all groups.
    for (int f = 0; f < half; ++f)
        for (int d = 0; d < groups; ++d) {
            const int i = 4 * half * d + 2 * f;
            Butterfly(in, out, i, i + 2 * half, w[f]);
        }
}

// The last log2(size) stages of the size-n transform in `t`, from stage `first` on, run on
// one group of `size` elements. Returns the buffer holding the result (`buffer` or the
// scratch), element j of the transform at position BitRev[j] >> (log2 n − log2 size):
// reversing log2 n bits puts j's reversed bits above zeros. first = 0 and size = n is the
// whole transform.
const Complex* RunStages(Complex* buffer, int size, int first, int n, TFFTTables& t)
{
    const int q = Log2(size);
    Complex* bufs[2] = {buffer, t.Scratch.data()};
    for (int s = 0; s < q; ++s)
        Stage(bufs[s & 1], bufs[(s + 1) & 1], size, s, t.StageW.data() + (n - (n >> (first + s))));
    return bufs[q & 1];
}

void BuiltinForward(Complex* buffer, int n, TFFTTables& t)
{
    const Complex* last = RunStages(buffer, n, 0, n, t);
    if (last == buffer) {
        for (int j = 0; j < n; ++j) {
            const int r = t.BitRev[j];
            if (r > j)
                std::swap(buffer[j], buffer[r]);
        }
    } else {
        for (int j = 0; j < n; ++j)
            buffer[j] = last[t.BitRev[j]];
    }
}

// The built-in transform of a real frame x (destroyed). Each stage's sums x[i] + x[i + h]
// stay real and carry the even bins to the next level; its differences, rounded and turned
// by the twiddles as Butterfly does, are transformed by the remaining stages into the
// odd bins. Level L holds bins that are multiples of 2^L.
void BuiltinRealForward(double* x, int n, Complex* bins, Complex* odd, TFFTTables& t)
{
    int level = 0;
    for (int m = n; m > 1; m /= 2, ++level) {
        const int h = m / 2;
        const Complex* w = t.StageW.data() + (n - (n >> level));
        for (int i = 0; i < h; ++i) {
            const double a = x[i], b = x[i + h];
            x[i] = a + b;
            const double d = static_cast<float>(a - b);
            double re, im;
            Mul(d, 0.0, w[i], re, im);
            odd[i] = Complex(re, im);
        }
        const Complex* y = RunStages(odd, h, level + 1, n, t);
        const int stride = 1 << level, shift = level + 1;
        for (int k = 0; 2 * k + 1 <= h; ++k)
            bins[stride * (2 * k + 1)] = y[t.BitRev[k] >> shift];
    }
    bins[0] = Complex(x[0], 0.0);
}

// Butterfly on two complex values: the sum, and the difference rounded and turned by w.
inline void TurnedButterfly(Complex a, Complex b, const Complex& w, Complex& sum, Complex& turned)
{
    sum = Complex(a.real() + b.real(), a.imag() + b.imag());
    const double dr = static_cast<float>(a.real() - b.real());
    const double di = static_cast<float>(a.imag() - b.imag());
    double re, im;
    Mul(dr, di, w, re, im);
    turned = Complex(re, im);
}

// FFTInverse's built-in path for a Hermitian spectrum given as bins 0 … n/2, real parts only.
// It negates the imaginary parts and runs the forward stages; the first stage reads the upper
// half of that conjugated spectrum, conj(Z[n/2 + i]) = Z[n/2 − i], straight from the bins.
void BuiltinRealInverse(const Complex* bins, double* out, int n, Complex* s, Complex* odd, TFFTTables& t)
{
    const double scale = 1.0 / n;
    const int h = n / 2;
    for (int i = 0; i < h; ++i) {
        const Complex a = std::conj(bins[i]);
        const Complex b = i == 0 ? std::conj(bins[h]) : bins[h - i];
        TurnedButterfly(a, b, t.StageW[i], s[i], odd[i]);
    }
    int level = 0;
    for (int m = n; m > 1; m /= 2, ++level) {
        if (level > 0) {
            const Complex* w = t.StageW.data() + (n - (n >> level));
            for (int i = 0; i < m / 2; ++i)
                TurnedButterfly(s[i], s[i + m / 2], w[i], s[i], odd[i]);
        }
        const Complex* y = RunStages(odd, m / 2, level + 1, n, t);
        const int stride = 1 << level, shift = level + 1;
        for (int k = 0; k < m / 2; ++k)
            out[stride * (2 * k + 1)] = y[t.BitRev[k] >> shift].real() * scale;
    }
    out[0] = s[0].real() * scale;
}

// Bins 0 … n/2 of n real samples from the complex transform Z (size m = n/2, element m free)
// of the samples taken in pairs: with E and O the spectra of the even and odd samples,
// E = (Z[k] + conj Z[m − k]) / 2, O = (Z[k] − conj Z[m − k]) / 2i and X[k] = E + W^k O,
// X[m − k] = conj(E − W^k O). In place.
void SplitReal(Complex* z, int m, const Complex* twiddle)
{
    const Complex z0 = z[0];
    z[0] = Complex(z0.real() + z0.imag(), 0.0);
    z[m] = Complex(z0.real() - z0.imag(), 0.0);
    for (int k = 1; 2 * k <= m; ++k) {
        const Complex a = z[k], b = std::conj(z[m - k]);
        const Complex e = 0.5 * (a + b);
        const Complex d = 0.5 * (a - b); // i·O
        double re, im;
        Mul(d.imag(), -d.real(), twiddle[k], re, im); // W^k O
        z[k] = Complex(e.real() + re, e.imag() + im);
        z[m - k] = Complex(e.real() - re, im - e.imag());
    }
}

// The inverse of SplitReal: the packed spectrum Z, times 2/n so that the unscaled inverse
// transform of size m gives the samples scaled by 1/n.
void JoinReal(const Complex* x, int m, const Complex* twiddle, Complex* z)
{
    const double scale = 1.0 / (2 * m);
    const double x0 = x[0].real(), xm = x[m].real();
    z[0] = Complex((x0 + xm) * scale, (x0 - xm) * scale);
    for (int k = 1; 2 * k <= m; ++k) {
        const Complex a = x[k], b = std::conj(x[m - k]);
        const Complex e = a + b;
        double re, im;
        Mul((a - b).real(), (a - b).imag(), std::conj(twiddle[k]), re, im); // 2·O
        // Z[k] = (E + iO), Z[m − k] = conj(E) + i conj(O), both times 2/n.
        z[k] = Complex((e.real() - im) * scale, (e.imag() + re) * scale);
        z[m - k] = Complex((e.real() + im) * scale, (re - e.imag()) * scale);
    }
}

} // namespace

int NextPow2(int& n)
{
    int m = 2, p = 1;
    while (m < n) {
        m *= 2;
        ++p;
    }
    n = m;
    return p;
}

void FFTInit(int n, TFFTTables& t)
{
    t.Size = n;
    if (gLibrary.Fft) {
        if (gLibrary.Prepare)
            gLibrary.Prepare(Log2(n));
        return;
    }
    const int p = Log2(n);
    t.W.resize(static_cast<size_t>(n) + 1);
    for (int i = 0; i <= n; ++i) {
        const double a = 2 * std::numbers::pi * i / n;
        const double b = 2 * std::numbers::pi * std::fmod(i + n / 4.0, n) / n;
        t.W[i] = Complex(std::cos(a), std::cos(b));
    }
    t.BitRev.resize(n);
    for (int j = 0; j < n; ++j) {
        int r = 0;
        for (int b = 0; b < p; ++b)
            r |= ((j >> b) & 1) << (p - 1 - b);
        t.BitRev[j] = r;
    }
    t.Scratch.assign(n, Complex());
    // Stage s uses W[f·2^s] for f < n / 2^(s+1): stored per stage, contiguous.
    t.StageW.clear();
    for (int st = 0; st < p; ++st)
        for (int f = 0; f < (n >> (st + 1)); ++f)
            t.StageW.push_back(t.W[static_cast<size_t>(f) << st]);
}

void FFTFree(TFFTTables& t)
{
    if (gLibrary.Fft)
        return;
    t = TFFTTables();
}

void FFTForward(Complex* buffer, int n, TFFTTables& t)
{
    if (gLibrary.Fft)
        gLibrary.Fft(buffer, Log2(n), 1);
    else
        BuiltinForward(buffer, n, t);
}

void FFTInverse(Complex* buffer, int n, TFFTTables& t)
{
    if (gLibrary.Fft) {
        gLibrary.Fft(buffer, Log2(n), 2);
        return;
    }
    double* v = reinterpret_cast<double*>(buffer);
    for (int i = 0; i < n; ++i)
        v[2 * i + 1] = -v[2 * i + 1];
    BuiltinForward(buffer, n, t);
    const double scale = 1.0 / n;
    for (int i = 0; i < n; ++i) {
        v[2 * i] *= scale;
        v[2 * i + 1] *= -scale;
    }
}

void FFTInverseUnscaled(Complex* buffer, int n, TFFTTables& t)
{
    if (gLibrary.Fft) {
        if (gLibrary.Prepare) {
            gLibrary.Fft(buffer, Log2(n), 3);
            return;
        }
        gLibrary.Fft(buffer, Log2(n), 2);
        double* v = reinterpret_cast<double*>(buffer);
        for (int i = 0; i < 2 * n; ++i)
            v[i] *= n;
        return;
    }
    double* v = reinterpret_cast<double*>(buffer);
    for (int i = 0; i < n; ++i)
        v[2 * i + 1] = -v[2 * i + 1];
    BuiltinForward(buffer, n, t);
    for (int i = 0; i < n; ++i)
        v[2 * i + 1] = -v[2 * i + 1];
}

bool LoadFFTLibrary(const std::string& path)
{
    UnloadFFTLibrary();
    TDynLib lib(path);
    ExternalFft fft = nullptr;
    if (!lib.Resolve("nspzFft", fft))
        return false;
    lib.Resolve("nspzFftPrepare", gLibrary.Prepare);
    gLibrary.Fft = fft;
    gLibrary.Library = std::move(lib);
    return true;
}

void UnloadFFTLibrary()
{
    gLibrary = ExternalLibrary();
}

bool FFTLibraryLoaded() { return gLibrary.Fft != nullptr; }

void RealFFTInit(int n, TRealFFTTables& t)
{
    const int m = n / 2;
    t.Size = n;
    t.Twiddle.resize(static_cast<size_t>(n / 4) + 1);
    for (int k = 0; k <= n / 4; ++k) {
        const double a = 2 * std::numbers::pi * k / n;
        t.Twiddle[k] = Complex(std::cos(a), -std::sin(a));
    }
    t.Work.assign(static_cast<size_t>(m) + 1, Complex());
    if (gLibrary.Fft) {
        FFTInit(m, t.Half);
        return;
    }
    FFTInit(n, t.Full);
    t.Odd.assign(m, Complex());
    t.Real.assign(n, 0.0);
}

void RealFFTFree(TRealFFTTables& t)
{
    FFTFree(t.Half);
    FFTFree(t.Full);
    t = TRealFFTTables();
}

void RealFFTForward(const double* in, Complex* bins, int n, TRealFFTTables& t)
{
    const int m = n / 2;
    if (!gLibrary.Fft) {
        std::copy(in, in + n, t.Real.data());
        BuiltinRealForward(t.Real.data(), n, bins, t.Odd.data(), t.Full);
        return;
    }
    for (int k = 0; k < m; ++k)
        bins[k] = Complex(in[2 * k], in[2 * k + 1]);
    FFTForward(bins, m, t.Half);
    SplitReal(bins, m, t.Twiddle.data());
}

void RealFFTInverse(const Complex* bins, double* out, int n, TRealFFTTables& t)
{
    const int m = n / 2;
    if (!gLibrary.Fft) {
        BuiltinRealInverse(bins, out, n, t.Work.data(), t.Odd.data(), t.Full);
        return;
    }
    JoinReal(bins, m, t.Twiddle.data(), t.Work.data());
    FFTInverseUnscaled(t.Work.data(), m, t.Half);
    for (int k = 0; k < m; ++k) {
        out[2 * k] = t.Work[k].real();
        out[2 * k + 1] = t.Work[k].imag();
    }
}

void SplitPair(const Complex* z, int n, Complex* a, Complex* b)
{
    for (int k = 0; k <= n / 2; ++k) {
        const Complex& zk = z[k];
        const Complex& zm = z[(n - k) % n];
        a[k] = Complex(zk.real() + zm.real(), zk.imag() - zm.imag());
        if (b)
            b[k] = Complex(zk.imag() + zm.imag(), zm.real() - zk.real());
    }
}

} // namespace marlix
