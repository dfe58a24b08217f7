#include "server/libraryserver.h"

#include "online/playcount.h"

#include <httplib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

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

} // namespace

TLibraryServer::TLibraryServer(TCatalogue& catalogue, std::string newsPage)
    : Catalogue(catalogue), News(std::move(newsPage)), Http(std::make_unique<httplib::Server>())
{
    Routes();
}

TLibraryServer::~TLibraryServer() = default;

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
                return Catalogue.CountPlay(id, today / 7);
    return false;
}

void TLibraryServer::Routes()
{
    httplib::Server& s = *Http;
    s.set_payload_max_length(64 * 1024);
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content("error\r\n", "text/plain");
    });
    s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("error\r\n", "text/plain");
    });
    s.Get(kSearchPath, [this](const httplib::Request& req, httplib::Response& res) {
        const auto q = req.target.find('?');
        const auto answer = SearchAnswer(q == std::string::npos ? "" : req.target.substr(q + 1),
                                         req.get_header_value("Host"));
        if (!answer) {
            res.status = 400;
            res.set_content("error\r\n", "text/plain");
            return;
        }
        res.set_content(*answer, "text/plain; charset=utf-8");
    });
    s.Post(kCountPath, [this](const httplib::Request& req, httplib::Response& res) {
        const bool counted = CountReport(req.body);
        res.status = counted ? 200 : 400;
        res.set_content(counted ? "OK\r\n" : "NG\r\n", "text/plain");
    });
    s.Get(R"(/tonkara/files/([0-9A-Fa-f]{16})\.(\w+))", [this](const httplib::Request& req, httplib::Response& res) {
        const auto t = Catalogue.Track(req.matches[1]);
        std::error_code ec;
        if (!t || IsUrl(t->Location) || !std::filesystem::is_regular_file(t->Location, ec)) {
            res.status = 404;
            return;
        }
        const auto size = std::filesystem::file_size(t->Location, ec);
        auto file = std::make_shared<std::ifstream>(t->Location, std::ios::binary);
        res.set_content_provider(static_cast<size_t>(size), MimeOf(Extension(t->Location)),
                                 [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                     char buffer[16384];
                                     file->seekg(static_cast<std::streamoff>(offset));
                                     const auto n = std::min(length, sizeof buffer);
                                     file->read(buffer, static_cast<std::streamsize>(n));
                                     const auto got = file->gcount();
                                     return got > 0 && sink.write(buffer, static_cast<size_t>(got));
                                 });
    });
    s.Get(R"(/tonkara/track/([0-9A-Fa-f]{16})\.html)", [this](const httplib::Request& req, httplib::Response& res) {
        const auto t = Catalogue.Track(req.matches[1]);
        if (!t) {
            res.status = 404;
            return;
        }
        const std::string base = BaseUrl(req.get_header_value("Host"));
        const std::string mp3 = IsUrl(t->Location) ? t->Location : base + "files/" + t->Id + "." + Extension(t->Location);
        std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + Html(t->Title) +
                           "</title></head><body>\n<h1>" + Html(t->Title) + "</h1>\n<p>" + Html(t->Artist) + " / " +
                           Html(t->Genre) + " / " + Html(t->Date) + "</p>\n<p>" + Html(t->Page) + "</p>\n" +
                           "<p>再生回数: " + std::to_string(t->Plays) + "</p>\n<p><a id=\"play\" href=\"" + Html(mp3) +
                           "\">" + Html(t->Title) + "</a></p>\n</body></html>\n";
        res.set_content(page, "text/html; charset=utf-8");
    });
    s.Get("/tonkara/genres.txt", [this](const httplib::Request&, httplib::Response& res) {
        std::string text;
        for (const auto& g : Catalogue.Genres())
            text += g + "\r\n";
        res.set_content(text, "text/plain; charset=utf-8");
    });
    s.Get("/tonkara/info.html", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(News, "text/html; charset=utf-8");
    });
    s.Get(R"(/tonkara/(index\.html)?)", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string base = BaseUrl(req.get_header_value("Host"));
        std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Tonkara</title></head><body>\n"
                           "<h1>Tonkara</h1>\n<ul>\n";
        for (const auto& t : Catalogue.Newest(50))
            page += "<li><a href=\"" + base + "track/" + t.Id + ".html\">" + Html(t.Artist) + " - " + Html(t.Title) +
                    "</a></li>\n";
        res.set_content(page + "</ul>\n</body></html>\n", "text/html; charset=utf-8");
    });
}

int TLibraryServer::Bind(const std::string& address, int port)
{
    Port = port == 0 ? Http->bind_to_any_port(address) : (Http->bind_to_port(address, port) ? port : -1);
    return Port;
}

bool TLibraryServer::Listen()
{
    return Http->listen_after_bind();
}

void TLibraryServer::Stop()
{
    Http->stop();
}

} // namespace marlix
