#pragma once
#include <atomic>
#include <mutex>
#include <string>

namespace marlix {

class TIniFile;

// The pending command: one word ("Play", "Next", "Back", "Stop") waiting for the
// control loop. A later post replaces an earlier one that was not taken yet.
class TPendingCommand {
public:
    void Post(std::string command);
    // The waiting word, or empty; the mailbox is empty afterwards.
    std::string Take();
    std::string Peek() const;
    bool Empty() const;

private:
    mutable std::mutex Lock;
    std::string PendingCommand;
};

// The player's process-wide state: the switches and modes kept in section "Status" and
// the values that live only while the program runs. Values another thread touches (the
// filter thread, the output stage) are atomics; the rest belong to the main thread.
class TPlayerState {
public:
    static constexpr const char* Section = "Status";
    static constexpr int MinVolume = -360; // tenths of a decibel
    static constexpr int MaxVolume = 0;
    static constexpr int SortModeCount = 4;

    // Reads "Status"; missing keys keep the current values, out-of-range numbers are
    // brought into range.
    void Load(const TIniFile& ini);
    void Save(TIniFile& ini) const;

    // One decibel up or down, snapping a fractional value toward 0 dB first.
    void VolumeUp();
    void VolumeDown();

    // Saved in "Status", in this order.
    std::atomic<bool> HSC{false};
    std::atomic<bool> Matrix{false};
    std::atomic<bool> EQ{false};
    std::atomic<bool> EFX{false};
    std::atomic<bool> Convolver{false};
    std::atomic<bool> AVC{true};
    std::atomic<int> MasterVolume{0};
    bool Play1 = false;
    bool Repeat = false;
    bool Repeat1 = false;
    bool Random = false;
    bool BGM = false;
    bool Reserve = false;
    int SortMode = 0;
    bool SortInv = false;

    // Run-time values.
    TPendingCommand Command;
    std::atomic<bool> Paused{false};
    std::atomic<bool> OutputRunning{false};
    std::atomic<bool> BGMActive{false};
    std::atomic<bool> EndOfList{false};
    std::atomic<int> EditRequest{0}; // 0, or 1 effects, 2 convolver, 3 matrix, 4 equaliser
    std::atomic<bool> MeasureRequest{false}; // the DSP window asks for the measurement
    std::atomic<int> DSPChangeCount{0};
    // The position of what is heard now, in ms of the open track (the control loop sets
    // it every tick): what the transport clock, the seek bar and MPRIS show.
    std::atomic<double> HeardMs{0.0};
    // Set by the browser's favourites menu: the main window opens a new favourite search.
    std::atomic<bool> NewFavoriteRequest{false};
};

// The process-wide player state.
TPlayerState& PlayerState();

} // namespace marlix
