#include "engine/decoder.h"
#include "gui/paintbox.h"
#include "gui/player/conductor.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "support/testutil.h"
#include "windowtest.h"

#include <QLabel>
#include <QPalette>
#include <QToolButton>
#include <gtest/gtest.h>

namespace marlix {
namespace {

using test::Rgb;
using test::SendMouse;

TEST(Conductor, TimeAndVolumeTextsAndTheSeekPixel)
{
    const std::pair<int64_t, const char*> times[] = {
        {0, "00:00:00"},
        {59 * 60000 + 59 * 1000 + 999, "00:59:59"},
        {3 * 3600000 + 5 * 60000, "03:05:00"},
        {61LL * 3600000, "01:00:00"}, // hours wrap at 60
    };
    for (const auto& [ms, text] : times)
        EXPECT_EQ(TimeText(ms).toStdString(), text) << ms;

    const std::pair<int, const char*> volumes[] = {{-125, "-12.5dB"}, {0, "-0.0dB"}, {-360, "-36.0dB"}, {-5, "-0.5dB"}};
    for (const auto& [v, text] : volumes)
        EXPECT_EQ(VolumeText(v).toStdString(), text) << v;

    struct TSeek {
        double p, length;
        int pixel;
    };
    const TSeek seeks[] = {{500, 999, 0}, {20000, 60000, 62}, {60000, 60000, 185}, {0, 60000, 0}};
    for (const TSeek& s : seeks)
        EXPECT_EQ(SeekPixel(s.p, s.length, 185), s.pixel) << s.p << " of " << s.length;
}

TEST(Conductor, SeekBarAndDialPixels)
{
    // The bar's lower half starts at its centre colour: elapsed blue, the rest pale.
    const QImage bar = PaintSeekBar(185, 9, 50);
    EXPECT_EQ(Rgb(bar, 10, 4), 0xA0A0FFu);
    EXPECT_EQ(Rgb(bar, 100, 4), 0xE0E0FFu);
    EXPECT_EQ(Rgb(bar, 10, 0), 0x6060FFu);
    EXPECT_EQ(Rgb(bar, 100, 0), 0xA0A0FFu);
    EXPECT_EQ(Rgb(PaintSeekBar(185, 9, 0), 0, 4), 0xE0E0FFu);

    // −18 dB points straight up: the pointer crosses (25, 7); at −36 dB it does not.
    TVolumeDial dial(51, 51, PixRGB(240, 240, 240));
    EXPECT_EQ(Rgb(dial.Paint(-180), 25, 7), 0x808080u);
    EXPECT_NE(Rgb(dial.Paint(-360), 25, 7), 0x808080u);
    // Down-left at −36 dB the pointer runs from (10.5, 40.5) to (14.5, 36.5).
    EXPECT_EQ(Rgb(dial.Paint(-360), 12, 38), 0x808080u);
}

class ConductorWindow : public ::testing::Test {
protected:
    TPlayerState state;
    TPendingAdditions pending;
    TPlaylist playlist{state, pending};
    TFo_Decoder decoder;
    TFo_Conductor window{state, decoder, playlist};

    QToolButton* Button(const char* name) { return window.findChild<QToolButton*>(name); }
    void Click(const char* name)
    {
        Button(name)->click();
    }
};

TEST_F(ConductorWindow, TransportPostsCommandsByTheState)
{
    struct TCase {
        const char* what;
        bool running, paused;
        const char* button;
        const char* command;
    };
    const TCase cases[] = {
        {"play while playing stops", true, false, "Bu_Play", "Stop"},
        {"play while paused resumes", true, true, "Bu_Play", "Play"},
        {"play while stopped plays", false, false, "Bu_Play", "Play"},
        {"pause while stopped starts playback", false, false, "Bu_Pause", "Play"},
        {"back while stopped does nothing", false, false, "Bu_Back", ""},
        {"back while playing", true, false, "Bu_Back", "Back"},
        {"next while playing", true, false, "Bu_Next", "Next"},
        {"stop", true, false, "Bu_Stop", "Stop"},
    };
    for (const TCase& c : cases) {
        state.Command.Take();
        state.OutputRunning = c.running;
        state.Paused = c.paused;
        state.BGMActive = true;
        window.Ti_CheckTimer();
        Click(c.button);
        EXPECT_EQ(state.Command.Take(), c.command) << c.what;
    }
    EXPECT_FALSE(state.BGMActive) << "stop ends background music";

    // Pause while stopped leaves the pause button up and nothing paused.
    state.OutputRunning = false;
    state.Paused = false;
    window.Ti_CheckTimer();
    Click("Bu_Pause");
    EXPECT_FALSE(Button("Bu_Pause")->isChecked());
    EXPECT_FALSE(state.Paused);
    // While playing it pauses.
    state.OutputRunning = true;
    window.Ti_CheckTimer();
    Click("Bu_Pause");
    EXPECT_TRUE(state.Paused);
}

TEST_F(ConductorWindow, SwitchesWriteTheStateAndMirrorItBack)
{
    const int before = state.DSPChangeCount;
    Click("Bu_EQ");
    EXPECT_TRUE(state.EQ);
    EXPECT_EQ(state.DSPChangeCount, before + 1);
    Click("Bu_Repeat");
    EXPECT_TRUE(state.Repeat);
    Click("Bu_Auto"); // AVC starts on
    EXPECT_FALSE(state.AVC);
    EXPECT_EQ(state.DSPChangeCount, before + 1) << "AVC and modes are no DSP stages";
    Click("Bu_MatrixEdit");
    EXPECT_EQ(state.EditRequest, 3);

    // A shortcut switches a stage elsewhere: the next tick shows it lit in red.
    state.HSC = true;
    window.Ti_CheckTimer();
    EXPECT_TRUE(Button("Bu_HSC")->isChecked());
    EXPECT_EQ(Button("Bu_HSC")->palette().color(QPalette::ButtonText), QColor(255, 0, 0));
    state.HSC = false;
    window.Ti_CheckTimer();
    EXPECT_FALSE(Button("Bu_HSC")->isChecked());
    EXPECT_EQ(Button("Bu_HSC")->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
}

TEST_F(ConductorWindow, DialDragAndWheel)
{
    auto* dial = window.findChild<TPaintBox*>("PB_Master");
    auto* label = window.findChild<QLabel*>("La_MasterVolume");
    struct TDrag {
        QPointF at;
        int volume;
        const char* text;
    };
    const TDrag drags[] = {
        {{25.5, 2}, -180, "-18.0dB"}, // straight up from the centre (25.5, 25.5)
        {{5, 50}, -360, "-36.0dB"},  // below the scale's lower end
        {{45, 50}, 0, "-0.0dB"},     // beyond its upper end
        {{50, 25.5}, -60, "-6.0dB"},  // right: 0° is −((0 + 0.125) / 0.75) × 36
    };
    SendMouse(dial, QEvent::MouseButtonPress, {25, 25});
    EXPECT_EQ(state.MasterVolume, 0) << "pressing alone changes nothing";
    for (const TDrag& d : drags) {
        SendMouse(dial, QEvent::MouseMove, d.at);
        EXPECT_EQ(state.MasterVolume, d.volume) << d.text;
        window.Ti_CheckTimer();
        EXPECT_EQ(label->text().toStdString(), d.text);
    }
    SendMouse(dial, QEvent::MouseButtonRelease, {50, 25});
    SendMouse(dial, QEvent::MouseMove, {25, 2}, Qt::NoButton);
    EXPECT_EQ(state.MasterVolume, -60) << "moves after release do nothing";

    QWheelEvent up(QPointF(25, 25), QPointF(25, 25), {}, {0, 120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                   false);
    QApplication::sendEvent(dial, &up);
    EXPECT_EQ(state.MasterVolume, -50);
}

TEST_F(ConductorWindow, PositionTextAndSeekOnAnOpenTrack)
{
    test::TempDir dir;
    test::WriteTone(dir.File("ten.wav"), 80000, 8000); // 10 s
    window.Ti_CheckTimer();
    auto* position = window.findChild<QLabel*>("La_Position");
    EXPECT_EQ(position->text().toStdString(), "00:00:00 / 00:00:00");

    decoder.OpenSource(dir.File("ten.wav"));
    ASSERT_TRUE(decoder.IsOpen);
    auto* seek = window.findChild<TPaintBox*>("PB_Seek");
    SendMouse(seek, QEvent::MouseButtonPress, {37, 4}); // 37 × 10000 / 185 = 2000 ms
    EXPECT_DOUBLE_EQ(decoder.GetPositionMs(), 2000.0);
    EXPECT_TRUE(decoder.EndHandled) << "a sought track is never reported";
    window.Ti_CheckTimer();
    EXPECT_EQ(position->text().toStdString(), "00:00:02 / 00:00:10");
    EXPECT_EQ(Rgb(seek->Image(), 36, 4), 0xA0A0FFu);
    EXPECT_EQ(Rgb(seek->Image(), 38, 4), 0xE0E0FFu);

    // Dragging past the end seeks to the end, not beyond it.
    SendMouse(seek, QEvent::MouseMove, {400, 4});
    EXPECT_DOUBLE_EQ(decoder.GetPositionMs(), 10000.0);
    SendMouse(seek, QEvent::MouseButtonRelease, {400, 4});
    SendMouse(seek, QEvent::MouseMove, {0, 4}, Qt::NoButton);
    EXPECT_DOUBLE_EQ(decoder.GetPositionMs(), 10000.0) << "no seek once released";
}

} // namespace
} // namespace marlix
