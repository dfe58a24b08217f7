#pragma once
#include "engine/decoder.h"
#include "player/additionloader.h"
#include "player/playbackcontrol.h"
#include "player/playlist.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace marlix {

class TMainThread;
class TPendingAdditions;
class TPlayerState;
class TPluginHost;
class TIniFile;
class TSettings;
class TWaveOutput;

// What Shutdown could not write; empty when everything was saved.
struct TSaveReport {
    std::vector<std::string> Unwritten;
    bool Ok() const { return Unwritten.empty(); }
};

// One player session: the settings file, the decoder, the playlist and the playback
// control, from loading at start to saving at exit. It owns no loop and never sleeps:
// the caller's loop (the CLI's, or the main window's 50 ms timer) calls Tick every
// 50 ms, and RunQueuedCalls whenever work for the main thread may be waiting.
class TPlayerSession {
public:
    // `programFolder` ends in "/"; `plugins` hosts the effect slots (none: no effects).
    TPlayerSession(std::string programFolder, TSettings& settings, TPlayerState& state, TPendingAdditions& pending,
                   TWaveOutput& output, TPluginHost* plugins, TMainThread& dispatcher);
    ~TPlayerSession();
    TPlayerSession(const TPlayerSession&) = delete;
    TPlayerSession& operator=(const TPlayerSession&) = delete;

    // On the thread that will be the main thread: reads "setting.ini" (with the effect
    // and convolver files) into the settings and player state, loads the optional
    // transform library, puts the saved "current.m3u" into the playlist and queues
    // `entries` for the first Tick.
    void Start(const std::vector<std::string>& entries);
    // Chooses the output driver for this run only (0 wave output, 1 pro-audio); the
    // settings saved at exit keep what the file had, unless the driver type was changed
    // again during the run.
    void UseDriverForThisRun(int driverType);
    // One turn of the control loop: pending additions into the playlist, the
    // playlist's cursor after the decoder and the playback control's tick.
    void Tick();
    // Gives the loader the names a second start left in "reserved.txt". The second
    // start writes the file before it asks this player forward, so that request is
    // when to look.
    void TakeHandOver();
    // Runs the calls worker threads queued for the main thread (the decoder's feed
    // steps among them) and returns how many ran. The CLI calls it every turn of its
    // loop; the desktop program calls it from the Qt event loop, woken by the
    // dispatcher's SetWakeUp.
    int RunQueuedCalls();
    // Stops the output, writes the settings, the player state and the playlist, and
    // unloads the effect plug-ins. Reports every file it could not write. `writeMore`
    // adds its own keys to "setting.ini" (the window placements) before it is saved.
    [[nodiscard]] TSaveReport Shutdown(const std::function<void(TIniFile&)>& writeMore = {});

    // The effect plug-ins' host (none: no effects) and the program folder, for the windows.
    TPluginHost* EffectHost() const { return Plugins; }
    const std::string& ProgramFolderPath() const { return Folder; }

    // Declared in construction order: the control works on the decoder and playlist, the
    // playlist hands playlist files to the loader.
    TAdditionLoader Loader;
    TFo_Decoder Decoder;
    TPlaylist Playlist;
    TPlaybackControl Control;

private:
    std::string Folder;
    TSettings& Config;
    TPlayerState& State;
    TPendingAdditions& Pending;
    TPluginHost* Plugins;
    TMainThread& Dispatcher;
    void TakeBackRunOnlyDriver();

    static constexpr const char* kDefaultDriverName = "JACK";
    // A driver type chosen for this run only, and the type the settings file had.
    struct TDriverOverride {
        int FromFile;
        int Used;
    };
    std::optional<TDriverOverride> DriverOverride;
    // The file named no pro-audio driver and the default was filled in at start.
    bool DefaultedDriverName = false;
    bool Started = false;
};

} // namespace marlix
