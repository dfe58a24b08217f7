#include "engine/eqdesigner.h"

#include "dsp/firfilter.h"

#include <chrono>

namespace marlix {

TEQDesigner::TEQDesigner(TFIRFilter& filter, const TSnapshot<TEQCurves>& curves, int rate, int taps)
    : Filter(filter), Curves(curves), Rate(rate), Taps(taps), Blocks(static_cast<size_t>(filter.GetChannels()))
{
    RequestedVersion = Curves.Version();
    Design();
    std::vector<TFlexBuf*> each;
    for (TFlexBuf& block : Blocks)
        each.push_back(&block);
    Filter.SetTaps(each);
    Thread = std::thread([this] { Loop(); });
}

TEQDesigner::~TEQDesigner()
{
    Quit();
}

void TEQDesigner::Quit()
{
    Stop.store(true, std::memory_order_release);
    Wanted.fetch_add(1, std::memory_order_acq_rel);
    Wanted.notify_one();
    std::lock_guard lock(Joining);
    if (Thread.joinable())
        Thread.join();
}

void TEQDesigner::Request()
{
    Wanted.fetch_add(1, std::memory_order_acq_rel);
    Wanted.notify_one();
}

void TEQDesigner::Design()
{
    const TEQCurves& curves = *Curves.Acquire();
    for (int ch = 0; ch < Filter.GetChannels(); ++ch)
        DesignEQTaps(curves, ch, Rate, Taps, Blocks[static_cast<size_t>(ch)]);
    Curves.Release();
}

void TEQDesigner::Loop()
{
    uint64_t done = 0;
    for (;;) {
        Wanted.wait(done, std::memory_order_acquire);
        done = Wanted.load(std::memory_order_acquire);
        if (Stop.load(std::memory_order_acquire))
            return;
        Design();
        // The previous design may still wait for its block boundary (or playback is paused).
        while (!Filter.SpareFree()) {
            if (Stop.load(std::memory_order_acquire))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (int ch = 0; ch < Filter.GetChannels(); ++ch)
            Filter.StageTaps(ch, Blocks[static_cast<size_t>(ch)]);
        Filter.CommitStaged();
        Designs.fetch_add(1, std::memory_order_acq_rel);
    }
}

} // namespace marlix
