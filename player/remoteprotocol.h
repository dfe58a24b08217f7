#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

// How "marlixaudio-cli remote" talks to the running player of a program folder: one Unix
// socket per user and program folder, which the player listens on; one request and one
// answer per connection.
//   request: "marlix-remote 1\n", then each word on a line of its own, then an empty line
//   answer:  the status as a number on the first line, then the text
// A second start of the player sends "raise\n" on the same socket instead.

// What the CLI exits with, and what the player answers.
enum class TRemoteStatus : int {
    Ok = 0,
    Usage = 2,    // the command's words make no command
    NoPlayer = 4, // no player runs for the program folder (or none answers)
    Refused = 5,  // the player cannot carry the command out (now)
};

struct TRemoteReply {
    TRemoteStatus Status = TRemoteStatus::Ok;
    // On success what the command prints (status lines), else a one-line reason.
    std::string Text;
};

// A request longer than this is not one.
constexpr size_t kMaxRemoteRequest = 4096;

// The socket of a program folder's player: in $XDG_RUNTIME_DIR when set, else in the
// temporary folder ($TMPDIR, else /tmp), named after the user and a hash of the folder.
// A folder whose path would not fit a socket address gives way to /tmp.
std::string RemoteSocketPath(const std::string& programFolder);
// Where a client looks, in order: that path, then the /tmp one (the player may have been
// started without the caller's $XDG_RUNTIME_DIR).
std::vector<std::string> RemoteSocketCandidates(const std::string& programFolder);

// Words must be non-empty and free of line breaks (ParseRemoteCommand checks that).
std::string EncodeRemoteRequest(const std::vector<std::string>& words);

// Raise: what a second start sends; Complete: a request, its words in `words`.
enum class TRemoteDecode { Incomplete, Complete, Raise, Invalid };
// Reads what arrived so far. Anything that cannot grow into a request (another greeting,
// too long, too many words, bytes after the end) is Invalid.
TRemoteDecode DecodeRemoteRequest(std::string_view data, std::vector<std::string>& words);

std::string EncodeRemoteReply(const TRemoteReply& reply);
// False when `data` is not a whole answer (no status line, an unknown status).
bool DecodeRemoteReply(std::string_view data, TRemoteReply& reply);

} // namespace marlix
