#pragma once
// Runs a LADSPA plug-in on the player's blocks.
//
// A mono plug-in (one audio input, one audio output) gets an instance per channel, up to
// kMaxChannels; any other plug-in gets one instance whose audio input i reads channel i
// (silence when the block has no such channel) and whose audio output o writes channel o
// (discarded when the block has no such channel). Channels past those are untouched.
//
// Instances are made at load for kInitialRate and activated. A block at another rate
// makes them again for that rate on the pipeline thread: LADSPA fixes the rate at
// instantiation, so this allocation there cannot be avoided.
#include "plugins/vstrack/ladspacontrols.h"

#include <ladspa.h>

#include <cstdint>
#include <vector>

namespace marlix::plugins {

class TLadspaRack {
public:
    static constexpr int kMaxChannels = 16;
    static constexpr unsigned long kInitialRate = 44100;
    // Longer blocks run in pieces of this many samples (the size of the scratch buffers).
    static constexpr int32_t kChunk = 4096;

    TLadspaRack(const LADSPA_Descriptor& descriptor, const TLadspaControls& controls);
    ~TLadspaRack();
    TLadspaRack(const TLadspaRack&) = delete;
    TLadspaRack& operator=(const TLadspaRack&) = delete;

    // Pipeline thread.
    void Clear();
    void Process(float** channels, int32_t rate, int32_t channelCount, int32_t count);

private:
    void Instantiate(unsigned long rate);
    void Release();
    bool Mono() const { return audioIn_.size() == 1 && audioOut_.size() == 1; }
    // Runs `instance` on n samples from `offset`, its first audio ports on channel `first`.
    void Run(LADSPA_Handle instance, float** channels, int32_t channelCount, int first, int32_t offset,
             int32_t n);

    const LADSPA_Descriptor& d_;
    const TLadspaControls& controls_;
    const bool inPlaceBroken_;
    std::vector<unsigned long> audioIn_, audioOut_;
    std::vector<LADSPA_Handle> instances_;
    unsigned long rate_ = 0;
    // Control ports of every instance are connected here, indexed by port.
    std::vector<LADSPA_Data> portValues_;
    std::vector<float> silence_;
    std::vector<std::vector<float>> inputCopy_, discard_;
};

} // namespace marlix::plugins
