#pragma once
// Headphone crossfeed on channels 0 and 1; further channels pass untouched.
//
// For the rate fs and settings fc (Hz), d (ms) and L (dB):
//   g = 2^(L/6)                      (the player's level convention: -6 dB is one half)
//   a = 1 - exp(-2*pi*fc/fs)         (first-order low-pass)
//   D = round(d*fs/1000) samples     (at most kDelayCapacity - 1)
// and for channel c with opposite channel o = 1 - c, inputs being 0 before the last Clear:
//   s_c[n] = s_c[n-1] + a*(x_o[n-D] - s_c[n-1])
//   y_c[n] = (x_c[n] + g*s_c[n]) / (1 + g)
// The division keeps a centred full-scale signal within full scale at low frequencies,
// where the crossed copy adds in phase.
#include "plugins/crossfeed/crossfeedsettings.h"

#include <array>
#include <atomic>

namespace marlix::plugins {

class TCrossfeed {
public:
    // Holds 1 ms at 384 kHz.
    static constexpr int kDelayCapacity = 512;

    TCrossfeed();

    // Any thread: takes effect from the next block.
    void SetSettings(const TCrossfeedSettings& settings);
    TCrossfeedSettings Settings() const;

    // Pipeline thread.
    void Clear();
    void Process(float** channels, int32_t rate, int32_t channelCount, int32_t count);

private:
    void Prepare(int32_t rate);

    std::atomic<float> cutoffHz_, delayMs_, levelDb_;
    // What the coefficients were computed for.
    int32_t rate_ = 0;
    TCrossfeedSettings used_;
    double a_ = 0, crossGain_ = 0, norm_ = 1;
    int delay_ = 0;
    // Input history of both channels; pos_ is where the next input goes.
    std::array<std::array<float, kDelayCapacity>, 2> history_{};
    int pos_ = 0;
    std::array<double, 2> lowpass_{};
};

} // namespace marlix::plugins
