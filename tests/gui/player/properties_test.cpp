#include "gui/player/about.h"
#include "gui/player/properties.h"
#include "support/testutil.h"

#include <QApplication>
#include <QLabel>
#include <alsa/version.h>
#include <filesystem>
#include <gtest/gtest.h>

namespace marlix {
namespace {

TEST(PropertiesDialog, ShowsFileFormatLengthAndTagsOfAnMp3)
{
    if (!test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    test::TempDir dir;
    const std::string mp3 = dir.File("tagged.mp3");
    int status = 0;
    test::RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=3 -ar 44100 -ac 2 -b:a 128k "
                     "-metadata title='夜の曲' -metadata artist='Marlix Trio' -metadata album='Tests' "
                     "-metadata comment='one\ttwo' '" + mp3 + "'",
                     &status);
    ASSERT_EQ(status, 0);

    TFo_Properties dialog("My Title*" + mp3);
    struct TRow {
        const char* key;
        std::string value;
    };
    const TRow rows[] = {
        {"名前", "My Title"},
        {"ファイル名", "tagged.mp3"},
        {"場所", dir.Path().substr(0, dir.Path().size() - 1)},
        {"サイズ", std::to_string(std::filesystem::file_size(mp3)) + " バイト"},
        {"サンプリング周波数", "44100Hz"},
        {"チャンネル", "2"},
        {"長さ", "00:00:03"},
        {"タイトル", "夜の曲"},
        {"アーティスト", "Marlix Trio"},
        {"アルバム", "Tests"},
        {"コメント", "one two"}, // a tab would break the module's line format
    };
    for (const TRow& r : rows)
        EXPECT_EQ(dialog.Value(QString::fromUtf8(r.key)).toStdString(), r.value) << r.key;
    EXPECT_TRUE(dialog.Value(QStringLiteral("形式")).contains(QStringLiteral("mp3"), Qt::CaseInsensitive));

    // A file that is not audio, a missing file and a URL: the file rows only, no format.
    test::WriteText(dir.File("noise.mp3"), std::string(5000, '\x5a'));
    for (const std::string& entry : {dir.File("noise.mp3"), dir.File("gone.mp3"), std::string("http://127.0.0.1:9/x.mp3")}) {
        TFo_Properties other(entry);
        EXPECT_TRUE(other.Value(QStringLiteral("形式")).isEmpty()) << entry;
    }
    EXPECT_EQ(TFo_Properties(dir.File("gone.mp3")).Value(QStringLiteral("サイズ")).toStdString(), "ファイルが見つかりません");
}

TEST(AboutDialog, NamesTheComponentsWithTheirRunTimeVersions)
{
    std::map<QString, QString> v;
    for (const auto& [name, version] : ComponentVersions())
        v[name] = version;
    ASSERT_EQ(v.size(), 5u);
    EXPECT_EQ(v["Qt"], QString::fromLatin1(qVersion()));
    EXPECT_EQ(v["ALSA"], QStringLiteral(SND_LIB_VERSION_STR));
    EXPECT_TRUE(v["FFTW"].startsWith(QStringLiteral("fftw-3"))) << v["FFTW"].toStdString();
    const std::string ffmpeg = test::RunCommand("ffmpeg -version | head -1");
    EXPECT_FALSE(v["FFmpeg"].isEmpty());
    EXPECT_NE(ffmpeg.find(v["FFmpeg"].toStdString()), std::string::npos) << ffmpeg;
    EXPECT_TRUE(v["JACK"].front().isDigit()) << v["JACK"].toStdString();

    TFo_About about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("バージョン情報"));
    EXPECT_EQ(about.findChild<QLabel*>("La_Version_FFmpeg")->text(), v["FFmpeg"]);
}

} // namespace
} // namespace marlix
