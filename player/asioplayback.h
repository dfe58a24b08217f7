#pragma once
#include <cstdint>

namespace marlix {

// The render callback playback hands the pro-audio host: renders the chain's channels
// through the output stage and copies the assigned pair ("ChAssign0") to the driver's
// output pair ("Device0"). Prepare runs before streaming; Render allocates nothing.
class TASIOPlayback {
public:
    static void Prepare(int channels, int sourcePair, int devicePair);
    static void Render(int frames, int inputCount, int32_t* const* inputs, int outputCount,
                       int32_t* const* outputs);
};

} // namespace marlix
