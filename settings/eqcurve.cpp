#include "settings/eqcurve.h"

#include "settings/inifile.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace marlix {
namespace {

std::string CountKey(int curve)
{
    return std::to_string(curve) + "_Count";
}

std::string PointKey(int curve, size_t index)
{
    return std::to_string(curve) + "_" + std::to_string(index);
}

} // namespace

std::string TEQ1::Format() const
{
    return std::to_string(Kind) + "/" + FormatFloat(Freq) + "/" + FormatFloat(Width) + "/" + FormatFloat(Shape) +
        "/" + FormatFloat(Gain);
}

void TEQ1::Parse(std::string_view text)
{
    double* const numbers[] = {&Freq, &Width, &Shape, &Gain};
    for (int field = 0; field < 5; ++field) {
        const auto slash = text.find('/');
        const std::string_view part = text.substr(0, slash);
        if (field == 0)
            ParseInteger(part, Kind);
        else
            ParseFloat(part, *numbers[field - 1]);
        if (slash == std::string_view::npos)
            return;
        text.remove_prefix(slash + 1);
    }
}

void TEQ::Delete(size_t index)
{
    if (index < Points.size())
        Points.erase(Points.begin() + static_cast<std::ptrdiff_t>(index));
}

void TEQ::ResetGains()
{
    for (auto& p : Points)
        p.Gain = 0;
}

void TEQ::Save(TIniFile& ini, const std::string& section, int curve) const
{
    ini.WriteInteger(section, CountKey(curve), static_cast<int>(Points.size()));
    for (size_t i = 0; i < Points.size(); ++i)
        ini.WriteString(section, PointKey(curve, i), Points[i].Format());
    // Drop the keys of points a longer curve left behind.
    for (size_t i = Points.size(); ini.ValueExists(section, PointKey(curve, i)); ++i)
        ini.DeleteKey(section, PointKey(curve, i));
}

void TEQ::Load(const TIniFile& ini, const std::string& section, int curve)
{
    int count = 0;
    if (!ini.ValueExists(section, CountKey(curve)) || !ParseInteger(ini.ReadString(section, CountKey(curve), {}), count))
        return;
    count = std::clamp(count, 0, MaxPoints);
    Points.assign(static_cast<size_t>(count), TEQ1{});
    for (size_t i = 0; i < Points.size(); ++i) {
        const std::string key = PointKey(curve, i);
        if (!ini.ValueExists(section, key))
            continue;
        // A frequency that is not positive has no place on the log-frequency axis: the
        // point keeps the loader's default.
        TEQ1 point;
        point.Parse(ini.ReadString(section, key, {}));
        if (point.Freq > 0)
            Points[i] = point;
    }
}

namespace {

constexpr double kSilence = -192;

// Low-pass value at log-frequency g for a knee at g0 with half-width h.
double LowPassValue(double g, double g0, double h)
{
    if (g < g0 - h)
        return 0;
    if (g <= g0) {
        const double t = (h - (g0 - g)) / h;
        return -3 * t * t;
    }
    return -3 - 6 * (g - g0) / h;
}

} // namespace

double TEQ1::Response(double x) const
{
    const double g = std::log(x), g0 = std::log(Freq);
    const double b = std::exp2(Width - 1) * std::numbers::ln2;
    if (Kind >= -1 && Kind <= 1) {
        const double lo = Kind == -1 ? 0.0 : g0 - b;
        const double hi = Kind == 1 ? 10000000.0 : g0 + b;
        if (g <= lo || g >= hi)
            return 0;
        const double h = (g - g0) / b;
        double r = std::copysign(std::pow(std::abs(h), std::exp2(Shape)), h);
        if ((Kind == -1 && r < 0) || (Kind == 1 && r > 0))
            r = 0;
        return Gain * (1 + std::cos(std::numbers::pi * r)) / 2;
    }
    const double h = b / 4 != 0 ? b / 4 : 1.0;
    if (Kind != 2)
        return LowPassValue(g, g0, h);
    if (g < g0 - h)
        return kSilence;
    const double v = 1 - std::exp2(LowPassValue(g, g0, h) / 6);
    return v > 0 ? 6 * std::log2(v) : kSilence;
}

double TEQ::Response(double x) const
{
    double sum = 0;
    for (const TEQ1& p : Points)
        sum += p.Response(x);
    return sum;
}

} // namespace marlix
