#include "player/remotecontrol.h"

#include "player/dsppresets.h"
#include "player/pending.h"
#include "player/playersession.h"
#include "player/playerstate.h"
#include "player/transportcommands.h"
#include "settings/settings.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace marlix {
namespace {

using TKind = TRemoteCommand::TKind;

struct TStageFlag {
    const char* Name;
    std::atomic<bool> TPlayerState::*Flag;
    bool Chain; // a stage of the chain: switching it counts in DSPChangeCount
};

constexpr TStageFlag kStages[] = {
    {"EFX", &TPlayerState::EFX, true},  {"Convolver", &TPlayerState::Convolver, true},
    {"Matrix", &TPlayerState::Matrix, true}, {"EQ", &TPlayerState::EQ, true},
    {"HSC", &TPlayerState::HSC, true},  {"AVC", &TPlayerState::AVC, false},
};

constexpr const char* kPresetKinds[] = {"eq", "eqall", "matrix", "efx", "convolver"};

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

const TStageFlag* FindStage(const std::string& word)
{
    for (const TStageFlag& s : kStages)
        if (Lower(s.Name) == Lower(word))
            return &s;
    return nullptr;
}

std::optional<double> Number(const std::string& word)
{
    double v = 0;
    const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (ec != std::errc() || ptr != word.data() + word.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int> EQTarget(const std::string& word)
{
    const std::string w = Lower(word);
    if (w == "master")
        return -1;
    if (w == "0" || w == "1")
        return w[0] - '0';
    return std::nullopt;
}

TRemoteReply Refuse(std::string reason) { return {TRemoteStatus::Refused, std::move(reason)}; }

std::string OnOff(bool on) { return on ? "on" : "off"; }

std::string Format(const char* format, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::optional<TRemoteCommand> ParseRemoteCommand(const std::vector<std::string>& words, std::string& error)
{
    auto fail = [&error](const char* usage) {
        error = std::string("usage: remote ") + usage;
        return std::nullopt;
    };
    if (words.empty())
        return fail("status|play|pause|stop|next|previous|stage|volume|preset ...");
    for (const std::string& w : words)
        if (w.empty() || w.find_first_of("\r\n") != std::string::npos) {
            error = "an empty word or one with a line break";
            return std::nullopt;
        }
    const std::string verb = Lower(words[0]);
    const size_t n = words.size();
    TRemoteCommand c;
    static const std::pair<const char*, TKind> simple[] = {{"status", TKind::Status}, {"play", TKind::Play},
                                                           {"pause", TKind::Pause},   {"stop", TKind::Stop},
                                                           {"next", TKind::Next},     {"previous", TKind::Previous}};
    for (const auto& [word, kind] : simple)
        if (verb == word) {
            if (n != 1)
                return fail((std::string(word) + " (no arguments)").c_str());
            c.Kind = kind;
            return c;
        }
    if (verb == "stage") {
        const TStageFlag* stage = n == 3 ? FindStage(words[1]) : nullptr;
        const std::string state = n == 3 ? Lower(words[2]) : std::string();
        if (!stage || (state != "on" && state != "off"))
            return fail("stage EFX|Convolver|Matrix|EQ|HSC|AVC on|off");
        c.Kind = TKind::Stage;
        c.Stage = stage->Name;
        c.On = state == "on";
        return c;
    }
    if (verb == "volume") {
        const std::optional<double> db = n == 2 ? Number(words[1]) : std::nullopt;
        if (!db)
            return fail("volume DB (a number, -36 ... 0)");
        c.Kind = TKind::Volume;
        c.Decibels = *db;
        return c;
    }
    if (verb == "preset" && n >= 3) {
        c.Kind = TKind::Preset;
        c.PresetKind = Lower(words[1]);
        c.Name = words[2];
        if (c.PresetKind == "eq" && n <= 4) {
            const std::optional<int> target = n == 4 ? EQTarget(words[3]) : -1;
            if (!target)
                return fail("preset eq NAME [master|0|1]");
            c.Channel = *target;
            return c;
        }
        if (n == 3 && c.PresetKind != "eq" &&
            std::find(std::begin(kPresetKinds), std::end(kPresetKinds), c.PresetKind) != std::end(kPresetKinds))
            return c;
    }
    if (verb == "preset")
        return fail("preset eqall|matrix|efx|convolver NAME, or preset eq NAME [master|0|1]");
    error = "unknown command '" + words[0] + "'";
    return std::nullopt;
}

TRemoteControl::TRemoteControl(TPlayerSession& session, TSettings& settings, TPlayerState& state,
                               TPendingAdditions& pending)
    : Session(session), Config(settings), State(state), Pending(pending)
{
}

TRemoteReply TRemoteControl::Execute(const std::vector<std::string>& words)
{
    std::string error;
    const std::optional<TRemoteCommand> command = ParseRemoteCommand(words, error);
    if (!command)
        return {TRemoteStatus::Usage, error};
    return Execute(*command);
}

TRemoteReply TRemoteControl::Execute(const TRemoteCommand& command)
{
    if (command.Kind == TKind::Status)
        return {TRemoteStatus::Ok, StatusText()};
    if (std::string why = Busy ? Busy() : std::string(); !why.empty())
        return Refuse(std::move(why));
    switch (command.Kind) {
    case TKind::Stage:
        return SetStage(command.Stage, command.On);
    case TKind::Volume:
        return SetVolume(command.Decibels);
    case TKind::Preset:
        return LoadPreset(command);
    default:
        return Transport(command.Kind);
    }
}

std::string TRemoteControl::StatusText()
{
    TFo_Decoder& decoder = Session.Decoder;
    const bool open = decoder.IsOpen;
    const char* state = !State.OutputRunning ? "stopped" : State.Paused ? "paused" : "playing";
    std::string text = std::string("state: ") + state + "\n";
    text += open ? "track: " + decoder.FileName + "\n" : "track:\n";
    text += "position: " + Format("%.3f", open ? Session.Control.HeardPositionMs() / 1000 : 0.0) + "\n";
    text += "length: " + Format("%.3f", open ? decoder.GetLengthMs() / 1000 : 0.0) + "\n";
    for (const TStageFlag& s : kStages)
        text += std::string(s.Name) + ": " + OnOff((State.*s.Flag).load()) + "\n";
    return text + "volume: " + Format("%.1f", State.MasterVolume.load() / 10.0) + "\n";
}

TRemoteReply TRemoteControl::Transport(TKind kind)
{
    TTransportCommands transport(State);
    const bool running = State.OutputRunning;
    switch (kind) {
    case TKind::Play:
        if (!running && Session.Playlist.Count() == 0 && Pending.Empty() && !Session.Loader.Progress().Busy)
            return Refuse("the playlist is empty");
        transport.Play();
        break;
    case TKind::Stop:
        transport.Stop();
        break;
    default:
        // Pause, next and previous act on what plays.
        if (!running)
            return Refuse("nothing is playing");
        if (kind == TKind::Pause)
            transport.Pause();
        else if (kind == TKind::Next)
            transport.Next();
        else
            transport.Back();
        break;
    }
    return {};
}

TRemoteReply TRemoteControl::SetStage(const std::string& stage, bool on)
{
    const TStageFlag* s = FindStage(stage);
    if (!s)
        return {TRemoteStatus::Usage, "unknown stage '" + stage + "'"};
    if ((State.*s->Flag).exchange(on) != on && s->Chain)
        State.DSPChangeCount.fetch_add(1);
    return {};
}

TRemoteReply TRemoteControl::SetVolume(double decibels)
{
    const long tenths = std::lround(decibels * 10);
    if (!std::isfinite(decibels) || tenths < TPlayerState::MinVolume || tenths > TPlayerState::MaxVolume)
        return Refuse("volume " + Format("%g", decibels) + " dB is outside -36 ... 0 dB");
    State.MasterVolume = static_cast<int>(tenths);
    return {};
}

// As the DSP window's preset boxes load them: effect and convolver presets only while the
// output is stopped, the others at any time, each published to the chain at once.
TRemoteReply TRemoteControl::LoadPreset(const TRemoteCommand& c)
{
    const TDSPPresets presets(Session.ProgramFolderPath());
    TLiveSettings& live = Session.Control.Chain.Live;
    const bool fileKind = c.PresetKind == "efx" || c.PresetKind == "convolver";
    if (fileKind && State.OutputRunning)
        return Refuse(c.PresetKind + " presets load only while playback is stopped");
    bool loaded = false;
    if (c.PresetKind == "eq") {
        if (c.Channel < -1 || c.Channel > 1)
            return {TRemoteStatus::Usage, "no EQ curve " + std::to_string(c.Channel)};
        loaded = presets.ChooseEQ(c.Name, Config.EQ.Curve(c.Channel));
    } else if (c.PresetKind == "eqall") {
        loaded = presets.ChooseEQAll(c.Name, Config.EQ);
    } else if (c.PresetKind == "matrix") {
        loaded = presets.ChooseMatrix(c.Name, Config.Matrix);
    } else if (c.PresetKind == "efx") {
        loaded = presets.ChooseEFX(c.Name, Config.EFX); // the chain is built from it at the next start
    } else if (c.PresetKind == "convolver") {
        loaded = presets.ChooseConvolver(c.Name, Config.Convolver);
    } else {
        return {TRemoteStatus::Usage, "unknown preset kind '" + c.PresetKind + "'"};
    }
    if (!loaded)
        return Refuse("cannot load " + c.PresetKind + " preset '" + c.Name + "'");
    if (c.PresetKind == "matrix")
        live.PublishMatrix(Config.Matrix);
    else if (c.PresetKind == "convolver")
        live.PublishConvolver(Config.Convolver);
    else if (c.PresetKind != "efx")
        live.PublishEQ(Config.EQ);
    return {};
}

} // namespace marlix
