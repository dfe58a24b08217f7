#include "support/pipewiresession.h"

#include "base/boundedwait.h"
#include "support/testutil.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace marlix::test {

namespace {

bool WaitFor(const std::string& path, std::chrono::seconds limit)
{
    return WaitUntilDone([&] { return std::filesystem::exists(path); }, limit);
}

// The daemons' configuration: the graph runs at 44.1 kHz (so nothing is resampled on
// its way to the sink), a null sink is its only sink, and WirePlumber looks for no
// hardware (a developer's own cards and headsets stay out of the tests).
constexpr const char* kPipeWireConf = R"(context.properties = {
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
}
context.objects = [
    { factory = adapter
      args = {
          factory.name = support.null-audio-sink
          node.name = "marlix-test-sink"
          node.description = "Marlix test sink"
          media.class = Audio/Sink
          audio.rate = 44100
          audio.channels = 2
          audio.position = "FL,FR"
      }
    }
]
)";

constexpr const char* kWirePlumberMain = "alsa_monitor.enabled = false\n"
                                         "v4l2_monitor.enabled = false\n"
                                         "libcamera_monitor.enabled = false\n";
constexpr const char* kWirePlumberBluetooth = "bluez_monitor.enabled = false\n";

// The PCMs as pipewire-alsa defines them, without the rest of the system's configuration.
constexpr const char* kAlsaConf = R"(pcm.pipewire {
    type pipewire
    hint { show on description "PipeWire" }
}
pcm.!default {
    type pipewire
}
)";

} // namespace

TPipeWireSession::TPipeWireSession(const std::string& folder)
    : RuntimeDir(folder + "run"), AlsaConfig(folder + "asound.conf"), Folder(folder)
{
    WriteConfiguration();
    const std::string bus = Folder + "bus";
    const std::vector<std::string> env = DaemonEnvironment();
    Up = Bus.Start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus}, env,
                   Folder + "dbus.log") &&
         WaitFor(bus, std::chrono::seconds(20)) && Daemon.Start({"pipewire"}, env, Folder + "pipewire.log") &&
         WaitFor(RuntimeDir + "/pipewire-0", std::chrono::seconds(20)) &&
         Manager.Start({"wireplumber"}, env, Folder + "wireplumber.log") && PolicyRuns(std::chrono::seconds(30));
}

// WirePlumber has taken the sink as the default one: its policy is up, and streams
// that start from now on get linked.
bool TPipeWireSession::PolicyRuns(std::chrono::seconds limit)
{
    const std::string query = "PIPEWIRE_RUNTIME_DIR='" + RuntimeDir +
                              "' timeout 10 pw-metadata -n default 0 default.audio.sink 2>/dev/null";
    return WaitUntilDone(
        [&] {
            return !Daemon.Running() || !Manager.Running() ||
                   RunCommand(query).find(std::string("\"") + SinkName + "\"") != std::string::npos;
        },
        limit) &&
           Daemon.Running() && Manager.Running();
}

TPipeWireSession::~TPipeWireSession()
{
    Manager.Stop();
    Daemon.Stop();
    Bus.Stop();
    for (const auto& [name, value] : Saved) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

void TPipeWireSession::StopServer()
{
    Manager.Stop();
    Daemon.Stop();
}

bool TPipeWireSession::Installed()
{
    return HaveProgram("dbus-daemon") && HaveProgram("pipewire") && HaveProgram("wireplumber") &&
           HaveProgram("pw-metadata");
}

void TPipeWireSession::WriteConfiguration()
{
    namespace fs = std::filesystem;
    for (const char* dir : {"run", "state", "config/pipewire/pipewire.conf.d", "config/wireplumber/main.lua.d",
                            "config/wireplumber/bluetooth.lua.d"})
        fs::create_directories(Folder + dir);
    // PipeWire refuses a runtime folder that others may enter.
    fs::permissions(RuntimeDir, fs::perms::owner_all, fs::perm_options::replace);
    WriteText(Folder + "config/pipewire/pipewire.conf.d/marlix-test.conf", kPipeWireConf);
    WriteText(Folder + "config/wireplumber/main.lua.d/51-marlix-test.lua", kWirePlumberMain);
    WriteText(Folder + "config/wireplumber/bluetooth.lua.d/51-marlix-test.lua", kWirePlumberBluetooth);
    WriteText(AlsaConfig, kAlsaConf);
}

// Both buses are the private one, so nothing reaches the desktop's services.
std::vector<std::string> TPipeWireSession::DaemonEnvironment() const
{
    const std::string bus = "unix:path=" + Folder + "bus";
    return {"XDG_RUNTIME_DIR=" + RuntimeDir,
            "PIPEWIRE_RUNTIME_DIR=" + RuntimeDir,
            "XDG_CONFIG_HOME=" + Folder + "config",
            "XDG_STATE_HOME=" + Folder + "state",
            "DBUS_SESSION_BUS_ADDRESS=" + bus,
            "DBUS_SYSTEM_BUS_ADDRESS=" + bus,
            "PIPEWIRE_LOG_SYSTEMD=false"};
}

std::string TPipeWireSession::Logs() const
{
    std::string text;
    for (const char* name : {"dbus.log", "pipewire.log", "wireplumber.log"})
        text += std::string("== ") + name + "\n" + ReadText(Folder + name);
    return text;
}

std::string TPipeWireSession::EnvAssignments() const
{
    return "PIPEWIRE_RUNTIME_DIR='" + RuntimeDir + "' ALSA_CONFIG_PATH='" + AlsaConfig + "'";
}

void TPipeWireSession::Export()
{
    for (const auto& [name, value] : {std::pair<const char*, const std::string&>{"PIPEWIRE_RUNTIME_DIR", RuntimeDir},
                                      {"ALSA_CONFIG_PATH", AlsaConfig}}) {
        if (const char* old = std::getenv(name))
            Saved.emplace_back(name, std::string(old));
        else
            Saved.emplace_back(name, std::nullopt);
        setenv(name, value.c_str(), 1);
    }
}

} // namespace marlix::test
