#include "settings/settingeq.h"

#include "settings/inifile.h"

#include <type_traits>

namespace marlix {
namespace {

// Calls f(key, field) for every correction key of channel n, in file order.
template <class Self, class F>
void CorrectionKeys(Self& s, int n, F&& f)
{
    const std::string i = std::to_string(n);
    const auto k = static_cast<size_t>(n);
    f("fSmoothness" + i, s.fSmoothness[k]);
    f("fSmoothness2" + i, s.fSmoothness2[k]);
    f("fPercentage" + i, s.fPercentage[k]);
    f("fHiFreq" + i, s.fHiFreq[k]);
    f("fLoFreq" + i, s.fLoFreq[k]);
    f("bReviseON" + i, s.bReviseON[k]);
    f("bRevisePON" + i, s.bRevisePON[k]);
    f("fPeakDipWeighting" + i, s.fPeakDipWeighting[k]);
}

} // namespace

void TSettingEQ::Save(TIniFile& ini, const std::string& section) const
{
    for (int c = -1; c <= 1; ++c)
        Curve(c).Save(ini, section, c);
    for (int n = 0; n < 2; ++n)
        CorrectionKeys(*this, n, [&](const std::string& key, const auto& v) {
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
    for (int n = 0; n < 2; ++n)
        CorrectionKeys(*this, n, [&](const std::string& key, auto& v) {
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, bool>)
                v = ini.ReadBool(section, key, v);
            else
                v = ini.ReadFloat(section, key, v);
        });
}

} // namespace marlix
