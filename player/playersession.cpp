#include "player/playersession.h"

#include "dsp/fft.h"
#include "dsp/pluginhost.h"
#include "base/mainthread.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "settings/inifile.h"
#include "settings/settings.h"

#include <filesystem>
#include <fstream>
#include <thread>

namespace marlix {

TPlayerSession::TPlayerSession(std::string programFolder, TSettings& settings, TPlayerState& state,
                               TPendingAdditions& pending, TWaveOutput& output, TPluginHost* plugins,
                               TMainThread& dispatcher)
    : Loader(pending), Playlist(state, pending), Control(settings, state, Playlist, Decoder, output), Folder(std::move(programFolder)),
      Config(settings), State(state), Pending(pending), Plugins(plugins), Dispatcher(dispatcher)
{
    Playlist.UseLoader(&Loader);
}

TPlayerSession::~TPlayerSession()
{
    Control.StopOutput(true);
}

void TPlayerSession::Start(const std::vector<std::string>& entries)
{
    Dispatcher.SetMainThread(std::this_thread::get_id());
    if (Plugins)
        Config.EFX.SetHost(Plugins);
    const TIniFile ini(Folder + "setting.ini");
    Config.Load(ini, Folder);
    State.Load(ini);
    // Without the module the built-in transform runs.
    (void)LoadFFTLibrary(Folder + "nsp.so");
    if (Config.ASIO.DriverName.empty()) {
        Config.ASIO.DriverName = kDefaultDriverName; // the one driver every installation has
        DefaultedDriverName = true;
    }
    // The saved list first; the names given now join it or replace it as "Reserve" says.
    Playlist.LoadCurrent();
    Pending.Add(entries);
    Started = true;
}

void TPlayerSession::UseDriverForThisRun(int driverType)
{
    DriverOverride = TDriverOverride{Config.Output.nDriverType, driverType};
    Config.Output.nDriverType = driverType;
}

// What the settings file gets back: the driver the user chose, without this run's
// override and without the default name filled in at start.
void TPlayerSession::TakeBackRunOnlyDriver()
{
    if (DriverOverride && Config.Output.nDriverType == DriverOverride->Used)
        Config.Output.nDriverType = DriverOverride->FromFile;
    if (DefaultedDriverName && Config.ASIO.DriverName == kDefaultDriverName)
        Config.ASIO.DriverName.clear();
}

void TPlayerSession::Tick()
{
    Playlist.TakePending();
    Playlist.FollowDecoder(Decoder.IsOpen || Decoder.Busy ? Decoder.FileName : std::string());
    Control.Tick();
}

// A second start leaves its names in "reserved.txt", one a line; folders among them are
// walked by the loader like dropped ones.
void TPlayerSession::TakeHandOver()
{
    const std::string file = Folder + "reserved.txt";
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return;
    std::vector<std::string> names;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            names.push_back(line);
    }
    in.close();
    std::filesystem::remove(file, ec);
    if (!names.empty())
        Loader.AddNames(std::move(names), Config.Operation.BrowseExts, true);
}

int TPlayerSession::RunQueuedCalls()
{
    return Dispatcher.Pump();
}

TSaveReport TPlayerSession::Shutdown(const std::function<void(TIniFile&)>& writeMore)
{
    TSaveReport report;
    Control.StopOutput(true);
    if (!Started)
        return report;
    Started = false;
    TakeBackRunOnlyDriver();
    TIniFile ini(Folder + "setting.ini");
    if (!Config.SaveRecords(ini, Folder))
        report.Unwritten.push_back(Folder + "efxsetting.bin, convolversetting.bin");
    State.Save(ini);
    Config.SaveGlobal(ini);
    if (writeMore)
        writeMore(ini);
    if (!ini.UpdateFile())
        report.Unwritten.push_back(Folder + "setting.ini");
    if (!Playlist.SaveCurrent())
        report.Unwritten.push_back(TPlaylist::CurrentFile());
    if (Plugins)
        Plugins->UnloadAll();
    return report;
}

} // namespace marlix
