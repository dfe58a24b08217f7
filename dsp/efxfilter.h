#pragma once
#include "dsp/efxslot.h"
#include "dsp/filterstage.h"
#include "dsp/gainramp.h"

#include <array>
#include <memory>
#include <vector>

namespace marlix {

class TPluginHost;

// The effect stage: converts each block to 32-bit floats once, passes it through the
// switched-on plug-in slots in slot order, and converts it back. Plug-ins with "PostWave"
// see every channel; the others see channels 0 and 1 interleaved. A slot switched on or
// off while playing crossfades between its input and its output over 10 ms.
class TEFXFilter : public TFilterStage {
public:
    // Calls "Clear" of every loaded slot (this runs on the pipeline thread).
    TEFXFilter(int channels, bool secondFIFO, int rate, int capacity, TPluginHost& host, const TEFXSlots& slots);
    void Process(TMChFIFO& in, TMChFIFO& out, int count) override;

    int Rate;

private:
    void RunSlot(int slot, int channels, int count);
    void CallPlugin(int slot, int channels, int count);
    void Blend(int channels, int count);

    TPluginHost& Host;
    const TEFXSlots& Slots;
    int Capacity;
    std::unique_ptr<double[]> Samples;
    std::vector<std::unique_ptr<float[]>> Floats;
    std::vector<float*> Pointers;
    std::unique_ptr<float[]> Interleaved;
    // Per slot how much of its output is heard (1 on, 0 off, gliding between); while it
    // glides, the slot's input is kept in Dry and the block's gains in Gains.
    int FadeFrames;
    std::array<TGainRamp, kEFXSlotCount> Wet;
    std::vector<std::unique_ptr<float[]>> Dry;
    std::unique_ptr<double[]> Gains;
};

} // namespace marlix
