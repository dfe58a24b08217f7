#include "player/remoteprotocol.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <sys/un.h>
#include <unistd.h>

namespace marlix {
namespace {

constexpr std::string_view kGreeting = "marlix-remote 1\n";
constexpr std::string_view kRaise = "raise";
constexpr size_t kMaxWords = 8;
// The longest path a socket address holds, without its closing NUL.
constexpr size_t kMaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;

// FNV-1a: a short, stable name for any folder path.
uint64_t FolderHash(const std::string& folder)
{
    uint64_t h = 14695981039346656037ull;
    for (const unsigned char c : folder) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string SocketName(const std::string& programFolder)
{
    char name[64];
    std::snprintf(name, sizeof name, "marlixaudio-%u-%016llx.sock", static_cast<unsigned>(geteuid()),
                  static_cast<unsigned long long>(FolderHash(programFolder)));
    return name;
}

// An absolute folder from the environment, or empty.
std::string FolderFrom(const char* variable)
{
    const char* value = std::getenv(variable);
    if (!value || value[0] != '/')
        return {};
    std::string folder = value;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder == "/" ? std::string() : folder;
}

} // namespace

std::string RemoteSocketPath(const std::string& programFolder)
{
    const std::string name = SocketName(programFolder);
    std::string folder = FolderFrom("XDG_RUNTIME_DIR");
    if (folder.empty())
        folder = FolderFrom("TMPDIR");
    if (folder.empty() || folder.size() + 1 + name.size() > kMaxSocketPath)
        folder = "/tmp";
    return folder + "/" + name;
}

std::vector<std::string> RemoteSocketCandidates(const std::string& programFolder)
{
    std::vector<std::string> paths{RemoteSocketPath(programFolder)};
    const std::string fallback = "/tmp/" + SocketName(programFolder);
    if (paths.front() != fallback)
        paths.push_back(fallback);
    return paths;
}

std::string EncodeRemoteRequest(const std::vector<std::string>& words)
{
    std::string out(kGreeting);
    for (const std::string& w : words)
        out += w + '\n';
    return out + '\n';
}

TRemoteDecode DecodeRemoteRequest(std::string_view data, std::vector<std::string>& words)
{
    if (data.size() > kMaxRemoteRequest)
        return TRemoteDecode::Invalid;
    if (data.substr(0, kRaise.size()) == kRaise.substr(0, data.size()))
        return data.size() < kRaise.size() ? TRemoteDecode::Incomplete : TRemoteDecode::Raise;
    if (data.substr(0, kGreeting.size()) != kGreeting.substr(0, data.size()))
        return TRemoteDecode::Invalid;
    if (data.size() < kGreeting.size())
        return TRemoteDecode::Incomplete;
    words.clear();
    for (size_t at = kGreeting.size();;) {
        const size_t end = data.find('\n', at);
        if (end == std::string_view::npos)
            return TRemoteDecode::Incomplete;
        if (end == at)
            return end + 1 == data.size() ? TRemoteDecode::Complete : TRemoteDecode::Invalid;
        if (words.size() == kMaxWords)
            return TRemoteDecode::Invalid;
        words.emplace_back(data.substr(at, end - at));
        at = end + 1;
    }
}

std::string EncodeRemoteReply(const TRemoteReply& reply)
{
    return std::to_string(static_cast<int>(reply.Status)) + '\n' + reply.Text;
}

bool DecodeRemoteReply(std::string_view data, TRemoteReply& reply)
{
    const size_t end = data.find('\n');
    if (end == std::string_view::npos)
        return false;
    int status = -1;
    const auto [ptr, ec] = std::from_chars(data.data(), data.data() + end, status);
    if (ec != std::errc() || ptr != data.data() + end)
        return false;
    switch (static_cast<TRemoteStatus>(status)) {
    case TRemoteStatus::Ok:
    case TRemoteStatus::Usage:
    case TRemoteStatus::Refused:
        break;
    default:
        return false;
    }
    reply.Status = static_cast<TRemoteStatus>(status);
    reply.Text = std::string(data.substr(end + 1));
    return true;
}

} // namespace marlix
