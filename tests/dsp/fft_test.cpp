#include "dsp/fft.h"
#include "dsp/firdesign.h"
#include "dsp/firfilter.h"
#include "base/flexbuf.h"
#include "support/fftmode.h"

#include <gtest/gtest.h>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace marlix {
namespace {

using test::FFTModeTest;

std::vector<Complex> NaiveDFT(const std::vector<Complex>& x, int sign)
{
    const int n = static_cast<int>(x.size());
    std::vector<Complex> y(n);
    for (int k = 0; k < n; ++k) {
        long double re = 0, im = 0;
        for (int t = 0; t < n; ++t) {
            const long double a = sign * 2.0L * std::numbers::pi_v<long double> * ((static_cast<long>(k) * t) % n) / n;
            re += x[t].real() * std::cos(a) - x[t].imag() * std::sin(a);
            im += x[t].real() * std::sin(a) + x[t].imag() * std::cos(a);
        }
        y[k] = Complex(static_cast<double>(re), static_cast<double>(im));
    }
    return y;
}

std::vector<Complex> RandomSignal(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<Complex> x(n);
    for (auto& v : x)
        v = Complex(u(rng), u(rng));
    return x;
}

double MaxError(const std::vector<Complex>& a, const std::vector<Complex>& b)
{
    double e = 0;
    for (size_t i = 0; i < a.size(); ++i)
        e = std::max(e, std::abs(a[i] - b[i]));
    return e;
}

TEST(FFT, NextPow2RoundsUpWithAMinimumOfTwo)
{
    const int cases[][3] = {{1023, 1024, 10}, {1024, 1024, 10}, {1025, 2048, 11}, {1, 2, 1}, {2, 2, 1}, {3, 4, 2}, {0, 2, 1}};
    for (const auto& c : cases) {
        int n = c[0];
        EXPECT_EQ(NextPow2(n), c[2]) << c[0];
        EXPECT_EQ(n, c[1]) << c[0];
    }
}

TEST(FFT, BuiltinRoundsTheButterflyDifferenceToSinglePrecision)
{
    UnloadFFTLibrary();
    TFFTTables t;
    FFTInit(2, t);
    std::vector<Complex> x = {Complex(1.0, 0.25), Complex(1e-9, 0.25 + 3e-10)};
    FFTForward(x.data(), 2, t);
    EXPECT_EQ(x[0], Complex(1.0 + 1e-9, 0.5 + 3e-10));
    const double dr = static_cast<float>(1.0 - 1e-9);
    const double di = static_cast<float>(0.25 - (0.25 + 3e-10));
    const double wr = 1.0, wi = std::cos(std::numbers::pi / 2); // W[0] as the table defines it
    EXPECT_EQ(x[1].real(), dr * wr - di * wi);
    EXPECT_EQ(x[1].imag(), dr * wi + di * wr);
    EXPECT_NE(x[1].real(), 1.0 - 1e-9);
}

TEST_P(FFTModeTest, ForwardAndInverseMatchADirectTransform)
{
    const double tolerance = External() ? 1e-12 : 2e-6;
    for (int n : {2, 4, 8, 64, 512, 1024}) {
        const auto x = RandomSignal(n, static_cast<unsigned>(n));
        TFFTTables t;
        FFTInit(n, t);
        auto y = x;
        FFTForward(y.data(), n, t);
        EXPECT_LT(MaxError(y, NaiveDFT(x, -1)), tolerance * n) << n;
        auto z = x;
        FFTInverse(z.data(), n, t);
        auto expected = NaiveDFT(x, +1);
        for (auto& v : expected)
            v /= n;
        EXPECT_LT(MaxError(z, expected), tolerance) << n;
        FFTInverse(y.data(), n, t);
        EXPECT_LT(MaxError(y, x), tolerance) << n;
        FFTFree(t);
    }
}

TEST_P(FFTModeTest, LargeRoundTripReturnsTheInput)
{
    const int n = 1 << 16;
    const auto x = RandomSignal(n, 7);
    TFFTTables t;
    FFTInit(n, t);
    auto y = x;
    FFTForward(y.data(), n, t);
    FFTInverse(y.data(), n, t);
    EXPECT_LT(MaxError(y, x), External() ? 1e-13 : 1e-6);
}

TEST_P(FFTModeTest, SplitPairSeparatesTwoRealSignals)
{
    const int n = 64;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<Complex> ra(n), rb(n), packed(n + 1);
    for (int i = 0; i < n; ++i) {
        ra[i] = Complex(u(rng), 0);
        rb[i] = Complex(u(rng), 0);
        packed[i] = Complex(ra[i].real(), rb[i].real());
    }
    TFFTTables t;
    FFTInit(n, t);
    FFTForward(packed.data(), n, t);
    std::vector<Complex> a(n / 2 + 1), b(n / 2 + 1);
    SplitPair(packed.data(), n, a.data(), b.data());
    const auto fa = NaiveDFT(ra, -1), fb = NaiveDFT(rb, -1);
    const double tolerance = External() ? 1e-12 : 1e-5;
    for (int k = 0; k <= n / 2; ++k) {
        EXPECT_LT(std::abs(a[k] - 2.0 * fa[k]), tolerance) << k;
        EXPECT_LT(std::abs(b[k] - 2.0 * fb[k]), tolerance) << k;
    }
}

// The real transforms against a direct DFT. The built-in transform rounds each butterfly's
// difference to single precision, so there they must give exactly what the complex transform
// of the same data gives; with the library they are double-precision accurate.
INSTANTIATE_TEST_SUITE_P(Both, FFTModeTest, ::testing::Bool(), test::FFTModeName);

void CheckRealTransforms(bool external)
{
    for (int n : {2, 4, 8, 64, 512, 1024}) {
        const int m = n / 2;
        const auto random = RandomSignal(n, static_cast<unsigned>(100 + n));
        std::vector<double> x(n);
        std::vector<Complex> asComplex(n);
        for (int t = 0; t < n; ++t) {
            x[t] = random[t].real();
            asComplex[t] = Complex(x[t], 0);
        }
        TRealFFTTables rt;
        RealFFTInit(n, rt);
        TFFTTables ct;
        FFTInit(n, ct);
        std::vector<Complex> bins(m + 1);
        RealFFTForward(x.data(), bins.data(), n, rt);
        const auto dft = NaiveDFT(asComplex, -1);
        auto complexForward = asComplex;
        FFTForward(complexForward.data(), n, ct);
        double scale = 0;
        for (const Complex& v : dft)
            scale = std::max(scale, std::abs(v));
        for (int k = 0; k <= m; ++k) {
            EXPECT_LT(std::abs(bins[k] - dft[k]), (external ? 1e-14 : 1e-6) * scale) << n << " bin " << k;
            if (!external) {
                EXPECT_EQ(bins[k], complexForward[k]) << n << " bin " << k;
            }
        }

        // A Hermitian spectrum with imaginary parts on bins 0 and n/2, which no real signal
        // has: they must not reach the result.
        std::vector<Complex> spectrum(random.begin(), random.begin() + m + 1), full(n);
        for (int k = 0; k < n; ++k)
            full[k] = k <= m ? spectrum[k] : std::conj(spectrum[n - k]);
        std::vector<Complex> hermitian = full;
        hermitian[0].imag(0);
        hermitian[m].imag(0);
        const auto direct = NaiveDFT(hermitian, +1);
        auto complexInverse = full;
        FFTInverse(complexInverse.data(), n, ct);
        std::vector<double> y(n);
        RealFFTInverse(spectrum.data(), y.data(), n, rt);
        for (int t = 0; t < n; ++t) {
            EXPECT_LT(std::abs(y[t] - direct[t].real() / n), external ? 1e-15 : 1e-6) << n << " sample " << t;
            if (!external) {
                EXPECT_EQ(y[t], complexInverse[t].real()) << n << " sample " << t;
            }
        }

        RealFFTInverse(bins.data(), y.data(), n, rt);
        for (int t = 0; t < n; ++t)
            EXPECT_NEAR(y[t], x[t], external ? 1e-14 : 1e-6) << n << " sample " << t;
        RealFFTFree(rt);
        FFTFree(ct);
    }
}

// With the built-in transform, with our library's real transforms, and with a library
// that has only the complex one.
TEST(RealFFT, MatchesADirectTransform)
{
    for (const char* library : {"", MARLIX_TEST_BIN_DIR "nsp.so", MARLIX_NSP_COMPLEX_DIR "nsp.so"}) {
        SCOPED_TRACE(library);
        const bool external = *library != 0;
        if (external)
            ASSERT_TRUE(LoadFFTLibrary(library));
        else
            UnloadFFTLibrary();
        CheckRealTransforms(external);
    }
    UnloadFFTLibrary();
}


TEST(Spectrum, MagnitudesAndPhaseStepsOfAOneSampleDelay)
{
    const int n = 16;
    std::vector<Complex> z(n);
    for (int k = 0; k < n; ++k)
        z[k] = std::polar(2.0, -2 * std::numbers::pi * k / n);
    TFlexBuf mag, phase, single;
    MagnitudeDouble(z.data(), mag, n);
    MagnitudeSingle(z.data(), single, n);
    PhaseSteps(z.data(), phase, n);
    ASSERT_EQ(mag.GetLength(), n);
    EXPECT_EQ(single.GetBits(), 33);
    for (int k = 0; k < n; ++k) {
        EXPECT_NEAR(static_cast<double*>(mag.Data[0])[k], 2.0, 1e-15);
        EXPECT_NEAR(static_cast<float*>(single.Data[0])[k], 2.0f, 1e-6f);
        EXPECT_NEAR(static_cast<double*>(phase.Data[0])[k], k == 0 ? 0.0 : -2 * std::numbers::pi / n, 1e-12) << k;
    }
}

TEST(Spectrum, NaNAndZeroElementsGiveZero)
{
    const double nan = std::nan("");
    std::vector<Complex> z = {Complex(nan, 1), Complex(0, 0), Complex(3, 4), Complex(1, nan)};
    TFlexBuf mag, single, phase;
    MagnitudeDouble(z.data(), mag, 4);
    MagnitudeSingle(z.data(), single, 4);
    PhaseSteps(z.data(), phase, 4);
    const double* m = static_cast<double*>(mag.Data[0]);
    EXPECT_EQ(m[0], 0.0);
    EXPECT_EQ(m[1], 0.0);
    EXPECT_EQ(m[2], 5.0);
    EXPECT_EQ(m[3], 0.0);
    EXPECT_EQ(static_cast<float*>(single.Data[0])[1], 0.0f);
    const double* p = static_cast<double*>(phase.Data[0]);
    EXPECT_EQ(p[1], 0.0); // NaN counts as angle 0, so does (0, 0)
    EXPECT_NEAR(p[2], std::atan2(4.0, 3.0), 1e-15);
    EXPECT_NEAR(p[3], -std::atan2(4.0, 3.0), 1e-15);
}

// Inverse DFT of the mirrored spectrum, written out directly: taps t = 1 … L − 1.
std::vector<double> DirectTaps(const std::vector<Complex>& bins, int l)
{
    std::vector<Complex> s(l);
    for (size_t i = 0; i < bins.size(); ++i) {
        s[i] = bins[i];
        if (i > 0)
            s[l - i] = std::conj(bins[i]);
    }
    auto x = NaiveDFT(s, +1);
    std::vector<double> taps;
    for (int t = 1; t < l; ++t)
        taps.push_back(x[t].real() / l);
    return taps;
}

class DesignTest : public FFTModeTest {};

TEST_P(DesignTest, LinearPhaseFIRIsTheInverseOfTheAlternatingSpectrum)
{
    const int k = 100; // L = 256: the upper bins stay empty
    TFlexBuf block;
    block.SetBuf(nullptr, 1, 65, k);
    std::vector<Complex> bins(k);
    for (int i = 0; i < k; ++i) {
        const double m = 1.0 / (1 + i * 0.05);
        static_cast<double*>(block.Data[0])[i] = m;
        bins[i] = Complex(i % 2 ? -m : m, 0);
    }
    LinearPhaseFIR(block);
    const auto expected = DirectTaps(bins, 256);
    ASSERT_EQ(block.GetLength(), 255);
    const double* taps = static_cast<double*>(block.Data[0]);
    for (int t = 0; t < 255; ++t) {
        EXPECT_NEAR(taps[t], expected[t], External() ? 1e-14 : 1e-7) << t;
        EXPECT_NEAR(taps[t], taps[253 - t + 1], External() ? 1e-14 : 1e-7) << t; // symmetric about tap 127
    }
}

TEST_P(DesignTest, DesignFIRWithDelaysShiftsThePhase)
{
    const int k = 33, l = 64;
    const double rate = 1000;
    TFlexBuf block;
    block.SetBuf(nullptr, 2, 65, k);
    std::vector<Complex> bins(k);
    double phi = 0;
    for (int i = 0; i < k; ++i) {
        static_cast<double*>(block.Data[0])[i] = 1.0;
        static_cast<double*>(block.Data[1])[i] = 0.002;
        if (i > 0)
            phi += std::numbers::pi + 2 * std::numbers::pi * rate * 0.002 / l;
        bins[i] = std::polar(1.0, phi);
    }
    DesignFIR(block, rate);
    const auto expected = DirectTaps(bins, l);
    ASSERT_EQ(block.GetLength(), l - 1);
    ASSERT_EQ(block.GetChannels(), 1);
    for (int t = 0; t < l - 1; ++t)
        EXPECT_NEAR(static_cast<double*>(block.Data[0])[t], expected[t], 1e-6) << t;
}

TEST_P(DesignTest, LowPassAtFullCutoffIsACentredImpulseButForTheNyquistBin)
{
    TFlexBuf block;
    LowPassFIR(block, 10, 1.0, 1.0);
    ASSERT_EQ(block.GetLength(), 1023);
    const double* taps = static_cast<double*>(block.Data[0]);
    // Every bin but the last (Nyquist) one is passed: an impulse at tap 511 less
    // an alternating 1/1024 component.
    for (int t = 0; t < 1023; ++t) {
        const double expected = (t == 511 ? 1.0 : 0.0) - ((t + 1) % 2 ? -1.0 : 1.0) / 1024;
        EXPECT_NEAR(taps[t], expected, 1e-6) << t;
    }
}

TEST_P(DesignTest, LowPassGainAndCutoffSetThePassband)
{
    TFlexBuf block;
    LowPassFIR(block, 8, 4.0, 0.25); // K = 129, bins below 32 pass with gain 4
    ASSERT_EQ(block.GetLength(), 255);
    std::vector<Complex> bins(129);
    for (int i = 0; i < 129; ++i)
        bins[i] = Complex(i / 128.0 < 0.25 ? (i % 2 ? -4.0 : 4.0) : 0.0, 0);
    const auto expected = DirectTaps(bins, 256);
    for (int t = 0; t < 255; ++t)
        EXPECT_NEAR(static_cast<double*>(block.Data[0])[t], expected[t], 1e-6) << t;
}

INSTANTIATE_TEST_SUITE_P(Both, DesignTest, ::testing::Bool(), test::FFTModeName);

} // namespace
} // namespace marlix

namespace marlix {
namespace {

double Gain(const TFlexBuf& block, double fraction) // fraction of the sample rate
{
    std::complex<double> sum;
    const double* t = static_cast<const double*>(block.Data[0]);
    for (int n = 0; n < block.Length; ++n)
        sum += t[n] * std::polar(1.0, -2 * std::numbers::pi * fraction * n);
    return std::abs(sum);
}

TEST(InterpolationTaps, PassTheBandBelowTheLowerNyquistWithTheFactorsGain)
{
    UnloadFFTLibrary();
    TFlexBuf up;
    InterpolationTaps(up, 1023, 4, 44100, 176400, 4); // cut-off at 1/4 of the up-sampled band
    ASSERT_EQ(up.GetLength(), 1023);
    EXPECT_NEAR(Gain(up, 0.0), 4.0, 1e-3);
    EXPECT_NEAR(Gain(up, 0.1), 4.0, 1e-3);  // 17.6 kHz at 176.4 kHz
    EXPECT_LT(Gain(up, 0.16), 4e-5);        // 28 kHz: above the source's Nyquist

    TFlexBuf down; // 96 kHz source to a 48 kHz device, factor 1: cut-off at the output's Nyquist
    InterpolationTaps(down, 255, 1, 96000, 48000, 1);
    ASSERT_EQ(down.GetLength(), 255);
    EXPECT_NEAR(Gain(down, 0.1), 1.0, 1e-2);
    EXPECT_LT(Gain(down, 0.35), 1e-3);
}

TEST(InterpolationTaps, FilterCarriesTheTapsOnEveryChannel)
{
    UnloadFFTLibrary();
    auto shortFilter = CreateInterpolationFilter(2, 1023, 4, 44100, 88200, 2, 0.5);
    EXPECT_EQ(shortFilter->GetChannels(), 2);
    EXPECT_EQ(shortFilter->BlockSize, 1024);
    EXPECT_EQ(shortFilter->OutFIFO->Free(), 44100);
    TFlexBuf taps;
    shortFilter->GetTaps(1, taps);
    TFlexBuf expected;
    InterpolationTaps(expected, 1023, 4, 44100, 88200, 2);
    for (int i = 0; i < 1023; ++i)
        ASSERT_EQ(static_cast<double*>(taps.Data[0])[i], static_cast<double*>(expected.Data[0])[i]);
}

} // namespace
} // namespace marlix
