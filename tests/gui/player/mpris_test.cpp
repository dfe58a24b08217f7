#include "engine/decoder.h"
#include "gui/player/mpris.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "support/testutil.h"
#include "windowtest.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace marlix {
namespace {

// What the desktop is told about the playing track, one file after another: the file's
// own tags first, the playlist's title over them, the folders only without tags.
TEST(MprisMetadata, TitleArtistAndAlbumComeFromTagsThenFolders)
{
    if (!test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    test::TempDir dir;
    std::filesystem::create_directories(dir.File("Folder Artist/Folder Album"));
    const std::string tagged = dir.File("Folder Artist/Folder Album/tagged.mp3");
    const std::string plain = dir.File("Folder Artist/Folder Album/plain.wav");
    int status = 0;
    test::RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=1 -ar 44100 -ac 2 -b:a 128k "
                     "-metadata title='夜の曲' -metadata artist='Marlix Trio' -metadata album='Tests' '" + tagged + "'",
                     &status);
    ASSERT_EQ(status, 0);
    test::WriteTone(plain, 4410, 44100);

    TPlayerState state;
    TPendingAdditions pending;
    TPlaylist playlist(state, pending);
    playlist.Add(tagged);
    playlist.Add("Evening*" + plain);
    TFo_Decoder decoder;
    TMprisService mpris(state, decoder, playlist);
    EXPECT_FALSE(mpris.Metadata().contains("xesam:title")) << "nothing open, nothing told";

    const struct {
        std::string File;
        const char* Title;
        const char* Artist;
        const char* Album;
    } cases[] = {
        {tagged, "夜の曲", "Marlix Trio", "Tests"},
        {plain, "Evening", "Folder Artist", "Folder Album"},
        {tagged, "夜の曲", "Marlix Trio", "Tests"}, // read again for the next track
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        decoder.OpenSource(c.File);
        ASSERT_TRUE(decoder.IsOpen);
        const QVariantMap m = mpris.Metadata();
        EXPECT_EQ(m.value("xesam:title").toString().toStdString(), c.Title);
        EXPECT_EQ(m.value("xesam:artist").toStringList(), QStringList{QString::fromUtf8(c.Artist)});
        EXPECT_EQ(m.value("xesam:album").toString().toStdString(), c.Album);
    }
    decoder.CloseSource();
}

} // namespace
} // namespace marlix
