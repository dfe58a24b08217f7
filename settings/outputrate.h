#pragma once
#include <array>
#include <optional>

namespace marlix {

class TSettingOutput;
class TSettingReSampler;

// The output rates the "bFreq" flags of TSettingOutput refer to, by index.
inline constexpr std::array<int, 7> RateTable{32000, 44100, 48000, 88200, 96000, 176400, 192000};

// How a source is played: the device rate and the chain's integer up-sampling factor.
struct TRatePlan {
    int OutRate = 0;
    int UpFactor = 1;
    bool DownConversion = false; // OutRate is below the source rate
    bool Fractional = false;     // the up-sampled rate differs from OutRate (not set when down-converting)
    // The settings allow no rate (no rate flag set, or a zero "nUpFreq" / "nFixFreq"):
    // the plan plays at the source rate, factor 1, without conversion.
    bool Fallback = false;

    bool operator==(const TRatePlan&) const = default;
};

// The allowed table rate for a target and a minimum: among allowed rates >= minimum the
// one nearest the target (the higher on a tie), else the highest allowed rate below the
// minimum; none when no rate is allowed.
std::optional<int> DeviceRate(const TSettingOutput& output, int target, int minimum);

TRatePlan ChooseOutputRate(const TSettingReSampler& resampler, const TSettingOutput& output, int sourceRate);

} // namespace marlix
