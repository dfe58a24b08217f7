#include "app/remotecommand.h"

#include "base/programfolder.h"
#include "player/remotecontrol.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace marlix::cli {
namespace {

constexpr int kAnswerMs = 10000;
constexpr size_t kMaxAnswer = 1 << 16;

// The folder the player keeps its files in, and names its socket after: the program
// folder, or, when that is not writable (an installed copy), its folder in the user's
// configuration, as the player chooses at start.
std::string PlayerFolder()
{
    const std::string folder = ProgramFolder();
    if (std::getenv("MARLIX_AUDIO_HOME") || access(folder.c_str(), W_OK) == 0)
        return folder;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = config && config[0] == '/' ? config : std::string(home ? home : "") + "/.config";
    std::error_code ec;
    const std::string own = base + "/marlixaudio/";
    return std::filesystem::is_directory(own, ec) ? own : folder;
}

class TSocket {
public:
    // Connects to the socket at `path` when it is one of this user's; else Fd() is -1.
    explicit TSocket(const std::string& path)
    {
        struct stat st{};
        sockaddr_un address{};
        if (lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != geteuid() ||
            path.size() >= sizeof address.sun_path)
            return;
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        Handle = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (Handle >= 0 && connect(Handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(Handle);
            Handle = -1; // a socket a killed player left behind
        }
    }
    ~TSocket()
    {
        if (Handle >= 0)
            close(Handle);
    }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;

    int Fd() const { return Handle; }

    bool SendAll(std::string_view data) const
    {
        while (!data.empty()) {
            const ssize_t n = send(Handle, data.data(), data.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // Everything the player sends until it closes; false when it takes longer than `ms`.
    bool ReceiveAll(std::string& out, int ms) const
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        char buffer[4096];
        while (out.size() <= kMaxAnswer) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{Handle, POLLIN, 0};
            const int ready = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return false;
            const ssize_t n = read(Handle, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                return true;
            out.append(buffer, static_cast<size_t>(n));
        }
        return false;
    }

private:
    int Handle = -1;
};

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

} // namespace

int Remote(const std::vector<std::string>& args)
{
    std::string error;
    if (!ParseRemoteCommand(args, error)) {
        std::fprintf(stderr, "marlixaudio-cli: %s\n", error.c_str());
        return static_cast<int>(TRemoteStatus::Usage);
    }
    const std::string folder = PlayerFolder();
    for (const std::string& path : RemoteSocketCandidates(folder)) {
        const TSocket socket(path);
        if (socket.Fd() < 0)
            continue;
        std::string answer;
        TRemoteReply reply;
        if (!socket.SendAll(EncodeRemoteRequest(args)) || !socket.ReceiveAll(answer, kAnswerMs) ||
            !DecodeRemoteReply(answer, reply)) {
            std::fprintf(stderr, "marlixaudio-cli: the player of %s does not answer\n", folder.c_str());
            return static_cast<int>(TRemoteStatus::NoPlayer);
        }
        if (reply.Status == TRemoteStatus::Ok)
            std::fputs(reply.Text.c_str(), stdout);
        else
            std::fprintf(stderr, "marlixaudio-cli: %s\n", FirstLine(reply.Text).c_str());
        return static_cast<int>(reply.Status);
    }
    std::fprintf(stderr, "marlixaudio-cli: no player runs for %s\n", folder.c_str());
    return static_cast<int>(TRemoteStatus::NoPlayer);
}

} // namespace marlix::cli
