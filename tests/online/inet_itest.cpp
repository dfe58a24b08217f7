// The HTTP client against a small server of the test's own that answers oddly on purpose:
// caps, time limits, request shapes, the port rule and download progress.
#include "online/newscheck.h"
#include "platform/inet/inet.h"
#include "settings/inifile.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

namespace marlix {
namespace {

class Inet : public ::testing::Test {
protected:
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::mutex mutex;
    std::vector<httplib::Request> seen;
    std::atomic<bool> stopSlow{false};
    std::string news = "<p>one</p>";

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
        server.Get("/slow", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [this](size_t, httplib::DataSink& sink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return !stopSlow && sink.write("abcd", 4);
            });
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
        server.Get("/track", [](const httplib::Request&, httplib::Response& res) {
            std::string body(100000, '\0');
            for (size_t i = 0; i < body.size(); ++i)
                body[i] = static_cast<char>(i * 7);
            res.set_content(body, "audio/mpeg");
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
    ASSERT_EQ(out.str().size(), 100000u);
    for (size_t i = 0; i < 100000; i += 997)
        ASSERT_EQ(out.str()[i], static_cast<char>(i * 7)) << i;
    EXPECT_EQ(progress, 100);

    // No length: the divisor is 1, so progress is the byte count × 100.
    std::ostringstream none;
    ASSERT_TRUE(InetDownloadWithProgress(none, Url("/nolength"), progress, cancel));
    EXPECT_EQ(none.str().size(), 3000u);
    EXPECT_EQ(progress, 300000);

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

} // namespace
} // namespace marlix
