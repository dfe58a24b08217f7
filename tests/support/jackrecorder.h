#pragma once
// A private JACK server on the dummy backend, started and stopped by PID, and a
// recording client (libjack opened at run time) that keeps its inputs connected to
// another client's playback ports, also after that client went and came back.
#include "support/testutil.h"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include "support/jackregistry.h"

namespace marlix::test {

// The libjack functions a recorder needs.
struct TJackApi {
    decltype(&jack_client_open) ClientOpen = nullptr;
    decltype(&jack_client_close) ClientClose = nullptr;
    decltype(&jack_port_register) PortRegister = nullptr;
    decltype(&jack_port_name) PortName = nullptr;
    decltype(&jack_port_get_buffer) PortGetBuffer = nullptr;
    decltype(&jack_set_process_callback) SetProcessCallback = nullptr;
    decltype(&jack_activate) Activate = nullptr;
    decltype(&jack_deactivate) Deactivate = nullptr;
    decltype(&jack_connect) Connect = nullptr;
    void* Handle = nullptr;

    bool Load()
    {
        Handle = dlopen("libjack.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!Handle)
            return false;
        auto get = [this](auto& f, const char* name) {
            f = reinterpret_cast<std::decay_t<decltype(f)>>(dlsym(Handle, name));
            return f != nullptr;
        };
        return get(ClientOpen, "jack_client_open") && get(ClientClose, "jack_client_close") &&
               get(PortRegister, "jack_port_register") && get(PortName, "jack_port_name") &&
               get(PortGetBuffer, "jack_port_get_buffer") && get(SetProcessCallback, "jack_set_process_callback") &&
               get(Activate, "jack_activate") && get(Deactivate, "jack_deactivate") && get(Connect, "jack_connect");
    }
};

class TJackServer {
public:
    TJackServer(std::string name, std::string log, int period = 256, int playbackPorts = 2)
        : Name(std::move(name)), Log(std::move(log))
    {
        for (int attempt = 0; attempt < 3 && !Up; ++attempt) {
            Stop();
            Start(period, playbackPorts);
            int status = -1;
            RunCommand("JACK_NO_START_SERVER=1 jack_wait -s '" + Name + "' -w -t 10 >/dev/null 2>&1", &status);
            Up = Pid > 0 && status == 0;
        }
    }
    ~TJackServer() { Stop(); }
    bool Ready() const { return Up; }
    std::string Output() const { return ReadText(Log); }

private:
    void Start(int period, int playbackPorts)
    {
        const std::string p = std::to_string(period), ports = std::to_string(playbackPorts);
        ReclaimDeadJackServers();
        Pid = fork();
        if (Pid == 0) {
            setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
            if (FILE* out = std::freopen(Log.c_str(), "a", stdout))
                dup2(fileno(out), 2);
            execlp("jackd", "jackd", "-n", Name.c_str(), "-d", "dummy", "-r", "48000", "-p", p.c_str(), "-C", "2",
                   "-P", ports.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    void Stop()
    {
        if (Pid > 0) {
            kill(Pid, SIGTERM); // terminated, not killed: a killed server stays in JACK's table
            int status = 0;
            waitpid(Pid, &status, 0);
        }
        Pid = -1;
    }

    std::string Name, Log;
    pid_t Pid = -1;
    bool Up = false;
};

// Records two input ports into preallocated arrays and, on a thread of its own, keeps
// them connected to `source`'s "playback_1" and "playback_2".
class TJackRecorder {
public:
    TJackRecorder(TJackApi& api, int capacity) : Api(api), Capacity(capacity)
    {
        for (auto& s : Samples)
            s.assign(static_cast<size_t>(capacity), 0.0f);
    }
    ~TJackRecorder()
    {
        Running = false;
        if (Connector.joinable())
            Connector.join();
        if (Client) {
            Api.Deactivate(Client);
            Api.ClientClose(Client);
        }
    }

    bool Start(const std::string& source)
    {
        jack_status_t status{};
        Client = Api.ClientOpen("marlix-recorder", JackNoStartServer, &status);
        if (!Client)
            return false;
        for (int p = 0; p < 2; ++p) {
            Ports[p] = Api.PortRegister(Client, ("in_" + std::to_string(p + 1)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsInput, 0);
            if (!Ports[p])
                return false;
        }
        Api.SetProcessCallback(Client, Process, this);
        if (Api.Activate(Client) != 0)
            return false;
        Connector = std::thread([this, source] {
            while (Running) {
                for (int p = 0; p < 2; ++p)
                    Api.Connect(Client, (source + ":playback_" + std::to_string(p + 1)).c_str(),
                                Api.PortName(Ports[p]));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        return true;
    }

    int Frames() const { return Count.load(std::memory_order_acquire); }
    // Frame j of channel c as the 16-bit sample it carries (a float of k / 32768).
    float At(int c, int j) const { return Samples[c][static_cast<size_t>(j)]; }

private:
    static int Process(jack_nframes_t nframes, void* arg)
    {
        auto* self = static_cast<TJackRecorder*>(arg);
        const int at = self->Count.load(std::memory_order_relaxed);
        const int n = std::min(static_cast<int>(nframes), self->Capacity - at);
        if (n <= 0)
            return 0;
        for (int p = 0; p < 2; ++p) {
            const auto* in = static_cast<const float*>(self->Api.PortGetBuffer(self->Ports[p], nframes));
            std::copy(in, in + n, self->Samples[p].begin() + at);
        }
        self->Count.store(at + n, std::memory_order_release);
        return 0;
    }

    TJackApi& Api;
    int Capacity;
    jack_client_t* Client = nullptr;
    jack_port_t* Ports[2] = {};
    std::vector<float> Samples[2];
    std::atomic<int> Count{0};
    std::atomic<bool> Running{true};
    std::thread Connector;
};

} // namespace marlix::test
