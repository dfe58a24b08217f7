#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct MHD_Connection;
struct MHD_Daemon;

namespace marlix {

// What one server process lets its clients take. Requests are read by a few event-driven
// threads (libmicrohttpd), so a slow client holds a connection, never a worker.
struct THttpLimits {
    unsigned MaxConnections = 1000;
    unsigned MaxPerAddress = 64;
    unsigned IdleSeconds = 15;      // reading, writing and keep-alive: silence this long closes
    size_t HeaderBytes = 16 * 1024; // request line and headers together
    unsigned MaxHeaders = 64;
    size_t MaxBody = 64 * 1024;     // with a Content-Length; chunked bodies are refused
    unsigned Threads = 4;
};

// A request as the routes see it, once its headers (and a body within the limit) are in.
struct THttpRequest {
    std::string Method;
    std::string Path;  // percent escapes decoded
    std::string Query; // as sent, after the "?"
    std::string Body;
    MHD_Connection* Connection = nullptr;

    // The header's value; empty when there is none.
    std::string Header(const char* name) const;
};

struct THttpResponse {
    int Status = 200;
    std::string ContentType = "text/plain";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
    // Instead of Body: `FileLength` bytes from `FileOffset` of this open file, which the
    // response then owns.
    int File = -1;
    uint64_t FileOffset = 0, FileLength = 0;
};

// The part of a file of `size` bytes that a "Range" header asks for. One range is served
// as asked; several ranges, or a header that cannot be read, get the whole file once, so
// overlapping ranges cannot multiply the answer.
struct TByteRange {
    enum class TKind { Whole, Part, Unsatisfiable } Kind = TKind::Whole;
    uint64_t Offset = 0, Length = 0;

    static TByteRange Parse(const std::string& header, uint64_t size);
};

// An HTTP/1.1 server on libmicrohttpd with the limits above; each complete request is
// answered by the handler, on one of the server's threads.
class THttpDaemon {
public:
    using THandler = std::function<THttpResponse(const THttpRequest&)>;

    THttpDaemon(THttpLimits limits, THandler handler);
    ~THttpDaemon();
    THttpDaemon(const THttpDaemon&) = delete;
    THttpDaemon& operator=(const THttpDaemon&) = delete;

    // Binds `address` (IPv4 or IPv6); port 0 picks a free one. Returns the port, or -1.
    int Bind(const std::string& address, int port);
    // Serves until Stop; false when the server could not start.
    bool Listen();
    // Safe to call from a signal handler, and before Listen.
    void Stop();

    const THttpLimits& Limits() const { return Limit; }

private:
    THttpLimits Limit;
    THandler Handler;
    int ListenFd = -1;
    int StopPipe[2] = {-1, -1};
};

} // namespace marlix
