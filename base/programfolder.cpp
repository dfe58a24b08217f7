#include "base/programfolder.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace marlix {
namespace {

std::mutex gLock;
std::string gOverride;

std::string WithSlash(std::string s)
{
    if (s.empty() || s.back() != '/')
        s += '/';
    return s;
}

} // namespace

std::string ProgramFolder()
{
    std::lock_guard lock(gLock);
    if (!gOverride.empty())
        return gOverride;
    if (const char* home = std::getenv("MARLIX_AUDIO_HOME"); home && *home)
        return WithSlash(home);
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "./";
    return WithSlash(exe.parent_path().string());
}

void SetProgramFolder(const std::string& folder)
{
    std::lock_guard lock(gLock);
    gOverride = folder.empty() ? std::string() : WithSlash(folder);
}

} // namespace marlix
