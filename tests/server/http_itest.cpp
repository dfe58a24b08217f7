// The library server's HTTP side against hostile clients, on 127.0.0.1: bodies, headers
// and ranges that would make it hold or send too much, slow clients, many connections
// from one address, and files that links lead out of their folder.
#include "server/catalogue.h"
#include "server/libraryserver.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

namespace marlix {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
const std::string kBin = MARLIX_TEST_BIN_DIR;

// A PCM WAV of `frames` 16-bit mono samples of a ramp that starts at `seed`.
std::vector<uint8_t> Wav(int frames, int seed)
{
    const auto le = [](std::vector<uint8_t>& b, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    std::vector<uint8_t> b{'R', 'I', 'F', 'F'};
    le(b, 36 + 2 * frames, 4);
    for (char c : std::string("WAVEfmt "))
        b.push_back(static_cast<uint8_t>(c));
    le(b, 16, 4), le(b, 1, 2), le(b, 1, 2), le(b, 44100, 4), le(b, 88200, 4), le(b, 2, 2), le(b, 16, 2);
    for (char c : std::string("data"))
        b.push_back(static_cast<uint8_t>(c));
    le(b, 2 * frames, 4);
    for (int i = 0; i < frames; ++i)
        le(b, static_cast<uint32_t>((seed + i * 37) & 0xFFFF), 2);
    return b;
}

// A connection to the server from `source`, one of the loopback addresses.
int Connect(int port, const char* source = "127.0.0.1")
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

// Sends `head`, then `endless` over and over (up to 16 MB) while no answer has come, and
// returns what the server sent until it closed the connection (or 20 s passed).
std::string Talk(int port, const std::string& head, const std::string& endless = "", const char* source = "127.0.0.1")
{
    const int fd = Connect(port, source);
    if (fd < 0)
        return "";
    send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    std::string answer;
    size_t sent = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        if (!endless.empty() && answer.empty() && sent < (16u << 20)) {
            const auto n = send(fd, endless.data(), endless.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            sent += n > 0 ? static_cast<size_t>(n) : 0;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0)
            continue;
        char buffer[65536];
        const auto n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return answer;
}

int Status(const std::string& answer)
{
    return answer.starts_with("HTTP/1.") && answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

std::string Body(const std::string& answer)
{
    const auto end = answer.find("\r\n\r\n");
    return end == std::string::npos ? "" : answer.substr(end + 4);
}

// A music folder imported by the program, and the server on it in this process.
class Http : public ::testing::Test {
protected:
    test::TempDir dir;
    std::map<std::string, std::string> ids; // title -> id
    std::unique_ptr<TCatalogue> catalogue;
    std::unique_ptr<TLibraryServer> server;
    std::thread serving;
    int port = 0;

    void SetUp() override
    {
        fs::create_directories(dir.File("music/sub"));
        fs::create_directories(dir.File("outside"));
        test::WriteAll(dir.File("music/a.wav"), Wav(44100, 1));
        test::WriteAll(dir.File("music/sub/b.wav"), Wav(22050, 2));
        test::WriteAll(dir.File("music/c.wav"), Wav(11025, 3));
        test::WriteAll(dir.File("outside/secret.wav"), Wav(5000, 4));
        Import();
        ASSERT_EQ(ids.size(), 3u);
        catalogue = std::make_unique<TCatalogue>(dir.File("lib.db"));
        server = std::make_unique<TLibraryServer>(*catalogue, "");
        port = server->Bind("127.0.0.1", 0);
        ASSERT_GT(port, 0);
        serving = std::thread([this] { server->Listen(); });
    }
    void TearDown() override
    {
        if (server)
            server->Stop();
        if (serving.joinable())
            serving.join();
    }
    // Imports the music folder with the program; its exit status.
    int Import()
    {
        int status = -1;
        const std::string out = test::RunCommand("'" + kBin + "marlixaudio-library' --db '" + dir.File("lib.db") +
                                                     "' import '" + dir.File("music") + "' 2>/dev/null",
                                                 &status);
        size_t start = 0;
        while (start < out.size()) {
            const auto end = out.find('\n', start);
            const std::string line = out.substr(start, end - start);
            start = end == std::string::npos ? out.size() : end + 1;
            if (line.size() > 17)
                ids[line.substr(line.rfind('\t') + 1)] = line.substr(0, 16);
        }
        return status;
    }
    std::string Get(const std::string& path, const std::string& headers = "", const char* source = "127.0.0.1")
    {
        return Talk(port, "GET " + path + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n" + headers + "\r\n", "",
                    source);
    }
};

TEST_F(Http, HostileRequestsAreRefused)
{
    const std::string file = "/tonkara/files/" + ids["a"] + ".wav";
    const size_t fileSize = fs::file_size(dir.File("music/a.wav"));
    std::string hundred, fiveHundred, ranges = "Range: bytes=0-";
    for (int i = 0; i < 500; ++i)
        (i < 100 ? hundred : fiveHundred) += "X-Filler-" + std::to_string(i) + ": v\r\n";
    for (int i = 0; i < 800; ++i)
        ranges += ",0-";
    const std::string post = "POST /tonkara/center2.tks/mp3count HTTP/1.1\r\nHost: h\r\nConnection: close\r\n";
    const struct {
        const char* Name;
        std::string Head, Endless;
        std::vector<int> Statuses; // any of these
        size_t MaxBody;
    } cases[] = {
        {"chunked body", post + "Transfer-Encoding: chunked\r\n\r\n", "8000\r\n" + std::string(0x8000, 'a') + "\r\n",
         {411, 413}, 100},
        {"long body", post + "Content-Length: 100000000\r\n\r\n", std::string(65536, 'a'), {413}, 100},
        {"100 headers", "GET /tonkara/genres.txt HTTP/1.1\r\nHost: h\r\n" + hundred + "\r\n", "", {431}, 100},
        {"500 headers", "GET /tonkara/genres.txt HTTP/1.1\r\nHost: h\r\n" + hundred + fiveHundred + "\r\n", "", {431},
         1000},
        {"40 KB header", "GET /tonkara/genres.txt HTTP/1.1\r\nHost: h\r\nX-Big: " + std::string(40000, 'b') + "\r\n\r\n",
         "", {413, 431}, 1000},
        {"800 overlapping ranges", "GET " + file + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n" + ranges + "\r\n\r\n",
         "", {200}, fileSize},
        {"one range", "GET " + file + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\nRange: bytes=-10\r\n\r\n", "",
         {206}, 10},
        {"range past the end", "GET " + file + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\nRange: bytes=" +
                                   std::to_string(fileSize) + "-\r\n\r\n",
         "", {416}, 100},
    };
    for (const auto& c : cases) {
        const std::string answer = Talk(port, c.Head, c.Endless);
        EXPECT_EQ(std::count(c.Statuses.begin(), c.Statuses.end(), Status(answer)), 1)
            << c.Name << ": " << answer.substr(0, 200);
        EXPECT_LE(Body(answer).size(), c.MaxBody) << c.Name;
    }
    const auto whole = test::ReadAll(dir.File("music/a.wav"));
    EXPECT_EQ(Body(Get(file, "Range: bytes=-10\r\n")), std::string(whole.end() - 10, whole.end()));
    EXPECT_EQ(Status(Get("/tonkara/genres.txt")), 200); // and the server still answers
}

// Slow clients trickle their headers a byte at a time: they hold connections, not the
// threads that answer everyone else.
TEST_F(Http, SlowClientsDoNotStopTheServer)
{
    std::vector<int> slow;
    for (int i = 0; i < 32; ++i)
        if (const int fd = Connect(port, "127.0.0.2"); fd >= 0) {
            const std::string start = "GET /tonkara/ HTTP/1.1\r\nHost: h\r\nX-Slow: ";
            send(fd, start.data(), start.size(), MSG_NOSIGNAL);
            slow.push_back(fd);
        }
    ASSERT_EQ(slow.size(), 32u);
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        while (!done) {
            for (int fd : slow)
                send(fd, "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    int answered = 0;
    for (int i = 0; i < 20 && answered == i; ++i)
        answered += Status(Get("/tonkara/center2.tks/search?Max=3&Open=1")) == 200;
    done = true;
    trickle.join();
    for (int fd : slow)
        close(fd);
    EXPECT_EQ(answered, 20);
}

// One address gets 64 connections; more are closed at once (which ones depends on the
// order the server's threads take them in), while other addresses are still served.
TEST_F(Http, ConnectionsPerAddressAreCapped)
{
    std::vector<int> held;
    for (int i = 0; i < 104; ++i)
        held.push_back(Connect(port, "127.0.0.3"));
    ASSERT_EQ(std::count(held.begin(), held.end(), -1), 0);
    std::vector<bool> closed(held.size());
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (std::count(closed.begin(), closed.end(), true) < 40 && Clock::now() < deadline) {
        for (size_t i = 0; i < held.size(); ++i) {
            pollfd p{held[i], POLLIN, 0};
            char c;
            if (!closed[i] && poll(&p, 1, 0) == 1 && recv(held[i], &c, 1, MSG_DONTWAIT) <= 0)
                closed[i] = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(std::count(closed.begin(), closed.end(), true), 40);
    EXPECT_EQ(Status(Get("/tonkara/genres.txt", "", "127.0.0.4")), 200);
    // The 64 it holds are served.
    int answered = 0;
    for (size_t i = 0; i < held.size(); ++i) {
        const std::string request = "GET /tonkara/genres.txt HTTP/1.1\r\nHost: h\r\n\r\n";
        char buffer[512];
        pollfd p{held[i], POLLIN, 0};
        if (!closed[i] && send(held[i], request.data(), request.size(), MSG_NOSIGNAL) > 0 && poll(&p, 1, 20000) == 1)
            answered += recv(held[i], buffer, sizeof buffer, 0) > 12 && std::string(buffer, 12) == "HTTP/1.1 200";
        close(held[i]);
    }
    EXPECT_EQ(answered, 64);
}

// Reading, writing and keep-alive share one time-out: a connection that stays silent
// that long is closed, whether it sent nothing, half a request, or one whole request.
TEST_F(Http, SilentConnectionsAreClosed)
{
    THttpLimits limits;
    limits.IdleSeconds = 1;
    TLibraryServer quick(*catalogue, "", limits);
    const int quickPort = quick.Bind("127.0.0.1", 0);
    ASSERT_GT(quickPort, 0);
    std::thread serving([&] { quick.Listen(); });
    const std::string whole = "GET /tonkara/genres.txt HTTP/1.1\r\nHost: h\r\n\r\n";
    for (const std::string& sent : {std::string(), std::string("GET /tonkara/ HTTP/1.1\r\nHo"), whole}) {
        const int fd = Connect(quickPort);
        ASSERT_GE(fd, 0);
        send(fd, sent.data(), sent.size(), MSG_NOSIGNAL);
        std::string answer;
        char buffer[4096];
        pollfd p{fd, POLLIN, 0};
        ssize_t n = 1;
        while (n > 0 && poll(&p, 1, 20000) == 1 && (n = recv(fd, buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(n, 0) << "not closed after: " << sent;
        EXPECT_EQ(Status(answer), sent == whole ? 200 : 0) << sent;
        close(fd);
    }
    quick.Stop();
    serving.join();
}

// A catalogued file is served only while it still lies inside the folder it was imported
// from, whatever links were put in its place since.
TEST_F(Http, FilesAreServedOnlyFromInsideTheirFolder)
{
    const auto bytes = [&](const std::string& name) {
        const auto b = test::ReadAll(dir.File(name));
        return std::string(b.begin(), b.end());
    };
    EXPECT_EQ(Body(Get("/tonkara/files/" + ids["a"] + ".wav")), bytes("music/a.wav"));
    fs::remove(dir.File("music/a.wav"));
    fs::create_symlink(dir.File("outside/secret.wav"), dir.File("music/a.wav"));
    fs::remove(dir.File("music/sub/b.wav"));
    fs::create_symlink("../c.wav", dir.File("music/sub/b.wav"));
    const std::string secret = Get("/tonkara/files/" + ids["a"] + ".wav");
    EXPECT_EQ(Status(secret), 404);
    EXPECT_EQ(Body(secret).find("RIFF"), std::string::npos);
    EXPECT_EQ(Body(Get("/tonkara/files/" + ids["b"] + ".wav")), bytes("music/c.wav")); // a link inside is fine
    // The folder itself swapped for a link elsewhere.
    fs::rename(dir.File("music"), dir.File("music.old"));
    fs::create_directory_symlink(dir.File("outside"), dir.File("music"));
    test::WriteAll(dir.File("outside/c.wav"), Wav(100, 5));
    EXPECT_EQ(Status(Get("/tonkara/files/" + ids["c"] + ".wav")), 404);
}

// Links that loop, or lead out of the folder, are passed over; the rest is imported.
TEST_F(Http, ImportPassesOverLinksItCannotFollow)
{
    fs::create_symlink("loop2.wav", dir.File("music/loop1.wav"));
    fs::create_symlink("loop1.wav", dir.File("music/loop2.wav"));
    fs::create_symlink("self.wav", dir.File("music/self.wav"));
    fs::create_directory_symlink(dir.File("music"), dir.File("music/sub/again"));
    fs::create_symlink(dir.File("outside/secret.wav"), dir.File("music/secret.wav"));
    test::WriteAll(dir.File("music/sub/d.wav"), Wav(1000, 6));
    ids.clear();
    EXPECT_EQ(Import(), 0);
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_EQ(ids.count("d"), 1u);
    EXPECT_EQ(ids.count("secret"), 0u);
}

} // namespace
} // namespace marlix
