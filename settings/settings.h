#pragma once
#include "settings/setting.h"
#include "settings/settingconvolver.h"
#include "settings/settingefx.h"
#include "settings/settingeq.h"

#include <string>

namespace marlix {

class TIniFile;

// The thirteen setting records of the process, created in this order.
class TSettings {
public:
    // Version written to "Global"/"IniVersion"; files below MinIniVersion predate the
    // current "HSCMode" numbering.
    static constexpr int IniVersion = 117;
    static constexpr int MinIniVersion = 116;

    TSettings();
    explicit TSettings(const std::string& programFolder);

    // Reads every record: the INI sections, then "efxsetting.bin" and
    // "convolversetting.bin" from `programFolder` (with its trailing "/").
    void Load(const TIniFile& ini, const std::string& programFolder);
    // Writes every record in the loading order; false when a binary file could not be
    // written. The caller writes "Status" next, then SaveGlobal.
    [[nodiscard]] bool SaveRecords(TIniFile& ini, const std::string& programFolder) const;
    void SaveGlobal(TIniFile& ini) const;

    TSettingOutput Output;
    TSettingMME MME;
    TSettingASIO ASIO;
    TSettingFilter Filter;
    TSettingEQ EQ;
    TSettingEFX EFX;
    TSettingConvolver Convolver;
    TSettingMatrix Matrix;
    TSettingReSampler ReSampler;
    TSettingFunction Function;
    TSettingOperation Operation;
    TSettingView View;
    TSettingMeasure Measure;
};

// The process-wide records, made on first use with ProgramFolder().
TSettings& Settings();
// Puts fresh defaults in place (made from `programFolder`); the object and the effect
// host stay the same.
void ResetSettings(const std::string& programFolder);

} // namespace marlix
