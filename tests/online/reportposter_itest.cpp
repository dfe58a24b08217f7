// Play-count reports go out on the poster's own thread: against a library that holds its
// answer until the test lets it go, the control loop's call returns at once, the reports
// arrive in order with valid codes, and a poster destroyed meanwhile leaves its worker.
#include "online/downloadlist.h"
#include "online/librarycontrol.h"
#include "online/playcount.h"
#include "online/reportposter.h"
#include "settings/setting.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace marlix {
namespace {

const std::string kIds[] = {"C294B8BBD45328D5", "00000000FFFFFFFF", "0123456789ABCDEF"};

class ReportPoster : public ::testing::Test {
protected:
    httplib::Server server;
    std::thread thread;
    TLibraryEndpoints endpoints;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> received; // bodies, in arrival order
    int answered = 0;
    bool released = false;

    void SetUp() override
    {
        // The first report is held until Release; later ones pass straight through.
        server.Post("/tonkara/center2.tks/mp3count", [this](const httplib::Request& req, httplib::Response& res) {
            std::unique_lock lock(mutex);
            received.push_back(req.body);
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(30), [this] { return released; });
            ++answered;
            res.set_content("OK", "text/plain");
        });
        const int port = server.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port, 0);
        endpoints = TLibraryEndpoints::For("127.0.0.1:" + std::to_string(port));
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void TearDown() override
    {
        Release();
        server.stop();
        thread.join();
    }

    // Waits (bounded) until the server holds `count` reports; false when it never did.
    bool WaitReceived(size_t count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return received.size() >= count; });
    }
    void Release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    int Answered()
    {
        std::lock_guard lock(mutex);
        return answered;
    }
};

TEST_F(ReportPoster, PlayedToEndReturnsWhileTheLibraryHoldsTheReportAndAllArriveInOrder)
{
    test::TempDir dir;
    TSettingFunction function;
    function.SearchResultPath = dir.File("current.ini");
    std::string results;
    for (const std::string& id : kIds)
        results += "[" + id + "]\nMP3=http://lib/" + id + ".mp3\n";
    results += "[www.example.org/x]\nMP3=http://web/x.mp3\n"; // found on the web: never reported
    test::WriteText(function.SearchResultPath, results);
    TDownloadlist downloads;
    TLibraryControl control(endpoints, function, downloads);

    control.PlayedToEnd("http://lib/" + kIds[0] + ".mp3");
    ASSERT_TRUE(WaitReceived(1));
    // The library holds the first report, unanswered; the loop goes on meanwhile.
    control.PlayedToEnd("http://web/x.mp3");
    control.PlayedToEnd("http://lib/" + kIds[1] + ".mp3");
    control.PlayedToEnd("http://lib/" + kIds[2] + ".mp3");
    EXPECT_EQ(Answered(), 0);
    EXPECT_FALSE(control.WaitReportsSent(std::chrono::milliseconds(0)));

    Release();
    ASSERT_TRUE(control.WaitReportsSent(std::chrono::seconds(20)));
    std::lock_guard lock(mutex);
    ASSERT_EQ(received.size(), 3u);
    const int today = TPlayCountReport::Today();
    for (size_t i = 0; i < 3; ++i) {
        const std::string& body = received[i];
        const auto cr = body.find('\r');
        ASSERT_NE(cr, std::string::npos) << body;
        const std::string code = body.substr(0, cr), nonce = body.substr(cr + 1);
        EXPECT_EQ(code.substr(0, 8), kIds[i].substr(0, 8));
        // Around midnight the day may have turned between sending and checking.
        EXPECT_TRUE(code == TPlayCountReport::CheckCode(kIds[i], nonce, today) ||
                    code == TPlayCountReport::CheckCode(kIds[i], nonce, today - 1))
            << body;
    }
}

TEST_F(ReportPoster, DestroyedWhileTheLibraryHoldsAReportLeavesTheWorkerBehind)
{
    auto poster = std::make_unique<TReportPoster>(endpoints, TPlayCountReport::Report);
    poster->StopTimeout = std::chrono::milliseconds(100);
    poster->Post(kIds[0]);
    poster->Post(kIds[1]);
    ASSERT_TRUE(WaitReceived(1));

    testing::internal::CaptureStderr();
    poster.reset();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("the play-count report did not stop within 100 ms; left behind"), std::string::npos) << said;
    EXPECT_EQ(Answered(), 0); // it returned while the post was still held
}

} // namespace
} // namespace marlix
