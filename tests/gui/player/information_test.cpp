#include "engine/decoder.h"
#include "gui/player/information.h"
#include "player/outputchain.h"
#include "player/playerstate.h"
#include "settings/settings.h"
#include "support/testutil.h"
#include "windowtest.h"

#include <gtest/gtest.h>

namespace marlix {
namespace {

bool Has(const QStringList& lines, const char* line) { return lines.contains(QString::fromUtf8(line)); }

TEST(InformationWindow, FollowsTheFileTheStagesAndARateChange)
{
    test::TempDir dir;
    test::WriteTone(dir.File("a44.wav"), 4410, 44100);
    test::WriteTone(dir.File("b48.wav"), 4800, 48000);
    TPlayerState state;
    TSettings settings;
    settings.ReSampler.bUpSampling = true;
    settings.ReSampler.nUpFreq = 176400;
    settings.Output.bFreq[5] = true; // 176 400 Hz allowed
    TFo_Decoder decoder;
    TOutputChain chain(settings, state, decoder);
    TFo_Information window(state, decoder, chain, settings);
    window.resize(300, 600);
    window.Ti_CheckTimer();
    EXPECT_TRUE(window.Lines().isEmpty()) << "nothing plays: the window is empty";

    decoder.OpenSource(dir.File("a44.wav"));
    ASSERT_TRUE(chain.Start(false));
    window.Ti_CheckTimer();
    const QStringList first = window.Lines();
    for (const char* line : {"*再生中のファイル", "ファイル名 : a44.wav", "サンプリング周波数 : 44100Hz",
                             "チャンネル : 2", "ビット長 : 16bit", "EQ : -", "アップサンプリング : 44100Hz→176400Hz (4倍)",
                             "帯域制限周波数 : 44100Hz", "リサンプリング : -"})
        EXPECT_TRUE(Has(first, line)) << line << "\n" << first.join('\n').toStdString();
    EXPECT_TRUE(Has(first, ("場所 : " + dir.Path().substr(0, dir.Path().size() - 1)).c_str()));
    EXPECT_FALSE(first.join(' ').contains(QStringLiteral("Conv"))) << "the convolver is not listed";

    // A stage switched on is shown on the next tick.
    state.EQ = true;
    state.DSPChangeCount.fetch_add(1);
    window.Ti_CheckTimer();
    EXPECT_TRUE(Has(window.Lines(), "EQ : 有効"));

    // Another rate restarts the chain: 48 kHz × 4 resampled to 176.4 kHz.
    chain.Stop();
    decoder.OpenSource(dir.File("b48.wav"));
    ASSERT_TRUE(chain.Start(false));
    window.Ti_CheckTimer();
    for (const char* line : {"ファイル名 : b48.wav", "サンプリング周波数 : 48000Hz",
                             "アップサンプリング : 48000Hz→192000Hz (4倍)", "帯域制限周波数 : 48000Hz",
                             "リサンプリング : 192000Hz→176400Hz"})
        EXPECT_TRUE(Has(window.Lines(), line)) << line;

    chain.Stop();
    decoder.CloseSource();
    window.Ti_CheckTimer();
    EXPECT_TRUE(window.Lines().isEmpty());
}

} // namespace
} // namespace marlix
