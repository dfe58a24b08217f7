#include "dsp/efxfilter.h"

#include "dsp/pluginhost.h"

#include <algorithm>

namespace marlix {

TEFXFilter::TEFXFilter(int channels, bool secondFIFO, int rate, int capacity, TPluginHost& host,
                       const TEFXSlots& slots)
    : TFilterStage(channels, secondFIFO, capacity), Rate(rate), Host(host), Slots(slots),
      Capacity(OutFIFO->Free()), Samples(std::make_unique<double[]>(static_cast<size_t>(Capacity))),
      Interleaved(std::make_unique<float[]>(2 * static_cast<size_t>(Capacity))),
      FadeFrames(std::max(1, rate / 100)), Gains(std::make_unique<double[]>(static_cast<size_t>(Capacity)))
{
    for (int c = 0; c < TMChFIFO::MaxChannels; ++c) {
        Floats.push_back(std::make_unique<float[]>(static_cast<size_t>(Capacity)));
        Pointers.push_back(Floats.back().get());
        Dry.push_back(std::make_unique<float[]>(static_cast<size_t>(Capacity)));
    }
    for (int j = 0; j < kEFXSlotCount; ++j)
        Wet[static_cast<size_t>(j)].Jump(Slots[static_cast<size_t>(j)].On ? 1.0 : 0.0);
    for (int j = 0; j < TPluginHost::SlotCount; ++j) {
        TPluginSlot& slot = Host.Slot(j);
        if (slot.InUse.exchange(true))
            continue; // a pipeline left behind is still inside it
        if (slot.Loaded.load() && slot.Held.load()) {
            slot.ClearPending.store(true); // cleared before its first block instead
        } else if (slot.Loaded.load()) {
            slot.ClearPending.store(false);
            if (slot.Entry.Clear)
                slot.Entry.Clear();
        }
        slot.InUse.store(false);
    }
}

void TEFXFilter::RunSlot(int j, int channels, int count)
{
    TPluginSlot& slot = Host.Slot(j);
    TGainRamp& wet = Wet[static_cast<size_t>(j)];
    wet.Set(Slots[static_cast<size_t>(j)].On ? 1.0 : 0.0, FadeFrames);
    if (!wet.Moving() && wet.Value() == 0)
        return;
    // Raised before Loaded and Held are looked at: an unload, or a call from the main
    // thread, waits until this is lowered again. A slot that a pipeline thread left
    // behind is still inside is passed by: one plug-in is never entered twice.
    if (slot.InUse.exchange(true))
        return;
    if (slot.Loaded.load() && !slot.Held.load()) {
        const bool gliding = wet.Moving();
        if (gliding) {
            for (int c = 0; c < channels; ++c)
                std::copy_n(Pointers[static_cast<size_t>(c)], count, Dry[static_cast<size_t>(c)].get());
            for (int i = 0; i < count; ++i)
                Gains[static_cast<size_t>(i)] = wet.Next();
        }
        CallPlugin(j, channels, count);
        if (gliding)
            Blend(channels, count);
    }
    slot.InUse.store(false);
}

void TEFXFilter::CallPlugin(int j, int channels, int count)
{
    TPluginSlot& slot = Host.Slot(j);
    if (slot.ClearPending.exchange(false) && slot.Entry.Clear)
        slot.Entry.Clear();
    if (slot.Entry.PostWave) {
        slot.Entry.PostWave(Pointers.data(), Rate, channels, count);
    } else if (slot.Entry.PostWaveData) {
        float* frames = Interleaved.get();
        for (int i = 0; i < count; ++i) {
            frames[2 * i] = Pointers[0][i];
            frames[2 * i + 1] = channels > 1 ? Pointers[1][i] : 0.0f;
        }
        slot.Entry.PostWaveData(frames, Rate, 2, count);
        for (int i = 0; i < count; ++i) {
            Pointers[0][i] = frames[2 * i];
            if (channels > 1)
                Pointers[1][i] = frames[2 * i + 1];
        }
    }
}

// The slot's output, heard by Gains[i]: its input makes up the rest.
void TEFXFilter::Blend(int channels, int count)
{
    for (int c = 0; c < channels; ++c) {
        float* y = Pointers[static_cast<size_t>(c)];
        const float* x = Dry[static_cast<size_t>(c)].get();
        for (int i = 0; i < count; ++i)
            y[i] = static_cast<float>(x[i] + Gains[static_cast<size_t>(i)] * (y[i] - x[i]));
    }
}

void TEFXFilter::Process(TMChFIFO& in, TMChFIFO& out, int count)
{
    count = std::min({count, in.Available(), out.Free(), Capacity});
    if (count <= 0)
        return;
    const int m = std::min(std::max(in.Channels, out.Channels), TMChFIFO::MaxChannels);
    for (int c = 0; c < m; ++c) {
        float* f = Pointers[static_cast<size_t>(c)];
        if (c < in.Channels) {
            in.FIFOs[c]->Read(Samples.get(), count);
            std::copy_n(Samples.get(), count, f);
        } else {
            std::fill_n(f, count, 0.0f);
        }
    }
    for (int j = 0; j < TPluginHost::SlotCount; ++j)
        RunSlot(j, m, count);
    for (int c = 0; c < std::min(m, out.Channels); ++c) {
        std::copy_n(Pointers[static_cast<size_t>(c)], count, Samples.get());
        out.FIFOs[c]->Write(Samples.get(), count);
    }
}

} // namespace marlix
