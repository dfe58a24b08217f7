#include "base/dynlib.h"

#include "base/programfolder.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <utility>

namespace marlix {

TDynLib::TDynLib(const std::string& path)
    : Lib(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)), LibPath(path)
{
}

TDynLib::~TDynLib() { Close(); }

TDynLib::TDynLib(TDynLib&& other) noexcept
    : Lib(std::exchange(other.Lib, nullptr)), LibPath(std::move(other.LibPath))
{
}

TDynLib& TDynLib::operator=(TDynLib&& other) noexcept
{
    if (this != &other) {
        Close();
        Lib = std::exchange(other.Lib, nullptr);
        LibPath = std::move(other.LibPath);
    }
    return *this;
}

void* TDynLib::Symbol(const char* name) const { return Lib ? dlsym(Lib, name) : nullptr; }

void TDynLib::Close()
{
    if (Lib)
        dlclose(std::exchange(Lib, nullptr));
}

std::vector<std::string> ModuleCandidates(const std::string& fileName)
{
    std::vector<std::string> candidates;
    if (const char* dir = std::getenv("MARLIX_AUDIO_LIBDIR"); dir && *dir)
        candidates.push_back(std::string(dir) + "/" + fileName);
    candidates.push_back(ProgramFolder() + fileName);
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        candidates.push_back((exe.parent_path() / fileName).string());
    return candidates;
}

TDynLib OpenModule(const std::string& fileName)
{
    for (const std::string& path : ModuleCandidates(fileName))
        if (TDynLib lib(path); lib)
            return lib;
    return {};
}

} // namespace marlix
