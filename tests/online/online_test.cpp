// The online library's client core without a network: result-line decoding, the play
// report's check code, queries and favourites, play-all links, download naming and the
// download queue.
#include "online/downloadlist.h"
#include "online/librarycontrol.h"
#include "online/librarysearch.h"
#include "online/playall.h"
#include "online/playcount.h"
#include "online/searchconditions.h"
#include "platform/inet/inet.h"
#include "player/pending.h"
#include "settings/setting.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace marlix {
namespace {

TEST(Online, PercentDecodingOfResultLines)
{
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        {"Title=%41", "Title=A"},               // an escape in the last three characters
        {"a%00b", "a%00b"},                     // zero stays
        {"a%zzb%4", "a%zzb%4"},                 // malformed, and too short at the end
        {"%", "%"},
        {"%E6%9B%B2", "\xE6\x9B\xB2"},          // byte-wise: UTF-8 arrives intact
        {"%2541", "%41"},                       // the decoded byte is not decoded again
    };
    for (const auto& c : cases)
        EXPECT_EQ(PercentDecode(c.In), c.Out) << c.In;
}

TEST(Online, UrlNamesAndLines)
{
    EXPECT_EQ(UrlFileName("http://h/a/b/c.mp3"), "c.mp3");
    EXPECT_EQ(UrlFileName("http://h/a/x:y.mp3"), "y.mp3");
    EXPECT_EQ(UrlFolder("http://h/a/b/c.mp3"), "http://h/a/b");
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
}

// Codes computed by a separate implementation of the report (Python, with its
// half-to-even round()), so the player and any server agree on them.
TEST(Online, PlayReportCheckCode)
{
    EXPECT_EQ(TPlayCountReport::CheckCode("C294B8BBD45328D5", "aZ09xyQwErTy12345678", 46364), "C294B8BB6zuiOrdG");
    EXPECT_EQ(TPlayCountReport::CheckCode("00000000FFFFFFFF", "Zz-Yy_Xx.0123456789a", 46000), "00000000UyEZyd32");
    // A non-hexadecimal identifier still gets a code (its value counts as 0).
    EXPECT_EQ(TPlayCountReport::CheckCode("NOTHEXNOTHEXNOTH", "abcdefghijklmnopq", 45000), "NOTHEXNOqUbNd8Nq");

    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        const std::string nonce = TPlayCountReport::MakeNonce(random);
        ASSERT_GE(nonce.size(), 16u);
        ASSERT_LE(nonce.size(), 35u);
        ASSERT_EQ(nonce.find_first_not_of(TPlayCountReport::Alphabet), std::string::npos);
    }
    EXPECT_EQ(TPlayCountReport::Body("C294B8BBD45328D5", "aZ09xyQwErTy12345678", 46364),
              "C294B8BB6zuiOrdG\raZ09xyQwErTy12345678");
}

TEST(Online, QueriesAndFavourites)
{
    TSearchConditions c;
    EXPECT_EQ(c.Query(), "Max=10&Sort=Random&Open=1");
    c.Order = TSearchConditions::TOrder::Rank;
    c.RankWeek = 3;
    c.Artist = "Bach";
    c.Genre = "Rock & Roll";
    c.Web = true;
    c.Target = 2;
    EXPECT_EQ(c.Query(), "Max=10&Sort=Rank3&Artist=Bach&Genre=Rock%20%26%20Roll&Open=3&Ext=mpg");

    test::TempDir dir;
    const std::string file = dir.File("favorites/fav.mxp");
    ASSERT_TRUE(c.SaveFavourite(file));
    TSearchConditions back;
    back.LoadFavourite(file);
    EXPECT_EQ(back.Query(), c.Query());

    // A favourite naming no known target searches "mp3"; missing keys give Open 3, Max 100.
    test::WriteText(dir.File("odd.mxp"), "[Favorite]\r\nTarget=ogg\r\nSort=1\r\n");
    TSearchConditions odd;
    odd.Target = 3;
    odd.LoadFavourite(dir.File("odd.mxp"));
    EXPECT_EQ(odd.Query(), "Max=100&Sort=New&Open=3");
}

TEST(Online, PlayAllTakesClosedMp3Links)
{
    const std::vector<std::string> page = {
        R"(<a href="/music/a.mp3">A</a>)",             // leading "/" resolves against the page's folder
        R"(<A HREF="./b.MP3">B</A>)",                  // "./" dropped; case ignored
        R"(<a href=c.mp3>C</a>)",                      // unquoted
        R"(<a href="http://x.org/d/e.mp3">D</a>)",     // absolute stays
        R"(<a href="f.mp3?x=1">F</a>)",                // query part: not taken
        R"(<a href="play.cgi/g.mp3">G</a>)",           // scripts: not taken
        R"(no link here)",
    };
    EXPECT_EQ(PlayAllLinks(page, "http://h/dir/page.html"),
              (std::vector<std::string>{"http://h/dir/music/a.mp3", "http://h/dir/b.MP3", "http://h/dir/c.mp3",
                                        "http://x.org/d/e.mp3"}));
}

// Only a path that ends in an audio extension is an audio link: not a host or a script
// whose name holds one.
TEST(Online, AudioLinksEndInAnAudioExtension)
{
    const struct {
        const char* Url;
        bool Audio;
    } cases[] = {
        {"http://h/A.WAV", true},          {"http://h/a.mp3?token=1", true}, {"https://h/d/b.mid#t", true},
        {"file:///music/c.mpg", true},     {"http://h/page.html", false},    {"http://www.mp3.com/", false},
        {"http://h/x.mp3.php", false},     {"http://h/play?f=a.mp3", false}, {"http://h.wav", false},
        {"http://h?x=/a.mp3", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsAudioLink(c.Url), c.Audio) << c.Url;
}

// The pane follows a track's page only to the web: a result's "Home" of another scheme
// (a local file, a script) is not opened.
TEST(Online, TrackPagesAreWebPagesOnly)
{
    test::TempDir dir;
    TSettingFunction function(dir.Path());
    const struct {
        const char* Home;
        const char* Opened;
    } cases[] = {
        {"http://h/p.html", "http://h/p.html"}, {"HTTPS://h/p", "HTTPS://h/p"}, {"file:///etc/passwd", ""},
        {"javascript:alert(1)", ""},            {"ftp://h/p", ""},               {"/tonkara/p.html", ""},
    };
    TDownloadlist downloads;
    const TLibraryControl control(TLibraryEndpoints::For("h"), function, downloads);
    for (const auto& c : cases) {
        test::WriteText(function.SearchResultPath,
                        std::string("[0123456789ABCDEF]\r\nMP3=http://h/a.mp3\r\nHome=") + c.Home + "\r\n");
        EXPECT_EQ(control.HomeOf("http://h/a.mp3"), c.Opened) << c.Home;
    }
}

TEST(Online, DownloadRequestNamesStayInsideTheFolder)
{
    const struct {
        const char* Name;
        bool Safe;
    } cases[] = {
        {"Artist/Title.mp3", true}, {"a/../../etc/passwd", false}, {"../x.mp3", false}, {"/etc/x", false},
        {"C:x.mp3", false},         {"\\\\server\\x", false},      {"a//b", false},      {"a/./b", false},
        {"", false},                {"a\nb", false},               {"..mp3", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ((TDownloadRequest{c.Name, "http://h/x"}.SafeName()), c.Safe) << c.Name;
    const auto bare = TDownloadRequest::Split("http://h/a/song.mp3");
    EXPECT_EQ(bare.RelativeName, "song.mp3");
    const auto named = TDownloadRequest::Split("A/B.mp3*http://h/x*y.mp3");
    EXPECT_EQ(named.RelativeName, "A/B.mp3");
    EXPECT_EQ(named.Url, "http://h/x*y.mp3");
    EXPECT_EQ(named.DisplayName(), "B.mp3");
}

TEST(Online, CandidatesBecomeFreeSanitisedNames)
{
    test::TempDir dir;
    const std::string results = dir.File("current.ini");
    test::WriteText(results, "[0123456789ABCDEF]\r\nTitle=Same.mp3\r\nArtist=Band\r\nMP3=http://h/1/s.mp3\r\n"
                             "[0123456789ABCDE0]\r\nTitle=Same\r\nArtist=Band\r\nMP3=http://h/2/s.mp3\r\n"
                             "[x.y]\r\nTitle=a/b:c\r\nArtist=..\r\nMP3=http://h/3/t.wav\r\n"
                             "[x.z]\r\nTitle=\r\nArtist=\r\nMP3=http://h/4/u.mp3\r\n");
    const std::string folder = dir.File("music/");
    std::filesystem::create_directories(folder + "Band");
    test::WriteText(folder + "Band/Same.mp3", "already there");
    TDownloadlist list;
    MakeDownloadRequests({"http://h/1/s.mp3", "http://h/2/s.mp3", "http://h/3/t.wav", "http://h/4/u.mp3",
                          "http://h/5/none.mp3"},
                         results, folder, list);
    std::vector<std::string> requests;
    for (const auto& i : list.Items())
        requests.push_back(i.Request);
    EXPECT_EQ(requests, (std::vector<std::string>{"Band/Same_1.mp3*http://h/1/s.mp3", "Band/Same_2.mp3*http://h/2/s.mp3",
                                                  "_../a_b_c.wav*http://h/3/t.wav", "Unknown/u.mp3*http://h/4/u.mp3",
                                                  "Unknown/none.mp3*http://h/5/none.mp3"}));
    for (const auto& r : requests)
        EXPECT_TRUE(TDownloadRequest::Split(r).SafeName()) << r;
}

// Artist and title are cut to 200 bytes (the title with its extension) without splitting
// a character; a folder that cannot be looked into still gets its requests.
TEST(Online, LongNamePartsAreCutOnCharacterBoundaries)
{
    test::TempDir dir;
    std::string title, cut;
    for (int i = 0; i < 86; ++i)
        (i < 65 ? cut : title) += "曲";
    title = cut + title;
    test::WriteText(dir.File("current.ini"), "[0123456789ABCDEF]\r\nTitle=" + title + "\r\nArtist=" +
                                                 std::string(300, 'a') + "\r\nMP3=http://h/1/s.mp3\r\n");
    std::filesystem::create_directory_symlink("loop", dir.File("loop"));
    for (const std::string& folder : {dir.File("music/"), dir.File("loop/")}) {
        TDownloadlist list;
        MakeDownloadRequests({"http://h/1/s.mp3"}, dir.File("current.ini"), folder, list);
        ASSERT_EQ(list.Count(), 1u) << folder;
        EXPECT_EQ(list.Item(0)->Request, std::string(200, 'a') + "/" + cut + ".mp3*http://h/1/s.mp3") << folder;
    }
}

TEST(Online, DownloadQueueSelectionOutcomesAndUnfinishedFile)
{
    TDownloadlist list;
    for (const char* r : {"a*http://h/a", "b*http://h/b", "c*http://h/c", "d*http://h/d"})
        list.Add(r);
    const auto running = list.FirstPending();
    ASSERT_TRUE(running);
    list.SetSelected(0, true);
    list.SetSelected(2, true);
    EXPECT_EQ(list.CountSelected(), 2u);
    list.RemoveSelected();
    ASSERT_EQ(list.Count(), 2u);
    list.MarkOutcome(running->Serial, false); // removed meanwhile: dropped
    EXPECT_FALSE(list.Item(0)->Done);
    list.MarkOutcome(list.Item(1)->Serial, true);
    EXPECT_TRUE(list.Item(1)->Failed);

    test::TempDir dir;
    const std::string file = dir.File("download.txt");
    ASSERT_TRUE(list.SaveUnfinished(file));
    EXPECT_EQ(test::ReadText(file), "b*http://h/b\n");
    TDownloadlist next;
    next.LoadUnfinished(file);
    ASSERT_EQ(next.Count(), 1u);
    EXPECT_EQ(next.Item(0)->Request, "b*http://h/b");
    EXPECT_FALSE(std::filesystem::exists(file));

    list.Clear();
    ASSERT_TRUE(list.SaveUnfinished(file));
    EXPECT_FALSE(std::filesystem::exists(file)); // nothing unfinished: no file
}

TEST(Online, ResultFileSections)
{
    test::TempDir dir;
    test::WriteText(dir.File("r.ini"), "[0123456789ABCDEF]\r\nTitle=T\r\nMP3=http://h/a.mp3\r\nHome=http://h/p\r\n"
                                       "[web.example]\r\nTitle=W\r\nMP3=http://w/b.mp3\r\n");
    TPendingAdditions pending;
    TLibrarySearch::AddResults(dir.File("r.ini"), pending);
    EXPECT_EQ(pending.Take(), (std::vector<std::string>{"T*http://h/a.mp3", "W*http://w/b.mp3"}));
    EXPECT_TRUE(TLibrarySearch::IsLibraryId("0123456789ABCDEF"));
    EXPECT_FALSE(TLibrarySearch::IsLibraryId("0123456789ABCD.F"));
    EXPECT_FALSE(TLibrarySearch::IsLibraryId("0123456789ABCDE"));
}

} // namespace
} // namespace marlix
