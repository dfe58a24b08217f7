// The bridge's exports: one TBridge per loaded copy of the library.
#include "plugins/aep.h"
#include "plugins/vstrack/bridge.h"

namespace {
marlix::plugins::TBridge gBridge;
} // namespace

AEP_EXPORT const char* GetPlugName(void) { return gBridge.Name(); }

AEP_EXPORT void SetPlugPath(const char*) {}

AEP_EXPORT void SetData(const void* data, int32_t size) { gBridge.SetData(data, size); }

AEP_EXPORT void GetData(void** data, int32_t* size) { gBridge.GetData(data, size); }

AEP_EXPORT void Clear(void) { gBridge.Clear(); }

AEP_EXPORT void Destroy(void) { gBridge.Destroy(); }

// LADSPA plug-ins have no editor window.
AEP_EXPORT void Show(void) {}
AEP_EXPORT void Hide(void) {}

AEP_EXPORT void PostWave(float** channels, int32_t rate, int32_t channelCount, int32_t count)
{
    gBridge.Process(channels, rate, channelCount, count);
}
