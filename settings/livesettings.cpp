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

} // namespace marlix
