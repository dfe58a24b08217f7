#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace marlix {

// Blocking HTTP operations over libcurl. Each call opens and closes its own handles and
// returns when the transfer ends. The limits default to the player's figures; tests
// shorten the times.
struct TInetLimits {
    long FetchTimeoutMs = 30000;       // fetches, the news page and reports: every time-out, and the whole read
    size_t FetchCap = 65535;           // stop after the read that passes this many bytes
    size_t FetchPiece = 1025;          // read buffer of a fetch
    long StatusReceiveTimeoutMs = 10000;
    long DownloadTimeoutMs = 10000;    // downloads: the connect time-out, and how long one may run below
    long DownloadLowSpeed = 1024;      // this many bytes per second
    uint64_t DownloadCap = uint64_t{2} << 30; // a larger download fails
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
// As above, but true only for a whole 2xx answer: one cut by the cap or the time limit
// is a failure and leaves `body` empty.
bool InetFetchWhole(const std::string& url, std::string& body, const TInetLimits& limits = {});
// As above, split at CR, LF or CR LF.
bool InetFetchLines(const std::string& url, std::vector<std::string>& lines, const TInetLimits& limits = {});
// HTTP/1.0 request for the URL's path (never its query): POST with `body` when given,
// else GET. Returns the status (0 when none was read); the body is kept only for 200.
int InetRequestWithStatus(const std::string& url, const std::string* body, std::string& answer,
                          const TInetHost& library, const TInetLimits& limits = {});
// Truncates or creates `path`, then fills it with the body of a whole 200 answer (within
// the fetch cap and time limit).
bool InetDownloadToFile(const std::string& path, const std::string& url, const TInetLimits& limits = {});

// A partial download to continue: how many bytes the file holds, and its last bytes,
// which the server's answer must repeat before the rest is taken.
struct TResumePoint {
    uint64_t Size = 0;
    std::string Tail;
};
// Streams a 2xx body into `out` in pieces the size of the first piece that arrived,
// updating `progress` (percent of the length, 0 to 100; a missing or 0 length counts as
// 1 byte). Returns true when the body ended; false on a failure, an empty body, a body
// past DownloadCap, a transfer slower than DownloadLowSpeed for DownloadTimeoutMs, or
// when `cancel` was set.
// With a resume point the rest is asked for (a range from Size − Tail.size()): an answer
// that repeats the tail is written on from position Size; otherwise (no ranges, other
// bytes) the whole body is written from position 0. Either way the file's content ends at
// out.tellp().
bool InetDownloadWithProgress(std::ostream& out, const std::string& url, std::atomic<int>& progress,
                              const std::atomic<bool>& cancel, const TInetLimits& limits = {},
                              const TResumePoint& resume = {});
// POSTs `body` to `path` on the library host and ignores the outcome; the answer is
// read within the fetch cap and time limit.
void InetPostAndForget(const std::string& body, const std::string& path, const TInetHost& library,
                       const std::string& referrer, const TInetLimits& limits = {});

// What follows the URL's last "/", then its last "\" or ":".
std::string UrlFileName(const std::string& url);
// The URL without its file name and the "/" before it.
std::string UrlFolder(const std::string& url);
// Replaces every "%XY" with a value above 0 by that byte; anything else stays.
std::string PercentDecode(const std::string& line);
// Splits text at CR, LF or CR LF.
std::vector<std::string> SplitLines(const std::string& text);

} // namespace marlix
