#include "settings/settingeq.h"

#include "settings/inifile.h"

#include "dsp/fft.h"
#include "dsp/firdesign.h"
#include "dsp/firfilter.h"
#include "base/flexfilebuf.h"
#include "base/programfolder.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>

#include <type_traits>

namespace marlix {
namespace {

// Calls f(key, field) for every correction key of both channels, in file order.
template <class Self, class F>
void CorrectionKeys(Self& s, F&& f)
{
    const auto both = [&](const char* name, auto& field) {
        for (size_t n = 0; n < 2; ++n)
            f(name + std::to_string(n), field[n]);
    };
    both("fSmoothness", s.fSmoothness);
    both("fSmoothness2", s.fSmoothness2);
    both("fPercentage", s.fPercentage);
    both("fHiFreq", s.fHiFreq);
    both("fLoFreq", s.fLoFreq);
    both("bReviseON", s.bReviseON);
    both("bRevisePON", s.bRevisePON);
    both("fPeakDipWeighting", s.fPeakDipWeighting);
}

} // namespace

void TSettingEQ::Save(TIniFile& ini, const std::string& section) const
{
    for (int c = -1; c <= 1; ++c)
        Curve(c).Save(ini, section, c);
    CorrectionKeys(*this, [&](const std::string& key, const auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, bool>)
            ini.WriteBool(section, key, v);
        else
            ini.WriteFloat(section, key, v);
    });
}

void TSettingEQ::Load(const TIniFile& ini, const std::string& section)
{
    for (int c = -1; c <= 1; ++c)
        Curve(c).Load(ini, section, c);
    CorrectionKeys(*this, [&](const std::string& key, auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, bool>)
            v = ini.ReadBool(section, key, v);
        else
            v = ini.ReadFloat(section, key, v);
    });
}

double CurvesEQ(const TEQCurves& curves, int channel, double freq)
{
    double db = curves[0].Response(freq);
    if (channel >= 0 && channel <= 1)
        db += curves[static_cast<size_t>(channel + 1)].Response(freq);
    return db;
}

void DesignEQTaps(const TEQCurves& curves, int channel, int rate, int taps, TFlexBuf& block)
{
    const int k = taps / 2 + 1;
    block.SetBuf(nullptr, 1, 65, k);
    double* m = static_cast<double*>(block.Data[0]);
    for (int j = 0; j < k; ++j) {
        const double f = j == 0 ? 1.0 : static_cast<double>(rate) * j / taps;
        m[j] = std::exp2(CurvesEQ(curves, channel, f) / 6);
    }
    LinearPhaseFIR(block);
    block.WindowHann();
}

double TSettingEQ::GetEQ(int channel, double freq) const
{
    return CurvesEQ(Curves, channel, freq);
}

void TSettingEQ::DesignEQ(TFIRFilter& filter, int rate, int taps) const
{
    TFlexBuf block;
    for (int ch = 0; ch < filter.GetChannels(); ++ch) {
        DesignEQTaps(Curves, ch, rate, taps, block);
        filter.SetTaps(ch, block);
    }
}

void TSettingEQ::SetMeasurement(int channel, const double* samples, int rate, int length)
{
    if (channel < 0 || channel > 1)
        return;
    ForgetMeasurement(channel);
    if (length < 2 || (length & (length - 1)) != 0)
        return; // the transform needs a power of two
    MeasureRate[channel] = rate;
    MeasureLength[channel] = length;
    MeasureIR[channel].assign(samples, samples + length);
    MeasurePresent[channel] = true;

    std::vector<Complex> z(static_cast<size_t>(length) + 1);
    for (int i = 0; i < length; ++i)
        z[i] = Complex(samples[i], 0);
    TFFTTables tables;
    FFTInit(length, tables);
    FFTForward(z.data(), length, tables);
    FFTFree(tables);
    std::vector<double>& m = Magnitude[channel];
    m.resize(static_cast<size_t>(length) / 2 + 1);
    for (size_t k = 0; k < m.size(); ++k)
        m[k] = std::abs(z[k]);
    // At most 512 values per octave: from bin 1024 up, each octave's bins are
    // replaced by the means of 512 equal groups.
    for (int o = 10; (1 << o) < length / 2; ++o) {
        const int group = 1 << (o - 9);
        for (int start = 1 << o; start < (2 << o); start += group) {
            double sum = 0;
            for (int i = start; i < start + group; ++i)
                sum += m[i];
            std::fill(m.begin() + start, m.begin() + start + group, sum / group);
        }
    }
}

void TSettingEQ::ForgetMeasurement(int channel)
{
    MeasurePresent[channel] = false;
    MeasureIR[channel].clear();
    Magnitude[channel].clear();
    Delay[channel].clear();
}

void TSettingEQ::LoadMeasurement(int channel)
{
    if (channel < 0 || channel > 1)
        return;
    const std::string name = MeasureFile("ir", channel);
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) {
        ClearMeasurement(channel);
        return;
    }
    TFlexFileBuf file;
    if (file.OpenFile(0, {name}, 0, 0, 1, 0) != 0) {
        ForgetMeasurement(channel);
        return;
    }
    const int rate = file.GetFileRate(0);
    const int64_t frames = file.GetFileLength(0);
    const int length = frames > (1 << 26) ? 0 : file.ReadBlock(static_cast<int>(frames));
    file.CloseFile(0);
    if (length <= 0) {
        ForgetMeasurement(channel);
        return;
    }
    SetMeasurement(channel, static_cast<const double*>(file.GetData(65)[0]), rate, length);
}

void TSettingEQ::LoadMeasurements()
{
    LoadMeasurement(0);
    LoadMeasurement(1);
}

void TSettingEQ::ClearMeasurement(int channel)
{
    if (channel < 0 || channel > 1 || !MeasurePresent[channel])
        return;
    ForgetMeasurement(channel);
    std::error_code ec;
    std::filesystem::remove(MeasureFile("ir", channel), ec);
    std::filesystem::remove(MeasureFile("ir_c", channel), ec);
}

namespace {

// Bins visited per step: about 512 to 1024 per octave.
int ReviseStep(int q)
{
    const int r = static_cast<int>(std::nearbyint(std::log2(static_cast<double>(q)) - 9));
    return r >= 1 ? 1 << (r - 1) : 1;
}

} // namespace

double TSettingEQ::GetRevise(int channel, double x) const
{
    if (channel < 0 || channel > 1 || !MeasurePresent[channel] || !bReviseON[channel] || x <= 0)
        return 0;
    const std::vector<double>& m = Magnitude[channel];
    const int h = MeasureLength[channel] / 2;
    const double delta = static_cast<double>(MeasureRate[channel]) / MeasureLength[channel];
    const double hiFreq = fHiFreq[channel], loFreq = fLoFreq[channel], w = fPeakDipWeighting[channel];

    const double nearest = std::nearbyint(x / delta);
    int k = static_cast<int>(std::min<double>(h, nearest));
    double c = nearest > h ? delta * h : x;
    if (delta * k > hiFreq) {
        k = static_cast<int>(std::nearbyint(hiFreq / delta));
        c = hiFreq;
    }
    if (delta * k < loFreq) {
        k = static_cast<int>(std::nearbyint(loFreq / delta));
        c = loFreq;
    }
    k = std::clamp(k, 0, h);

    const double sigma = std::exp2(-9 * (1 - fSmoothness[channel])) * std::numbers::ln2;
    const double lnC = std::log(c);
    auto weight = [&](int q) {
        const double d = std::log(delta * q) - lnC;
        return std::exp2(w * m[q] / 6) * std::exp(-(d * d * d * d) / (2 * sigma * sigma));
    };
    double u = 0, s = 0;
    auto visit = [&](int q) {
        const double wq = weight(q), a = ReviseStep(q);
        u += wq * m[q] * a / q;
        s += wq * a / q;
        return wq > 0.1;
    };
    for (int q = k; q > 0 && delta * q >= loFreq; q -= ReviseStep(q))
        if (!visit(q))
            break;
    for (int q = k + 1; q <= h && delta * q <= hiFreq; q += ReviseStep(q))
        if (!visit(q))
            break;

    double level = 0;
    if (s > 0) {
        const double v = u / s;
        level = v > 0 ? 6 * std::log2(v) : -192;
    }
    if (x != c) {
        const double sigma2 = std::exp2(-9 * (1 - fSmoothness2[channel])) * std::numbers::ln2;
        const double d = std::log(x) - lnC;
        level *= std::exp(-(d * d * d * d) / (2 * sigma2 * sigma2));
    }
    return -level * fPercentage[channel];
}

std::string TSettingEQ::MeasureFile(const char* prefix, int channel) const
{
    return (Folder.empty() ? ProgramFolder() : Folder) + prefix + std::to_string(channel) + ".wav";
}

} // namespace marlix
