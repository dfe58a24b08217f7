#include "support/pipewiresession.h"

#include "base/boundedwait.h"
#include "support/testutil.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace marlix::test {

namespace {

bool WaitFor(const std::string& path, std::chrono::seconds limit)
{
    return WaitUntilDone([&] { return std::filesystem::exists(path); }, limit);
}

// This process's environment with `changes` ("NAME=value") applied.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes)
{
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    for (const std::string& entry : changes)
        vars[entry.substr(0, entry.find('='))] = entry;
    std::vector<std::string> out;
    for (auto& [name, entry] : vars)
        out.push_back(entry);
    return out;
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

bool TChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          const std::string& log)
{
    Stop();
    std::vector<std::string> args = argv, vars = MergedEnvironment(env);
    std::vector<char*> argp, envp;
    for (auto& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& v : vars)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    Pid_ = fork();
    if (Pid_ == 0) {
        // Ends with the test, also when a crash or a time-out kills the test.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || dup2(in, 0) < 0)
            _exit(127);
        if (out > 2)
            close(out);
        if (in > 2)
            close(in);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    Status = -1;
    return Pid_ > 0;
}

bool TChildProcess::Running()
{
    int status = 0;
    return !Ended(status);
}

bool TChildProcess::Ended(int& status)
{
    int raw = 0;
    if (Pid_ > 0 && waitpid(Pid_, &raw, WNOHANG) == Pid_) {
        Pid_ = -1;
        Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    status = Status;
    return Pid_ <= 0;
}

void TChildProcess::Stop()
{
    if (Pid_ <= 0)
        return;
    kill(Pid_, SIGTERM);
    int status = 0;
    if (WaitUntilDone([&] { return waitpid(Pid_, &status, WNOHANG) == Pid_; }, std::chrono::seconds(5))) {
        Pid_ = -1;
        return;
    }
    kill(Pid_, SIGKILL);
    waitpid(Pid_, &status, 0);
    Pid_ = -1;
}

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
         Manager.Start({"wireplumber"}, env, Folder + "wireplumber.log") && Daemon.Running() && Manager.Running();
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
    return HaveProgram("dbus-daemon") && HaveProgram("pipewire") && HaveProgram("wireplumber");
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
