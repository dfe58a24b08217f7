// Load on the library server: searches per second and their latency with 50 clients on
// keep-alive connections, while 200 slow clients hold connections open by trickling their
// headers a byte a second. Runs marlixaudio-library on 127.0.0.1 on an SQLite file and on a
// private PostgreSQL server, over a catalogue of 5 000 tracks.
//   marlix_library_bench [--seconds S] [--clients N] [--slow N] [--backend sqlite|postgres]
#include "server/catalogue.h"
#include "support/libraryprocess.h"
#include "support/postgresprocess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct TOptions {
    double Seconds = 10;
    int Clients = 50, Slow = 200, Tracks = 5000;
    std::string Backend; // empty: both
};

const char* const kArtists[] = {"Bach", "Coltrane", "Davis", "Evans", "Monk", "Brahms", "Chopin", "Ravel"};

void Fill(const std::string& db, int count)
{
    marlix::TCatalogue catalogue(db);
    std::vector<marlix::TCatalogueTrack> tracks;
    for (int i = 0; i < count; ++i) {
        char id[17];
        std::snprintf(id, sizeof id, "%016X", i * 2654435761u);
        tracks.push_back({id, "Title " + std::to_string(i), std::string(kArtists[i % 8]) + " " + std::to_string(i % 97),
                          i % 3 ? "Jazz" : "Classical", std::to_string(1950 + i % 70), "/music/" + std::to_string(i) + ".mp3",
                          "", 0});
    }
    if (!catalogue.Store(tracks))
        throw std::runtime_error("cannot fill the catalogue");
}

int Connect(int port, const std::string& source)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(static_cast<uint16_t>(port));
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One request on a keep-alive connection; false when the answer was not a whole 200 with
// results.
bool Search(int fd, const std::string& request, std::string& buffer)
{
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return false;
    buffer.clear();
    size_t end = std::string::npos, length = 0;
    char chunk[16384];
    while (end == std::string::npos || buffer.size() < end + 4 + length) {
        const auto n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<size_t>(n));
        if (end == std::string::npos && (end = buffer.find("\r\n\r\n")) != std::string::npos) {
            const auto at = buffer.find("Content-Length: ");
            length = at < end ? std::strtoul(buffer.c_str() + at + 16, nullptr, 10) : 0;
        }
    }
    // Every query of the load matches tracks: an empty answer is a failed search.
    return buffer.starts_with("HTTP/1.1 200") && buffer.find("\r\n[", end) != std::string::npos;
}

struct TResult {
    double PerSecond = 0, P50 = 0, P99 = 0;
    long Errors = 0;
    int SlowHeld = 0;
};

TResult Load(int port, const TOptions& o)
{
    // Slow clients, four to an address (127.0.1.x), each a header that never ends.
    std::vector<int> slow;
    for (int i = 0; i < o.Slow; ++i)
        if (const int fd = Connect(port, "127.0.1." + std::to_string(1 + i / 4)); fd >= 0) {
            const std::string start = "GET /tonkara/ HTTP/1.1\r\nHost: library\r\nX-Slow: ";
            send(fd, start.data(), start.size(), MSG_NOSIGNAL);
            slow.push_back(fd);
        }
    std::atomic<bool> stop{false}, counting{false};
    std::thread trickle([&] {
        while (!stop) {
            for (int fd : slow)
                send(fd, "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            for (int i = 0; i < 10 && !stop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    std::vector<std::vector<double>> latencies(o.Clients);
    std::atomic<long> errors{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < o.Clients; ++c)
        clients.emplace_back([&, c] {
            std::string buffer;
            int fd = -1;
            for (unsigned i = c; !stop; i += 7) {
                if (fd < 0 && (fd = Connect(port, "127.0.0.1")) < 0) {
                    ++errors;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                const std::string query = i % 2 ? "Artist=" + std::string(kArtists[i % 8]) + "%20" + std::to_string(i % 97) +
                                                      "&Sort=New&Max=10&Open=1"
                                                : "Genre=Jazz&Title=Title%20" + std::to_string(i % 500 * 3 + 1) + "&Max=10&Open=1";
                const std::string request = "GET /tonkara/center2.tks/search?" + query + " HTTP/1.1\r\nHost: library\r\n\r\n";
                const auto start = Clock::now();
                const bool ok = Search(fd, request, buffer);
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                if (!ok) {
                    close(fd);
                    fd = -1;
                }
                if (counting) {
                    errors += !ok;
                    if (ok)
                        latencies[c].push_back(ms);
                }
            }
            if (fd >= 0)
                close(fd);
        });
    std::this_thread::sleep_for(std::chrono::seconds(1)); // warm-up
    errors = 0;
    counting = true;
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(o.Seconds));
    counting = false;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    TResult r;
    for (int fd : slow) { // still open: a read finds nothing yet
        char c;
        r.SlowHeld += recv(fd, &c, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
    }
    stop = true;
    for (auto& t : clients)
        t.join();
    trickle.join();
    for (int fd : slow)
        close(fd);
    std::vector<double> all;
    for (const auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    r.Errors = errors;
    r.PerSecond = static_cast<double>(all.size()) / elapsed;
    if (!all.empty()) {
        r.P50 = all[all.size() / 2];
        r.P99 = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    }
    return r;
}

bool Run(const std::string& name, const std::string& db, const TOptions& o)
{
    Fill(db, o.Tracks);
    marlix::test::TLibraryProcess server(db);
    if (server.Port() <= 0) {
        std::fprintf(stderr, "%s: the server did not start\n", name.c_str());
        return false;
    }
    const TResult r = Load(server.Port(), o);
    std::printf("library server, %s: %.0f searches/s, p50 %.2f ms, p99 %.2f ms, %ld errors, %d of %d slow "
                "connections held (%d clients)\n",
                name.c_str(), r.PerSecond, r.P50, r.P99, r.Errors, r.SlowHeld, o.Slow, o.Clients);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    TOptions o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--seconds")
            o.Seconds = std::atof(argv[i + 1]);
        else if (a == "--clients")
            o.Clients = std::atoi(argv[i + 1]);
        else if (a == "--slow")
            o.Slow = std::atoi(argv[i + 1]);
        else if (a == "--backend")
            o.Backend = argv[i + 1];
    }
    signal(SIGPIPE, SIG_IGN);
    bool ok = true;
    try {
        if (o.Backend.empty() || o.Backend == "sqlite") {
            char folder[] = "/tmp/marlix-bench-XXXXXX";
            if (!mkdtemp(folder))
                return 1;
            ok = Run("SQLite", std::string(folder) + "/library.db", o) && ok;
            std::filesystem::remove_all(folder);
        }
        if (o.Backend.empty() || o.Backend == "postgres") {
            marlix::test::TPostgresProcess postgres;
            if (!postgres.Ready()) {
                std::fprintf(stderr, "PostgreSQL did not start\n");
                return 1;
            }
            ok = Run("PostgreSQL", postgres.Uri(), o) && ok;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return ok ? 0 : 1;
}
