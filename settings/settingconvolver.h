#pragma once
#include "dsp/convolverset.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace marlix {

// The two convolvers and their file (no header, little-endian).
class TSettingConvolver : public TConvolverSet {
public:
    static constexpr size_t MaxNameLength = 255;

    TSettingConvolver() { Clear(); }

    [[nodiscard]] bool Save(const std::string& fileName) const;
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

    bool operator==(const TSettingConvolver&) const = default;
};

} // namespace marlix
