#include "settings/outputrate.h"

#include "settings/setting.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace marlix {
namespace {

// The smallest multiple of s (at least s itself) that is >= goal.
int64_t MultipleAtLeast(int64_t s, int64_t goal)
{
    return goal <= s ? s : (goal + s - 1) / s * s;
}

TRatePlan SourceRatePlan(int sourceRate)
{
    return {sourceRate, 1, false, false, true};
}

} // namespace

std::optional<int> DeviceRate(const TSettingOutput& output, int target, int minimum)
{
    std::optional<int> best, below;
    for (size_t i = RateTable.size(); i-- > 0;) {
        if (!output.bFreq[i])
            continue;
        const int rate = RateTable[i];
        if (rate >= minimum) {
            if (!best || std::abs(int64_t{rate} - target) < std::abs(int64_t{*best} - target))
                best = rate;
        } else if (!below) {
            below = rate;
        }
    }
    return best ? best : below;
}

TRatePlan ChooseOutputRate(const TSettingReSampler& resampler, const TSettingOutput& output, int sourceRate)
{
    const int64_t s = sourceRate;
    const int64_t u = resampler.nUpFreq;
    const bool up = resampler.bUpSampling;
    if (s <= 0 || (up && u <= 0) || (resampler.bFixFreq && resampler.nFixFreq <= 0))
        return SourceRatePlan(sourceRate);

    int64_t d = resampler.nFixFreq;
    if (!resampler.bFixFreq) {
        int64_t target = s, minimum = s;
        if (up) {
            minimum = std::max(s, u);
            target = resampler.bRational ? MultipleAtLeast(s, u) : minimum;
        }
        const auto rate = DeviceRate(output, static_cast<int>(std::min<int64_t>(target, INT32_MAX)),
                                     static_cast<int>(minimum));
        if (!rate)
            return SourceRatePlan(sourceRate);
        d = *rate;
    }
    const int64_t goal = (up && d < u) ? u : d;
    const int64_t m = MultipleAtLeast(s, goal);
    TRatePlan plan;
    plan.OutRate = static_cast<int>(d);
    plan.UpFactor = static_cast<int>(m / s);
    plan.DownConversion = d < s;
    plan.Fractional = d != (d < s ? d : m);
    return plan;
}

} // namespace marlix
