// The stream decoder lives in "dsdec.so" (FFmpeg and everything it pulls in), loaded
// the first time a file needs it, so that playing and rendering PCM WAV files never
// pays for loading FFmpeg. Looked for in MARLIX_AUDIO_LIBDIR, the program folder and
// the executable's folder; without it every library open fails cleanly.
#include "platform/dsdec/dsdec.h"

#include "base/dynlib.h"

#include <string>

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

TModule Load()
{
    for (const std::string& path : ModuleCandidates("dsdec.so")) {
        TDynLib lib(path);
        TModule m;
        if (lib && lib.Resolve("dsdCreate", m.Create) && lib.Resolve("dsdFree", m.Free) &&
            lib.Resolve("dsdGetWaveFormatEx", m.Format) && lib.Resolve("dsdGetLength", m.Length) &&
            lib.Resolve("dsdGetPosition", m.Position) && lib.Resolve("dsdSetPosition", m.SetPosition) &&
            lib.Resolve("dsdGetFinished", m.Finished)) {
            lib.Release(); // kept loaded for the life of the process
            return m;
        }
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
