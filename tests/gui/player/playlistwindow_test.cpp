#include "gui/paintbox.h"
#include "gui/player/playlistwindow.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "settings/settings.h"
#include "windowtest.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <gtest/gtest.h>

namespace marlix {
namespace {

using test::Rgb;
using test::SendMouse;

class PlaylistWindow : public ::testing::Test {
protected:
    PlaylistWindow()
    {
        for (const char* name : {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3", "/m/d.mp3", "/m/e.mp3"})
            playlist.Add(name);
        window.resize(300, 300);
        window.Ti_CheckTimer();
        list = window.findChild<TPaintBox*>("PB_List");
    }

    int RowY(int row) const { return row * window.RowHeight() + 5; }
    void Click(int row, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        SendMouse(list, QEvent::MouseMove, {20, double(RowY(row))}, Qt::NoButton);
        SendMouse(list, QEvent::MouseButtonPress, {20, double(RowY(row))}, Qt::LeftButton, mods);
        SendMouse(list, QEvent::MouseButtonRelease, {20, double(RowY(row))}, Qt::LeftButton, mods);
    }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QKeyEvent e(QEvent::KeyPress, key, mods);
        QApplication::sendEvent(&window, &e);
    }
    std::string Selected() const
    {
        std::string s;
        for (const TPlayItem& i : playlist.Items())
            if (i.Selected)
                s += i.DisplayName().substr(0, 1);
        return s;
    }

    TPlayerState state;
    TPendingAdditions pending;
    TPlaylist playlist{state, pending};
    TSettings settings;
    TFo_Playlist window{state, playlist, settings};
    TPaintBox* list = nullptr;
};

TEST_F(PlaylistWindow, MouseAndKeysSelect)
{
    struct TStep {
        char kind; // 'c' click, 's' shift-click, 'k' ctrl-click, 'u'/'d' arrow up/down, 'U' shift+up, 'x' Delete
        int row;
    };
    struct TCase {
        const char* what;
        std::vector<TStep> steps;
        std::string selected;
        int cursor;
        int count;
    };
    const TCase cases[] = {
        {"click", {{'c', 1}}, "b", 1, 5},
        {"shift-click selects a range", {{'c', 1}, {'s', 3}}, "bcd", 3, 5},
        {"shift-click upwards", {{'c', 3}, {'s', 0}}, "abcd", 0, 5},
        {"ctrl-click adds", {{'c', 1}, {'k', 3}}, "bd", 3, 5},
        {"ctrl-click toggles off", {{'c', 1}, {'k', 1}}, "", 1, 5},
        {"arrows move the selection", {{'c', 1}, {'d', 0}, {'d', 0}}, "d", 3, 5},
        {"shift+arrow extends from the anchor", {{'c', 2}, {'d', 0}, {'U', 0}, {'U', 0}}, "bcd", 1, 5},
        {"arrows stop at the ends", {{'c', 4}, {'d', 0}}, "e", 4, 5},
        {"Delete removes the selection", {{'c', 1}, {'k', 3}, {'x', 0}}, "", -1, 3},
    };
    for (const TCase& c : cases) {
        playlist.Clear();
        for (const char* name : {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3", "/m/d.mp3", "/m/e.mp3"})
            playlist.Add(name);
        for (const TStep& s : c.steps) {
            switch (s.kind) {
            case 'c': Click(s.row); break;
            case 's': Click(s.row, Qt::ShiftModifier); break;
            case 'k': Click(s.row, Qt::ControlModifier); break;
            case 'u': Key(Qt::Key_Up); break;
            case 'd': Key(Qt::Key_Down); break;
            case 'U': Key(Qt::Key_Up, Qt::ShiftModifier); break;
            case 'x': Key(Qt::Key_Delete); break;
            }
        }
        EXPECT_EQ(Selected(), c.selected) << c.what;
        EXPECT_EQ(playlist.CursorIndex, c.cursor) << c.what;
        EXPECT_EQ(playlist.Count(), c.count) << c.what;
    }
    const std::vector<std::string> left{playlist.Item(0).FileName, playlist.Item(1).FileName, playlist.Item(2).FileName};
    EXPECT_EQ(left, (std::vector<std::string>{"/m/a.mp3", "/m/c.mp3", "/m/e.mp3"}));
}

TEST_F(PlaylistWindow, DoubleClickPostsPlayFromTheCursor)
{
    playlist.PlayingIndex = 0;
    state.BGMActive = true;
    Click(2);
    SendMouse(list, QEvent::MouseButtonDblClick, {20, double(RowY(2))});
    EXPECT_EQ(state.Command.Take(), "Play");
    EXPECT_FALSE(state.BGMActive);
    EXPECT_EQ(playlist.PlayingIndex, -1);
    EXPECT_EQ(playlist.NextTrack(), "/m/c.mp3") << "the loop then plays the cursor's entry";

    // A double-click with no cursor posts nothing.
    playlist.CursorIndex = -1;
    playlist.HoverIndex = -1;
    SendMouse(list, QEvent::MouseButtonDblClick, {20, 290});
    EXPECT_TRUE(state.Command.Empty());
    EXPECT_FALSE(window.findChild<QAction*>("PM_Download")->isVisible());
}

TEST_F(PlaylistWindow, PaintsPlayingPlayedFailedAndCursorRows)
{
    playlist.Item(0).Played = true;
    playlist.Item(1).Failed = true;
    playlist.PlayingIndex = 2;
    playlist.CursorIndex = 3;
    playlist.Item(4).Selected = true;
    window.Ti_CheckTimer();
    const QImage img = list->Image();
    const int h = window.RowHeight();
    ASSERT_EQ(h, 21) << "9-point font: 12 pixels + 9";
    const int x = img.width() - 2; // right of any text
    // Playing: white mixed half with red is (255,127,127); the bar's centre mixes that
    // half with white, and the lower half of the bar begins at the centre colour.
    EXPECT_EQ(Rgb(img, x, 2 * h + h / 2), 0xFFBFBFu);
    // Its top edge is the row colour 1/6 towards black: 255·5/6 = 212, 127·5/6 = 105.
    EXPECT_EQ(Rgb(img, x, 2 * h), 0xD46969u);
    // The cursor row is framed in blue; a row that is only selected is plain.
    EXPECT_EQ(Rgb(img, 0, 3 * h + 5), 0x0000FFu);
    EXPECT_EQ(Rgb(img, x, 4 * h + 5), 0xC0C0FFu);
    EXPECT_EQ(Rgb(img, x, 0 * h + 5), 0xFFFFFFu);

    // Text colours: the played row has grey ink and nothing darker, the failed row red.
    auto ink = [&](int row, auto pred) {
        for (int y = row * h; y < (row + 1) * h; ++y)
            for (int xx = 0; xx < 100; ++xx)
                if (pred(QColor(img.pixel(xx, y))))
                    return true;
        return false;
    };
    EXPECT_TRUE(ink(0, [](QColor c) { return c.red() == 128 && c.green() == 128 && c.blue() == 128; }));
    EXPECT_FALSE(ink(0, [](QColor c) { return c.red() < 100; }));
    EXPECT_TRUE(ink(1, [](QColor c) { return c.red() == 255 && c.green() == 0 && c.blue() == 0; }));
    EXPECT_FALSE(ink(1, [](QColor c) { return c.red() < 200; })) << "no black or grey ink on the failed row";
}

TEST_F(PlaylistWindow, ScrollFrameAndWheel)
{
    for (int i = 0; i < 40; ++i)
        playlist.Add("/m/x" + std::to_string(i) + ".mp3");
    window.Ti_CheckTimer();
    auto* frame = window.findChild<QWidget*>("Fr_Scroll");
    EXPECT_FALSE(frame->isHidden()) << "45 rows do not fit 300 pixels";
    EXPECT_EQ(list->width(), 300 - 16);
    QWheelEvent down(QPointF(20, 20), QPointF(20, 20), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(list, &down);
    EXPECT_EQ(window.FirstVisible(), 3) << "one notch is 120 / 40 rows";
    Click(0);
    EXPECT_EQ(playlist.CursorIndex, 3) << "rows count from the first visible entry";
    playlist.Clear();
    window.Ti_CheckTimer();
    EXPECT_TRUE(frame->isHidden());
}

} // namespace
} // namespace marlix
