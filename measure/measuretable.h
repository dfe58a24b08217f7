#pragma once
#include "measure/measurestate.h"

#include <array>
#include <string>
#include <vector>

namespace marlix {

class TSettingEQ;
class TSettingOutput;

// One row of the results table: the channel's figures relative to the louder and the
// earlier valid channel.
struct TMeasureRow {
    bool Valid = false;
    double Level = 0;
    double Delay = 0;
    bool Inverted = false;
};

// The results table: which channels count, their relative figures, and the two
// operations that carry a measurement over into the player (apply, save).
class TMeasureTable {
public:
    // Below this level (dB) a channel is too quiet to count.
    static constexpr double kMinLevel = -30;

    // Names: the name cell of each row (empty: the channel is not measured).
    TMeasureTable(std::array<std::string, 2> names, const std::array<TMeasureResult, 2>& results);

    bool Named(int channel) const { return !Names[static_cast<size_t>(channel)].empty(); }
    bool Valid(int channel) const;
    TMeasureRow Row(int channel) const;

    // Level, delay and polarity corrections of the valid channels into `output`: the
    // louder channel down to the quietest (at most 18 dB), the earlier delayed to the
    // latest (at most 20 ms).
    void ApplyToMaster(TSettingOutput& output) const;
    // Writes "ir<n>.wav" (check: "ir_c<n>.wav") of the valid channels into `folder`; in
    // normal mode hands each response to the EQ design and deletes its stale check file.
    // Returns the files that could not be written.
    [[nodiscard]] std::vector<std::string> SaveResults(const std::array<std::vector<double>, 2>& responses, int rate,
                                         const std::string& folder, bool check, TSettingEQ& eq) const;

    const std::array<std::string, 2> Names;
    const std::array<TMeasureResult, 2> Results;
};

// The name cells: the channel names of the pair routed to the measured outputs.
std::array<std::string, 2> MeasureRowNames(const std::array<std::string, 2>& channelNames, TMeasureRouting routing);

} // namespace marlix
