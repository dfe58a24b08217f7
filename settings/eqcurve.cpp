#include "settings/eqcurve.h"

#include "settings/inifile.h"

#include <algorithm>

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
        if (ini.ValueExists(section, key))
            Points[i].Parse(ini.ReadString(section, key, {}));
    }
}

} // namespace marlix
