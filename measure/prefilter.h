#pragma once

namespace marlix {

class TMeasureState;
class TSettings;

// Shapes each channel's excitation as playback would: the equaliser designed at the
// measurement rate, the channel's level, delay and polarity; then scales both so the
// louder channel peaks at `amplitude`. The reference stays as generated.
void PrefilterMeasureSignal(TMeasureState& state, const TSettings& settings, double amplitude);

} // namespace marlix
