#pragma once
#include <string>

namespace marlix {

class TDSPPresets;
class TFo_Decoder;
class TOutputChain;
class TPlayerState;
class TPluginHost;
class TSettings;

// The cores the DSP window and its pages work on. Edits of what the pipeline reads are
// published through the chain's hand-over (Chain.Live); the output stage's scalars are
// atomics in the records.
struct TDSPContext {
    TSettings& Settings;
    TPlayerState& State;
    TOutputChain& Chain;
    TFo_Decoder& Decoder;
    TPluginHost* Plugins; // none: no effect plug-ins
    TDSPPresets& Presets;
    std::string Folder;   // the program folder, with its trailing "/"
};

} // namespace marlix
