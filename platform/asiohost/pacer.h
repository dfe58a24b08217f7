#pragma once
// Keeps a writer no further ahead of the monotonic clock than a device buffer. A sound
// card blocks its writer long before that; a device without a clock of its own (a file
// or null PCM) takes data as fast as it comes and is held back here instead.
#include <chrono>
#include <cstdint>

namespace marlix::asiohost {

class TPacer {
public:
    // `rate` frames per second; `allowance` frames the writer may run ahead.
    void Reset(unsigned rate, uint64_t allowance);
    // Counts `frames` more written and sleeps while the writer is too far ahead. After a
    // stall longer than the allowance the clock starts again from where the audio is.
    void Advance(uint64_t frames);

private:
    using TClock = std::chrono::steady_clock;
    TClock::duration Span(uint64_t frames) const;

    unsigned Rate = 1;
    uint64_t Allowance = 0;
    uint64_t Written = 0;
    TClock::time_point Origin;
};

} // namespace marlix::asiohost
