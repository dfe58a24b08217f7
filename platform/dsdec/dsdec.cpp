// The stream decoder lives in "dsdec.so" (FFmpeg and everything it pulls in), loaded
// the first time a file needs it, so that playing and rendering PCM WAV files never
// pays for loading FFmpeg. Looked for in MARLIX_AUDIO_LIBDIR, the program folder and
// the executable's folder; without it every library open fails cleanly.
#include "platform/dsdec/dsdec.h"

#include "base/dynlib.h"

#include <algorithm>
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
    // Optional: a module without them still decodes.
    int32_t (*Tags)(const char*, char*, int32_t) = nullptr;
    const char* (*Version)() = nullptr;
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
            lib.Resolve("dsdGetTags", m.Tags);
            lib.Resolve("dsdGetVersion", m.Version);
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

bool dsdReadTags(const std::string& name, std::vector<std::pair<std::string, std::string>>& info)
{
    info.clear();
    if (!Module().Tags)
        return false;
    std::string text(4096, '\0');
    int32_t n = Module().Tags(name.c_str(), text.data(), int32_t(text.size()));
    if (n >= int32_t(text.size())) {
        text.assign(size_t(n) + 1, '\0');
        n = Module().Tags(name.c_str(), text.data(), int32_t(text.size()));
    }
    if (n < 0)
        return false;
    text.resize(std::min(size_t(n), text.size() - 1));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            info.emplace_back(line.substr(0, tab), line.substr(tab + 1));
        start = end + 1;
    }
    return true;
}

std::string dsdVersion()
{
    const char* v = Module().Version ? Module().Version() : nullptr;
    return v ? v : "";
}

} // namespace marlix
