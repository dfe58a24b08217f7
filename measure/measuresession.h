#pragma once
#include "measure/measurestate.h"
#include "measure/measuretable.h"

#include <cstdint>
#include <memory>
#include <string>

namespace marlix {

class TSettings;

// The measurement procedure without windows: opens the pro-audio driver with the
// measurement callback, steps through the four stages, switches speakers, analyses each
// channel when its periods are in, and carries the results over. The wizard drives it
// from its 50 ms timer and its controls; the CLI drives the automatic path alone.
class TMeasureSession {
public:
    // `check`: measure through the current correction; results go to "ir_c<n>.wav".
    TMeasureSession(TSettings& settings, std::string programFolder, bool check, uint32_t seed);
    ~TMeasureSession();
    TMeasureSession(const TMeasureSession&) = delete;
    TMeasureSession& operator=(const TMeasureSession&) = delete;

    // Builds the test signals, enables the measured channels and starts the driver with
    // the measurement callback at "MeasureFreq" where the driver can run at it. A driver
    // that keeps its own rate is measured at that rate. False: the driver did not start.
    [[nodiscard]] bool Open();
    void Close();

    // Page change: stage 1 … 4 with manual or automatic speaker switching.
    void SetStage(int stage, bool automatic, int64_t nowMs);
    // The timer's work: automatic switching in stage 2, analysis and the next channel in
    // stage 3.
    void Tick(int64_t nowMs);
    // A click on the row of `channel` in stage 2 or 3.
    void SelectChannel(int channel, int64_t nowMs);

    // Stage 3 with automatic switching has measured every named channel.
    bool AutomaticRunFinished() const;
    TMeasureTable Table() const;
    void ApplyToMaster();
    [[nodiscard]] std::vector<std::string> SaveResults();

    int Stage() const { return CurrentStage; }
    bool Automatic() const { return Auto; }
    bool Check() const { return CheckMode; }
    bool Opened() const { return Started; }
    int Rate() const { return State->Rate.load(); }
    const std::array<std::string, 2>& RowNames() const { return Names; }
    TMeasureState& Measurement() { return *State; }
    const TMeasureState& Measurement() const { return *State; }

private:
    int NextNamedChannel(int channel) const;
    void StartDriver();

    TSettings& Config;
    const std::string Folder;
    const bool CheckMode;
    const uint32_t Seed;
    std::unique_ptr<TMeasureState> State;
    std::array<std::string, 2> Names;
    int CurrentStage = 1;
    bool Auto = true;
    bool Started = false;
    bool AutoFinished = false;
    int64_t SwitchTime = 0;
};

} // namespace marlix
