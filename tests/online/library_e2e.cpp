// The library server as users run it (imported from tagged files, started on a free port)
// with the player's client, the CLI and the download thread against it; and the CLI
// against a hostile library of the test's own.
#include "engine/alsafiledevice.h"
#include "online/downloadlist.h"
#include "online/downloadthread.h"
#include "server/catalogue.h"
#include "support/libraryprocess.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace marlix {
namespace {

using test::RunCommand;
const std::string kBin = MARLIX_TEST_BIN_DIR;

struct TSeed {
    const char* File;
    const char* Title;
    const char* Artist;
    const char* Genre;
    const char* Date;
};
const TSeed kSeeds[] = {
    {"a.wav", "Morning", "Bach", "Classical", "1990"},
    {"b.mp3", "Evening", "Bach Sons", "Classical", "2005"},
    {"c.mp3", "夜の歌", "Coltrane", "Jazz", "2012"},
    {"d.mp3", "Noon", "Davis", "Jazz", "2001"},
};

class Library : public ::testing::Test {
protected:
    test::TempDir dir;
    std::map<std::string, std::string> ids; // title -> id

    void SetUp() override
    {
        ASSERT_TRUE(test::HaveProgram("ffmpeg"));
        std::filesystem::create_directories(dir.File("music"));
        for (const TSeed& s : kSeeds) {
            int status = -1;
            RunCommand(std::string("ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=1.5 -ac 2 -ar 44100") +
                           " -metadata title='" + s.Title + "' -metadata artist='" + s.Artist + "' -metadata genre='" +
                           s.Genre + "' -metadata date='" + s.Date + "' '" + dir.File("music/") + s.File + "'",
                       &status);
            ASSERT_EQ(status, 0) << s.File;
        }
        test::WriteText(dir.File("music/broken.mp3"), "not audio");
        int status = -1;
        const std::string out = RunCommand("'" + kBin + "marlixaudio-library' --db '" + dir.File("lib.db") +
                                               "' import '" + dir.File("music") + "' 2>/dev/null",
                                           &status);
        ASSERT_EQ(status, 0) << out;
        for (const std::string& line : SplitTabs(out))
            ids[line.substr(line.rfind('\t') + 1)] = line.substr(0, 16);
        ASSERT_EQ(ids.size(), 4u) << out;
    }

    static std::vector<std::string> SplitTabs(const std::string& text)
    {
        std::vector<std::string> lines;
        std::string line;
        for (char c : text) {
            if (c == '\n') {
                if (!line.empty())
                    lines.push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        return lines;
    }

    std::string Env(const test::TLibraryProcess& server) const
    {
        return "MARLIX_AUDIO_HOME='" + dir.File("home/") + "' MARLIX_LIBRARY_HOST='" + server.Host() +
               "' MARLIX_FFT_PLANNER=estimate ";
    }

    // Titles the CLI printed, in order.
    std::vector<std::string> Search(const test::TLibraryProcess& server, const std::string& args, int* status = nullptr)
    {
        std::filesystem::create_directories(dir.File("home"));
        const std::string out = RunCommand(Env(server) + "'" + kBin + "marlixaudio-cli' search " + args, status);
        std::vector<std::string> titles;
        for (const std::string& line : SplitTabs(out)) {
            const auto a = line.find('\t'), b = line.find('\t', a + 1), c = line.find('\t', b + 1);
            titles.push_back(line.substr(b + 1, c - b - 1));
            EXPECT_EQ(line.substr(0, 16), ids[titles.back()]) << line;
            EXPECT_TRUE(line.substr(c + 1).starts_with("http://" + server.Host() + "/tonkara/files/")) << line;
        }
        return titles;
    }
};

TEST_F(Library, SearchRoundTripsThroughTheCli)
{
    test::TLibraryProcess server(dir.File("lib.db"));
    ASSERT_GT(server.Port(), 0);
    using V = std::vector<std::string>;
    EXPECT_EQ(Search(server, "--order new"), (V{"夜の歌", "Evening", "Noon", "Morning"}));
    EXPECT_EQ(Search(server, "--order new --max 2"), (V{"夜の歌", "Evening"}));
    EXPECT_EQ(Search(server, "--artist Bach --order new"), (V{"Evening", "Morning"}));
    EXPECT_EQ(Search(server, "--title '夜の' --order new"), (V{"夜の歌"}));
    EXPECT_EQ(Search(server, "--genre jazz --order new"), (V{"夜の歌", "Noon"}));
    EXPECT_EQ(Search(server, "--artist 'Bach Sons' --title 'Even'"), (V{"Evening"}));
    EXPECT_EQ(Search(server, "--order rank"), V{}); // nothing played yet this week
    auto random = Search(server, "--order random --max 100");
    std::sort(random.begin(), random.end());
    EXPECT_EQ(random, (V{"Evening", "Morning", "Noon", "夜の歌"}));
    EXPECT_EQ(test::ReadText(dir.File("home/current.ini")).find("[" + ids["Morning"] + "]\r\n") != std::string::npos,
              true);

    // Text that looks like an escape is searched for as typed.
    EXPECT_EQ(Search(server, "--artist 'x%41'"), V{});
    // A failed search says so and leaves the result file as it was.
    const std::string before = test::ReadText(dir.File("home/current.ini"));
    int status = 0;
    const std::string out = RunCommand("MARLIX_AUDIO_HOME='" + dir.File("home/") +
                                           "' MARLIX_LIBRARY_HOST=127.0.0.1:1 '" + kBin + "marlixaudio-cli' search 2>&1",
                                       &status);
    EXPECT_EQ(status, 3);
    EXPECT_NE(out.find("検索に失敗しました。"), std::string::npos) << out;
    EXPECT_EQ(test::ReadText(dir.File("home/current.ini")), before);
}

TEST_F(Library, ServesFilesPagesAndRefusesHostileQueries)
{
    test::TLibraryProcess server(dir.File("lib.db"));
    ASSERT_GT(server.Port(), 0);
    httplib::Client client("127.0.0.1", server.Port());
    const auto bytes = test::ReadAll(dir.File("music/b.mp3"));
    const std::string id = ids["Evening"];

    auto ranged = client.Get(("/tonkara/files/" + id + ".mp3").c_str(), {{"Range", "bytes=100-199"}});
    ASSERT_TRUE(ranged);
    EXPECT_EQ(ranged->status, 206);
    EXPECT_EQ(ranged->body, std::string(bytes.begin() + 100, bytes.begin() + 200));
    auto whole = client.Get(("/tonkara/files/" + id + ".mp3").c_str());
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->body.size(), bytes.size());

    auto page = client.Get(("/tonkara/track/" + id + ".html").c_str());
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("href=\"http://" + server.Host() + "/tonkara/files/" + id + ".mp3\">"), std::string::npos);
    auto genres = client.Get("/tonkara/genres.txt");
    ASSERT_TRUE(genres);
    EXPECT_EQ(genres->body, "Classical\r\nJazz\r\n");

    for (const char* q : {"Max=%zz", "Artist=%27%3B%20DROP%20TABLE%20tracks%3B--&Max=abc", "Sort=Rank99",
                          "Artist=%00"}) {
        auto r = client.Get((std::string("/tonkara/center2.tks/search?") + q).c_str());
        ASSERT_TRUE(r) << q;
        EXPECT_EQ(r->status, 400) << q;
        EXPECT_EQ(r->body, "error\r\n") << q;
    }
    auto huge = client.Get("/tonkara/center2.tks/search?Max=999999999999&Open=1");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 200);
    EXPECT_EQ(std::count(huge->body.begin(), huge->body.end(), '['), 4);
    EXPECT_EQ(client.Get("/tonkara/files/0000000000000000.mp3")->status, 404);

    // Several clients at once are all answered.
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            httplib::Client c("127.0.0.1", server.Port());
            for (int k = 0; k < 5; ++k)
                if (auto r = c.Get("/tonkara/center2.tks/search?Max=4&Sort=Random&Open=1"); r && r->status == 200)
                    ++answered;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(answered, 40);
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(Library, TrackPlayedToTheEndIsCountedOnce)
{
    test::TLibraryProcess server(dir.File("lib.db"));
    ASSERT_GT(server.Port(), 0);
    ASSERT_EQ(Search(server, "--artist Bach --title Morning"), std::vector<std::string>{"Morning"});
    test::TAlsaFileDevice device(dir.File("home/"));
    test::WriteText(dir.File("home/setting.ini"), "[MME]\nDevice0=-1\n[Status]\nAVC=0\n");
    const std::string url = "http://" + server.Host() + "/tonkara/files/" + ids["Morning"] + ".wav";
    int status = -1;
    const std::string out = RunCommand(device.EnvAssignments() + " " + Env(server) + "timeout 60 '" + kBin +
                                           "marlixaudio-cli' play '" + url + "' 2>&1",
                                       &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(server.Stop(), 0);
    TCatalogue catalogue(dir.File("lib.db"));
    EXPECT_EQ(catalogue.Track(ids["Morning"])->Plays, 1) << out;
    EXPECT_EQ(catalogue.Track(ids["Evening"])->Plays, 0);
}

TEST_F(Library, DownloadsLandInsideTheFolderUnderTheirNames)
{
    test::TLibraryProcess server(dir.File("lib.db"));
    ASSERT_GT(server.Port(), 0);
    const std::string folder = dir.File("downloads/");
    std::filesystem::create_directories(folder + "Bach");
    test::WriteText(folder + "Bach/Morning.wav", "keep me");
    const std::string url = "http://" + server.Host() + "/tonkara/files/" + ids["Morning"] + ".wav";
    TDownloadlist list;
    TDownloadThread thread(list, [&] { return folder; });
    for (const std::string name : {"Bach/Morning.wav", "../escape.wav", "/tmp/abs.wav", "C:x.wav", "sub/../../up.wav"})
        list.Add(name + "*" + url);
    list.Add("Bach/local.wav*" + dir.File("music/a.wav")); // no "://": not a download
    ASSERT_TRUE(thread.Step());
    EXPECT_EQ(thread.Progress, 100);
    while (thread.Step()) {
    }
    const auto items = list.Items();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_TRUE(items[0].Done);
    for (size_t i = 1; i < items.size(); ++i)
        EXPECT_TRUE(items[i].Failed) << items[i].Request;
    EXPECT_EQ(test::ReadText(folder + "Bach/Morning.wav"), "keep me");
    EXPECT_EQ(test::ReadAll(folder + "Bach/Morning_1.wav"), test::ReadAll(dir.File("music/a.wav")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("escape.wav")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("up.wav")));
    std::set<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.File("downloads")))
        files.insert(std::filesystem::relative(e.path(), folder).string());
    EXPECT_EQ(files, (std::set<std::string>{"Bach", "Bach/Morning.wav", "Bach/Morning_1.wav"}));
}

// "download" saves a result of the last search (by identifier) or a URL as the download
// queue does: "artist/title.ext" in the folder given or in "DownloadPath", "_1" when the
// name is taken, progress on stderr, the saved file on stdout; status 3 when it fails.
TEST_F(Library, CliDownloadsLikeTheQueue)
{
    test::TLibraryProcess server(dir.File("lib.db"));
    ASSERT_GT(server.Port(), 0);
    ASSERT_EQ(Search(server, "--artist Bach --order new"), (std::vector<std::string>{"Evening", "Morning"}));
    const std::string cli = Env(server) + "'" + kBin + "marlixaudio-cli' download ";
    const std::string err = " 2>'" + dir.File("err") + "'";
    int status = -1;
    for (const char* name : {"Evening.mp3", "Evening_1.mp3"}) {
        const std::string out = RunCommand(cli + ids["Evening"] + " --to '" + dir.File("dl") + "'" + err, &status);
        EXPECT_EQ(status, 0) << test::ReadText(dir.File("err"));
        EXPECT_EQ(out, dir.File("dl/Bach Sons/") + name + "\n");
        EXPECT_EQ(test::ReadAll(dir.File("dl/Bach Sons/") + name), test::ReadAll(dir.File("music/b.mp3")));
        EXPECT_NE(test::ReadText(dir.File("err")).find(name + std::string(" 100%")), std::string::npos)
            << test::ReadText(dir.File("err"));
    }

    test::WriteText(dir.File("home/setting.ini"), "[Function]\nDownloadPath=" + dir.File("dl2") + "\n");
    const std::string files = "http://" + server.Host() + "/tonkara/files/";
    const std::string out = RunCommand(cli + "'" + files + ids["Morning"] + ".wav'" + err, &status);
    EXPECT_EQ(out, dir.File("dl2/Bach/Morning.wav\n"));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::ReadAll(dir.File("dl2/Bach/Morning.wav")), test::ReadAll(dir.File("music/a.wav")));

    for (const std::string& what : {std::string("0000000000000000"), "'" + files + "0000000000000000.mp3'"}) {
        RunCommand(cli + what + " --to '" + dir.File("dl3") + "'" + err, &status);
        EXPECT_EQ(status, 3) << what;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("dl3/Unknown/0000000000000000.mp3")));
    RunCommand(cli + err, &status);
    EXPECT_EQ(status, 2);
}

// A library that puts terminal escapes into its results, and a track that trickles out
// until the test lets it hurry (ranges answered).
class THostileLibrary {
public:
    THostileLibrary() : Track(1 << 20, '\0')
    {
        std::mt19937 random(3);
        for (char& c : Track)
            c = static_cast<char>(random());
        Http.Get("/tonkara/center2.tks/search", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content("[0123456789ABCDEF]\r\nTitle=%1B]0;owned%07T%09%1B[2J\r\nArtist=A%9B31m%C2%9B%7F\r\n"
                            "MP3=" + Url("/e.mp3") + "\r\n"
                            "[1111111111111111]\r\nTitle=Slow\r\nArtist=B\r\nMP3=" + Url("/t.mp3") + "\r\n",
                            "text/plain");
        });
        Http.Get("/t.mp3", [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(Mutex);
                Ranges.push_back(req.get_header_value("Range"));
            }
            res.set_content_provider(Track.size(), "audio/mpeg",
                                     [this](size_t offset, size_t length, httplib::DataSink& sink) {
                                         if (!Hurry)
                                             std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                         return sink.write(Track.data() + offset, std::min<size_t>(length, 4096));
                                     });
        });
        Port = Http.bind_to_any_port("127.0.0.1");
        Thread = std::thread([this] { Http.listen_after_bind(); });
        while (!Http.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~THostileLibrary()
    {
        Hurry = true;
        Http.stop();
        Thread.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(Port) + path; }
    std::vector<std::string> TakeRanges()
    {
        std::lock_guard lock(Mutex);
        return std::exchange(Ranges, {});
    }

    std::string Track;
    std::atomic<bool> Hurry{false};
    httplib::Server Http;
    std::thread Thread;
    std::mutex Mutex;
    std::vector<std::string> Ranges;
    int Port = 0;
};

// The server's strings reach the terminal without control characters; a download
// stopped by SIGINT keeps its partial file, which the same command continues.
TEST(LibraryCli, PrintsNoControlCharactersAndContinuesAnInterruptedDownload)
{
    THostileLibrary library;
    test::TempDir dir;
    const std::string env = "MARLIX_AUDIO_HOME='" + dir.Path() + "' MARLIX_LIBRARY_HOST=127.0.0.1:" +
        std::to_string(library.Port) + " ";
    int status = -1;
    const std::string out = RunCommand(env + "'" + kBin + "marlixaudio-cli' search", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(out, "0123456789ABCDEF\tA?31m??\t?]0;owned?T??[2J\t" + library.Url("/e.mp3") + "\n" +
                       "1111111111111111\tB\tSlow\t" + library.Url("/t.mp3") + "\n");

    const std::string download = env + "sh -c 'echo $$ >\"$0\"; exec \"$1\" download 1111111111111111 --to \"$2\"' '" +
        dir.File("pid") + "' '" + kBin + "marlixaudio-cli' '" + dir.File("dl") + "'";
    auto first = std::async(std::launch::async, [&] {
        int s = -1;
        const std::string text = RunCommand(download + " 2>&1", &s);
        return std::make_pair(s, text);
    });
    const std::string part = dir.File("dl/B/.Slow.mp3.part");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::error_code ec;
    while (std::chrono::steady_clock::now() < deadline &&
           (test::ReadText(dir.File("pid")).empty() || std::filesystem::file_size(part, ec) == 0 || ec))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(std::atoi(test::ReadText(dir.File("pid")).c_str()), SIGINT);
    const auto [stopped, said] = first.get();
    EXPECT_EQ(stopped, 3) << said;
    EXPECT_NE(said.find("interrupted"), std::string::npos) << said;
    const auto kept = std::filesystem::file_size(part, ec);
    ASSERT_FALSE(ec);
    ASSERT_GT(kept, 0u);
    ASSERT_LT(kept, library.Track.size());

    library.Hurry = true;
    library.TakeRanges();
    EXPECT_EQ(RunCommand(download + " 2>/dev/null", &status), dir.File("dl/B/Slow.mp3\n"));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::ReadText(dir.File("dl/B/Slow.mp3")), library.Track);
    EXPECT_FALSE(std::filesystem::exists(part));
    const auto ranges = library.TakeRanges();
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(ranges[0], "bytes=" + std::to_string(kept - std::min<uintmax_t>(kept, 65536)) + "-");
}

} // namespace
} // namespace marlix
