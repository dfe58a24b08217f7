#include "settings/settings.h"

#include "base/programfolder.h"
#include "settings/inifile.h"

namespace marlix {

TSettings::TSettings() : TSettings(ProgramFolder()) {}

TSettings::TSettings(const std::string& programFolder) : Function(programFolder) {}

void TSettings::Load(const TIniFile& ini, const std::string& programFolder)
{
    Output.Load(ini, "Output");
    MME.Load(ini, "MME");
    ASIO.Load(ini, "ASIO");
    Filter.Load(ini, "Filter");
    if (ini.ReadInteger("Global", "IniVersion", 0) < MinIniVersion)
        Filter.HSCMode = 2;
    EQ.Load(ini, "EQ");
    EQ.Folder = programFolder;
    EQ.LoadMeasurements();
    EFX.Load(programFolder + "efxsetting.bin");
    Convolver.Load(programFolder + "convolversetting.bin");
    Matrix.Load(ini, "Matrix");
    ReSampler.Load(ini, "ReSampler");
    Operation.Load(ini, "Operation");
    View.Load(ini, "View");
    Function.Load(ini, "Function");
    Measure.Load(ini, "Measure");
}

bool TSettings::SaveRecords(TIniFile& ini, const std::string& programFolder) const
{
    Output.Save(ini, "Output");
    MME.Save(ini, "MME");
    ASIO.Save(ini, "ASIO");
    Filter.Save(ini, "Filter");
    EQ.Save(ini, "EQ");
    const bool efx = EFX.Save(programFolder + "efxsetting.bin");
    const bool convolver = Convolver.Save(programFolder + "convolversetting.bin");
    Matrix.Save(ini, "Matrix");
    ReSampler.Save(ini, "ReSampler");
    Operation.Save(ini, "Operation");
    View.Save(ini, "View");
    Function.Save(ini, "Function");
    Measure.Save(ini, "Measure");
    return efx && convolver;
}

void TSettings::SaveGlobal(TIniFile& ini) const
{
    ini.WriteInteger("Global", "IniVersion", IniVersion);
}

TSettings& Settings()
{
    static TSettings settings;
    return settings;
}

void ResetSettings(const std::string& programFolder)
{
    TEFXSlotHost* host = Settings().EFX.Host();
    Settings() = TSettings(programFolder);
    Settings().EFX.SetHost(host);
}

} // namespace marlix
