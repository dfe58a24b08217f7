#include "settings/livesettings.h"

#include "settings/settings.h"

namespace marlix {

TLiveSettings::TLiveSettings() : Matrix(TSettingMatrix()) {}

void TLiveSettings::PublishAll(const TSettings& settings)
{
    PublishEQ(settings.EQ);
    PublishConvolver(settings.Convolver);
    PublishMatrix(settings.Matrix);
}

void TLiveSettings::PublishConvolver(const TConvolverSet& convolver)
{
    if (!SameResponses(Convolver.Newest(), convolver))
        ConvolverResponses.fetch_add(1, std::memory_order_release);
    Convolver.Publish(convolver);
}

} // namespace marlix
