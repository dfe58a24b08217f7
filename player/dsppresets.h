#pragma once
#include "settings/inifile.h"

#include <string>
#include <vector>

namespace marlix {

class TEQ;
class TSettingConvolver;
class TSettingEFX;
class TSettingEQ;
class TSettingMatrix;

// The DSP window's six preset kinds, stored beside the program: one-channel EQ, all EQ
// and matrix presets as sections of "eqpreset.ini", "eqallpreset.ini" and
// "matrixpreset.ini"; effect and convolver presets as files in "efxpreset" and
// "convolverpreset"; measurement results as folders in "IRs". The INI files stay open
// and are written through at every save and erase.
//
// A choose operation that cannot read its preset returns false and leaves the record as
// it was. File and folder presets refuse names that would leave their folder.
class TDSPPresets {
public:
    // `folder` is the program folder, with its trailing "/".
    explicit TDSPPresets(std::string folder);

    // Section names in file order.
    std::vector<std::string> EQList() const { return EQ.ReadSections(); }
    std::vector<std::string> EQAllList() const { return EQAll.ReadSections(); }
    std::vector<std::string> MatrixList() const { return Matrix.ReadSections(); }
    // File names without extension, in the order the file system gives them; a missing
    // folder lists nothing.
    std::vector<std::string> EFXList() const;
    std::vector<std::string> ConvolverList() const;
    // Sub-folders of "IRs" (created when missing), sorted, without those starting "!".
    std::vector<std::string> MeasurementList() const;

    // One curve, stored as curve 0 whatever curve it came from.
    bool ChooseEQ(const std::string& name, TEQ& curve) const;
    bool SaveEQ(const std::string& name, const TEQ& curve);
    bool DeleteEQ(const std::string& name);

    bool ChooseEQAll(const std::string& name, TSettingEQ& eq) const;
    bool SaveEQAll(const std::string& name, const TSettingEQ& eq);
    bool DeleteEQAll(const std::string& name);

    bool ChooseMatrix(const std::string& name, TSettingMatrix& matrix) const;
    bool SaveMatrix(const std::string& name, const TSettingMatrix& matrix);
    bool DeleteMatrix(const std::string& name);

    bool ChooseEFX(const std::string& name, TSettingEFX& efx) const;
    bool SaveEFX(const std::string& name, const TSettingEFX& efx) const;
    bool DeleteEFX(const std::string& name) const;

    bool ChooseConvolver(const std::string& name, TSettingConvolver& convolver) const;
    bool SaveConvolver(const std::string& name, const TSettingConvolver& convolver) const;
    bool DeleteConvolver(const std::string& name) const;

    // Copies the preset's "ir"/"ir_c" files over the program folder's (deleting those
    // the preset lacks), then reloads the measurements into `eq`.
    bool ChooseMeasurement(const std::string& name, TSettingEQ& eq) const;
    bool SaveMeasurement(const std::string& name) const;
    bool DeleteMeasurement(const std::string& name) const;

    std::string EFXFile(const std::string& name) const { return Folder + "efxpreset/" + name + ".efx"; }
    std::string ConvolverFile(const std::string& name) const
    {
        return Folder + "convolverpreset/" + name + ".convolver";
    }
    std::string MeasurementFolder(const std::string& name) const { return Folder + "IRs/" + name + "/"; }

    // A name that stays inside its folder: not empty, no "/" and no NUL, not "." or "..".
    static bool SafeName(const std::string& name);

private:
    static bool SaveSection(TIniFile& ini, const std::string& name);
    std::vector<std::string> FileList(const std::string& sub, const std::string& ext) const;

    std::string Folder;
    TIniFile EQ;
    TIniFile EQAll;
    TIniFile Matrix;
};

} // namespace marlix
