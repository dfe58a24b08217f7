#pragma once
#include "player/remoteprotocol.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace marlix {

class TPendingAdditions;
class TPlayerSession;
class TPlayerState;
class TSettings;

// One command of "marlixaudio-cli remote", parsed from its words:
//   status | play | pause | stop | next | previous
//   stage EFX|Convolver|Matrix|EQ|HSC|AVC on|off
//   volume DB                                  (the player refuses what is outside −36 … 0)
//   preset eqall|matrix|efx|convolver NAME
//   preset eq NAME [master|0|1]
struct TRemoteCommand {
    enum class TKind { Status, Play, Pause, Stop, Next, Previous, Stage, Volume, Preset };
    TKind Kind = TKind::Status;
    std::string Stage; // as the player state names it: "EFX", "Convolver", "Matrix", "EQ", "HSC", "AVC"
    bool On = false;
    double Decibels = 0;
    std::string PresetKind; // "eq", "eqall", "matrix", "efx" or "convolver"
    std::string Name;
    int Channel = -1; // the curve a one-channel EQ preset goes into: −1 master, 0 or 1
};

// The words after "remote" as a command, or nothing with the reason in `error`. Names are
// taken as typed; command, stage and kind words in any case.
std::optional<TRemoteCommand> ParseRemoteCommand(const std::vector<std::string>& words, std::string& error);

// Carries remote commands out on the player's main thread, the way the windows do: the
// transport's commands go into the pending command and the pause flag, stage switches
// and the master volume into the player state's atomics (a switched stage counts in
// DSPChangeCount), and presets load through the DSP window's preset code into the
// records, which are then published to the running chain. The windows show the result
// on their next tick.
class TRemoteControl {
public:
    TRemoteControl(TPlayerSession& session, TSettings& settings, TPlayerState& state, TPendingAdditions& pending);

    TRemoteReply Execute(const std::vector<std::string>& words);
    TRemoteReply Execute(const TRemoteCommand& command);

    // "state", "track", "position" and "length" (seconds), the six stage switches and
    // "volume" (dB), one "key: value" line each.
    std::string StatusText();

    // Why the player cannot take a command that changes something just now (a dialog
    // of its own is open), or empty. Status is always answered.
    std::function<std::string()> Busy;

private:
    TRemoteReply Transport(TRemoteCommand::TKind kind);
    TRemoteReply SetStage(const std::string& stage, bool on);
    TRemoteReply SetVolume(double decibels);
    TRemoteReply LoadPreset(const TRemoteCommand& command);

    TPlayerSession& Session;
    TSettings& Config;
    TPlayerState& State;
    TPendingAdditions& Pending;
};

} // namespace marlix
