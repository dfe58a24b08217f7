#include "dsp/firfilter.h"
#include "base/flexfilebuf.h"
#include "settings/inifile.h"
#include "settings/settingeq.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <numbers>
#include <random>
#include <vector>

namespace marlix {
namespace {

TEQ1 Point(int kind, double freq, double width, double shape, double gain)
{
    TEQ1 p;
    p.Kind = kind;
    p.Freq = freq;
    p.Width = width;
    p.Shape = shape;
    p.Gain = gain;
    return p;
}

TEST(EQResponse, PeakIsFullGainAtItsCentreAndHalfAQuarterOctaveAway)
{
    const TEQ1 peak = Point(0, 1000, 0, 0, 6);
    EXPECT_NEAR(peak.Response(1000), 6, 1e-12);
    EXPECT_NEAR(peak.Response(1000 * std::exp2(0.25)), 3, 1e-12);
    EXPECT_NEAR(peak.Response(1000 * std::exp2(-0.25)), 3, 1e-12);
    EXPECT_EQ(peak.Response(1000 * std::sqrt(2.0)), 0);
    EXPECT_EQ(peak.Response(1000 / std::sqrt(2.0)), 0);
    EXPECT_EQ(peak.Response(5000), 0);
    // Shape 1 squares the band position: at a quarter octave r = 0.25, (1 + cos(π/4))/2 of the gain.
    EXPECT_NEAR(Point(0, 1000, 0, 1, 6).Response(1000 * std::exp2(0.25)), 6 * (1 + std::cos(std::numbers::pi / 4)) / 2,
                1e-12);
}

TEST(EQResponse, ShelvesHoldFullGainOnTheirOwnSide)
{
    const TEQ1 low = Point(-1, 100, 0, 0, -6);
    EXPECT_EQ(low.Response(1), 0); // the band starts above 1 Hz
    EXPECT_NEAR(low.Response(1.5), -6, 1e-12);
    EXPECT_NEAR(low.Response(50), -6, 1e-12);
    EXPECT_NEAR(low.Response(100), -6, 1e-12);
    EXPECT_NEAR(low.Response(100 * std::exp2(0.25)), -3, 1e-12);
    EXPECT_EQ(low.Response(141.43), 0);
    const TEQ1 high = Point(1, 8000, 1, 0, 4); // one octave each side
    EXPECT_NEAR(high.Response(20000), 4, 1e-12);
    EXPECT_NEAR(high.Response(8000 * std::exp2(-0.5)), 2, 1e-12);
    EXPECT_EQ(high.Response(3999), 0);
}

TEST(EQResponse, LowAndHighPassKnees)
{
    // Width 0: b = ln2 / 2, h = b / 4; the low-pass falls 6 ln2 / h = 48 dB per octave above f0.
    const TEQ1 lowPass = Point(-2, 1000, 0, 0, 0);
    EXPECT_NEAR(lowPass.Response(1000), -3, 1e-12);
    EXPECT_NEAR(lowPass.Response(2000), -3 - 48, 1e-9);
    EXPECT_EQ(lowPass.Response(1000 * std::exp2(-0.2)), 0);
    EXPECT_NEAR(Point(7, 1000, 0, 0, 0).Response(2000), -51, 1e-9); // unknown kinds act as low-pass

    const TEQ1 highPass = Point(2, 1000, 0, 0, 0);
    EXPECT_EQ(highPass.Response(1000 * std::exp2(-0.2)), -192);
    EXPECT_EQ(highPass.Response(10), -192);
    // At f0 the low-pass amplitude is 2^(-3/6): the complement is 1 − 1/√2.
    EXPECT_NEAR(highPass.Response(1000), 6 * std::log2(1 - std::sqrt(0.5)), 1e-12);
    EXPECT_NEAR(highPass.Response(4000), 0, 1e-3);
    EXPECT_LT(highPass.Response(4000), 0);
}

TEST(EQResponse, GetEQAddsTheMasterCurveToEachChannel)
{
    TSettingEQ eq;
    eq.Curve(-1).Add(Point(0, 1000, 0, 0, 2));
    eq.Curve(0).Add(Point(0, 1000, 0, 0, 3));
    eq.Curve(1).Add(Point(0, 1000, 0, 0, -5));
    eq.Curve(1).Add(Point(0, 1000, 0, 0, 1));
    EXPECT_NEAR(eq.GetEQ(-1, 1000), 2, 1e-12);
    EXPECT_NEAR(eq.GetEQ(0, 1000), 5, 1e-12);
    EXPECT_NEAR(eq.GetEQ(1, 1000), -2, 1e-12);
    EXPECT_NEAR(eq.GetEQ(2, 1000), 2, 1e-12); // further channels: the master alone
    EXPECT_EQ(TSettingEQ().GetEQ(0, 1234), 0);
}

std::vector<double> Taps(TFIRFilter& filter, int channel, int count)
{
    TFlexBuf block;
    filter.GetTaps(channel, block);
    const double* t = static_cast<double*>(block.Data[0]);
    return std::vector<double>(t, t + count);
}

TEST(EQDesign, EmptyCurvesGiveAWindowedImpulse)
{
    TSettingEQ eq;
    TFIRFilter odd(1, false, false, 4096, 1023);
    eq.DesignEQ(odd, 44100, 1023);
    const auto t = Taps(odd, 0, 1023);
    // K = 512 bins of an L = 1024 transform: the Nyquist element stays empty.
    for (int i = 0; i < 1023; ++i) {
        const double hann = 0.5 + 0.5 * std::cos((i - 511.0) * 2 * std::numbers::pi / 1024);
        const double raw = (i == 511 ? 1.0 : 0.0) - ((i + 1) % 2 ? -1.0 : 1.0) / 1024;
        ASSERT_NEAR(t[i], raw * hann, 1e-12) << i;
    }
    TFIRFilter even(1, false, false, 4096, 1024);
    eq.DesignEQ(even, 44100, 1024);
    const auto u = Taps(even, 0, 1023);
    for (int i = 0; i < 1023; ++i)
        ASSERT_NEAR(u[i], i == 511 ? 1.0 : 0.0, 1e-12) << i;
}

// |H(f)| of the taps in dB (6 × log2), by direct summation.
double ResponseDb(const std::vector<double>& taps, double f, double rate)
{
    std::complex<double> sum;
    const double w = 2 * std::numbers::pi * f / rate;
    for (size_t n = 0; n < taps.size(); ++n)
        sum += taps[n] * std::polar(1.0, -w * static_cast<double>(n));
    return 6 * std::log2(std::abs(sum));
}

TEST(EQDesign, LongFilterFollowsTheCurveWithinAFractionOfADecibel)
{
    TSettingEQ eq;
    eq.Curve(-1).Add(Point(-1, 200, 1, 0, -4));
    eq.Curve(-1).Add(Point(0, 1000, 1, 0, 6));
    eq.Curve(-1).Add(Point(0, 3000, 0.5, -0.5, -5));
    eq.Curve(0).Add(Point(1, 8000, 1, 0, 3));
    TFIRFilter filter(2, false, false, 1 << 17, 65535);
    eq.DesignEQ(filter, 44100, 65535);
    for (int c = 0; c < 2; ++c) {
        const auto taps = Taps(filter, c, 65535);
        for (double f = 100; f <= 20000; f *= 1.07)
            EXPECT_NEAR(ResponseDb(taps, f, 44100), eq.GetEQ(c, f), 0.05) << "channel " << c << " at " << f << " Hz";
    }
}

TEST(EQDesign, HighPassReachesTheFloorBelowItsKneeAndUnityAbove)
{
    TSettingEQ eq;
    eq.Curve(-1).Add(Point(2, 200, 1, 0, 0));
    TFIRFilter filter(1, false, false, 1 << 17, 65535);
    eq.DesignEQ(filter, 44100, 65535);
    const auto taps = Taps(filter, 0, 65535);
    EXPECT_LT(ResponseDb(taps, 50, 44100), -100);
    EXPECT_NEAR(ResponseDb(taps, 2000, 44100), 0, 0.05);
    EXPECT_NEAR(ResponseDb(taps, 10000, 44100), 0, 0.05);
}

// Hand-edited "setting.ini" values: what the loader keeps, and what the equaliser
// designed from the loaded records does at 48 kHz (channel 0, by direct summation).
TEST(EQDesign, BadFileValuesLeaveASoundEqualiser)
{
    struct TCase {
        const char* Name;
        std::string Ini;
        int Taps;
        std::vector<std::pair<double, double>> Response; // Hz, dB
    };
    const std::string peak = "[EQ]\n0_Count=2\n0_1=0/1000/1/0/-6\n";
    const std::vector<TCase> cases = {
        {"tap count neither 2^k nor 2^k - 1", "[Filter]\nEQFilterTaps=1500\n", 2047, {{18000, 0}, {100, 0}}},
        {"tap count just above 2^k", "[Filter]\nEQFilterTaps=1025\n", 2047, {{18000, 0}}},
        {"tap count 2^k kept", "[Filter]\nEQFilterTaps=1024\n", 1024, {{18000, 0}}},
        {"tap count 2^k - 1 kept", "[Filter]\nEQFilterTaps=4095\n", 4095, {{18000, 0}}},
        {"tap count zero", "[Filter]\nEQFilterTaps=0\n", 1023, {{18000, 0}}},
        {"tap count negative", "[Filter]\nEQFilterTaps=-7\n", 1023, {{18000, 0}}},
        {"tap count empty", "[Filter]\nEQFilterTaps=\n", 1023, {{18000, 0}}},
        {"tap count beyond any use", "[Filter]\nEQFilterTaps=2000000000\n", 1048575, {}},
        {"tap count 3 kept", "[Filter]\nEQFilterTaps=3\n", 3, {}},
        {"point at 0 Hz", peak + "0_0=1/0/1/0/6\n", 1023, {{1000, -6}, {100, 0}, {18000, 0}}},
        {"point below 0 Hz", peak + "0_0=-2/-50/0/0/0\n", 1023, {{1000, -6}, {100, 0}, {18000, 0}}},
        {"point with an empty value", peak + "0_0=\n", 1023, {{1000, -6}, {100, 0}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TempDir dir;
        test::WriteText(dir.File("setting.ini"), c.Ini + "[Output]\nszChName0=\n[Operation]\nBrowseExts=\n");
        TSettings s(dir.Path());
        s.Load(TIniFile(dir.File("setting.ini")), dir.Path());
        EXPECT_EQ(s.Filter.EQFilterTaps, c.Taps);
        // Empty values leave the defaults in place.
        EXPECT_EQ(s.Output.szChName[0], "L  ");
        EXPECT_EQ(s.Operation.BrowseExts, TSettingOperation().BrowseExts);

        TFIRFilter filter(1, false, false, 1 << 16, s.Filter.EQFilterTaps);
        s.EQ.DesignEQ(filter, 48000, s.Filter.EQFilterTaps);
        TFlexBuf block;
        filter.GetTaps(0, block);
        const double* t = static_cast<double*>(block.Data[0]);
        const std::vector<double> taps(t, t + block.GetLength());
        EXPECT_TRUE(std::all_of(taps.begin(), taps.end(), [](double v) { return std::isfinite(v); }));
        for (const auto& [f, db] : c.Response)
            EXPECT_NEAR(ResponseDb(taps, f, 48000), db, 0.2) << f << " Hz";
    }
}

class Measurement : public ::testing::Test {
protected:
    test::TempProgramFolder folder;
    TSettingEQ eq;

    void SetUp() override { eq.Folder = folder.Path(); }

    void WriteIR(const std::string& name, const std::vector<double>& ir, int rate)
    {
        TFlexFileBuf file;
        ASSERT_EQ(file.OpenFile(1, {folder.File(name)}, rate, 32, 1, 1), 0);
        file.SetBuf(nullptr, 1, 65, static_cast<int>(ir.size()));
        std::copy(ir.begin(), ir.end(), static_cast<double*>(file.Data[0]));
        ASSERT_EQ(file.WriteBlock(0, static_cast<int>(ir.size())), static_cast<int>(ir.size()));
        file.CloseFile(1);
    }
};

TEST_F(Measurement, SmoothedMagnitudeIsTheTransformAveragedPerOctaveGroup)
{
    const int l = 4096;
    std::mt19937 rng(1);
    std::normal_distribution<double> g;
    std::vector<double> ir(l);
    for (auto& v : ir)
        v = g(rng) * 0.1;
    eq.SetMeasurement(0, ir.data(), 48000, l);
    ASSERT_TRUE(eq.MeasurePresent[0]);
    ASSERT_EQ(eq.Magnitude[0].size(), static_cast<size_t>(l / 2 + 1));
    auto dft = [&](int k) {
        std::complex<double> s;
        for (int n = 0; n < l; ++n)
            s += ir[n] * std::polar(1.0, -2 * std::numbers::pi * ((static_cast<long>(k) * n) % l) / l);
        return std::abs(s);
    };
    for (int k : {0, 1, 17, 500, 1023, 2048})
        EXPECT_NEAR(eq.Magnitude[0][k], dft(k), 1e-4) << k; // the built-in transform rounds to float
    // Bins 1024 … 2047: 512 groups of two.
    for (int k : {1024, 1025, 1500, 1501, 2046, 2047}) {
        const int first = k & ~1;
        EXPECT_NEAR(eq.Magnitude[0][k], (dft(first) + dft(first + 1)) / 2, 1e-4) << k;
    }
}

TEST_F(Measurement, CorrectionIsTheInverseOfAFlatMeasuredGain)
{
    std::vector<double> half(8192, 0.0);
    half[0] = 0.5; // |H| = 1/2 everywhere: the correction lifts by 6
    eq.SetMeasurement(0, half.data(), 48000, 8192);
    for (double f : {200.0, 1000.0, 5000.0, 9000.0})
        EXPECT_NEAR(eq.GetRevise(0, f), 6, 1e-9) << f;
    // Beyond "fHiFreq" the correction fades: an octave above, by exp(−ln²2 / 2).
    EXPECT_NEAR(eq.GetRevise(0, 20000), 6 * std::exp(-std::pow(std::log(2.0), 2) / 2), 1e-9);
    eq.fPercentage[0] = 0.5;
    EXPECT_NEAR(eq.GetRevise(0, 1000), 3, 1e-9);
    eq.fPercentage[0] = 0;
    EXPECT_EQ(eq.GetRevise(0, 1000), 0);
    eq.fPercentage[0] = 1;
    eq.bReviseON[0] = false;
    EXPECT_EQ(eq.GetRevise(0, 1000), 0);
    EXPECT_EQ(eq.GetRevise(1, 1000), 0); // no measurement
    EXPECT_EQ(eq.GetRevise(-1, 1000), 0);

    std::vector<double> unit(8192, 0.0);
    unit[0] = 1;
    eq.bReviseON[0] = true;
    for (double smooth : {0.0, 0.5, 1.0}) {
        eq.fSmoothness[0] = smooth;
        eq.SetMeasurement(0, unit.data(), 48000, 8192);
        EXPECT_NEAR(eq.GetRevise(0, 777), 0, 1e-12) << smooth;
    }
}

TEST_F(Measurement, LoadReadsTheProgramFolderFileAndClearDeletesIt)
{
    std::vector<double> ir(1024, 0.0);
    ir[3] = 0.25;
    WriteIR("ir0.wav", ir, 44100);
    WriteIR("ir_c0.wav", ir, 44100);
    eq.LoadMeasurements();
    ASSERT_TRUE(eq.MeasurePresent[0]);
    EXPECT_FALSE(eq.MeasurePresent[1]);
    EXPECT_EQ(eq.MeasureRate[0], 44100);
    EXPECT_EQ(eq.MeasureLength[0], 1024);
    EXPECT_NEAR(eq.MeasureIR[0][3], 0.25, 1e-9);

    eq.ClearMeasurement(0);
    EXPECT_FALSE(eq.MeasurePresent[0]);
    EXPECT_FALSE(std::filesystem::exists(folder.File("ir0.wav")));
    EXPECT_FALSE(std::filesystem::exists(folder.File("ir_c0.wav")));
}

TEST_F(Measurement, AResponseThatIsNotAPowerOfTwoIsRefusedButKept)
{
    WriteIR("ir1.wav", std::vector<double>(1000, 0.1), 48000);
    eq.LoadMeasurement(1);
    EXPECT_FALSE(eq.MeasurePresent[1]);
    EXPECT_TRUE(std::filesystem::exists(folder.File("ir1.wav")));
    test::WriteText(folder.File("ir0.wav"), "not a wave file");
    eq.LoadMeasurement(0);
    EXPECT_FALSE(eq.MeasurePresent[0]);
    EXPECT_TRUE(std::filesystem::exists(folder.File("ir0.wav")));
}

} // namespace
} // namespace marlix
