#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace marlix {

// One convolver: where it takes and puts its signal, and its impulse response.
struct TConvolverEntry {
    bool HasIR = false; // IR holds a response of IRLength frames
    bool On = true;
    bool CutDS = true;
    bool NoDelay = true;
    int32_t InCh = 0;
    int32_t OutCh = 0;
    int32_t Level = -36; // dB
    std::string IRName;  // up to 255 bytes
    int32_t IRLength = 0;
    int32_t IRRate = 0;
    std::vector<double> IR;

    bool operator==(const TConvolverEntry&) const = default;
};

// What the convolver stage runs: the two convolvers and the dry/wet mix.
struct TConvolverSet {
    int32_t DryWet = 3; // bit 0 dry, bit 1 wet
    std::array<TConvolverEntry, 2> Conv;

    bool operator==(const TConvolverSet&) const = default;
};

// Whether `a` and `b` differ at most in the levels and the dry/wet switches, which a
// running convolver stage can take without being built anew.
inline bool SameResponses(const TConvolverSet& a, const TConvolverSet& b)
{
    for (size_t i = 0; i < a.Conv.size(); ++i) {
        TConvolverEntry x = a.Conv[i];
        x.Level = b.Conv[i].Level;
        if (!(x == b.Conv[i]))
            return false;
    }
    return true;
}

} // namespace marlix
