#pragma once
// The simulated room of the measurement tests: each speaker reaches the microphone
// through a direct path and two reflections. The room program and the tests that check
// what was measured both take the response from here.
#include <array>
#include <cmath>
#include <vector>

namespace marlix::test {

struct TRoomTap {
    int Delay;   // samples
    double Gain; // linear, sign = polarity
};

// Direct sound at `delay` with `gain`, then two weaker reflections of the same speaker.
inline std::array<TRoomTap, 3> SpeakerPath(int delay, double gain)
{
    return {{{delay, gain}, {delay + 37, 0.3 * gain}, {delay + 113, -0.15 * gain}}};
}

// The path as an impulse response of `length` samples.
inline std::vector<double> SpeakerResponse(int delay, double gain, int length)
{
    std::vector<double> h(static_cast<size_t>(length), 0.0);
    for (const TRoomTap& t : SpeakerPath(delay, gain))
        if (t.Delay < length)
            h[static_cast<size_t>(t.Delay)] += t.Gain;
    return h;
}

// The level a measurement reports for a path (6 dB per doubling of its energy's root).
inline double PathLevelDB(double gain)
{
    double e = 0;
    for (const TRoomTap& t : SpeakerPath(0, gain))
        e += t.Gain * t.Gain;
    return 6 * std::log2(std::sqrt(e));
}

} // namespace marlix::test
