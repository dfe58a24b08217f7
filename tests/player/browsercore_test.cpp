#include "player/browsercore.h"
#include "player/history.h"
#include "settings/inifile.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace marlix {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteText;
using Names = std::vector<std::string>;

class BrowserCoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        music = dir.Path() + "music/";
        fs::create_directories(music + "x");
        fs::create_directories(music + "Y");
        const auto now = fs::file_time_type::clock::now();
        const std::pair<const char*, int> files[] = {{"a.wav", -300}, {"B.mp3", -10}, {"c.wav", -100}, {"d.txt", 0}};
        for (const auto& [name, age] : files) {
            WriteText(music + name, "x");
            fs::last_write_time(music + name, now + std::chrono::seconds(age));
        }
    }

    TempDir dir;
    THistory history{dir.Path() + "history/"};
    std::string music;
};

TEST_F(BrowserCoreTest, SortsByNameDateLastPlayAndCountFromHistoryFiles)
{
    fs::create_directories(history.Folder());
    WriteText(history.FileFor(music), "[Count]\nc.wav=5\nx=2\na.wav=1\n[Date]\na.wav=45000.5\nx=45001.25\nc.wav=44000\n");
    struct Case {
        TBrowserOrder Order;
        Names Expected;
    } cases[] = {
        {{0, false}, {"!a.wav", "!B.mp3", "!c.wav", "x", "Y"}},
        {{0, true}, {"Y", "x", "!c.wav", "!B.mp3", "!a.wav"}},
        {{1, false}, {"!B.mp3", "!c.wav", "!a.wav", "x", "Y"}},
        {{2, false}, {"x", "!a.wav", "!c.wav", "!B.mp3", "Y"}},
        {{3, false}, {"!c.wav", "x", "!a.wav", "!B.mp3", "Y"}},
        {{3, true}, {"Y", "!B.mp3", "!a.wav", "x", "!c.wav"}},
    };
    for (const Case& c : cases) {
        Names list = ListOneLevel(music, "wav,mp3");
        SortListing(list, music, c.Order, history);
        EXPECT_EQ(list, c.Expected) << "mode " << c.Order.Mode << " inverse " << c.Order.Inverse;
    }
    // Full paths of a recursive listing find their keys in their own folders' files.
    Names paths{music + "a.wav", music + "c.wav", music + "B.mp3"};
    SortListing(paths, music, {3, false}, history);
    EXPECT_EQ(paths, (Names{music + "c.wav", music + "a.wav", music + "B.mp3"}));
    // A damaged history file gives no keys: the order falls back to the names.
    test::WriteAll(history.FileFor(music), {0xFF, 0x00, '[', 'C', 0x0A, '=', 0xFE});
    Names list = ListOneLevel(music, "wav,mp3");
    SortListing(list, music, {2, false}, history);
    EXPECT_EQ(list, (Names{"!a.wav", "!B.mp3", "!c.wav", "x", "Y"}));
}

TEST_F(BrowserCoreTest, SkipsFoldersThatHoldOnlyOneFolder)
{
    fs::create_directories(music + "x/one/two");
    WriteText(music + "x/one/two/b.wav", "x");
    WriteText(music + "x/one/two/a.mp3", "x");
    fs::create_directories(music + "Y/inner");
    WriteText(music + "Y/keep.wav", "x");
    fs::create_directories(music + "loop");
    fs::create_directory_symlink(music + "loop", music + "loop/self");

    struct Case {
        std::string Folder;
        bool Skip;
        TBrowserListing Expected;
    } cases[] = {
        {music + "x", true, {music + "x/one/two/", {"!a.mp3", "!b.wav"}}},
        {music + "x/", false, {music + "x/", {"one"}}},
        {music + "Y", true, {music + "Y/", {"!keep.wav", "inner"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MakeListing({c.Folder, "wav,mp3", c.Skip, {}}, history), c.Expected) << c.Folder;
    // Going back climbs past single folders, but never above the root.
    EXPECT_EQ(ListParent(music + "x/one/two/", music + "x/", "wav,mp3", true), (TBrowserListing{music + "x/", {"one"}}));
    EXPECT_EQ(ListParent(music + "x/one/two/", music + "x/", "wav,mp3", false),
              (TBrowserListing{music + "x/one/", {"two"}}));
    EXPECT_EQ(ListParent(music + "x/", music + "x/", "wav", true).Folder, "") << "above the root";
    // A folder that contains itself ends the descent instead of hanging.
    const TBrowserListing loop = MakeListing({music + "loop", "wav", true, {}}, history);
    EXPECT_TRUE(loop.Folder.starts_with(music + "loop/self/"));
    EXPECT_LE(loop.Entries.size(), 1u);
    EXPECT_EQ(MakeListing({music + "missing", "wav", true, {}}, history).Entries, Names{});
}

TEST_F(BrowserCoreTest, FolderClickAddsPlayableFilesBelowUnlessJukeBox)
{
    fs::create_directories(music + "x/deep");
    WriteText(music + "x/deep/z.WAV", "x");
    WriteText(music + "x/m.mp3", "x");
    WriteText(music + "x/cover.jpg", "x");
    EXPECT_EQ(FolderAdditions(music + "x", "wav,mp3", {}, history, false),
              (Names{music + "x/deep/z.WAV", music + "x/m.mp3"}));
    EXPECT_EQ(FolderAdditions(music + "x", "wav,mp3", {0, true}, history, false),
              (Names{music + "x/m.mp3", music + "x/deep/z.WAV"}));
    EXPECT_EQ(FolderAdditions(music + "x", "wav,mp3", {}, history, true), Names{});
}

TEST_F(BrowserCoreTest, FolderPlaysCountEveryFolderBelowTheRootOnce)
{
    const std::string a = music + "A/";
    RecordFolderPlays(history,
                      {a + "B/song.mp3", a + "B/C/x.wav", a + "B/other.mp3", a + "top.wav"}, a, 45100.5);
    EXPECT_EQ(TIniFile(history.FileFor(a)).ReadSection("Count"), Names{"B"});
    EXPECT_EQ(history.Count(a + "B"), 1);
    EXPECT_EQ(history.Date(a + "B"), 45100.5);
    EXPECT_EQ(history.Count(a + "B/C"), 1);
    EXPECT_EQ(history.Count(a), 0) << "the root itself is not counted";
    RecordFolderPlays(history, {a + "B/song.mp3"}, a, 45101);
    EXPECT_EQ(history.Count(a + "B"), 2);
    RecordFolderPlays(history, {a + "B/song.mp3"}, "", 45102);
    EXPECT_EQ(history.Count(a + "B"), 2) << "the root list records no folder plays";
    EXPECT_FALSE(fs::exists(history.LogFile())) << "folder plays write no log lines";
}

TEST(BrowserRoots, ListsFixedFoldersThenUserFoldersAndSavesOnlyTheUsers)
{
    TempDir dir;
    TIniFile ini(dir.File("setting.ini"));
    ini.WriteString("FolderList", "0", "/srv/a");
    ini.WriteString("FolderList", "1", "/srv/b/");
    ini.WriteString("FolderList", "3", "/srv/unreached");
    TBrowserRoots roots("/home/u/Music", "/home/u/dl", "/opt/m/favorites/");
    roots.Load(ini);
    EXPECT_EQ(roots.Entries(), (Names{"/home/u/Music/", "/home/u/dl/", "/opt/m/favorites/", "/srv/a/", "/srv/b/"}));
    EXPECT_FALSE(roots.IsUserFolder(2));
    EXPECT_FALSE(roots.Remove(0));
    EXPECT_TRUE(roots.Remove(3));
    roots.AddFolder("/srv/c");
    roots.Save(ini);
    EXPECT_EQ(ini.ReadSection("FolderList"), (Names{"0", "1"}));
    EXPECT_EQ(ini.ReadString("FolderList", "0", ""), "/srv/b/");
    EXPECT_EQ(ini.ReadString("FolderList", "1", ""), "/srv/c/");

    EXPECT_EQ(roots.DisplayName("/home/u/Music/"), "マイミュージック");
    EXPECT_EQ(roots.DisplayName("/HOME/u/music"), "マイミュージック");
    EXPECT_EQ(roots.DisplayName("/home/u/Music/Jazz/"), "Jazz");
    EXPECT_EQ(roots.DisplayName("/home/u/dl/"), "ダウンロード済");
    EXPECT_EQ(roots.DisplayName("/opt/m/favorites/"), "お気に入り検索");
    EXPECT_TRUE(roots.IsFavoritesFolder("/home/u/dl"));
    EXPECT_FALSE(roots.IsFavoritesFolder("/srv/b/"));
    // Without a download folder nothing is called "ダウンロード済".
    TBrowserRoots bare("/m/", "", "/f/");
    bare.Load(TIniFile(dir.File("none.ini")));
    EXPECT_EQ(bare.Entries(), (Names{"/m/", "/f/"}));
    EXPECT_EQ(bare.DisplayName("/x/"), "x");
    EXPECT_EQ(bare.DisplayName("/"), "/");
}

TEST(BrowserGeometry, PagedHitsAndPageMoves)
{
    // 450 × 231 pixels of 145-pixel columns and 21-pixel rows: 3 columns of 10 rows.
    TBrowserGeometry g{450, 231, 21, 145, true, 65, 0};
    EXPECT_EQ(g.Columns(), 3);
    EXPECT_EQ(g.Rows(), 10);
    EXPECT_EQ(g.Pages(), 3);
    EXPECT_EQ(g.LastPageStart(), 60);
    struct Hit {
        int Scroll, X, Y, Expected;
    } hits[] = {
        {0, 10, 5, 0},       {0, 150, 25, 11},       {30, 300, 205, 59},     {60, 10, 30, 61},
        {60, 150, 5, -1},    {0, 10, 215, bnPrevPage}, {0, 150, 215, bnNextPage}, {0, 300, 215, bnBack},
        {0, -1, 5, -1},      {0, 440, 5, -1},
    };
    for (const Hit& h : hits) {
        g.Scroll = h.Scroll;
        EXPECT_EQ(g.HitTest(h.X, h.Y), h.Expected) << h.X << "," << h.Y << " at " << h.Scroll;
    }
    struct Move {
        int Scroll, Code, Expected;
    } moves[] = {
        {0, bnPrevPage, 60}, {30, bnPrevPage, 0}, {10, bnPrevPage, 0},     {60, bnNextPage, 0},
        {0, bnNextPage, 30}, {5, bnScrollUp, 0},  {55, bnScrollDown, 60},  {20, bnScrollDown, 30},
    };
    for (const Move& m : moves) {
        g.Scroll = m.Scroll;
        EXPECT_EQ(g.Navigate(m.Code), m.Expected) << m.Code << " from " << m.Scroll;
    }
    EXPECT_TRUE(g.InTriangleZone(124));
    EXPECT_FALSE(g.InTriangleZone(123));
    EXPECT_TRUE(g.InTriangleZone(145 + 140));
    // Everything on one page: no page buttons, only "戻る".
    const TBrowserGeometry one{450, 231, 21, 145, true, 12, 0};
    EXPECT_EQ(one.HitTest(10, 215), -1);
    EXPECT_EQ(one.HitTest(300, 215), bnBack);
    // The single list: one column, rows from the scroll position, the zone at the right.
    const TBrowserGeometry list{145, 100, 21, 145, false, 8, 3};
    EXPECT_EQ(list.HitTest(5, 50), 5);
    EXPECT_EQ(list.HitTest(5, 120), -1);
    EXPECT_TRUE(list.InTriangleZone(124));
}

TEST(BrowserPreview, HintShowsTenEntriesThenDots)
{
    Names entries;
    for (int i = 0; i < 12; ++i)
        entries.push_back(i % 2 ? "!f" + std::to_string(i) : "d" + std::to_string(i));
    EXPECT_EQ(PreviewHint(entries, "help"), "d0\nf1\nd2\nf3\nd4\nf5\nd6\nf7\nd8\nf9\n...|help");
    EXPECT_EQ(PreviewHint({"!only.wav"}, "h"), "only.wav|h");
}

} // namespace
} // namespace marlix
