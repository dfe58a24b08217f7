#include "dsp/himanager.h"

#include <algorithm>
#include <bit>
#include <immintrin.h>
#include <cmath>
#include <cstring>
#include <numbers>

namespace marlix {
// Loops built twice, for x86-64-v3 and the baseline, chosen when the program loads. The
// choice runs before ThreadSanitizer's runtime is up, so that build keeps the baseline.
#if defined(__SANITIZE_THREAD__)
#define MARLIX_WIDE_CLONES
#else
#define MARLIX_WIDE_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#endif

namespace {

constexpr float kSilence = -192;
// Samples beyond this are treated as garbage by the analysis (the dry path keeps them).
constexpr double kAnalysisLimit = 1e9;
constexpr int kSubBins = 8;
// Rows of the mode C prediction parts: q = ⌊i/(j + 2)⌋ stays below 128 for the 256 bins of
// a 512-point frame, and row j starts at j × kSubStride.
constexpr int kSubStride = 129;

// v rounded to the nearest integer (ties to even), kept within lo … hi; NaN gives lo.
int RoundClamped(double v, int lo, int hi)
{
    if (!(v >= lo))
        return lo;
    if (v >= hi)
        return hi;
    return static_cast<int>(std::nearbyint(v));
}

double Bin(double hz, double rate, int n) { return hz / rate * n; }

int RoundBin(double hz, double rate, int n) { return RoundClamped(Bin(hz, rate, n), 0, 1 << 20); }

float Decayed(float hold, float rate) { return static_cast<float>(hold - 6.0 * 48000.0 / rate); }

struct TSums {
    double Power, Re, Im;
};

// x·x, x·wRe and x·wIm in one pass, each as four partial sums (element k feeds sum
// k mod 4) added pairwise at the end. count is a multiple of 4. The AVX version holds
// the four partial sums in one register and rounds every step alike.
TSums SumsScalar(const double* x, const float* wRe, const float* wIm, int count)
{
    double p[4] = {}, r[4] = {}, m[4] = {};
    for (int k = 0; k < count; k += 4) {
        for (int l = 0; l < 4; ++l) {
            const double v = x[k + l];
            p[l] += v * v;
            r[l] += v * wRe[k + l];
            m[l] += v * wIm[k + l];
        }
    }
    return {(p[0] + p[1]) + (p[2] + p[3]), (r[0] + r[1]) + (r[2] + r[3]), (m[0] + m[1]) + (m[2] + m[3])};
}

__attribute__((target("avx2"))) double PairwiseTotal(__m256d v)
{
    alignas(32) double l[4];
    _mm256_store_pd(l, v);
    return (l[0] + l[1]) + (l[2] + l[3]);
}

__attribute__((target("avx2"))) TSums SumsAvx2(const double* x, const float* wRe, const float* wIm, int count)
{
    __m256d p = _mm256_setzero_pd(), r = p, m = p;
    for (int k = 0; k < count; k += 4) {
        const __m256d v = _mm256_loadu_pd(x + k);
        p = _mm256_add_pd(p, _mm256_mul_pd(v, v));
        r = _mm256_add_pd(r, _mm256_mul_pd(v, _mm256_cvtps_pd(_mm_loadu_ps(wRe + k))));
        m = _mm256_add_pd(m, _mm256_mul_pd(v, _mm256_cvtps_pd(_mm_loadu_ps(wIm + k))));
    }
    return {PairwiseTotal(p), PairwiseTotal(r), PairwiseTotal(m)};
}

// w += g·x, rounded to single precision element by element. count is a multiple of 4.
void StepScalar(float* wRe, float* wIm, const double* x, double gRe, double gIm, int count)
{
    for (int k = 0; k < count; ++k) {
        wRe[k] = static_cast<float>(wRe[k] + gRe * x[k]);
        wIm[k] = static_cast<float>(wIm[k] + gIm * x[k]);
    }
}

__attribute__((target("avx2"))) void StepAvx2(float* wRe, float* wIm, const double* x, double gRe, double gIm,
                                               int count)
{
    const __m256d gr = _mm256_set1_pd(gRe), gi = _mm256_set1_pd(gIm);
    for (int k = 0; k < count; k += 4) {
        const __m256d v = _mm256_loadu_pd(x + k);
        const __m256d re = _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(wRe + k)), _mm256_mul_pd(gr, v));
        const __m256d im = _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(wIm + k)), _mm256_mul_pd(gi, v));
        _mm_storeu_ps(wRe + k, _mm256_cvtpd_ps(re));
        _mm_storeu_ps(wIm + k, _mm256_cvtpd_ps(im));
    }
}

// Mode C's shared prediction parts: for q in [from, to), the six weights w applied to the
// features of the split indexed spectrum (re, im at q + 1, then q, then q + 2), with the
// real weights wRe as the real part of out[q] and the imaginary weights wIm as its imaginary part.
double SubSum(const double* re, const double* im, const double* w, int q)
{
    return ((re[q + 1] * w[0] + im[q + 1] * w[1]) + (re[q] * w[2] + im[q] * w[3])) +
           (re[q + 2] * w[4] + im[q + 2] * w[5]);
}

void SubSumsScalar(const double* re, const double* im, const double* wRe, const double* wIm, int from, int to,
                   Complex* out)
{
    for (int q = from; q < to; ++q)
        out[q] = Complex(SubSum(re, im, wRe, q), SubSum(re, im, wIm, q));
}

__attribute__((target("avx2"))) __m256d SubSums4(const double* re, const double* im, const __m256d* c, int q)
{
    const __m256d centre = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(re + q + 1), c[0]),
                                         _mm256_mul_pd(_mm256_loadu_pd(im + q + 1), c[1]));
    const __m256d below =
        _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(re + q), c[2]), _mm256_mul_pd(_mm256_loadu_pd(im + q), c[3]));
    const __m256d above = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(re + q + 2), c[4]),
                                        _mm256_mul_pd(_mm256_loadu_pd(im + q + 2), c[5]));
    return _mm256_add_pd(_mm256_add_pd(centre, below), above);
}

// Four q at a time, each lane rounded as SubSum rounds; the last group may run up to three
// q past `to` (reading re and im up to index to + 4 and writing out up to to + 2).
__attribute__((target("avx2"))) void SubSumsAvx2(const double* re, const double* im, const double* wRe,
                                                  const double* wIm, int from, int to, Complex* out)
{
    __m256d cRe[6], cIm[6];
    for (int t = 0; t < 6; ++t) {
        cRe[t] = _mm256_set1_pd(wRe[t]);
        cIm[t] = _mm256_set1_pd(wIm[t]);
    }
    for (int q = from; q < to; q += 4) {
        const __m256d r = SubSums4(re, im, cRe, q), m = SubSums4(re, im, cIm, q);
        const __m256d lo = _mm256_unpacklo_pd(r, m), hi = _mm256_unpackhi_pd(r, m); // q, q + 2 | q + 1, q + 3
        double* o = reinterpret_cast<double*>(out + q);
        _mm256_storeu_pd(o, _mm256_permute2f128_pd(lo, hi, 0x20));
        _mm256_storeu_pd(o + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
    }
}

struct TKernels {
    TSums (*Sums)(const double*, const float*, const float*, int);
    void (*Step)(float*, float*, const double*, double, double, int);
    void (*SubSums)(const double*, const double*, const double*, const double*, int, int, Complex*);
};

TKernels PickKernels()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return {SumsAvx2, StepAvx2, SubSumsAvx2};
    return {SumsScalar, StepScalar, SubSumsScalar};
}

const TKernels gKernels = PickKernels();

TSums Sums(const double* x, const float* wRe, const float* wIm, int count)
{
    return gKernels.Sums(x, wRe, wIm, count);
}

Complex Predict(const double* x, const float* wRe, const float* wIm, int count)
{
    const TSums s = Sums(x, wRe, wIm, count);
    return Complex(s.Re, s.Im);
}

// The analysis frame: samples, NaN as 0 and kept within ±kAnalysisLimit, times the window.
MARLIX_WIDE_CLONES
void WindowedFrame(const double* in, const double* window, int n, double* out)
{
    for (int i = 0; i < n; ++i) {
        double x = in[i];
        x = x != x ? 0.0 : x;
        x = x < -kAnalysisLimit ? -kAnalysisLimit : (x > kAnalysisLimit ? kAnalysisLimit : x);
        out[i] = x * window[i];
    }
}

// |z[k]| in single precision for k < count.
MARLIX_WIDE_CLONES
void Magnitudes(const Complex* z, int count, float* mag)
{
    const double* v = reinterpret_cast<const double*>(z);
    for (int k = 0; k < count; ++k) {
        const double re = v[2 * k], im = v[2 * k + 1];
        mag[k] = static_cast<float>(std::sqrt(re * re + im * im));
    }
}

// v[k] /= d[k] for k in [from, to).
MARLIX_WIDE_CLONES
void DivideParts(double* v, const double* d, int from, int to)
{
    for (int k = from; k < to; ++k)
        v[k] /= d[k];
}

// A magnitude in the system's decibels, 6 × log2, with −192 below 2^−32.
float LogLevel(float m) { return m >= std::ldexp(1.0f, -32) ? 6.0f * std::log2(m) : kSilence; }

// v[k] × d[k] into out[k], k < count.
MARLIX_WIDE_CLONES
void ScaleParts(const double* v, const double* d, int count, double* out)
{
    for (int k = 0; k < count; ++k)
        out[k] = d[k] * v[k];
}

// The real and imaginary parts of z[k] × d[2k], k < count, into re and im.
MARLIX_WIDE_CLONES
void ScaleSplit(const Complex* z, const double* d, int count, double* re, double* im)
{
    const double* v = reinterpret_cast<const double*>(z);
    for (int k = 0; k < count; ++k) {
        re[k] = d[2 * k] * v[2 * k];
        im[k] = d[2 * k] * v[2 * k + 1];
    }
}

// |z| in single precision, as Magnitudes computes it.
float Magnitude(const Complex& z)
{
    const double re = z.real(), im = z.imag();
    return static_cast<float>(std::sqrt(re * re + im * im));
}

// out = tail + the windowed first half of the synthesis v; nextTail = dry (or
// zeros when dry is null) + its second half, whose first sample is windowed too.
MARLIX_WIDE_CLONES
void OverlapAdd(const double* v, const double* window, const double* tail, const double* dry, int half,
                double* out, double* nextTail)
{
    for (int j = 0; j < half; ++j)
        out[j] = tail[j] + v[j] * window[j];
    nextTail[0] = (dry ? dry[0] : 0.0) + v[half] * window[half];
    if (dry) {
        for (int j = 1; j < half; ++j)
            nextTail[j] = dry[j] + v[half + j];
    } else {
        for (int j = 1; j < half; ++j)
            nextTail[j] = 0.0 + v[half + j];
    }
}

// Every histogram entry × 0.995; entries below 10^−7 become 0.
MARLIX_WIDE_CLONES
void DecayHits(float* hits, int count)
{
    for (int k = 0; k < count; ++k) {
        const float h = hits[k] * 0.995f;
        hits[k] = h < 1e-7f ? 0.0f : h;
    }
}

// The cut-off bin of the histogram detector. loud: whether any of bins 0 … n/2 − 1 lies
// above −96 dB. level(k) gives S[k]; it is asked once for each bin the walk visits.
template <class Level>
int HistogramCutoff(Level level, int n, float rate, float* hits, bool loud)
{
    const int half = n / 2;
    DecayHits(hits, half);
    int a = 0;
    if (loud) {
        const int top = std::min(RoundBin(30000, rate, n), half - 1);
        const int low = RoundBin(11000, rate, n);
        // Thresholds −72 + 6j rise with j, so the marked ones are always the lowest `marked`.
        int marked = 0;
        float best = 0;
        for (int i = top; i >= low && i >= 0; --i) {
            const float s = level(i);
            while (marked < 16 && s > static_cast<float>(-72 + 6 * marked)) {
                ++marked;
                hits[i] += 1;
            }
            if (hits[i] > best && i < top) {
                best = hits[i];
                a = i;
            }
            if (marked == 16)
                break;
        }
    }
    if (a > 0 && a < Bin(12000, rate, n))
        a = half - 1;
    return a;
}

} // namespace

THiManager::THiManager(int mode, double rate)
    : Mode(mode > 4 ? 4 : (mode < 1 ? 3 : mode)),
      Rate(rate >= 1 && rate <= 1e7 ? static_cast<float>(rate) : 44100.0f)
{
    const int n = FrameSize;
    const int half = n / 2;
    InBuf.assign(n, 0);
    OutBuf.assign(half, 0);
    Tail.assign(half, 0);
    Hits.assign(half, 0);
    Synth.assign(half + 1, Complex());
    Frame.assign(n, 0.0);
    Fft.assign(half + 1, Complex());
    Mag.assign(half + 1, 0);
    LogSpec.assign(half + 1, kSilence);
    Indexed.assign(half + 2, Complex());
    IndexedRe.assign(half + 2, 0.0);
    IndexedIm.assign(half + 2, 0.0);
    // Room for the wide kernel to run past the last row's end.
    SubParts.assign(static_cast<size_t>(kSubBins) * kSubStride + 4, Complex());
    Window.resize(n);
    const double period = n - 2;
    for (int i = 0; i < n; ++i)
        Window[i] = 0.5 + 0.5 * std::cos((i - period / 2) * 2 * std::numbers::pi / period);
    SubBins.resize(static_cast<size_t>(half) * kSubBins);
    SubOffsets.assign(half, 0);
    for (int i = 0; i < half; ++i) {
        for (int j = 0; j < kSubBins; ++j) {
            SubBins[i * kSubBins + j] = i / (j + 2);
            SubOffsets[i] |= static_cast<uint64_t>(2 * (i / (j + 2))) << (8 * j);
        }
    }
    BinPairs.resize(2 * static_cast<size_t>(half));
    for (int k = 0; k < 2 * half; ++k)
        BinPairs[k] = k / 2;
    RealFFTInit(n, Tables);
    Reset();
}

void THiManager::Seed(uint32_t seed)
{
    SeedValue = seed;
    Random.seed(seed);
}

void THiManager::Reset()
{
    const int half = FrameSize / 2;
    std::fill(InBuf.begin(), InBuf.end(), 0.0);
    std::fill(OutBuf.begin(), OutBuf.end(), 0.0);
    std::fill(Tail.begin(), Tail.end(), 0.0);
    std::fill(Hits.begin(), Hits.end(), 0.0f);
    std::fill(Synth.begin(), Synth.end(), Complex());
    WeightsRe.fill(0);
    WeightsIm.fill(0);
    InPos = half;
    OutPos = 0;
    CutoffAvg = static_cast<float>(half);
    LevelHold = kSilence;
    LastCutoff = 0;
    LastLevel = kSilence;
    Random.seed(SeedValue);
}

void THiManager::Process(double* samples, int count, bool wetOnly)
{
    if (!samples)
        return;
    const int n = FrameSize;
    // InPos runs N/2 ahead of OutPos: each sample goes in before the one due out replaces it.
    while (count > 0) {
        const int take = std::min(count, n - InPos);
        std::copy(samples, samples + take, InBuf.data() + InPos);
        std::copy(OutBuf.data() + OutPos, OutBuf.data() + OutPos + take, samples);
        InPos += take;
        OutPos += take;
        samples += take;
        count -= take;
        if (InPos >= n) {
            FrameStep(wetOnly);
            InPos = n / 2;
            OutPos = 0;
        }
    }
}

void THiManager::FrameStep(bool wetOnly)
{
    const int n = FrameSize;
    Analyse();
    const THiDetection d = Mode <= 2 ? DetectDrop(LogSpec.data(), n, Rate, CutoffAvg, LevelHold)
                                     : DetectFromMagnitudes();
    // The drop detector has applied the hold already; doing it again changes nothing.
    LevelHold = std::max(d.Level, Decayed(LevelHold, Rate));
    float level = LevelHold;
    int a = d.Cutoff;
    if (a > 0) {
        a = std::max(a, RoundBin(Mode == 1 ? 16000 : 14000, Rate, n));
        level = static_cast<float>(level - 6.0 * d.Reference / a);
    }
    switch (Mode) {
    case 1: SynthesiseA(a, level); break;
    case 2: SynthesiseB(a, level); break;
    case 3: SynthesiseC(a, level); break;
    default: SynthesiseD(a, level); break;
    }
    Synth[n / 2] = 0;
    LastCutoff = a;
    LastLevel = level;
    Resynthesise(wetOnly);
}

void THiManager::Analyse()
{
    const int n = FrameSize;
    WindowedFrame(InBuf.data(), Window.data(), n, Frame.data());
    RealFFTForward(Frame.data(), Fft.data(), n, Tables);
    // Modes A and B read every bin; the histogram detector's own step fills what it reads.
    if (Mode <= 2) {
        Magnitudes(Fft.data(), n / 2 + 1, Mag.data());
        for (int k = 0; k <= n / 2; ++k)
            LogSpec[k] = LogLevel(Mag[k]);
    }
}

// Whether any of bins 0 … N/2 − 1 lies above −96 dB in LogSpec, as computed in full.
// |Z|² above kSurelyLoudPower or below kSurelyQuietPower puts 6 × log2 |Z| more than
// 0.26 dB from −96, far beyond what the magnitude's and the logarithm's rounding can move;
// only bins between the two need them.
bool THiManager::AnyBinAboveMinus96() const
{
    constexpr double kSurelyLoudPower = (1.0 + 1.0 / 16) / 4294967296.0;
    constexpr double kSurelyQuietPower = (1.0 - 1.0 / 16) / 4294967296.0;
    const int half = FrameSize / 2;
    const double* v = reinterpret_cast<const double*>(Fft.data());
    auto power = [v](int k) { return v[2 * k] * v[2 * k] + v[2 * k + 1] * v[2 * k + 1]; };
    for (int k = 0; k < half; ++k)
        if (power(k) > kSurelyLoudPower)
            return true;
    for (int k = 0; k < half; ++k)
        if (power(k) >= kSurelyQuietPower && LogLevel(Magnitude(Fft[k])) > -96)
            return true;
    return false;
}

// DetectHistogram on this frame, with magnitudes and logarithms taken only of the bins it reads.
THiDetection THiManager::DetectFromMagnitudes()
{
    const int n = FrameSize;
    auto level = [this](int k) { return LogSpec[k] = LogLevel(Mag[k] = Magnitude(Fft[k])); };
    THiDetection d;
    d.Cutoff = d.Reference = HistogramCutoff(level, n, Rate, Hits.data(), AnyBinAboveMinus96());
    const int from = d.Cutoff / 2;
    Magnitudes(Fft.data() + from, d.Cutoff - from, Mag.data() + from);
    for (int k = from; k < d.Cutoff; ++k)
        LogSpec[k] = LogLevel(Mag[k]);
    d.Level = PeakLevel(LogSpec.data(), d.Cutoff / 2, d.Cutoff);
    return d;
}

float THiManager::PeakLevel(const float* s, int from, int to)
{
    float peak = kSilence, prev = 0;
    double sum = 0, weight = 0;
    for (int i = std::max(from, 0); i < to; ++i) {
        const float v = s[i];
        peak = std::max(peak, v);
        if (v > prev + 6 && v > peak - 24) {
            sum += static_cast<double>(i) * v;
            weight += i;
        }
        prev = v;
    }
    return weight > 0 ? static_cast<float>(sum / weight) : kSilence;
}

THiDetection THiManager::DetectDrop(const float* s, int n, float rate, float& cutoffAvg,
                                    float& levelHold)
{
    const int half = n / 2;
    float prev = kSilence, follower = kSilence, smooth = kSilence, best = 0;
    int candidate = half - 1;
    for (int k = 0; k < half; ++k) {
        if (s[k] > prev)
            follower = s[k];
        smooth = 0.03f * follower + 0.97f * smooth;
        const float drop = smooth - s[k + 1];
        if (drop > best) {
            best = drop;
            candidate = k;
        }
        prev = s[k];
    }
    if (best < 31)
        candidate = half - 1;
    cutoffAvg = 0.95f * cutoffAvg + 0.05f * static_cast<float>(candidate);
    const int c = std::clamp(RoundClamped(cutoffAvg, 0, half) - 5, 0, half);
    levelHold = std::max(PeakLevel(s, c / 2, c), Decayed(levelHold, rate));
    THiDetection d;
    d.Level = levelHold;
    d.Reference = (c + half) / 2;
    int a = d.Reference;
    while (a > 0 && s[a] <= d.Level - 18)
        --a;
    d.Cutoff = a;
    return d;
}

THiDetection THiManager::DetectHistogram(const float* s, int n, float rate, float* hits)
{
    float peak = kSilence;
    for (int k = 0; k < n / 2; ++k)
        peak = std::max(peak, s[k]);
    THiDetection d;
    d.Cutoff = d.Reference = HistogramCutoff([s](int k) { return s[k]; }, n, rate, hits, peak > -96);
    d.Level = PeakLevel(s, d.Cutoff / 2, d.Cutoff);
    return d;
}

int THiManager::RandomR()
{
    // Uniform 0 … 32768 from the top of a 32-bit draw.
    return static_cast<int>((static_cast<uint64_t>(Random()) * 32769u) >> 32);
}

void THiManager::SynthesiseA(int a, float level)
{
    const int half = FrameSize / 2;
    const double e = 4 * std::exp2(level / 6.0);
    std::fill(Synth.begin(), Synth.end(), Complex());
    for (int i = std::max(1, a - 9); i < half; ++i) {
        double v = 0;
        for (int k = 2; k <= 6; ++k)
            v += std::ldexp(static_cast<double>(Mag[i / k]), -k);
        const double scale = static_cast<double>(a + 1) / (i + 1);
        v *= scale;
        const double limit = scale * e;
        if (v > limit)
            v = limit * RandomR() / 32768.0;
        if (i < a)
            v *= (i - a + 10) / 10.0;
        Synth[i] = v;
    }
    for (int k = 1; k <= 4; ++k)
        Synth[half - 4 + k] *= (4 - k) / 4.0;
    for (int k = 0; k < half; ++k) {
        const double phi = 2 * std::numbers::pi * RandomR() / 32768.0;
        Synth[k] = std::polar(Synth[k].real(), phi);
    }
}

void THiManager::FeaturesB(int i, double* x) const
{
    const int half = FrameSize / 2;
    for (int j = 0; j < kSubBins; ++j) {
        const int q = SubBins[i * kSubBins + j];
        double re = Synth[q].real(), im = Synth[q].imag();
        x[2 * j] = re;
        x[2 * j + 1] = im;
        if (q > 0) {
            re += Synth[q - 1].real();
            im -= Synth[q - 1].imag();
        }
        if (q + 1 < half) {
            re += Synth[q + 1].real();
            im -= Synth[q + 1].imag();
        }
        x[16 + 2 * j] = re;
        x[17 + 2 * j] = im;
    }
}

void THiManager::SynthesiseB(int a, float level)
{
    const int half = FrameSize / 2;
    std::copy(Fft.begin(), Fft.begin() + half + 1, Synth.begin());
    if (!(level > -96)) {
        std::fill(Synth.begin(), Synth.end(), Complex());
        return;
    }
    double x[32];
    for (int i = FrameSize / 8; i <= std::min(a, half - 1); ++i) {
        FeaturesB(i, x);
        Adapt(x, 32, Synth[i].real(), Synth[i].imag(), MuB);
    }
    KeepWeightsFinite();
    const double limit = 4 * std::exp2(level / 6.0) * (a + 1);
    for (int i = a + 1; i < half; ++i) {
        FeaturesB(i, x);
        Complex z = Predict(x, WeightsRe.data(), WeightsIm.data(), 32);
        const double m = std::abs(z), bound = limit / (i + 1);
        if (m > bound)
            z *= bound / m;
        Synth[i] = z;
    }
    std::fill(Synth.begin(), Synth.begin() + std::min(a, half) + 1, Complex());
}

// Indexed for bins 0 … bins − 1, and the edge entries that repeat their neighbours.
void THiManager::FillIndexed(int bins)
{
    const int half = FrameSize / 2;
    ScaleParts(reinterpret_cast<const double*>(Fft.data()), BinPairs.data(), 2 * bins,
               reinterpret_cast<double*>(Indexed.data() + 1));
    Indexed[0] = Indexed[1];
    if (bins == half)
        Indexed[half + 1] = Indexed[half];
}

void THiManager::FeaturesC(int i, double* x) const
{
    for (int j = 0; j < kSubBins; ++j) {
        const Complex* q = Indexed.data() + SubBins[i * kSubBins + j] + 1;
        double* f = x + 6 * j;
        std::memcpy(f, q, sizeof(Complex));
        std::memcpy(f + 2, q - 1, sizeof(Complex));
        std::memcpy(f + 4, q + 1, sizeof(Complex));
    }
}

void THiManager::SynthesiseC(int a, float level)
{
    const int half = FrameSize / 2;
    const int lastTrained = std::min(a - 10, half - 1);
    // Only training changes the weights; without it they stay as finite as they were.
    if (level > -96 && FrameSize / 8 <= lastTrained) {
        // The features and targets reach bin lastTrained at most.
        FillIndexed(lastTrained + 1);
        double x[48];
        for (int i = FrameSize / 8; i <= lastTrained; ++i) {
            FeaturesC(i, x);
            Adapt(x, 48, Indexed[i + 1].real(), Indexed[i + 1].imag(), MuC);
        }
        KeepWeightsFinite();
    }
    Normalise(48, 4);
    // Bins from `top` on are cleared at the end: they are not predicted.
    const int top = RoundClamped(half * static_cast<double>(TopRatio), 0, half);
    const int first = std::max(1, a - 9);
    const bool predict = level > -96 && first < top;
    // Bins below `first` (all of them when nothing is predicted) are zero.
    std::fill(Synth.begin(), predict ? Synth.begin() + first : Synth.end(), Complex());
    if (predict) {
        SubPredictions(first, top);
        // Both parts of a bin in one register; SSE2 is part of every x86-64.
        const double* parts = reinterpret_cast<const double*>(SubParts.data());
        for (int i = first; i < top; ++i) {
            const uint64_t q = SubOffsets[i];
            auto part = [&](int j) {
                return _mm_loadu_pd(parts + 2 * kSubStride * j + ((q >> (8 * j)) & 0xff));
            };
            const __m128d low = _mm_add_pd(_mm_add_pd(part(0), part(1)), _mm_add_pd(part(2), part(3)));
            const __m128d high = _mm_add_pd(_mm_add_pd(part(4), part(5)), _mm_add_pd(part(6), part(7)));
            _mm_storeu_pd(reinterpret_cast<double*>(Synth.data() + i), _mm_add_pd(low, high));
        }
        DivideParts(reinterpret_cast<double*>(Synth.data()), BinPairs.data(), 2 * first, 2 * top);
        for (int i = first; i < std::min(a, top); ++i)
            Synth[i] *= (10.0 + i - a) / 10.0;
    }
    const double taper = std::max(TopTaper, 1);
    for (int i = std::max(top - 6, 0); i < top; ++i)
        Synth[i] *= (top - i) / taper;
    std::fill(Synth.begin() + top, Synth.end(), Complex());
}

// The parts SubParts of the bins first … top − 1, from the current weights.
void THiManager::SubPredictions(int first, int top)
{
    const int half = FrameSize / 2;
    // q × Z[q] at q + 1, as FillIndexed has it, for the bins up to q + 1 with q = ⌊(top − 1)/2⌋
    // and the three beyond that the wide kernel may read.
    const int bins = std::min(half, (top - 1) / 2 + 5);
    ScaleSplit(Fft.data(), BinPairs.data(), bins, IndexedRe.data() + 1, IndexedIm.data() + 1);
    IndexedRe[0] = IndexedRe[1];
    IndexedIm[0] = IndexedIm[1];
    if (bins == half) {
        IndexedRe[half + 1] = IndexedRe[half];
        IndexedIm[half + 1] = IndexedIm[half];
    }
    for (int j = 0; j < kSubBins; ++j) {
        double wRe[6], wIm[6];
        for (int t = 0; t < 6; ++t) {
            wRe[t] = WeightsRe[6 * j + t];
            wIm[t] = WeightsIm[6 * j + t];
        }
        const int from = first / (j + 2), to = (top - 1) / (j + 2) + 1;
        gKernels.SubSums(IndexedRe.data(), IndexedIm.data(), wRe, wIm, from, to, SubParts.data() + j * kSubStride);
    }
}

void THiManager::FeaturesD(int i, double* x) const
{
    // Bins i − 48 … i − 1 sit at indices i − 47 … i.
    std::memcpy(x, Indexed.data() + i - 47, 48 * sizeof(Complex));
}

void THiManager::SynthesiseD(int a, float level)
{
    const int half = FrameSize / 2;
    FillIndexed(half);
    std::fill(Synth.begin(), Synth.end(), Complex());
    double x[kWeights];
    if (level > -96 && a - 10 >= 48) {
        for (int i = 48; i <= std::min(a - 10, half - 1); ++i) {
            FeaturesD(i, x);
            Adapt(x, kWeights, Indexed[i + 1].real(), Indexed[i + 1].imag(), MuD);
        }
        KeepWeightsFinite();
    }
    Normalise(kWeights, 1);
    if (!(level > -96))
        return;
    // Later bins predict from the ones synthesised here, so they replace the input in Indexed.
    for (int i = std::max(48, a - 9); i < half; ++i) {
        FeaturesD(i, x);
        const double bin = i;
        Complex z = Predict(x, WeightsRe.data(), WeightsIm.data(), kWeights) / bin;
        if (i < a)
            z *= (10.0 + i - a) / 10.0;
        Indexed[i + 1] = Complex(i * z.real(), i * z.imag());
        Synth[i] = 4.0 * z;
    }
}

void THiManager::Adapt(const double* x, int count, double targetRe, double targetIm, float mu)
{
    const TSums s = Sums(x, WeightsRe.data(), WeightsIm.data(), count);
    if (!(s.Power > 0))
        return;
    const double gRe = mu * (targetRe - s.Re) / s.Power;
    const double gIm = mu * (targetIm - s.Im) / s.Power;
    gKernels.Step(WeightsRe.data(), WeightsIm.data(), x, gRe, gIm, count);
}

void THiManager::Normalise(int count, double limit)
{
    double s = 0;
    for (int k = 0; k < count; ++k)
        s += static_cast<double>(WeightsRe[k]) * WeightsRe[k] +
             static_cast<double>(WeightsIm[k]) * WeightsIm[k];
    s /= 2;
    if (s <= limit)
        return;
    const double f = 1 / std::sqrt(s);
    for (int k = 0; k < count; ++k) {
        WeightsRe[k] = static_cast<float>(WeightsRe[k] * f);
        WeightsIm[k] = static_cast<float>(WeightsIm[k] * f);
    }
}

// An extreme frame can push a weight past the range of a float; the predictor
// then starts over instead of carrying infinities or NaN into every later frame.
void THiManager::KeepWeightsFinite()
{
    // A float is infinite or NaN when its exponent bits are all set; the largest magnitude
    // pattern tells whether any weight is.
    uint32_t largest = 0;
    for (const std::array<float, kWeights>* w : {&WeightsRe, &WeightsIm})
        for (float v : *w)
            largest = std::max(largest, std::bit_cast<uint32_t>(v) & 0x7fffffffu);
    if (largest >= 0x7f800000u) {
        WeightsRe.fill(0);
        WeightsIm.fill(0);
    }
}

void THiManager::Resynthesise(bool wetOnly)
{
    const int n = FrameSize;
    const int half = n / 2;
    RealFFTInverse(Synth.data(), Frame.data(), n, Tables);
    OverlapAdd(Frame.data(), Window.data(), Tail.data(), wetOnly ? nullptr : InBuf.data() + half, half,
               OutBuf.data(), Tail.data());
    std::copy(InBuf.begin() + half, InBuf.end(), InBuf.begin());
}

} // namespace marlix
