#pragma once
#include "player/outputchain.h"

#include <cstdint>
#include <functional>
#include <string>

namespace marlix {

class TFo_Decoder;
class TPlayerState;

// Why the output could not start, or stopped by itself.
enum class TDeviceProblem { None, NotFound, Busy, FormatRefused, DidNotStart, Lost, Other };

// The last such failure, for a status line: the device (an ALSA PCM, or the pro-audio
// driver's name) and the system's own words where it gave any.
struct TDeviceFailure {
    uint64_t Serial = 0; // counts the failures; 0: none yet
    TDeviceProblem Problem = TDeviceProblem::None;
    std::string Device;
    std::string Detail;
};
class TPlaylist;
class TSettings;
class TWaveOutput;

// The control loop's core: every tick (50 ms) it ends a played-out list, carries out
// the pending command, opens the next track when the decoder has read the current one
// (keeping the output across tracks of the same rate). The main window's timer and the
// CLI call the same Tick.
class TPlaybackControl {
public:
    TPlaybackControl(TSettings& settings, TPlayerState& state, TPlaylist& playlist, TFo_Decoder& decoder,
                     TWaveOutput& output);
    ~TPlaybackControl();
    TPlaybackControl(const TPlaybackControl&) = delete;
    TPlaybackControl& operator=(const TPlaybackControl&) = delete;

    void Tick();

    void OpenTrack(const std::string& file);
    void StartOutput();
    void StopOutput(bool closeDecoder);
    void StartASIO();

    // False when the last start could not open the device: the player then stopped.
    bool DeviceOpened() const { return Opened; }
    // The position of what is heard now, in ms: the decoder's, less what the decoder's
    // FIFO, the chain and the device still hold before it.
    double HeardPositionMs();
    // The last time the device failed to start or went away (Serial 0: never).
    const TDeviceFailure& LastFailure() const { return Failure; }
    // True once the running device went away; the loop then stopped the output.
    // Cleared by the next start.
    bool DeviceLost() const { return Lost; }
    // Whether opening a track records it in the history (the renderer does not).
    bool RecordHistory = true;
    // Called once when a track was played to its end without a seek (the online
    // library reports such plays).
    std::function<void(const std::string& fileName)> PlayedToEnd;

    TOutputChain Chain;

private:
    friend class TTransportHold;

    void NoticeDeviceLoss();
    void EndOfPlayback();
    void TakeCommand();
    void PlayCommand(const std::string& command);
    void PlayNextAutomatically();
    void Advance();
    void RestartWhenDrained();
    int QueuedBlocks() const;
    void StopIfNothingOpen();
    void StopDevice();
    void Fail(TDeviceProblem problem, std::string device, std::string detail);
    void GiveUpStart();

    TSettings& Config;
    TPlayerState& State;
    TPlaylist& Playlist;
    TFo_Decoder& Decoder;
    TWaveOutput& Output;
    bool Opened = false;
    bool Lost = false;
    // The track opened by the end of the previous one needs another rate: it starts
    // once the previous track has played out of the chain.
    bool RestartPending = false;
    bool AutoAdvance = false;
    // The device the running output was started on (-1 none, else the driver type), and
    // the pro-audio host it started: stopping stops those, whatever the settings or
    // anyone else have started since.
    int RunningDriver = -1;
    uint64_t RunningHost = 0;
    std::string RunningDevice;
    TDeviceFailure Failure;
    int Holds = 0;
};

// While one lives, the loop leaves transport commands queued: a dialog that owns the
// output device (setup, measurement) holds them from before it stops the output until it
// has closed; what was posted meanwhile is carried out afterwards.
class TTransportHold {
public:
    explicit TTransportHold(TPlaybackControl& control) : Control(control) { ++Control.Holds; }
    ~TTransportHold() { --Control.Holds; }
    TTransportHold(const TTransportHold&) = delete;
    TTransportHold& operator=(const TTransportHold&) = delete;

private:
    TPlaybackControl& Control;
};

} // namespace marlix
