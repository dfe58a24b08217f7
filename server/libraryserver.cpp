#include "server/libraryserver.h"

#include "online/playcount.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>

namespace marlix {

namespace {

const char* const kSearchPath = "/tonkara/center2.tks/search";
const char* const kCountPath = "/tonkara/center2.tks/mp3count";

std::string Html(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

bool IsUrl(const std::string& location)
{
    return location.starts_with("http://") || location.starts_with("https://");
}

std::string Extension(const std::string& location)
{
    const auto dot = location.rfind('.');
    const auto slash = location.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string ext = location.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

std::string MimeOf(const std::string& ext)
{
    if (ext == "mp3")
        return "audio/mpeg";
    if (ext == "wav")
        return "audio/wav";
    if (ext == "flac")
        return "audio/flac";
    if (ext == "ogg" || ext == "opus")
        return "audio/ogg";
    return "application/octet-stream";
}

// A Host header we are willing to put into links: name or address, and a port.
std::string SafeHost(const std::string& host)
{
    const bool ok = !host.empty() && host.size() < 256 && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
    });
    return ok ? host : "";
}

THttpResponse Error(int status)
{
    THttpResponse r;
    r.Status = status;
    r.Body = "error\r\n";
    return r;
}

// The 16 hexadecimal digits that follow `prefix` in `path`, or "" when they do not; `rest`
// gets what follows them.
std::string IdAfter(const std::string& path, const std::string& prefix, std::string& rest)
{
    if (!path.starts_with(prefix) || path.size() < prefix.size() + 16)
        return "";
    const std::string id = path.substr(prefix.size(), 16);
    if (!std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return "";
    rest = path.substr(prefix.size() + 16);
    return id;
}

// "." and a word of letters, digits or "_".
bool IsDotWord(const std::string& text)
{
    return text.size() >= 2 && text[0] == '.' &&
           std::all_of(text.begin() + 1, text.end(), [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

// Where the open file really is, every symbolic link resolved.
std::string RealPath(int fd, const std::string& fallback)
{
    char path[PATH_MAX];
    const auto n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    if (n > 0 && static_cast<size_t>(n) < sizeof path)
        return std::string(path, static_cast<size_t>(n));
    std::error_code ec;
    const auto real = std::filesystem::canonical(fallback, ec);
    return ec ? "" : real.string();
}

// A file is served only from inside the folder it was imported from. Tracks catalogued
// before the folder was kept are held to the folder their path names.
bool IsInside(const std::string& real, const TTrackFile& t)
{
    std::string root = t.Root.empty() ? std::filesystem::path(t.Location).parent_path().string() : t.Root;
    if (root.empty())
        return false;
    if (!root.ends_with('/'))
        root += '/';
    return real.starts_with(root);
}

} // namespace

TLibraryServer::TLibraryServer(TCatalogue& catalogue, std::string newsPage, THttpLimits limits)
    : Catalogue(catalogue), News(std::move(newsPage)),
      Http(limits, [this](const THttpRequest& request) { return Answer(request); })
{
}

std::string TLibraryServer::EscapeValue(const std::string& value)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7f)
            c = ' '; // a decoded line break would split the result line
        if (c >= 0x80 || c == '%' || c == '[' || c == ']' || c == '=' || c == ';' || c == '"') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string TLibraryServer::BaseUrl(const std::string& host) const
{
    const std::string h = SafeHost(host);
    return "http://" + (h.empty() ? "127.0.0.1:" + std::to_string(Port) : h) + "/tonkara/";
}

std::optional<std::string> TLibraryServer::SearchAnswer(const std::string& query, const std::string& host)
{
    const auto q = TLibraryQuery::Parse(query);
    if (!q)
        return std::nullopt;
    const std::string base = BaseUrl(host);
    std::string out;
    for (const auto& t : Catalogue.Search(*q, TPlayCountReport::Today() / 7)) {
        const std::string mp3 = IsUrl(t.Location) ? t.Location : base + "files/" + t.Id + "." + Extension(t.Location);
        out += "[" + t.Id + "]\r\n";
        out += "Title=" + EscapeValue(t.Title) + "\r\n";
        out += "Artist=" + EscapeValue(t.Artist) + "\r\n";
        out += "Genre=" + EscapeValue(t.Genre) + "\r\n";
        out += "Date=" + EscapeValue(t.Date) + "\r\n";
        out += "MP3=" + EscapeValue(mp3) + "\r\n";
        out += "Home=" + EscapeValue(base + "track/" + t.Id + ".html") + "\r\n";
    }
    return out;
}

bool TLibraryServer::CountReport(const std::string& body)
{
    const auto cr = body.find('\r');
    if (cr == std::string::npos || body.size() > 256)
        return false;
    const std::string code = body.substr(0, cr);
    std::string nonce = body.substr(cr + 1);
    while (!nonce.empty() && (nonce.back() == '\n' || nonce.back() == '\r'))
        nonce.pop_back();
    if (code.size() != 16 || nonce.size() < 16 || nonce.size() > 35)
        return false;
    const int today = TPlayCountReport::Today();
    for (const std::string& id : Catalogue.IdsStartingWith(code.substr(0, 8)))
        for (int day = today - 1; day <= today + 1; ++day) // the player's date may differ by a day
            if (TPlayCountReport::CheckCode(id, nonce, day) == code)
                return Catalogue.CountReportedPlay(id, today / 7, nonce, day);
    return false;
}

THttpResponse TLibraryServer::Answer(const THttpRequest& req)
{
    const bool get = req.Method == "GET" || req.Method == "HEAD";
    std::string rest;
    if (get && req.Path == kSearchPath) {
        const auto answer = SearchAnswer(req.Query, req.Header("Host"));
        if (!answer)
            return Error(400);
        return {200, "text/plain; charset=utf-8", *answer, {}};
    }
    if (req.Method == "POST" && req.Path == kCountPath) {
        const bool counted = CountReport(req.Body);
        return {counted ? 200 : 400, "text/plain", counted ? "OK\r\n" : "NG\r\n", {}};
    }
    if (!get)
        return Error(404);
    if (const auto id = IdAfter(req.Path, "/tonkara/files/", rest); !id.empty() && IsDotWord(rest))
        return File(id, req.Header("Range"));
    if (const auto id = IdAfter(req.Path, "/tonkara/track/", rest); !id.empty() && rest == ".html")
        return TrackPage(id, req.Header("Host"));
    if (req.Path == "/tonkara/genres.txt") {
        std::string text;
        for (const auto& g : Catalogue.Genres())
            text += g + "\r\n";
        return {200, "text/plain; charset=utf-8", text, {}};
    }
    if (req.Path == "/tonkara/info.html")
        return {200, "text/html; charset=utf-8", News, {}};
    if (req.Path == "/tonkara/" || req.Path == "/tonkara/index.html")
        return Index(req.Header("Host"));
    return Error(404);
}

THttpResponse TLibraryServer::File(const std::string& id, const std::string& range)
{
    const auto t = Catalogue.File(id);
    if (!t || IsUrl(t->Location))
        return Error(404);
    // Opened first and checked where it really is, so a link swapped in meanwhile cannot
    // lead elsewhere.
    const int fd = open(t->Location.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !IsInside(RealPath(fd, t->Location), *t)) {
        if (fd >= 0)
            close(fd);
        return Error(404);
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    const auto part = TByteRange::Parse(range, size);
    THttpResponse r{200, MimeOf(Extension(t->Location)), "", {{"Accept-Ranges", "bytes"}}};
    if (part.Kind == TByteRange::TKind::Unsatisfiable) {
        close(fd);
        r = Error(416);
        r.Headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return r;
    }
    if (part.Kind == TByteRange::TKind::Part) {
        r.Status = 206;
        r.Headers.emplace_back("Content-Range", "bytes " + std::to_string(part.Offset) + "-" +
                                                    std::to_string(part.Offset + part.Length - 1) + "/" +
                                                    std::to_string(size));
    }
    r.File = fd;
    r.FileOffset = part.Offset;
    r.FileLength = part.Length;
    return r;
}

THttpResponse TLibraryServer::TrackPage(const std::string& id, const std::string& host)
{
    const auto t = Catalogue.Track(id);
    if (!t)
        return Error(404);
    const std::string base = BaseUrl(host);
    const std::string mp3 = IsUrl(t->Location) ? t->Location : base + "files/" + t->Id + "." + Extension(t->Location);
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + Html(t->Title) +
                       "</title></head><body>\n<h1>" + Html(t->Title) + "</h1>\n<p>" + Html(t->Artist) + " / " +
                       Html(t->Genre) + " / " + Html(t->Date) + "</p>\n<p>" + Html(t->Page) + "</p>\n" +
                       "<p>再生回数: " + std::to_string(t->Plays) + "</p>\n<p><a id=\"play\" href=\"" + Html(mp3) +
                       "\">" + Html(t->Title) + "</a></p>\n</body></html>\n";
    return {200, "text/html; charset=utf-8", page, {}};
}

THttpResponse TLibraryServer::Index(const std::string& host)
{
    const std::string base = BaseUrl(host);
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Tonkara</title></head><body>\n"
                       "<h1>Tonkara</h1>\n<ul>\n";
    for (const auto& t : Catalogue.Newest(50))
        page += "<li><a href=\"" + base + "track/" + t.Id + ".html\">" + Html(t.Artist) + " - " + Html(t.Title) +
                "</a></li>\n";
    return {200, "text/html; charset=utf-8", page + "</ul>\n</body></html>\n", {}};
}

int TLibraryServer::Bind(const std::string& address, int port)
{
    Port = Http.Bind(address, port);
    return Port;
}

bool TLibraryServer::Listen()
{
    return Http.Listen();
}

void TLibraryServer::Stop()
{
    Http.Stop();
}

} // namespace marlix
