#pragma once
#include <atomic>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace marlix {

// Blocking HTTP operations over libcurl. Each call opens and closes its own handles and
// returns when the transfer ends. The limits default to the player's figures; tests
// shorten the times.
struct TInetLimits {
    long FetchTimeoutMs = 30000;       // fetch to memory: every time-out, and the whole read
    size_t FetchCap = 65535;           // stop after the read that passes this many bytes
    size_t FetchPiece = 1025;          // read buffer of a fetch
    long StatusReceiveTimeoutMs = 10000;
    long DownloadTimeoutMs = 10000;
    size_t MaxUrlLength = 2055;        // longer URLs are refused by the status request
};

// The server a status request or a post without its own port goes to: the library host
// "host[:port]". Requests reach port 80 unless the URL's host is this host and it names
// a port.
struct TInetHost {
    std::string Host;     // "name" or "name:port"
    std::string Name() const;
    int Port() const;     // 80 unless given
};

// True when `host` ("name[:port]") resolves to an address.
bool InetConnected(const std::string& host);

// The body of a 2xx answer, cut after the read that passes the cap or when the time limit
// ends the read; false when the server could not be reached or did not answer 2xx.
bool InetFetchToMemory(const std::string& url, std::string& body, const TInetLimits& limits = {});
// As above, split at CR, LF or CR LF.
bool InetFetchLines(const std::string& url, std::vector<std::string>& lines, const TInetLimits& limits = {});
// HTTP/1.0 request for the URL's path (never its query): POST with `body` when given,
// else GET. Returns the status (0 when none was read); the body is kept only for 200.
int InetRequestWithStatus(const std::string& url, const std::string* body, std::string& answer,
                          const TInetHost& library, const TInetLimits& limits = {});
// Truncates or creates `path`, then fills it with the body of a 200 answer.
bool InetDownloadToFile(const std::string& path, const std::string& url, const TInetLimits& limits = {});
// Streams a 2xx body into `out` in pieces the size of the first piece that arrived,
// updating `progress` (percent of the content length, or of 1 byte when the length is
// missing or 0). Returns true when the body ended; false on a failure, an empty body, or
// when `cancel` was set.
bool InetDownloadWithProgress(std::ostream& out, const std::string& url, std::atomic<int>& progress,
                              const std::atomic<bool>& cancel, const TInetLimits& limits = {});
// POSTs `body` to `path` on the library host and ignores the outcome.
void InetPostAndForget(const std::string& body, const std::string& path, const TInetHost& library,
                       const std::string& referrer);

// What follows the URL's last "/", then its last "\" or ":".
std::string UrlFileName(const std::string& url);
// The URL without its file name and the "/" before it.
std::string UrlFolder(const std::string& url);
// Replaces every "%XY" with a value above 0 by that byte; anything else stays.
std::string PercentDecode(const std::string& line);
// Splits text at CR, LF or CR LF.
std::vector<std::string> SplitLines(const std::string& text);

} // namespace marlix
