#include "server/httpdaemon.h"

#include <microhttpd.h>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>

namespace marlix {

namespace {

// One request's state between the calls libmicrohttpd makes for it.
struct TRequestState {
    std::string Uri; // as sent, query included
    std::string Body;
    bool Started = false;
};

void* KeepUri(void*, const char* uri, MHD_Connection*)
{
    auto* state = new TRequestState;
    state->Uri = uri ? uri : "";
    return state;
}

void Forget(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode)
{
    delete static_cast<TRequestState*>(*state);
    *state = nullptr;
}

std::optional<uint64_t> Decimal(const std::string& text)
{
    uint64_t n = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt;
    return n;
}

MHD_Result Send(MHD_Connection* c, THttpResponse r, bool closeAfter)
{
    MHD_Response* m = r.File >= 0
                          ? MHD_create_response_from_fd_at_offset64(r.FileLength, r.File,
                                                                    static_cast<int64_t>(r.FileOffset))
                          : MHD_create_response_from_buffer(r.Body.size(), r.Body.data(), MHD_RESPMEM_MUST_COPY);
    if (!m) {
        if (r.File >= 0)
            close(r.File);
        return MHD_NO;
    }
    if (!r.ContentType.empty())
        MHD_add_response_header(m, MHD_HTTP_HEADER_CONTENT_TYPE, r.ContentType.c_str());
    for (const auto& [name, value] : r.Headers)
        MHD_add_response_header(m, name.c_str(), value.c_str());
    if (closeAfter)
        MHD_add_response_header(m, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(r.Status), m);
    MHD_destroy_response(m);
    return queued;
}

MHD_Result Refuse(MHD_Connection* c, int status)
{
    THttpResponse r;
    r.Status = status;
    r.Body = "error\r\n";
    return Send(c, std::move(r), true);
}

} // namespace

std::string THttpRequest::Header(const char* name) const
{
    const char* v = Connection ? MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, name) : nullptr;
    return v ? v : "";
}

TByteRange TByteRange::Parse(const std::string& header, uint64_t size)
{
    TByteRange whole{TKind::Whole, 0, size};
    if (!header.starts_with("bytes=") || header.find(',') != std::string::npos)
        return whole;
    const std::string bounds = header.substr(6);
    const auto dash = bounds.find('-');
    if (dash == std::string::npos)
        return whole;
    const auto first = Decimal(bounds.substr(0, dash)), last = Decimal(bounds.substr(dash + 1));
    if (dash == 0) { // the last n bytes
        if (!last)
            return whole;
        if (*last == 0 || size == 0)
            return {TKind::Unsatisfiable, 0, 0};
        const uint64_t n = std::min(*last, size);
        return {TKind::Part, size - n, n};
    }
    if (!first || (dash + 1 < bounds.size() && (!last || *last < *first)))
        return whole;
    if (*first >= size)
        return {TKind::Unsatisfiable, 0, 0};
    const uint64_t end = last ? std::min(*last, size - 1) : size - 1;
    return {TKind::Part, *first, end - *first + 1};
}

THttpDaemon::THttpDaemon(THttpLimits limits, THandler handler) : Limit(limits), Handler(std::move(handler))
{
    if (pipe2(StopPipe, O_CLOEXEC) != 0)
        StopPipe[0] = StopPipe[1] = -1;
}

THttpDaemon::~THttpDaemon()
{
    for (int fd : {ListenFd, StopPipe[0], StopPipe[1]})
        if (fd >= 0)
            close(fd);
}

int THttpDaemon::Bind(const std::string& address, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> info(found, freeaddrinfo);
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 511) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    ListenFd = fd;
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

bool THttpDaemon::Listen()
{
    if (ListenFd < 0 || StopPipe[0] < 0)
        return false;
    const auto access = [](void* self, MHD_Connection* c, const char* url, const char* method, const char*,
                           const char* upload, size_t* uploadSize, void** state) -> MHD_Result {
        auto& d = *static_cast<THttpDaemon*>(self);
        auto& s = *static_cast<TRequestState*>(*state);
        if (!s.Started) { // the headers are in
            s.Started = true;
            if (MHD_get_connection_values(c, MHD_HEADER_KIND, nullptr, nullptr) > static_cast<int>(d.Limit.MaxHeaders))
                return Refuse(c, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE);
            if (MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING))
                return Refuse(c, MHD_HTTP_LENGTH_REQUIRED);
            const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            const auto n = Decimal(length ? length : "0");
            if (!n || *n > d.Limit.MaxBody)
                return Refuse(c, MHD_HTTP_CONTENT_TOO_LARGE);
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            if (s.Body.size() + *uploadSize > d.Limit.MaxBody)
                return MHD_NO;
            s.Body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        const auto q = s.Uri.find('?');
        THttpRequest request{method, url, q == std::string::npos ? "" : s.Uri.substr(q + 1), std::move(s.Body), c};
        try {
            return Send(c, d.Handler(request), false);
        } catch (...) {
            return Refuse(c, MHD_HTTP_INTERNAL_SERVER_ERROR);
        }
    };
    const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL;
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, access, this, MHD_OPTION_LISTEN_SOCKET, ListenFd, MHD_OPTION_THREAD_POOL_SIZE,
        std::max(1u, Limit.Threads), MHD_OPTION_CONNECTION_LIMIT, Limit.MaxConnections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, Limit.MaxPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, Limit.IdleSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, Limit.HeaderBytes, MHD_OPTION_URI_LOG_CALLBACK, &KeepUri, nullptr,
        MHD_OPTION_NOTIFY_COMPLETED, &Forget, nullptr, MHD_OPTION_END);
    if (!daemon)
        return false;
    ListenFd = -1; // the daemon closes it
    char byte;
    while (read(StopPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    MHD_stop_daemon(daemon);
    return true;
}

void THttpDaemon::Stop()
{
    const char byte = 1;
    if (StopPipe[1] >= 0 && write(StopPipe[1], &byte, 1) < 0) {
        // the pipe is full: a stop is already pending
    }
}

} // namespace marlix
