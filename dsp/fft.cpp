#include "dsp/fft.h"

#include "base/dynlib.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <utility>

namespace marlix {
namespace {

using ExternalFft = void (*)(Complex* buffer, int order, int flag);
using ExternalPrepare = void (*)(int order);
using ExternalRealFft = void (*)(double* samples, Complex* bins, int order, int flag);

struct ExternalLibrary {
    TDynLib Library;
    ExternalFft Fft = nullptr;
    ExternalPrepare Prepare = nullptr; // present in our own library, which also takes flag 3
    // Our own library also transforms real samples directly; other libraries get the
    // half-size complex transform with a twiddle pass.
    ExternalRealFft RealFft = nullptr;
    ExternalPrepare RealPrepare = nullptr;
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

// The stages of the built-in forward transform. Returns the buffer holding their result
// (`buffer` or the scratch), bin j at position BitRev[j].
const Complex* RunStages(Complex* buffer, int n, TFFTTables& t)
{
    const int p = Log2(n);
    Complex* bufs[2] = {buffer, t.Scratch.data()};
    for (int s = 0; s < p; ++s)
        Stage(bufs[s & 1], bufs[(s + 1) & 1], n, s, t.StageW.data() + (n - (n >> s)));
    return bufs[p & 1];
}

void BuiltinForward(Complex* buffer, int n, TFFTTables& t)
{
    const Complex* last = RunStages(buffer, n, t);
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
    if (lib.Resolve("nspdRealFft", gLibrary.RealFft))
        lib.Resolve("nspdRealFftPrepare", gLibrary.RealPrepare);
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
    if (!gLibrary.Fft) {
        FFTInit(n, t.Full);
        t.Work.assign(n, Complex());
        return;
    }
    t.Work.assign(static_cast<size_t>(m) + 1, Complex());
    if (gLibrary.RealFft) {
        if (gLibrary.RealPrepare)
            gLibrary.RealPrepare(Log2(n));
        return;
    }
    FFTInit(m, t.Half);
    t.Twiddle.resize(static_cast<size_t>(n / 4) + 1);
    for (int k = 0; k <= n / 4; ++k) {
        const double a = 2 * std::numbers::pi * k / n;
        t.Twiddle[k] = Complex(std::cos(a), -std::sin(a));
    }
}

void RealFFTFree(TRealFFTTables& t)
{
    FFTFree(t.Half);
    FFTFree(t.Full);
    t = TRealFFTTables();
}

// The built-in paths run the steps of FFTForward and FFTInverse, with the same arithmetic,
// but reorder only the bins or real parts they return.
void RealFFTForward(const double* in, Complex* bins, int n, TRealFFTTables& t)
{
    const int m = n / 2;
    if (!gLibrary.Fft) {
        for (int k = 0; k < n; ++k)
            t.Work[k] = Complex(in[k], 0.0);
        const Complex* last = RunStages(t.Work.data(), n, t.Full);
        for (int k = 0; k <= m; ++k)
            bins[k] = last[t.Full.BitRev[k]];
        return;
    }
    if (gLibrary.RealFft) {
        // Out of place, the transform leaves its input as it is.
        gLibrary.RealFft(const_cast<double*>(in), bins, Log2(n), 1);
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
        // The conjugate of the full spectrum, whose forward transform is n times the
        // conjugate of the inverse; its real parts are what is wanted.
        for (int k = 0; k <= m; ++k)
            t.Work[k] = std::conj(bins[k]);
        for (int k = 1; k < m; ++k)
            t.Work[n - k] = bins[k];
        const Complex* last = RunStages(t.Work.data(), n, t.Full);
        const double scale = 1.0 / n;
        for (int k = 0; k < n; ++k)
            out[k] = last[t.Full.BitRev[k]].real() * scale;
        return;
    }
    if (gLibrary.RealFft) {
        std::copy(bins, bins + m + 1, t.Work.begin()); // the transform works in its input
        gLibrary.RealFft(out, t.Work.data(), Log2(n), 2);
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
