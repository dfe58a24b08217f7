// The plug-in's exports: one TCrossfeed per loaded copy of the library.
#include "plugins/aep.h"
#include "plugins/crossfeed/crossfeed.h"

namespace {

using marlix::plugins::TCrossfeed;
using marlix::plugins::TCrossfeedSettings;

TCrossfeed gCrossfeed;
// GetData hands this out; it stays valid until the next call.
std::array<uint8_t, TCrossfeedSettings::kBlockSize> gState;

} // namespace

AEP_EXPORT const char* GetPlugName(void) { return "Marlix|Crossfeed"; }

AEP_EXPORT void SetPlugPath(const char*) {}

AEP_EXPORT void SetData(const void* data, int32_t size)
{
    // Anything but a valid block (the bridge's block among them) keeps the settings.
    if (auto settings = TCrossfeedSettings::Decode(data, size))
        gCrossfeed.SetSettings(*settings);
}

AEP_EXPORT void GetData(void** data, int32_t* size)
{
    if (!data || !size)
        return;
    gState = gCrossfeed.Settings().Encode();
    *data = gState.data();
    *size = static_cast<int32_t>(gState.size());
}

AEP_EXPORT void Clear(void) { gCrossfeed.Clear(); }

AEP_EXPORT void Destroy(void) {}

// Headless build: there is no editor window.
AEP_EXPORT void Show(void) {}
AEP_EXPORT void Hide(void) {}

AEP_EXPORT void PostWave(float** channels, int32_t rate, int32_t channelCount, int32_t count)
{
    gCrossfeed.Process(channels, rate, channelCount, count);
}
