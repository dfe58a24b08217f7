// The stream decoder lives in "dsdec.so" (FFmpeg and everything it pulls in), loaded
// the first time a file needs it, so that playing and rendering PCM WAV files never
// pays for loading FFmpeg. Looked for in MARLIX_AUDIO_LIBDIR, the program folder and
// the executable's folder; without it every library open fails cleanly.
#include "platform/dsdec/dsdec.h"

#include "engine/programfolder.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <vector>

namespace marlix {
namespace {

struct TModule {
    TDSDHandle (*Create)(const char*, int, TDSDCallBack*) = nullptr;
    void (*Free)(TDSDHandle) = nullptr;
    const TWaveFormatEx* (*Format)(TDSDHandle) = nullptr;
    double (*Length)(TDSDHandle) = nullptr;
    double (*Position)(TDSDHandle) = nullptr;
    void (*SetPosition)(TDSDHandle, double) = nullptr;
    int32_t (*Finished)(TDSDHandle) = nullptr;
};

template <class F>
bool Resolve(void* handle, const char* name, F& f)
{
    f = reinterpret_cast<F>(dlsym(handle, name));
    return f != nullptr;
}

TModule Load()
{
    std::vector<std::string> candidates;
    if (const char* dir = std::getenv("MARLIX_AUDIO_LIBDIR"); dir && *dir)
        candidates.push_back(std::string(dir) + "/dsdec.so");
    candidates.push_back(ProgramFolder() + "dsdec.so");
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        candidates.push_back((exe.parent_path() / "dsdec.so").string());
    for (const std::string& path : candidates) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            continue;
        TModule m;
        if (Resolve(handle, "dsdCreate", m.Create) && Resolve(handle, "dsdFree", m.Free) &&
            Resolve(handle, "dsdGetWaveFormatEx", m.Format) && Resolve(handle, "dsdGetLength", m.Length) &&
            Resolve(handle, "dsdGetPosition", m.Position) && Resolve(handle, "dsdSetPosition", m.SetPosition) &&
            Resolve(handle, "dsdGetFinished", m.Finished))
            return m; // kept loaded for the life of the process
        dlclose(handle);
    }
    return {};
}

const TModule& Module()
{
    static const TModule module = Load();
    return module;
}

} // namespace

TDSDHandle dsdCreate(const char* name, int flags, TDSDCallBack* callback)
{
    return Module().Create ? Module().Create(name, flags, callback) : nullptr;
}

void dsdFree(TDSDHandle handle)
{
    if (handle && Module().Free)
        Module().Free(handle);
}

const TWaveFormatEx* dsdGetWaveFormatEx(TDSDHandle handle)
{
    return handle && Module().Format ? Module().Format(handle) : nullptr;
}

double dsdGetLength(TDSDHandle handle)
{
    return handle && Module().Length ? Module().Length(handle) : 0.0;
}

double dsdGetPosition(TDSDHandle handle)
{
    return handle && Module().Position ? Module().Position(handle) : 0.0;
}

void dsdSetPosition(TDSDHandle handle, double ms)
{
    if (handle && Module().SetPosition)
        Module().SetPosition(handle, ms);
}

int32_t dsdGetFinished(TDSDHandle handle)
{
    return handle && Module().Finished ? Module().Finished(handle) : 1;
}

} // namespace marlix
