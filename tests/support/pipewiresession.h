#pragma once
// A private PipeWire for tests, as a desktop runs it: a session bus (dbus-daemon),
// pipewire and wireplumber on a runtime folder of their own, with one null sink at
// 44.1 kHz as the only sink, and an ALSA configuration whose "default" and "pipewire"
// PCMs reach it. Started by the constructor, stopped by PID when the object goes.
#include "support/childprocess.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace marlix::test {

class TPipeWireSession {
public:
    static constexpr const char* SinkName = "marlix-test-sink";
    static constexpr int Rate = 44100;

    // Lays out and starts everything under `folder` (with its trailing "/").
    explicit TPipeWireSession(const std::string& folder);
    ~TPipeWireSession();
    TPipeWireSession(const TPipeWireSession&) = delete;
    TPipeWireSession& operator=(const TPipeWireSession&) = delete;

    // The programs exist (after scripts/install-deps.sh they do).
    static bool Installed();
    // The bus and pipewire answer, and wireplumber has made the sink the default one.
    bool Ready() const { return Up; }
    // The daemons' output, for a failure message.
    std::string Logs() const;

    // Ends pipewire and wireplumber, as when the sound server goes away under a player.
    void StopServer();

    // Shell assignments for a child that plays through this PipeWire.
    std::string EnvAssignments() const;
    // Points this process's PipeWire clients and ALSA at it, until the object goes.
    void Export();

    std::string RuntimeDir;
    std::string AlsaConfig;

private:
    void WriteConfiguration();
    bool PolicyRuns(std::chrono::seconds limit);
    std::vector<std::string> DaemonEnvironment() const;

    std::string Folder;
    bool Up = false;
    // Variables Export changed, with the values they had before.
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
    TChildProcess Bus, Daemon, Manager;
};

} // namespace marlix::test
