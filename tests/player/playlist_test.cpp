#include "player/playlist.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace marlix {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::TempProgramFolder;
using test::WriteText;
using Strings = std::vector<std::string>;

class PlaylistTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSettings(folder.Path());
        list.SetRandomSeed(12345);
    }

    // Entries "/m/1.mp3" ... "/m/<n>.mp3".
    void Fill(int n)
    {
        for (int i = 1; i <= n; ++i)
            list.Add(Loc(i));
    }
    static std::string Loc(int number) { return "/m/" + std::to_string(number) + ".mp3"; }

    // Asks for the next track and lets the playlist see the decoder open it.
    std::string Next()
    {
        const std::string answer = list.NextTrack();
        list.FollowDecoder(answer);
        return answer;
    }

    bool AnyPlayed() const
    {
        return std::any_of(list.Items().begin(), list.Items().end(), [](const TPlayItem& i) { return i.Played; });
    }

    TempProgramFolder folder;
    TPlayerState state;
    TPendingAdditions pending;
    TPlaylist list{state, pending};
};

TEST(PlayItem, LocationAndDisplayName)
{
    const TPlayItem titled{"Song*C:\\music\\song.mp3"};
    EXPECT_EQ(titled.Location(), "C:\\music\\song.mp3");
    EXPECT_EQ(titled.DisplayName(), "Song");
    EXPECT_EQ(TPlayItem{"/home/u/Music/a b.flac"}.DisplayName(), "a b.flac");
    EXPECT_EQ(TPlayItem{"C:\\music\\z.mp3"}.DisplayName(), "z.mp3");
    EXPECT_EQ(TPlayItem{"http://host/x/y.mp3"}.DisplayName(), "y.mp3");
    EXPECT_EQ(TPlayItem{"T*a*b"}.Location(), "a*b");
    EXPECT_EQ(TPlayItem{"/m/1.mp3"}.Location(), "/m/1.mp3");
}

TEST_F(PlaylistTest, InOrderStopsAtTheEndAndClearsThePass)
{
    Fill(3);
    EXPECT_EQ(Next(), Loc(1));
    EXPECT_EQ(Next(), Loc(2));
    EXPECT_EQ(Next(), Loc(3));
    EXPECT_TRUE(list.Item(0).Played);
    EXPECT_TRUE(list.Item(1).Played);
    EXPECT_EQ(list.NextTrack(), "");
    EXPECT_FALSE(AnyPlayed());
}

TEST_F(PlaylistTest, InOrderSkipsFailedEntries)
{
    Fill(4);
    list.MarkFailed(Loc(2));
    list.MarkFailed(Loc(3));
    EXPECT_EQ(Next(), Loc(1));
    EXPECT_EQ(Next(), Loc(4));
    EXPECT_EQ(Next(), "");
}

TEST_F(PlaylistTest, RepeatStartsOverAtTheFirstPlayableEntry)
{
    Fill(3);
    state.Repeat = true;
    list.FollowDecoder(Loc(3));
    EXPECT_EQ(list.NextTrack(), Loc(1));
    EXPECT_FALSE(AnyPlayed());

    list.MarkFailed(Loc(1));
    list.FollowDecoder(Loc(3));
    EXPECT_EQ(list.NextTrack(), Loc(2));
}

TEST_F(PlaylistTest, RepeatOneReplaysWithoutMarkingUnlessTheEntryFailed)
{
    Fill(3);
    state.Repeat1 = true;
    list.FollowDecoder(Loc(2));
    EXPECT_EQ(list.NextTrack(), Loc(2));
    EXPECT_FALSE(list.Item(1).Played);

    // A track that failed to open is not retried for ever.
    list.MarkFailed(Loc(2));
    EXPECT_EQ(list.NextTrack(), Loc(3));
}

TEST_F(PlaylistTest, StartsAtTheCursor)
{
    Fill(5);
    list.CursorIndex = 2;
    EXPECT_EQ(list.NextTrack(), Loc(3));
}

TEST_F(PlaylistTest, ScanPastTheEndGoesOnFromTheStepCount)
{
    Fill(5);
    list.CursorIndex = 3;
    list.MarkFailed(Loc(4));
    list.MarkFailed(Loc(5));
    // Two steps fail, then the scan continues at index 2: the third entry.
    EXPECT_EQ(list.NextTrack(), Loc(3));

    // Nothing found that way, yet the first two entries are playable: take the first.
    list.MarkFailed(Loc(3));
    EXPECT_EQ(list.NextTrack(), Loc(1));
}

TEST_F(PlaylistTest, AllFailedGivesNoAnswerInEveryMode)
{
    Fill(3);
    for (int i = 1; i <= 3; ++i)
        list.MarkFailed(Loc(i));
    EXPECT_EQ(list.NextTrack(), "");
    state.Repeat = true;
    state.Random = true;
    EXPECT_EQ(list.NextTrack(), "");
    list.PlayingIndex = 1;
    EXPECT_EQ(list.NextTrack(), "");
    state.Random = false;
    EXPECT_EQ(list.NextTrack(), "");
    EXPECT_EQ(list.PreviousTrack(), "");
}

TEST_F(PlaylistTest, EmptyListAnswersNothing)
{
    state.Random = true;
    EXPECT_EQ(list.NextTrack(), "");
    EXPECT_EQ(list.PreviousTrack(), "");
}

TEST_F(PlaylistTest, PreviousSkipsFailedAndNeedsAPlayingEntry)
{
    Fill(4);
    EXPECT_EQ(list.PreviousTrack(), "");
    list.MarkFailed(Loc(3));
    list.FollowDecoder(Loc(4));
    EXPECT_EQ(list.PreviousTrack(), Loc(2));
    list.FollowDecoder(Loc(1));
    EXPECT_EQ(list.PreviousTrack(), "");
}

TEST_F(PlaylistTest, RandomPlaysEveryEntryOnceThenStops)
{
    Fill(6);
    state.Random = true;
    Strings order;
    for (std::string next; !(next = Next()).empty();)
        order.push_back(next);
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(std::set<std::string>(order.begin(), order.end()).size(), 6u);
    EXPECT_FALSE(AnyPlayed());
}

TEST_F(PlaylistTest, RandomWithRepeatPlaysWholePassesAndNeverFailedEntries)
{
    Fill(7);
    list.MarkFailed(Loc(5));
    state.Random = true;
    state.Repeat = true;
    for (int pass = 0; pass < 4; ++pass) {
        std::set<std::string> seen;
        for (int i = 0; i < 6; ++i)
            seen.insert(Next());
        EXPECT_EQ(seen.size(), 6u) << "pass " << pass;
        EXPECT_EQ(seen.count(Loc(5)), 0u);
        EXPECT_EQ(seen.count(""), 0u);
    }
}

TEST_F(PlaylistTest, RandomOrderFollowsTheSeed)
{
    TPlaylist other(state, pending);
    other.SetRandomSeed(12345);
    Fill(8);
    for (int i = 1; i <= 8; ++i)
        other.Add(Loc(i));
    state.Random = true;
    for (int i = 0; i < 8; ++i) {
        const std::string next = other.NextTrack();
        other.FollowDecoder(next);
        EXPECT_EQ(Next(), next);
    }
}

TEST_F(PlaylistTest, RandomOfOneEntryRepeatsOnlyWithRepeat)
{
    Fill(1);
    state.Random = true;
    EXPECT_EQ(Next(), Loc(1));
    EXPECT_EQ(list.NextTrack(), "");
    list.FollowDecoder(Loc(1));
    state.Repeat = true;
    EXPECT_EQ(list.NextTrack(), Loc(1));
}

TEST_F(PlaylistTest, RandomStartsAtAValidCursor)
{
    Fill(5);
    state.Random = true;
    list.CursorIndex = 3;
    EXPECT_EQ(list.NextTrack(), Loc(4));
}

TEST_F(PlaylistTest, BackgroundMusicDrawsFromItsOwnPlaylist)
{
    const std::string bgm = folder.File("bgm.m3u");
    WriteText(bgm, "a.mp3\r\nb.mp3\r\nc.mp3\r\n");
    Settings().Function.BGMPlaylist = bgm;
    Fill(2);
    state.BGMActive = true;

    std::set<std::string> seen;
    for (int i = 0; i < 3; ++i)
        seen.insert(Next());
    EXPECT_EQ(seen, (std::set<std::string>{folder.File("a.mp3"), folder.File("b.mp3"), folder.File("c.mp3")}));
    EXPECT_EQ(list.PlayingIndex, -1);
    EXPECT_FALSE(AnyPlayed());
    // Once all were played it keeps drawing from all of them.
    EXPECT_NE(Next(), "");

    state.BGMActive = false;
    list.FollowDecoder("");
    EXPECT_EQ(list.NextTrack(), Loc(1));
}

TEST_F(PlaylistTest, BackgroundPlaylistReloadsWhenItChangesAndSurvivesItsRemoval)
{
    const std::string bgm = folder.File("bgm.m3u");
    WriteText(bgm, "/x/old.mp3\n");
    Settings().Function.BGMPlaylist = bgm;
    state.BGMActive = true;
    EXPECT_EQ(list.NextTrack(), "/x/old.mp3");

    WriteText(bgm, "/x/new.mp3\n");
    fs::last_write_time(bgm, fs::last_write_time(bgm) + std::chrono::seconds(5));
    EXPECT_EQ(list.NextTrack(), "/x/new.mp3");

    fs::remove(bgm);
    EXPECT_EQ(list.NextTrack(), "/x/new.mp3");
    ASSERT_EQ(list.BGMItems().size(), 1u);
}

TEST_F(PlaylistTest, BackgroundMusicWithoutPlaylistAnswersNothing)
{
    Fill(2);
    Settings().Function.BGMPlaylist = folder.File("missing.m3u");
    state.BGMActive = true;
    EXPECT_EQ(list.NextTrack(), "");
}

TEST_F(PlaylistTest, MarkFailedMarksEveryEntryOfThatLocation)
{
    list.Add("/m/a.mp3");
    list.Add("Title*/m/a.mp3");
    list.Add("/m/b.mp3");
    list.MarkFailed("/m/a.mp3");
    EXPECT_TRUE(list.Item(0).Failed);
    EXPECT_TRUE(list.Item(1).Failed);
    EXPECT_FALSE(list.Item(2).Failed);
}

TEST_F(PlaylistTest, FollowDecoderMarksTheLastMatchingEntry)
{
    list.Add("/m/a.mp3");
    list.Add("/m/b.mp3");
    list.Add("Again*/m/a.mp3");
    EXPECT_TRUE(list.FollowDecoder("/m/a.mp3"));
    EXPECT_EQ(list.PlayingIndex, 2);
    EXPECT_EQ(list.CursorIndex, 2);
    EXPECT_FALSE(list.FollowDecoder("/m/a.mp3"));

    // A pending command holds the marks until it is carried out.
    state.Command.Post("Stop");
    EXPECT_FALSE(list.FollowDecoder(""));
    EXPECT_EQ(list.PlayingIndex, 2);
    state.Command.Take();

    list.Item(0).Played = true;
    EXPECT_TRUE(list.FollowDecoder(""));
    EXPECT_EQ(list.PlayingIndex, -1);
    EXPECT_EQ(list.CursorIndex, 2);
    EXPECT_FALSE(AnyPlayed());
}

TEST_F(PlaylistTest, DeleteSelectedKeepsThePlayingEntry)
{
    Fill(5);
    list.FollowDecoder(Loc(4));
    list.Item(0).Selected = true;
    list.Item(2).Selected = true;
    EXPECT_EQ(list.CountSelected(), 2);
    EXPECT_EQ(list.DeleteSelected(), 2);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Item(0).FileName, Loc(2));
    EXPECT_EQ(list.PlayingIndex, 1);
    EXPECT_EQ(list.CursorIndex, -1);
    EXPECT_EQ(list.NextTrack(), Loc(5));

    list.Item(1).Selected = true;
    list.DeleteSelected();
    EXPECT_EQ(list.PlayingIndex, -1);
}

TEST_F(PlaylistTest, PendingFilesReplaceTheListAndPostPlay)
{
    Fill(3);
    list.FollowDecoder(Loc(2));
    state.BGMActive = true;
    pending.Add(Strings{"/n/a.mp3", "Title*http://host/b.mp3"});
    EXPECT_TRUE(list.TakePending());
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(1).DisplayName(), "Title");
    EXPECT_EQ(list.Item(1).Location(), "http://host/b.mp3");
    EXPECT_EQ(list.PlayingIndex, -1);
    EXPECT_EQ(list.CursorIndex, -1);
    EXPECT_FALSE(state.BGMActive);
    EXPECT_EQ(state.Command.Take(), "Play");
    EXPECT_TRUE(pending.Empty());
    EXPECT_FALSE(list.TakePending());
}

TEST_F(PlaylistTest, ReservationAppendsAndStartsAtTheFirstNewEntry)
{
    Fill(5);
    state.Reserve = true;
    pending.Add(Strings{"/n/6.mp3", "/n/7.mp3"});
    list.TakePending();
    EXPECT_EQ(list.Count(), 7);
    EXPECT_EQ(state.Command.Take(), "Play");
    EXPECT_EQ(list.NextTrack(), "/n/6.mp3");
}

TEST_F(PlaylistTest, ReservationWhilePlayingOnlyAppends)
{
    Fill(3);
    list.FollowDecoder(Loc(2));
    state.Reserve = true;
    state.OutputRunning = true;
    pending.Add("/n/4.mp3");
    list.TakePending();
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.CursorIndex, 1);
    EXPECT_TRUE(state.Command.Empty());
}

TEST_F(PlaylistTest, NoPlayPostedWithoutPlayAtOpen)
{
    Settings().Operation.bPlayAtOpen = false;
    pending.Add("/n/1.mp3");
    list.TakePending();
    EXPECT_EQ(list.Count(), 1);
    EXPECT_TRUE(state.Command.Empty());
}

TEST_F(PlaylistTest, ExtInfTitlesTheFollowingEntries)
{
    pending.Add(Strings{"/n/0.mp3", "#EXTINF:123,Live * Loud", "/n/1.mp3", "#comment", "/n/2.mp3",
                        "#EXTINF:-1", "/n/3.mp3", ""});
    list.AddPending();
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Item(0).FileName, "/n/0.mp3");
    EXPECT_EQ(list.Item(1).FileName, "Live \xEF\xBC\x8A Loud*/n/1.mp3");
    EXPECT_EQ(list.Item(1).Location(), "/n/1.mp3");
    EXPECT_EQ(list.Item(2).DisplayName(), "Live \xEF\xBC\x8A Loud");
    EXPECT_EQ(list.Item(3).FileName, ":-1*/n/3.mp3");
}

TEST_F(PlaylistTest, ExtInfTitleIsCutAfter255Characters)
{
    // Characters 8 on: ":1," and then 252 of the title.
    pending.Add(Strings{"#EXTINF:1," + std::string(300, 'x'), "/n/1.mp3"});
    list.AddPending();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Item(0).DisplayName(), std::string(252, 'x'));
}

TEST_F(PlaylistTest, LoneM3UExpandsOnTheNextTick)
{
    WriteText(folder.File("list.M3U"), "one.mp3\nsub\\two.mp3\n");
    pending.Add(folder.File("list.M3U"));
    list.TakePending();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(pending.Take(), (Strings{folder.File("one.mp3"), folder.File("sub/two.mp3")}));
}

TEST_F(PlaylistTest, PlaylistsAndFavouritesAmongOtherFilesAreDropped)
{
    WriteText(folder.File("list.m3u"), "one.mp3\n");
    pending.Add(Strings{folder.File("list.m3u"), "/n/a.mp3", "/n/fav.mxp"});
    list.TakePending();
    list.TakePending();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Item(0).FileName, "/n/a.mp3");
    EXPECT_EQ(list.TakeFavourite(), "");
}

TEST_F(PlaylistTest, LoneFavouriteWaitsToBeRun)
{
    pending.Add("/fav/Jazz.mxp");
    list.TakePending();
    state.BGMActive = true;
    EXPECT_EQ(list.TakeFavourite(), "/fav/Jazz.mxp");
    EXPECT_FALSE(state.BGMActive);
    EXPECT_EQ(list.TakeFavourite(), "");
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(PlaylistTest, ExtensionOfAFolderIsNotAnExtension)
{
    pending.Add("/music/best.m3u/track");
    list.AddPending();
    ASSERT_EQ(list.Count(), 1);
}

TEST_F(PlaylistTest, LoadM3UHandWritten)
{
    fs::create_directories(folder.Path() + "lists");
    const std::string dir = folder.Path() + "lists/";
    WriteText(dir + "mix.m3u",
              "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:10,Ignored\r\nsong.mp3\r\n\r\n   \r\nsub\\deep\\b.mp3\r\n"
              "/abs/c.mp3\r\nC:\\win\\d.mp3\r\nhttp://host/e.mp3\r\nTitle*rel/f.mp3\r\n\xE9\x9F\xB3.flac\rold-mac.mp3");
    Strings lines{"kept"};
    ASSERT_TRUE(TPlaylist::LoadM3U(dir + "mix.m3u", lines));
    EXPECT_EQ(lines, (Strings{"kept", dir + "song.mp3", dir + "sub/deep/b.mp3", "/abs/c.mp3", "C:\\win\\d.mp3",
                              "http://host/e.mp3", "Title*" + dir + "rel/f.mp3", dir + "\xE9\x9F\xB3.flac",
                              dir + "old-mac.mp3"}));
}

TEST_F(PlaylistTest, LoadM3UOfMissingFileAddsNothing)
{
    Strings lines{"kept"};
    EXPECT_FALSE(TPlaylist::LoadM3U(folder.File("none.m3u"), lines));
    EXPECT_FALSE(TPlaylist::LoadM3U(folder.Path(), lines));
    EXPECT_EQ(lines, Strings{"kept"});
}

TEST_F(PlaylistTest, SavedPlaylistReadsBack)
{
    const Strings entries{"/m/a.mp3", "Song*/m/b.mp3", "http://host/c.mp3", "/m/\xE9\x9F\xB3 d.flac"};
    for (const auto& e : entries)
        list.Add(e);
    const std::string file = folder.File("out.m3u");
    ASSERT_TRUE(list.SavePlaylist(file));
    EXPECT_EQ(ReadText(file), "/m/a.mp3\r\nSong*/m/b.mp3\r\nhttp://host/c.mp3\r\n/m/\xE9\x9F\xB3 d.flac\r\n");
    Strings back;
    ASSERT_TRUE(TPlaylist::LoadM3U(file, back));
    EXPECT_EQ(back, entries);

    EXPECT_FALSE(list.SavePlaylist(folder.File("no/such/folder/x.m3u")));
}

TEST_F(PlaylistTest, CurrentPlaylistSurvivesARestart)
{
    list.Add("Song*/music/song.mp3");
    list.Add("/music/b.mp3");
    ASSERT_TRUE(list.SaveCurrent());
    EXPECT_EQ(ReadText(folder.File("current.m3u")), "Song*/music/song.mp3\r\n/music/b.mp3\r\n");

    TPlaylist next(state, pending);
    next.LoadCurrent();
    ASSERT_EQ(next.Count(), 2);
    EXPECT_EQ(next.Item(0).DisplayName(), "Song");
    EXPECT_EQ(next.Item(0).Location(), "/music/song.mp3");
    EXPECT_EQ(next.Item(1).FileName, "/music/b.mp3");
    EXPECT_EQ(next.CursorIndex, -1);
    EXPECT_TRUE(state.Command.Empty());
    EXPECT_TRUE(pending.Empty());
}

TEST_F(PlaylistTest, CurrentPlaylistIgnoredWhenNotKept)
{
    Settings().Function.bSavePlaylist = false;
    WriteText(folder.File("current.m3u"), "/music/old.mp3\r\n");
    list.LoadCurrent();
    EXPECT_EQ(list.Count(), 0);
    list.Add("/music/new.mp3");
    EXPECT_TRUE(list.SaveCurrent());
    EXPECT_EQ(ReadText(folder.File("current.m3u")), "/music/old.mp3\r\n");
}

} // namespace
} // namespace marlix
