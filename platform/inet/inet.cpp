#include "platform/inet/inet.h"

#include <curl/curl.h>
#include <netdb.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

namespace marlix {

namespace {

const char* const kAgent = "Marlix Audio";

struct TCurlGlobal {
    TCurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~TCurlGlobal() { curl_global_cleanup(); }
};

struct TEasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using TEasy = std::unique_ptr<CURL, TEasyDeleter>;

struct TListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using TList = std::unique_ptr<curl_slist, TListDeleter>;

TEasy NewEasy(const std::string& url, const char* agent)
{
    static TCurlGlobal global;
    TEasy e(curl_easy_init());
    if (!e)
        return e;
    curl_easy_setopt(e.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(e.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    if (agent)
        curl_easy_setopt(e.get(), CURLOPT_USERAGENT, agent);
    return e;
}

// Connect, send and receive time-outs: libcurl has no receive time-out of its own, so a
// transfer slower than one byte per period counts as one.
void SetTimeouts(CURL* e, long ms)
{
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, ms);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, std::max(1L, (ms + 999) / 1000));
}

// Always from the server, never from a cache on the way.
TList NoCacheHeaders()
{
    curl_slist* l = curl_slist_append(nullptr, "Cache-Control: no-cache");
    l = curl_slist_append(l, "Pragma: no-cache");
    return TList(l);
}

long Status(CURL* e)
{
    long code = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

bool Is2xx(long code) { return code >= 200 && code < 300; }

struct TCapped {
    std::string* Body;
    size_t Cap;
    bool Cut = false;
};

size_t WriteCapped(char* data, size_t, size_t n, void* user)
{
    auto* c = static_cast<TCapped*>(user);
    c->Body->append(data, n);
    if (c->Body->size() > c->Cap) {
        c->Cut = true;
        return 0; // stops the transfer; what arrived is kept
    }
    return n;
}

size_t WriteString(char* data, size_t, size_t n, void* user)
{
    static_cast<std::string*>(user)->append(data, n);
    return n;
}

struct TUrlParts {
    std::string Scheme, Host, Port, Path;
};

bool SplitUrl(const std::string& url, TUrlParts& parts)
{
    CURLU* u = curl_url();
    if (!u)
        return false;
    bool ok = curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_URLENCODE) == CURLUE_OK;
    auto get = [&](CURLUPart part, std::string& out, bool required) {
        char* s = nullptr;
        if (curl_url_get(u, part, &s, 0) == CURLUE_OK && s) {
            out = s;
            curl_free(s);
        } else if (required) {
            ok = false;
        }
    };
    if (ok) {
        get(CURLUPART_SCHEME, parts.Scheme, true);
        get(CURLUPART_HOST, parts.Host, true);
        get(CURLUPART_PORT, parts.Port, false);
        get(CURLUPART_PATH, parts.Path, true);
    }
    curl_url_cleanup(u);
    return ok && parts.Scheme.size() < 32 && parts.Host.size() < 256 && parts.Path.size() < 2048;
}

// The port of a request that names a host: the library host's own port when the URL is on
// that host and the host names one, else 80.
int PortFor(const TUrlParts& parts, const TInetHost& library)
{
    if (parts.Host == library.Name() && !parts.Port.empty() && std::to_string(library.Port()) == parts.Port)
        return library.Port();
    return 80;
}

} // namespace

std::string TInetHost::Name() const
{
    const auto colon = Host.rfind(':');
    return colon == std::string::npos ? Host : Host.substr(0, colon);
}

int TInetHost::Port() const
{
    const auto colon = Host.rfind(':');
    if (colon == std::string::npos)
        return 80;
    try {
        const int p = std::stoi(Host.substr(colon + 1));
        return p > 0 && p < 65536 ? p : 80;
    } catch (...) {
        return 80;
    }
}

bool InetConnected(const std::string& host)
{
    addrinfo* res = nullptr;
    const TInetHost h{host};
    const bool ok = getaddrinfo(h.Name().c_str(), nullptr, nullptr, &res) == 0;
    if (res)
        freeaddrinfo(res);
    return ok;
}

namespace {

enum class TFetchEnd { Failed, Whole, Cut };

// Reads a 2xx answer into `body` within the fetch cap and time limit.
TFetchEnd PerformCapped(CURL* e, std::string& body, const TInetLimits& limits)
{
    TCapped sink{&body, limits.FetchCap};
    SetTimeouts(e, limits.FetchTimeoutMs);
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, limits.FetchTimeoutMs);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(std::max<size_t>(limits.FetchPiece, 1024)));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, WriteCapped);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
    const CURLcode rc = curl_easy_perform(e);
    if (!Is2xx(Status(e)))
        return TFetchEnd::Failed;
    if (rc == CURLE_OK)
        return TFetchEnd::Whole;
    return sink.Cut || rc == CURLE_OPERATION_TIMEDOUT ? TFetchEnd::Cut : TFetchEnd::Failed;
}

TFetchEnd Fetch(const std::string& url, std::string& body, const TInetLimits& limits)
{
    body.clear();
    TEasy e = NewEasy(url, kAgent);
    if (!e)
        return TFetchEnd::Failed;
    TList headers = NoCacheHeaders();
    curl_easy_setopt(e.get(), CURLOPT_HTTPHEADER, headers.get());
    const TFetchEnd end = PerformCapped(e.get(), body, limits);
    if (end == TFetchEnd::Failed)
        body.clear();
    return end;
}

} // namespace

bool InetFetchToMemory(const std::string& url, std::string& body, const TInetLimits& limits)
{
    return Fetch(url, body, limits) != TFetchEnd::Failed;
}

bool InetFetchWhole(const std::string& url, std::string& body, const TInetLimits& limits)
{
    if (Fetch(url, body, limits) == TFetchEnd::Whole)
        return true;
    body.clear();
    return false;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

bool InetFetchLines(const std::string& url, std::vector<std::string>& lines, const TInetLimits& limits)
{
    std::string body;
    const bool ok = InetFetchToMemory(url, body, limits);
    lines = SplitLines(body);
    return ok;
}

int InetRequestWithStatus(const std::string& url, const std::string* body, std::string& answer,
                          const TInetHost& library, const TInetLimits& limits)
{
    answer.clear();
    TUrlParts parts;
    if (url.size() > limits.MaxUrlLength || !SplitUrl(url, parts))
        return 0;
    const std::string target =
        parts.Scheme + "://" + parts.Host + ":" + std::to_string(PortFor(parts, library)) + parts.Path;
    TEasy e = NewEasy(target, nullptr);
    if (!e)
        return 0;
    TList headers = NoCacheHeaders();
    if (body) {
        headers.reset(curl_slist_append(headers.release(), "Content-type: application/x-www-form-urlencoded"));
        curl_easy_setopt(e.get(), CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(e.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
    }
    std::string received;
    curl_easy_setopt(e.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(e.get(), CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(e.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e.get(), CURLOPT_LOW_SPEED_TIME, std::max(1L, limits.StatusReceiveTimeoutMs / 1000));
    curl_easy_setopt(e.get(), CURLOPT_BUFFERSIZE, 1024L);
    curl_easy_setopt(e.get(), CURLOPT_WRITEFUNCTION, WriteString);
    curl_easy_setopt(e.get(), CURLOPT_WRITEDATA, &received);
    curl_easy_perform(e.get());
    const long code = Status(e.get());
    if (code == 200)
        answer = std::move(received);
    return static_cast<int>(code);
}

bool InetDownloadToFile(const std::string& path, const std::string& url, const TInetLimits& limits)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    TEasy e = NewEasy(url, kAgent);
    if (!e)
        return false;
    std::string body;
    if (PerformCapped(e.get(), body, limits) != TFetchEnd::Whole || Status(e.get()) != 200)
        return false;
    out.write(body.data(), static_cast<std::streamsize>(body.size()));
    return static_cast<bool>(out.flush());
}

namespace {

// "bytes FIRST-LAST/SIZE" of a partial answer: its first byte and the whole size (0 when
// the server gives "*"); false when the header is missing or malformed.
bool ContentRange(CURL* e, uint64_t& first, uint64_t& size)
{
    curl_header* h = nullptr;
    if (curl_easy_header(e, "Content-Range", 0, CURLH_HEADER, -1, &h) != CURLHE_OK || !h || !h->value)
        return false;
    unsigned long long a = 0, b = 0, n = 0;
    char star = 0;
    if (std::sscanf(h->value, "bytes %llu-%llu/%llu", &a, &b, &n) == 3) {
        first = a;
        size = n;
        return b >= a && n > b;
    }
    if (std::sscanf(h->value, "bytes %llu-%llu/%c", &a, &b, &star) == 3 && star == '*') {
        first = a;
        size = 0;
        return b >= a;
    }
    return false;
}

// Cuts what arrives into pieces of the first piece's size and counts them. An answer that
// continues a partial file must first repeat the file's tail.
struct TProgressSink {
    TProgressSink(CURL* easy, std::ostream& out, std::atomic<int>& progress, const std::atomic<bool>& cancel,
                  uint64_t cap, const TResumePoint* resume)
        : Easy(easy), Out(&out), Progress(&progress), Cancel(&cancel), Cap(cap), Resume(resume)
    {
    }
    CURL* Easy;
    std::ostream* Out;
    std::atomic<int>* Progress;
    const std::atomic<bool>* Cancel;
    uint64_t Cap;
    const TResumePoint* Resume; // null for a whole download
    size_t Piece = 0;
    uint64_t Length = 1;   // the whole file's size, the divisor of the percentage
    uint64_t Total = 0;    // the file's size so far
    size_t Compared = 0;   // bytes of the tail checked so far
    bool Mismatch = false; // the answer does not continue the partial file
    std::string Held;

    // Where the body goes, from the first piece: after the part's bytes it repeats, or
    // from the start.
    bool Start(size_t n)
    {
        Piece = n;
        curl_off_t len = -1;
        curl_easy_getinfo(Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &len);
        const uint64_t body = len > 0 ? static_cast<uint64_t>(len) : 0;
        uint64_t size = 0;
        if (Resume && Status(Easy) == 206) {
            uint64_t first = 0;
            Mismatch = !ContentRange(Easy, first, size) || first != Resume->Size - Resume->Tail.size();
            if (Mismatch)
                return false;
            Total = first;
        } else {
            Resume = nullptr;
        }
        Length = std::max<uint64_t>({size, Total + body, 1});
        Out->seekp(static_cast<std::streamoff>(Total));
        return std::max(size, Total + body) <= Cap;
    }
    bool Emit(const char* data, size_t n)
    {
        Total += n;
        if (Total > Cap)
            return false;
        Progress->store(static_cast<int>(std::min<uint64_t>(100, (Total * 100 + Length / 2) / Length)),
                        std::memory_order_release);
        Out->write(data, static_cast<std::streamsize>(n));
        return true;
    }
    bool Take(const char* data, size_t n)
    {
        if (Cancel->load(std::memory_order_acquire) || !Is2xx(Status(Easy)))
            return false;
        if (Piece == 0 && !Start(n))
            return false;
        if (Resume && Compared < Resume->Tail.size()) {
            const size_t k = std::min(n, Resume->Tail.size() - Compared);
            Mismatch = Resume->Tail.compare(Compared, k, data, k) != 0;
            if (Mismatch)
                return false;
            Compared += k;
        }
        Held.append(data, n);
        size_t at = 0;
        for (; Held.size() - at >= Piece; at += Piece)
            if (!Emit(Held.data() + at, Piece))
                return false;
        Held.erase(0, at);
        return static_cast<bool>(*Out);
    }
    bool Finish()
    {
        const bool ok = Held.empty() || Emit(Held.data(), Held.size());
        Held.clear();
        return ok;
    }
};

size_t WriteProgress(char* data, size_t, size_t n, void* user)
{
    return static_cast<TProgressSink*>(user)->Take(data, n) ? n : 0;
}

int CancelCheck(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool>*>(user)->load(std::memory_order_acquire) ? 1 : 0;
}

// One request: the whole file, or with `resume` the rest of a partial one. `restart`
// tells that the partial file cannot be continued (the bytes differ, or the range is
// refused), so a whole download may follow.
bool DownloadOnce(std::ostream& out, const std::string& url, std::atomic<int>& progress,
                  const std::atomic<bool>& cancel, const TInetLimits& limits, const TResumePoint* resume,
                  bool& restart)
{
    restart = false;
    TEasy e = NewEasy(url, kAgent);
    if (!e)
        return false;
    TProgressSink sink(e.get(), out, progress, cancel, limits.DownloadCap, resume);
    const std::string range = resume ? std::to_string(resume->Size - resume->Tail.size()) + "-" : std::string();
    if (resume)
        curl_easy_setopt(e.get(), CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(e.get(), CURLOPT_CONNECTTIMEOUT_MS, limits.DownloadTimeoutMs);
    curl_easy_setopt(e.get(), CURLOPT_LOW_SPEED_LIMIT, std::max(1L, limits.DownloadLowSpeed));
    curl_easy_setopt(e.get(), CURLOPT_LOW_SPEED_TIME, std::max(1L, (limits.DownloadTimeoutMs + 999) / 1000));
    curl_easy_setopt(e.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e.get(), CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e.get(), CURLOPT_WRITEFUNCTION, WriteProgress);
    curl_easy_setopt(e.get(), CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(e.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e.get(), CURLOPT_XFERINFOFUNCTION, CancelCheck);
    curl_easy_setopt(e.get(), CURLOPT_XFERINFODATA, &cancel);
    const CURLcode rc = curl_easy_perform(e.get());
    restart = resume && !cancel.load() && (sink.Mismatch || Status(e.get()) == 416);
    if (rc != CURLE_OK || sink.Piece == 0 || !Is2xx(Status(e.get())) || cancel.load() || !sink.Finish())
        return false;
    return static_cast<bool>(out.flush());
}

} // namespace

bool InetDownloadWithProgress(std::ostream& out, const std::string& url, std::atomic<int>& progress,
                              const std::atomic<bool>& cancel, const TInetLimits& limits, const TResumePoint& resume)
{
    bool restart = true;
    if (resume.Size > 0 && !resume.Tail.empty() && resume.Tail.size() <= resume.Size) {
        if (DownloadOnce(out, url, progress, cancel, limits, &resume, restart))
            return true;
        if (!restart)
            return false;
        progress = 0;
    }
    return DownloadOnce(out, url, progress, cancel, limits, nullptr, restart);
}

void InetPostAndForget(const std::string& body, const std::string& path, const TInetHost& library,
                       const std::string& referrer, const TInetLimits& limits)
{
    const std::string url = "http://" + library.Name() + ":" + std::to_string(library.Port()) + path;
    TEasy e = NewEasy(url, "WININET Sample Program");
    if (!e)
        return;
    std::string ignored;
    curl_slist* l = curl_slist_append(nullptr, "Content-Type:"); // no extra header
    l = curl_slist_append(l, "Expect:");
    TList headers(l);
    curl_easy_setopt(e.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(e.get(), CURLOPT_REFERER, referrer.c_str());
    curl_easy_setopt(e.get(), CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(e.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    (void)PerformCapped(e.get(), ignored, limits);
}

std::string UrlFileName(const std::string& url)
{
    std::string name = url.substr(url.rfind('/') + 1);
    const auto cut = name.find_last_of("\\:");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

std::string UrlFolder(const std::string& url)
{
    const auto slash = url.rfind('/');
    return slash == std::string::npos ? std::string() : url.substr(0, slash);
}

std::string PercentDecode(const std::string& line)
{
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '%' && i + 2 < line.size()) {
            const int hi = hex(line[i + 1]), lo = hex(line[i + 2]);
            if (hi >= 0 && lo >= 0 && hi * 16 + lo > 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += line[i];
    }
    return out;
}

} // namespace marlix
