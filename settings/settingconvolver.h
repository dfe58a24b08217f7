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

// The two convolvers and their file (no header, little-endian).
class TSettingConvolver {
public:
    static constexpr size_t MaxNameLength = 255;

    TSettingConvolver() { Clear(); }

    bool Save(const std::string& fileName) const;
    // Clears, then reads the file; a missing file leaves the record cleared.
    void Load(const std::string& fileName);
    // Back to the defaults, without responses.
    void Clear();

    std::vector<uint8_t> Serialize() const;
    // Clears, then reads what `bytes` holds, stopping at the first incomplete field. A
    // response is taken only when complete: a negative length or one beyond the bytes
    // left stops reading, an empty one is skipped; either way HasIR stays clear.
    // Samples that are not finite numbers read as 0.
    void Deserialize(const std::vector<uint8_t>& bytes);

    int32_t DryWet = 3; // bit 0 dry, bit 1 wet
    std::array<TConvolverEntry, 2> Conv;

    bool operator==(const TSettingConvolver&) const = default;
};

} // namespace marlix
