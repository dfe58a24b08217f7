// The HTTP client against a small server of the test's own that answers oddly on purpose:
// caps, time limits, request shapes, the port rule, download progress, resumption and
// the download thread's names and outcomes.
#include "online/downloadlist.h"
#include "online/downloadthread.h"
#include "online/librarysearch.h"
#include "online/newscheck.h"
#include "online/onlinelibrary.h"
#include "base/boundedwait.h"
#include "platform/inet/inet.h"
#include "settings/inifile.h"
#include "settings/setting.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

namespace marlix {
namespace {

using namespace std::chrono_literals;

// A server on a bare socket, for answers httplib would not give: each connection is
// handed to `answer`, one at a time, and closed afterwards.
class TRawServer {
public:
    explicit TRawServer(std::function<void(int socket, const std::atomic<bool>& stopping)> answer)
        : Answer(std::move(answer))
    {
        Listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(Listener, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(Listener, 8) == 0 &&
            getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            Port = ntohs(a.sin_port);
        Thread = std::thread([this] { Serve(); });
    }
    ~TRawServer()
    {
        Stop();
        Thread.join();
        close(Listener);
    }
    void Stop() { Stopping = true; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(Port) + path; }
    int Port = 0;

    static bool Send(int socket, const std::string& bytes)
    {
        return send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

private:
    void Serve()
    {
        while (!Stopping) {
            pollfd p{Listener, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const int c = accept(Listener, nullptr, nullptr);
            if (c < 0)
                continue;
            Answer(c, Stopping);
            close(c);
        }
    }
    std::function<void(int, const std::atomic<bool>&)> Answer;
    int Listener = -1;
    std::atomic<bool> Stopping{false};
    std::thread Thread;
};

// "200 OK" at once, then headers one byte at a time that never end.
void TrickleHeaders(int socket, const std::atomic<bool>& stopping)
{
    bool open = TRawServer::Send(socket, "HTTP/1.1 200 OK\r\nX-Slow: ");
    while (open && !stopping) {
        std::this_thread::sleep_for(50ms);
        open = TRawServer::Send(socket, "a");
    }
}

// The bytes of the test's track.
std::string TrackBytes(size_t size)
{
    std::string body(size, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + i / 251);
    return body;
}

class Inet : public ::testing::Test {
protected:
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::mutex mutex;
    std::vector<httplib::Request> seen;
    std::atomic<bool> stopSlow{false};
    std::atomic<bool> hugeSent{false};
    std::vector<std::string> ranges; // Range headers of /track, in order
    std::string news = "<p>one</p>";
    TRawServer trickle{TrickleHeaders};
    // The track whole, whatever range is asked for.
    TRawServer plain{[](int socket, const std::atomic<bool>&) {
        char request[4096];
        (void)recv(socket, request, sizeof request, 0);
        const std::string body = TrackBytes(kTrack);
        TRawServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                     "\r\nConnection: close\r\n\r\n" + body);
    }};
    static constexpr size_t kHuge = 32 << 20;
    static constexpr size_t kTrack = 100000;

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    TInetHost Library() const { return TInetHost{"127.0.0.1:" + std::to_string(port)}; }
    // The server's thread reads the page while answering.
    void SetNews(std::string page)
    {
        std::lock_guard lock(mutex);
        news = std::move(page);
    }
    size_t Hits()
    {
        std::lock_guard lock(mutex);
        return seen.size();
    }

    void SetUp() override
    {
        const std::string big(200000, 'x');
        server.Get("/big", [big](const httplib::Request&, httplib::Response& res) { res.set_content(big, "text/plain"); });
        server.Get("/lines", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("[1]\r\nA=%41\nB=2\rC=3", "text/plain");
        });
        server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        // 80 bytes a second, until the test ends.
        auto slow = [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [this](size_t, httplib::DataSink& sink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return !stopSlow && sink.write("abcd", 4);
            });
        };
        server.Get("/slow.*", slow);
        server.Post("/slow.*", slow);
        // 32 MB without a length; hugeSent tells that the client took all of it.
        auto huge = [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink& sink) {
                if (offset >= kHuge) {
                    hugeSent = true;
                    sink.done();
                    return true;
                }
                return sink.write(std::string(65536, 'h').data(), 65536);
            });
        };
        server.Get("/huge.*", huge);
        server.Post("/huge.*", huge);
        server.Get("/sized", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(2 << 20, 's'), "audio/mpeg");
        });
        server.Get("/nolength", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("audio/mpeg", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= 3000) {
                    sink.done();
                    return true;
                }
                return sink.write(std::string(1000, 'n').data(), 1000);
            });
        });
        server.Get("/tonkara/info.html", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(mutex);
            if (news.empty())
                res.status = 404;
            else
                res.set_content(news, "text/html");
        });
        server.Get("/empty", [](const httplib::Request&, httplib::Response& res) { res.set_content("", "audio/mpeg"); });
        // Answers ranges (httplib cuts the body); the ranges asked for are kept.
        server.Get("/track", [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex);
                ranges.push_back(req.get_header_value("Range"));
            }
            res.set_content(TrackBytes(kTrack), "audio/mpeg");
        });
        // The same bytes, all of them, as "206" without a range.
        server.Get("/norange", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("audio/mpeg", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= kTrack)
                    sink.done();
                else
                    sink.write(TrackBytes(kTrack).data() + offset, std::min<size_t>(10000, kTrack - offset));
                return true;
            });
        });
        // Records what it got before answering, so the client finds it recorded.
        auto echo = [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex);
                seen.push_back(req);
            }
            res.set_content(req.method + " " + req.target + " " + req.version + " [" +
                                req.get_header_value("Content-Type") + "] " + req.body,
                            "text/plain");
        };
        server.Get("/echo", echo);
        server.Post("/echo", echo);
        port = server.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port, 0);
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void TearDown() override
    {
        stopSlow = true;
        server.stop();
        thread.join();
    }

    // Runs `op` and tells whether it returned within a generous deadline. The slow answers
    // end afterwards either way, so the test never hangs on a call that does not give up.
    template <class F>
    bool EndsInTime(F op)
    {
        auto done = std::async(std::launch::async, op);
        const bool ended = done.wait_for(20s) == std::future_status::ready;
        if (!ended) {
            stopSlow = true;
            trickle.Stop();
        }
        done.wait();
        return ended;
    }
};

TEST_F(Inet, FetchCapsAndLines)
{
    std::string body;
    ASSERT_TRUE(InetFetchToMemory(Url("/big"), body));
    // Reading stops with the piece that passes 65 535 bytes.
    EXPECT_GT(body.size(), 65535u);
    EXPECT_LE(body.size(), 65535u + 1025u);

    std::vector<std::string> lines;
    ASSERT_TRUE(InetFetchLines(Url("/lines"), lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"[1]", "A=%41", "B=2", "C=3"}));

    // An error answer is a failure, not a result; a refused connection too.
    EXPECT_FALSE(InetFetchToMemory(Url("/missing"), body));
    EXPECT_TRUE(body.empty());
    EXPECT_FALSE(InetFetchToMemory("http://127.0.0.1:1/x", body));
}

TEST_F(Inet, SlowAnswerIsCutAtTheTimeLimitAndKept)
{
    TInetLimits limits;
    limits.FetchTimeoutMs = 600;
    std::string body;
    ASSERT_TRUE(InetFetchToMemory(Url("/slow"), body, limits));
    EXPECT_FALSE(body.empty());
    EXPECT_EQ(body.substr(0, 8), "abcdabcd");
}

TEST_F(Inet, StatusRequestShape)
{
    std::string answer;
    const std::string form = "a=1&b=2";
    EXPECT_EQ(InetRequestWithStatus(Url("/echo?query=dropped"), &form, answer, Library()), 200);
    EXPECT_EQ(answer, "POST /echo HTTP/1.0 [application/x-www-form-urlencoded] a=1&b=2");
    EXPECT_EQ(InetRequestWithStatus(Url("/echo"), nullptr, answer, Library()), 200);
    EXPECT_EQ(answer, "GET /echo HTTP/1.0 [] ");
    EXPECT_EQ(InetRequestWithStatus(Url("/missing"), nullptr, answer, Library()), 404);
    EXPECT_TRUE(answer.empty());

    // The URL length limit: 2055 characters go out, 2056 do not.
    const std::string head = Url("/echo?");
    const std::string at = head + std::string(2055 - head.size(), 'q');
    const size_t before = Hits();
    EXPECT_EQ(InetRequestWithStatus(at, nullptr, answer, Library()), 200);
    EXPECT_EQ(InetRequestWithStatus(at + "q", nullptr, answer, Library()), 0);
    EXPECT_EQ(Hits(), before + 1);

    // A host that is not the library host is asked on port 80, whatever the URL says.
    EXPECT_EQ(InetRequestWithStatus(Url("/echo"), nullptr, answer, TInetHost{"127.0.0.1:1"}), 0);
    EXPECT_EQ(Hits(), before + 1);
}

TEST_F(Inet, PostAndForgetReachesTheLibraryHost)
{
    InetPostAndForget("CODE\rNONCE", "/echo", Library(), "http://ref/tonkara/");
    ASSERT_EQ(Hits(), 1u);
    const httplib::Request& r = seen.front();
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.body, "CODE\rNONCE");
    EXPECT_EQ(r.get_header_value("Referer"), "http://ref/tonkara/");
    EXPECT_EQ(r.get_header_value("User-Agent"), "WININET Sample Program");
}

TEST_F(Inet, DownloadsWithProgress)
{
    std::atomic<int> progress{0};
    std::atomic<bool> cancel{false};
    std::ostringstream out;
    ASSERT_TRUE(InetDownloadWithProgress(out, Url("/track"), progress, cancel));
    EXPECT_EQ(out.str(), TrackBytes(kTrack));
    EXPECT_EQ(progress, 100);

    // No length: the divisor is 1, so the percentage is full from the first byte on.
    std::ostringstream none;
    ASSERT_TRUE(InetDownloadWithProgress(none, Url("/nolength"), progress, cancel));
    EXPECT_EQ(none.str().size(), 3000u);
    EXPECT_EQ(progress, 100);

    std::ostringstream empty, missing, cancelled;
    EXPECT_FALSE(InetDownloadWithProgress(empty, Url("/empty"), progress, cancel));
    EXPECT_FALSE(InetDownloadWithProgress(missing, Url("/missing"), progress, cancel));
    EXPECT_TRUE(missing.str().empty());
    cancel = true;
    EXPECT_FALSE(InetDownloadWithProgress(cancelled, Url("/track"), progress, cancel));
}

TEST_F(Inet, DownloadToFileTruncatesAndKeepsOnly200)
{
    test::TempDir dir;
    const std::string file = dir.File("info.html");
    test::WriteText(file, "old news");
    EXPECT_FALSE(InetDownloadToFile(file, Url("/missing")));
    EXPECT_EQ(test::ReadText(file), "");
    EXPECT_TRUE(InetDownloadToFile(file, Url("/lines")));
    EXPECT_EQ(test::ReadText(file), "[1]\r\nA=%41\nB=2\rC=3");
}

// The news page is fetched on the check's own thread; the window shows when its size
// differs from the remembered one. A failed fetch leaves an empty page, whose size 0
// counts like any other.
TEST_F(Inet, NewsCheckComparesSizes)
{
    test::TempDir dir;
    const auto endpoints = TLibraryEndpoints::For("127.0.0.1:" + std::to_string(port));
    TIniFile ini(dir.File("setting.ini"));
    auto check = [&] {
        TNewsCheck fetch(endpoints, dir.Path());
        std::promise<void> fetched;
        fetch.Start([&] { fetched.set_value(); });
        EXPECT_EQ(fetched.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
        return NewsSizeChanged(dir.Path(), ini);
    };
    EXPECT_TRUE(check());
    EXPECT_EQ(ini.ReadInteger("Info", "InfoSize", 0), 10);
    EXPECT_EQ(test::ReadText(dir.File("info.html")), "<p>one</p>");
    EXPECT_FALSE(check());
    SetNews("<p>two!</p>");
    EXPECT_TRUE(check());
    SetNews("");
    EXPECT_TRUE(check());
    EXPECT_EQ(ini.ReadInteger("Info", "InfoSize", -1), 0);
    EXPECT_FALSE(check());
}

// Answers that never end, end too late or run past the cap: the search keeps its old
// results and fails, the news page stays empty, and the report gives up.
TEST_F(Inet, SearchNewsAndReportsStopAtTheCapAndTheTimeLimit)
{
    test::TempDir dir;
    TInetLimits limits;
    limits.FetchTimeoutMs = 600;
    const std::string results = dir.File("current.ini"), page = dir.File("info.html");
    const struct {
        const char* Name;
        std::string Base; // base URL of the answer
    } answers[] = {{"trickled body", Url("/slow")}, {"body past the cap", Url("/huge")},
                   {"trickled headers", trickle.Url("/any")}};
    for (const auto& a : answers) {
        SCOPED_TRACE(a.Name);
        test::WriteText(results, "[old]\r\n");
        TLibraryEndpoints endpoints;
        endpoints.SearchBaseUrl = a.Base;
        bool ok = true;
        EXPECT_TRUE(EndsInTime([&] { ok = TLibrarySearch::Search(endpoints, "Max=1", results, false, limits); }));
        EXPECT_FALSE(ok);
        EXPECT_EQ(test::ReadText(results), "[old]\r\n");

        test::WriteText(page, "old news");
        EXPECT_TRUE(EndsInTime([&] { ok = InetDownloadToFile(page, a.Base, limits); }));
        EXPECT_FALSE(ok);
        EXPECT_EQ(test::ReadText(page), "");

        hugeSent = false;
        const std::string path = a.Base.substr(a.Base.find('/', 7));
        const TInetHost host{a.Base.substr(7, a.Base.find('/', 7) - 7)};
        EXPECT_TRUE(EndsInTime([&] { InetPostAndForget("CODE\rNONCE", path, host, "http://ref/", limits); }));
        EXPECT_FALSE(hugeSent);
    }
}

// A download past the cap fails, with or without a length; a transfer slower than the
// low-speed limit is cut; the percentage stays within 0 … 100 on a body of 32 MB whose
// length is not known (×100 would overflow).
TEST_F(Inet, DownloadsAreCappedCutWhenTooSlowAndKeepTheirPercentageInRange)
{
    std::atomic<bool> cancel{false};
    TInetLimits limits;
    limits.DownloadCap = 1 << 20;
    limits.DownloadTimeoutMs = 1000;
    for (const char* path : {"/huge", "/sized", "/slow"}) {
        std::atomic<int> progress{0};
        std::ostringstream out;
        bool ok = true;
        const auto download = [&] { ok = InetDownloadWithProgress(out, Url(path), progress, cancel, limits); };
        EXPECT_TRUE(EndsInTime(download)) << path;
        EXPECT_FALSE(ok) << path;
        EXPECT_LE(out.str().size(), limits.DownloadCap) << path;
    }

    std::atomic<int> progress{0};
    std::atomic<bool> outOfRange{false}, done{false};
    std::thread watch([&] {
        for (; !done; std::this_thread::yield())
            if (progress < 0 || progress > 100)
                outOfRange = true;
    });
    std::ostringstream out;
    const bool ok = InetDownloadWithProgress(out, Url("/huge"), progress, cancel);
    done = true;
    watch.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(out.str().size(), kHuge);
    EXPECT_EQ(progress, 100);
    EXPECT_FALSE(outOfRange);
}

// A partial file that a stopped run left is continued with a range request where the
// server answers ranges and the answer repeats the file's tail; otherwise the file is
// downloaded whole. Either way the saved file is the server's and no partial file stays.
TEST_F(Inet, DownloadThreadContinuesAPartialFile)
{
    const std::string track = TrackBytes(kTrack);
    const struct {
        const char* Name;
        const char* Path;
        std::string Part;  // what the partial file holds
        const char* Range; // the first request's range
    } cases[] = {
        // The answer must repeat the part's last 65536 bytes.
        {"ranges", "/track", track.substr(0, 80000), "bytes=14464-"},
        {"other bytes", "/track", std::string(80000, 'x'), "bytes=14464-"},
        {"longer than the file", "/track", track + std::string(70000, 'x'), "bytes=104464-"},
        {"206 without its range", "/norange", track.substr(0, 80000), nullptr},
        {"no ranges", nullptr, track.substr(0, 80000), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TempDir dir;
        std::filesystem::create_directories(dir.File("A"));
        test::WriteText(dir.File("A/.t.mp3.part"), c.Part);
        {
            std::lock_guard lock(mutex);
            ranges.clear();
        }
        TDownloadlist list;
        TDownloadThread thread(list, [&] { return dir.Path(); });
        list.Add("A/t.mp3*" + (c.Path ? Url(c.Path) : plain.Url("/t.mp3")));
        ASSERT_TRUE(thread.Step());
        EXPECT_TRUE(list.Item(0)->Done);
        EXPECT_EQ(test::ReadText(dir.File("A/t.mp3")), track);
        EXPECT_FALSE(std::filesystem::exists(dir.File("A/.t.mp3.part")));
        std::lock_guard lock(mutex);
        if (c.Range) {
            EXPECT_EQ(ranges.at(0), c.Range);
        }
    }
}

// What cannot be saved is marked failed and the thread goes on: a name part longer than
// a file system takes, a download folder that cannot be opened (a symbolic link to
// itself). A title of 86 Japanese characters is named within the limit and saved.
TEST_F(Inet, DownloadThreadFailsWhatCannotBeSavedAndSavesLongTitlesCut)
{
    test::TempDir dir;
    std::filesystem::create_directory_symlink("loop", dir.File("loop"));
    std::string title;
    for (int i = 0; i < 86; ++i)
        title += "夜";
    test::WriteText(dir.File("current.ini"), "[0123456789ABCDEF]\r\nTitle=" + title + "\r\nArtist=A\r\nMP3=" +
                                                 Url("/track") + "\r\n");
    const struct {
        const char* Name;
        std::string Folder;
        std::string Request;
        bool Done;
    } cases[] = {
        {"name part of 300 bytes", dir.File("music/"), "A/" + std::string(300, 'x') + ".mp3*" + Url("/track"), false},
        {"folder that cannot be opened", dir.File("loop/"), "A/t.mp3*" + Url("/track"), false},
        {"title of 86 Japanese characters", dir.File("music/"), "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string& folder = c.Folder;
        TDownloadlist list;
        if (c.Request.empty())
            MakeDownloadRequests({Url("/track")}, dir.File("current.ini"), folder, list);
        else
            list.Add(c.Request);
        TDownloadThread thread(list, [&] { return folder; });
        ASSERT_TRUE(thread.Step());
        EXPECT_EQ(list.Item(0)->Done, c.Done);
        EXPECT_EQ(list.Item(0)->Failed, !c.Done);
        if (c.Done) {
            const std::string saved = thread.SavedFile();
            EXPECT_EQ(test::ReadText(saved), TrackBytes(kTrack));
            EXPECT_LE(std::filesystem::path(saved).filename().string().size(), 200u);
        }
    }
}

// The program's queue takes its cap from "nMaxDownloadMB"; at exit a download under way
// stays in "download.txt" and keeps its partial file for the next start.
TEST_F(Inet, OnlineLibraryCapsFromTheSettingAndKeepsAStoppedDownload)
{
    test::TempDir dir;
    TSettingFunction function(dir.Path());
    function.DownloadPath = dir.File("music/");
    function.nMaxDownloadMB = 1;
    TOnlineLibrary online(dir.Path(), function, TLibraryEndpoints::For("127.0.0.1:" + std::to_string(port)));
    online.Downloads.Add("A/big.mp3*" + Url("/sized"));
    online.Downloads.Add("A/slow.mp3*" + Url("/slow"));
    online.Start();
    const auto slowRunning = [&] {
        return online.Downloads.Item(0)->Failed && online.Thread.Progress > 0 &&
            online.Thread.CurrentRequest() == online.Downloads.Item(1)->Request;
    };
    ASSERT_TRUE(WaitUntilDone(slowRunning, 20s));
    EXPECT_FALSE(std::filesystem::exists(dir.File("music/A/big.mp3")));
    ASSERT_TRUE(online.Shutdown());
    EXPECT_EQ(test::ReadText(dir.File("download.txt")), "A/slow.mp3*" + Url("/slow") + "\n");
    const std::string part = test::ReadText(dir.File("music/A/.slow.mp3.part"));
    std::string pieces;
    while (pieces.size() < part.size())
        pieces += "abcd";
    EXPECT_FALSE(part.empty());
    EXPECT_EQ(part, pieces);
}

// The window cancels when it finds the published request removed; a cancel that comes
// before the transfer starts stops it all the same, and nothing is saved. A cancel meant
// for a request that is no longer running stops nothing.
TEST_F(Inet, RemovingTheRunningEntryAsItIsPublishedSavesNothing)
{
    test::TempDir dir;
    TDownloadlist list;
    const std::string first = "A/t.mp3*" + Url("/track"), second = "A/u.mp3*" + Url("/track");
    TDownloadThread* running = nullptr;
    int requests = 0;
    TDownloadThread thread(list, [&] {
        if (requests++ == 0) {
            list.SetSelected(0, true);
            list.RemoveSelected();
        }
        running->CancelIfCurrent(first);
        return dir.Path();
    });
    running = &thread;
    list.Add(first);
    list.Add(second);
    ASSERT_TRUE(thread.Step());
    ASSERT_TRUE(thread.Step());
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_TRUE(list.Item(0)->Done);
    EXPECT_EQ(test::ReadText(dir.File("A/u.mp3")), TrackBytes(kTrack));
    EXPECT_FALSE(std::filesystem::exists(dir.File("A/t.mp3")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("A/.t.mp3.part")));
}

} // namespace
} // namespace marlix
