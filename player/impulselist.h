#pragma once
#include <string>
#include <vector>

namespace marlix {

struct TConvolverEntry;

// One channel of a WAV file in the impulse-response folder, as the convolver page lists it.
struct TImpulseItem {
    std::string File;
    int Channel = 0;     // counted from 0
    std::string Caption; // "name (Ch n)", n counted from 1
};

// Every channel of every readable WAV file in `folder` and its sub-folders, sorted by
// path so the menu keeps its order between runs.
std::vector<TImpulseItem> GatherImpulseResponses(const std::string& folder);

// Reads the item's channel into `entry` (IR, IRLength, IRRate, IRName, HasIR). False, and
// `entry` left as it was, when the file cannot be read.
bool LoadImpulseResponse(const TImpulseItem& item, TConvolverEntry& entry);

} // namespace marlix
