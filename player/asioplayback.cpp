#include "player/asioplayback.h"

#include "engine/outputstage.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace marlix {
namespace {

constexpr int kMaxFrames = 16384; // a longer period is rendered in slices

struct TState {
    int Channels = 2;
    int SourcePair = 0;
    int DevicePair = 0;
    std::vector<std::vector<int32_t>> Arrays;
    std::vector<int32_t*> Pointers;
    std::atomic<bool> Inside{false};
};

TState& State()
{
    static TState state;
    return state;
}

} // namespace

void TASIOPlayback::Prepare(int channels, int sourcePair, int devicePair)
{
    TState& s = State();
    s.Channels = std::max(2, channels);
    s.SourcePair = sourcePair;
    s.DevicePair = devicePair;
    s.Arrays.assign(static_cast<size_t>(s.Channels), std::vector<int32_t>(kMaxFrames));
    s.Pointers.clear();
    for (auto& a : s.Arrays)
        s.Pointers.push_back(a.data());
}

void TASIOPlayback::Render(int frames, int, int32_t* const*, int outputCount, int32_t* const* outputs)
{
    TState& s = State();
    if (s.Inside.exchange(true, std::memory_order_acquire))
        return; // a previous call is still inside
    const int p = s.DevicePair, src = s.SourcePair;
    const bool assigned = p >= 0 && p < outputCount / 2 && src >= 0 && src < s.Channels / 2 && !s.Arrays.empty();
    for (int done = 0; done < frames;) {
        const int n = std::min(kMaxFrames, frames - done);
        RenderOutput(s.Pointers.data(), n, s.Channels);
        if (assigned) {
            std::copy_n(s.Arrays[2 * src].data(), n, outputs[2 * p] + done);
            std::copy_n(s.Arrays[2 * src + 1].data(), n, outputs[2 * p + 1] + done);
        }
        done += n;
    }
    s.Inside.store(false, std::memory_order_release);
}

} // namespace marlix
