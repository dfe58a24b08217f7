#pragma once
#include "server/catalogue.h"
#include "server/httpdaemon.h"

#include <string>

namespace marlix {

// The online library's HTTP server: the search answering the result-file format, the
// play-count report, the audio files (with ranges, so players can seek), each track's
// page, "genres.txt", the news page and an index of the newest tracks.
class TLibraryServer {
public:
    TLibraryServer(TCatalogue& catalogue, std::string newsPage, THttpLimits limits = {});
    TLibraryServer(const TLibraryServer&) = delete;
    TLibraryServer& operator=(const TLibraryServer&) = delete;

    // Binds `address`; port 0 picks a free one. Returns the port, or -1.
    int Bind(const std::string& address, int port);
    // Serves until Stop.
    bool Listen();
    // Safe to call from a signal handler.
    void Stop();

    // The search answer for a raw query string; nullopt when the query is unreadable.
    std::optional<std::string> SearchAnswer(const std::string& query, const std::string& host);
    // Counts the play a report body ("code\rnonce") proves; false when it proves none, or
    // when its nonce was counted before.
    bool CountReport(const std::string& body);

    // Escapes "%", control characters, bytes above 127 and INI punctuation as "%XY".
    static std::string EscapeValue(const std::string& value);

private:
    THttpResponse Answer(const THttpRequest& request);
    THttpResponse File(const std::string& id, const std::string& range);
    THttpResponse TrackPage(const std::string& id, const std::string& host);
    THttpResponse Index(const std::string& host);
    std::string BaseUrl(const std::string& host) const;

    TCatalogue& Catalogue;
    std::string News;
    THttpDaemon Http;
    int Port = 0;
};

} // namespace marlix
