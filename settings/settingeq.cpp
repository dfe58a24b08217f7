#include "settings/settingeq.h"

#include "settings/inifile.h"

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

} // namespace marlix
