#include "player/history.h"
#include "player/playerstate.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

namespace marlix {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::TempProgramFolder;
using test::WriteText;

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSettings(folder.Path());
        music = folder.Path() + "music/Jazz/";
        fs::create_directories(music);
        WriteText(music + "song.mp3", "x");
        WriteText(music + "other.mp3", "x");
    }

    TempProgramFolder folder;
    std::string music;
    THistory history;
};

TEST(DateTime, CountsDaysSince30December1899InLocalTime)
{
    std::tm noon{};
    noon.tm_year = 2024 - 1900;
    noon.tm_mon = 0;
    noon.tm_mday = 15;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const auto when = std::chrono::system_clock::from_time_t(std::mktime(&noon));
    EXPECT_DOUBLE_EQ(ToDateTime(when), 45306.5);
    EXPECT_DOUBLE_EQ(ToDateTime(when + std::chrono::hours(6) + std::chrono::milliseconds(500)),
                     45306.75 + 0.5 / 86400);
}

TEST_F(HistoryTest, FileNamesComeFromTheFolderPath)
{
    EXPECT_EQ(history.Folder(), folder.Path() + "history/");
    EXPECT_EQ(history.FileFor("/home/u/Music/Jazz/"), folder.Path() + "history/_home_u_Music_Jazz.ini");
    EXPECT_EQ(history.FileFor("/mnt/c:drive"), folder.Path() + "history/_mnt_c_drive.ini");
    EXPECT_EQ(history.LogFile(), folder.Path() + "history/history.log");
}

TEST_F(HistoryTest, CountsPlaysAndKeepsTheLastDate)
{
    ASSERT_TRUE(history.RecordTrackPlay(music + "song.mp3", 45000.5));
    ASSERT_TRUE(history.RecordTrackPlay(music + "other.mp3", 45001));
    ASSERT_TRUE(history.RecordTrackPlay(music + "song.mp3", 45002.125));
    ASSERT_TRUE(history.RecordTrackPlay(music + "song.mp3", 45003.75));

    EXPECT_EQ(history.Count(music + "song.mp3"), 3);
    EXPECT_DOUBLE_EQ(history.Date(music + "song.mp3"), 45003.75);
    EXPECT_EQ(history.Count(music + "other.mp3"), 1);
    EXPECT_EQ(history.Count(music + "never.mp3"), 0);
    EXPECT_EQ(history.Date(music + "never.mp3"), 0);

    // The file itself, read without the history class.
    const TIniFile ini(history.FileFor(music));
    EXPECT_EQ(ini.ReadString("Count", "song.mp3", ""), "3");
    EXPECT_EQ(ini.ReadString("Date", "song.mp3", ""), "45003.75");
    EXPECT_EQ(ini.ReadString("Date", "other.mp3", ""), "45001");

    const auto entries = history.ReadFolder(music);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Name, "song.mp3");
    EXPECT_EQ(entries[0].Count, 3);
    EXPECT_EQ(entries[1].Name, "other.mp3");
    EXPECT_DOUBLE_EQ(entries[1].Date, 45001);

    EXPECT_EQ(ReadText(history.LogFile()), "45000.5," + music + "song.mp3\n45001," + music + "other.mp3\n45002.125," +
                                               music + "song.mp3\n45003.75," + music + "song.mp3\n");
}

TEST_F(HistoryTest, DateKeepsFifteenDigits)
{
    ASSERT_TRUE(history.RecordTrackPlay(music + "song.mp3", 45306.123456789012));
    EXPECT_EQ(TIniFile(history.FileFor(music)).ReadString("Date", "song.mp3", ""), "45306.123456789");
}

TEST_F(HistoryTest, BrokenHistoryFileCountsFromZero)
{
    fs::create_directories(history.Folder());
    WriteText(history.FileFor(music), std::string("\0\xff[Count\nsong.mp3=lots\n", 23));
    EXPECT_EQ(history.Count(music + "song.mp3"), 0);
    ASSERT_TRUE(history.RecordTrackPlay(music + "song.mp3", 45000));
    EXPECT_EQ(history.Count(music + "song.mp3"), 1);
    EXPECT_TRUE(history.ReadFolder(folder.Path() + "unknown/").empty());
}

TEST_F(HistoryTest, NameThatCannotBeAKeyIsReportedButLogged)
{
    EXPECT_FALSE(history.RecordTrackPlay(music + "a=b.mp3", 45000));
    EXPECT_EQ(ReadText(history.LogFile()), "45000," + music + "a=b.mp3\n");
}

TEST_F(HistoryTest, OpenedTrackIsRecordedOnlyWhenWanted)
{
    Settings().Function.bSaveHistory = false;
    RecordOpenedTrack(music + "song.mp3");
    EXPECT_FALSE(fs::exists(history.Folder()));

    Settings().Function.bSaveHistory = true;
    PlayerState().BGMActive = true;
    RecordOpenedTrack(music + "song.mp3");
    PlayerState().BGMActive = false;
    EXPECT_TRUE(fs::is_directory(history.Folder()));
    EXPECT_EQ(history.Count(music + "song.mp3"), 0);

    RecordOpenedTrack(music + "gone.mp3");
    RecordOpenedTrack("http://host/stream.mp3");
    EXPECT_FALSE(fs::exists(history.LogFile()));

    const double before = DateTimeNow();
    RecordOpenedTrack(music + "song.mp3");
    EXPECT_EQ(history.Count(music + "song.mp3"), 1);
    EXPECT_GE(history.Date(music + "song.mp3"), before);
    EXPECT_LE(history.Date(music + "song.mp3"), DateTimeNow());
}

} // namespace
} // namespace marlix
