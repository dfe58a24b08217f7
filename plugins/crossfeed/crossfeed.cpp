#include "plugins/crossfeed/crossfeed.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace marlix::plugins {

TCrossfeed::TCrossfeed()
{
    SetSettings(TCrossfeedSettings{});
}

void TCrossfeed::SetSettings(const TCrossfeedSettings& settings)
{
    cutoffHz_.store(settings.CutoffHz, std::memory_order_relaxed);
    delayMs_.store(settings.DelayMs, std::memory_order_relaxed);
    levelDb_.store(settings.LevelDb, std::memory_order_relaxed);
}

TCrossfeedSettings TCrossfeed::Settings() const
{
    return {cutoffHz_.load(std::memory_order_relaxed), delayMs_.load(std::memory_order_relaxed),
            levelDb_.load(std::memory_order_relaxed)};
}

void TCrossfeed::Clear()
{
    for (auto& h : history_)
        h.fill(0.0f);
    lowpass_.fill(0.0);
    pos_ = 0;
}

void TCrossfeed::Prepare(int32_t rate)
{
    TCrossfeedSettings s = Settings();
    if (rate == rate_ && s.CutoffHz == used_.CutoffHz && s.DelayMs == used_.DelayMs && s.LevelDb == used_.LevelDb)
        return;
    rate_ = rate;
    used_ = s;
    const double fs = rate;
    a_ = 1.0 - std::exp(-2.0 * std::numbers::pi * s.CutoffHz / fs);
    crossGain_ = std::exp2(s.LevelDb / 6.0);
    norm_ = 1.0 / (1.0 + crossGain_);
    delay_ = static_cast<int>(std::min<double>(std::lround(s.DelayMs * fs / 1000.0), kDelayCapacity - 1));
}

void TCrossfeed::Process(float** channels, int32_t rate, int32_t channelCount, int32_t count)
{
    if (!channels || rate <= 0 || channelCount < 2 || count <= 0 || !channels[0] || !channels[1])
        return;
    Prepare(rate);
    float* left = channels[0];
    float* right = channels[1];
    constexpr int kMask = kDelayCapacity - 1;
    for (int32_t n = 0; n < count; ++n) {
        history_[0][pos_] = left[n];
        history_[1][pos_] = right[n];
        const int past = (pos_ - delay_) & kMask;
        lowpass_[0] += a_ * (history_[1][past] - lowpass_[0]);
        lowpass_[1] += a_ * (history_[0][past] - lowpass_[1]);
        left[n] = static_cast<float>((left[n] + crossGain_ * lowpass_[0]) * norm_);
        right[n] = static_cast<float>((right[n] + crossGain_ * lowpass_[1]) * norm_);
        pos_ = (pos_ + 1) & kMask;
    }
}

} // namespace marlix::plugins
