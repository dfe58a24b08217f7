#include "player/dsppresets.h"

#include "base/fileutil.h"
#include "settings/eqcurve.h"
#include "settings/setting.h"
#include "settings/settingconvolver.h"
#include "settings/settingefx.h"
#include "settings/settingeq.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace marlix {

namespace fs = std::filesystem;

namespace {

bool HasExtension(const std::string& file, const std::string& ext)
{
    if (file.size() <= ext.size() + 1 || file[file.size() - ext.size() - 1] != '.')
        return false;
    return std::equal(ext.begin(), ext.end(), file.end() - static_cast<std::ptrdiff_t>(ext.size()),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                  std::tolower(static_cast<unsigned char>(b)); });
}

bool RemoveFile(const std::string& path)
{
    std::error_code ec;
    return fs::remove(path, ec) && !ec;
}

const char* const kMeasureFiles[] = {"ir0.wav", "ir_c0.wav", "ir1.wav", "ir_c1.wav"};

} // namespace

TDSPPresets::TDSPPresets(std::string folder)
    : Folder(std::move(folder)), EQ(Folder + "eqpreset.ini"), EQAll(Folder + "eqallpreset.ini"),
      Matrix(Folder + "matrixpreset.ini")
{
}

bool TDSPPresets::SafeName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool TDSPPresets::SaveSection(TIniFile& ini, const std::string& name)
{
    return !name.empty() && ini.UpdateFile();
}

std::vector<std::string> TDSPPresets::FileList(const std::string& sub, const std::string& ext) const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(Folder + sub, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (it->is_regular_file(ec) && HasExtension(file, ext))
            names.push_back(file.substr(0, file.size() - ext.size() - 1));
    }
    return names;
}

std::vector<std::string> TDSPPresets::EFXList() const { return FileList("efxpreset", "efx"); }
std::vector<std::string> TDSPPresets::ConvolverList() const { return FileList("convolverpreset", "convolver"); }

std::vector<std::string> TDSPPresets::MeasurementList() const
{
    std::vector<std::string> names;
    std::error_code ec;
    fs::create_directories(Folder + "IRs", ec);
    for (fs::directory_iterator it(Folder + "IRs", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_directory(ec) && name.front() != '!')
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool TDSPPresets::ChooseEQ(const std::string& name, TEQ& curve) const
{
    if (!EQ.ValueExists(name, "0_Count"))
        return false;
    curve.Load(EQ, name, 0);
    return true;
}

bool TDSPPresets::SaveEQ(const std::string& name, const TEQ& curve)
{
    if (name.empty())
        return false;
    EQ.EraseSection(name);
    curve.Save(EQ, name, 0);
    return SaveSection(EQ, name);
}

bool TDSPPresets::DeleteEQ(const std::string& name)
{
    EQ.EraseSection(name);
    return SaveSection(EQ, name);
}

bool TDSPPresets::ChooseEQAll(const std::string& name, TSettingEQ& eq) const
{
    if (!EQAll.SectionExists(name))
        return false;
    eq.Load(EQAll, name);
    return true;
}

bool TDSPPresets::SaveEQAll(const std::string& name, const TSettingEQ& eq)
{
    if (name.empty())
        return false;
    EQAll.EraseSection(name);
    eq.Save(EQAll, name);
    return SaveSection(EQAll, name);
}

bool TDSPPresets::DeleteEQAll(const std::string& name)
{
    EQAll.EraseSection(name);
    return SaveSection(EQAll, name);
}

bool TDSPPresets::ChooseMatrix(const std::string& name, TSettingMatrix& matrix) const
{
    if (!Matrix.SectionExists(name))
        return false;
    matrix.Load(Matrix, name);
    return true;
}

bool TDSPPresets::SaveMatrix(const std::string& name, const TSettingMatrix& matrix)
{
    if (name.empty())
        return false;
    Matrix.EraseSection(name);
    matrix.Save(Matrix, name);
    return SaveSection(Matrix, name);
}

bool TDSPPresets::DeleteMatrix(const std::string& name)
{
    Matrix.EraseSection(name);
    return SaveSection(Matrix, name);
}

bool TDSPPresets::ChooseEFX(const std::string& name, TSettingEFX& efx) const
{
    std::vector<uint8_t> bytes;
    if (!SafeName(name) || !ReadFileBytes(EFXFile(name), bytes))
        return false;
    efx.Clear();
    efx.Deserialize(bytes);
    return true;
}

bool TDSPPresets::SaveEFX(const std::string& name, const TSettingEFX& efx) const
{
    if (!SafeName(name))
        return false;
    std::error_code ec;
    fs::create_directories(Folder + "efxpreset", ec);
    return efx.Save(EFXFile(name));
}

bool TDSPPresets::DeleteEFX(const std::string& name) const { return SafeName(name) && RemoveFile(EFXFile(name)); }

bool TDSPPresets::ChooseConvolver(const std::string& name, TSettingConvolver& convolver) const
{
    std::vector<uint8_t> bytes;
    if (!SafeName(name) || !ReadFileBytes(ConvolverFile(name), bytes))
        return false;
    // Only a complete file is taken: read it aside and require that it reads to the end.
    TSettingConvolver read;
    read.Deserialize(bytes);
    if (read.Serialize().size() != bytes.size())
        return false;
    convolver = std::move(read);
    return true;
}

bool TDSPPresets::SaveConvolver(const std::string& name, const TSettingConvolver& convolver) const
{
    if (!SafeName(name))
        return false;
    std::error_code ec;
    fs::create_directories(Folder + "convolverpreset", ec);
    return convolver.Save(ConvolverFile(name));
}

bool TDSPPresets::DeleteConvolver(const std::string& name) const
{
    return SafeName(name) && RemoveFile(ConvolverFile(name));
}

bool TDSPPresets::ChooseMeasurement(const std::string& name, TSettingEQ& eq) const
{
    std::error_code ec;
    if (!SafeName(name) || !fs::is_directory(MeasurementFolder(name), ec))
        return false;
    bool ok = true;
    for (const char* file : kMeasureFiles) {
        const std::string from = MeasurementFolder(name) + file;
        const std::string to = Folder + file;
        if (fs::exists(from, ec))
            ok = fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && ok;
        else
            fs::remove(to, ec);
    }
    eq.LoadMeasurements();
    return ok;
}

bool TDSPPresets::SaveMeasurement(const std::string& name) const
{
    if (!SafeName(name))
        return false;
    const std::string dir = MeasurementFolder(name);
    std::error_code ec;
    if (fs::exists(dir, ec) && !DeleteTree(dir))
        return false;
    if (!fs::create_directories(dir, ec))
        return false;
    bool ok = true;
    for (const char* file : kMeasureFiles)
        if (fs::exists(Folder + file, ec))
            ok = fs::copy_file(Folder + file, dir + file, ec) && ok;
    return ok;
}

bool TDSPPresets::DeleteMeasurement(const std::string& name) const
{
    return SafeName(name) && DeleteTree(MeasurementFolder(name));
}

} // namespace marlix
