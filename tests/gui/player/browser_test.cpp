#include "gui/paintbox.h"
#include "gui/player/browser.h"
#include "gui/player/browser2.h"
#include "gui/scrollframe.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "support/testutil.h"
#include "windowtest.h"

#include <QAction>
#include <QCheckBox>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <filesystem>
#include <gtest/gtest.h>

namespace marlix {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using test::Rgb;
using test::SendMouse;
using test::WriteText;

class BrowserWindow : public ::testing::Test {
protected:
    BrowserWindow()
    {
        music = home.Path() + "music/";
        for (const char* f : {"Alpha/Inner/1.wav", "Alpha/Inner/2.mp3", "Alpha/Inner/notes.txt", "Beta/b1.wav",
                              "Beta/sub/b2.mp3", "Beta/cover.jpg", "z.wav"}) {
            fs::create_directories(fs::path(music + f).parent_path());
            WriteText(music + f, "x");
        }
        settings.Operation.BrowseExts = "wav,mp3";
        settings.Operation.nBrowserType = 0;
        settings.View.bBrowserSmoothScroll = false;
        settings.Function.FavoritePath = home.Path() + "favorites/";
        settings.Function.DownloadPath = home.Path() + "downloads/";
        fs::create_directories(settings.Function.FavoritePath);
        window = std::make_unique<TFo_Browser>(settings, state, pending, nullptr, THistory(home.Path() + "history/"),
                                               music);
        window->resize(145, 400);
        window->show();
        QApplication::processEvents();
    }

    // Moves over `row` of `frame`, in its triangle zone or on its text.
    static void Hover(TFr_Browser* frame, int row, bool zone)
    {
        TPaintBox* box = frame->PaintBox();
        SendMouse(box, QEvent::MouseMove, {zone ? box->width() - 5.0 : 20.0, row * frame->RowHeight + 5.0},
                  Qt::NoButton);
    }
    static void Click(TFr_Browser* frame, QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        SendMouse(frame->PaintBox(), QEvent::MouseMove, at, Qt::NoButton);
        SendMouse(frame->PaintBox(), QEvent::MouseButtonPress, at, button);
        SendMouse(frame->PaintBox(), QEvent::MouseButtonRelease, at, button);
    }
    static void ClickRow(TFr_Browser* frame, int row, bool zone = false)
    {
        Click(frame, QPoint(zone ? frame->PaintBox()->width() - 5 : 20, row * frame->RowHeight + 5));
    }
    // The pop-up of the music folder, once its listing has come back from the worker.
    TFo_Browser2* OpenMusic()
    {
        Hover(window->Frame(), 0, false);
        Hover(window->Frame(), 0, true);
        if (!QTest::qWaitFor([&] { return window->Popup() != nullptr; }, 5000))
            return nullptr;
        return window->Popup();
    }
    // Every addition once the worker is done and its answer delivered.
    std::vector<std::string> Additions()
    {
        window->Lister().Flush();
        QApplication::processEvents();
        window->Lister().Flush(); // the folder plays recorded after the answer
        return pending.Take();
    }

    test::TempProgramFolder home;
    std::string music;
    TSettings settings;
    TPlayerState state;
    TPendingAdditions pending;
    std::unique_ptr<TFo_Browser> window;
};

TEST_F(BrowserWindow, RootListAndPopupChainWithSkippedSingleFolders)
{
    EXPECT_EQ(window->Roots().Entries(), (Names{music, settings.Function.DownloadPath, settings.Function.FavoritePath}));
    Hover(window->Frame(), 0, false);
    window->Lister().Flush();
    QApplication::processEvents();
    EXPECT_EQ(window->Popup(), nullptr) << "no pop-up left of the triangle zone";

    TFo_Browser2* popup = OpenMusic();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->Frame()->Entries, (Names{"!z.wav", "Alpha", "Beta"}));
    const TFr_Browser* root = window->Frame();
    const QPoint at = root->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(popup->geometry(), QRect(at.x() + root->width() + 1, at.y() - 1, root->width() + 2, root->height() + 2));

    Hover(popup->Frame(), 1, true); // "Alpha" holds only "Inner"
    ASSERT_TRUE(QTest::qWaitFor([&] { return popup->Child() != nullptr; }, 5000));
    EXPECT_EQ(popup->Child()->Frame()->Folder, music + "Alpha/Inner/");
    EXPECT_EQ(popup->Child()->Frame()->Entries, (Names{"!1.wav", "!2.mp3"}));
    EXPECT_TRUE(popup->Frame()->PaintBox()->toolTip().startsWith("1.wav\n2.mp3"));
    EXPECT_EQ(popup->Child()->x(), popup->geometry().right() + 1);

    // Esc in a pop-up closes the whole chain at the browser's next tick.
    QTest::keyClick(popup, Qt::Key_Escape);
    window->Ti_CheckTimer();
    EXPECT_EQ(window->Popup(), nullptr);

    settings.Operation.bBrowserSkipSubFolder = false;
    popup = OpenMusic();
    ASSERT_NE(popup, nullptr);
    Hover(popup->Frame(), 1, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return popup->Child() != nullptr; }, 5000));
    EXPECT_EQ(popup->Child()->Frame()->Entries, Names{"Inner"});
}

TEST_F(BrowserWindow, ClicksAddFilesRecordFolderPlaysAndFollowJukeBoxAndReserve)
{
    TFo_Browser2* popup = OpenMusic();
    ASSERT_NE(popup, nullptr);
    pending.Add("left over");
    ClickRow(popup->Frame(), 2); // "Beta", on its name
    EXPECT_EQ(Additions(), (Names{music + "Beta/b1.wav", music + "Beta/sub/b2.mp3"}));
    THistory history(home.Path() + "history/");
    EXPECT_EQ(history.Count(music + "Beta"), 1);
    EXPECT_EQ(history.Count(music + "Beta/sub"), 1);
    EXPECT_EQ(history.Count(music), 0) << "the pop-up's root is not counted";
    window->Ti_CheckTimer();
    EXPECT_EQ(window->Popup(), nullptr) << "a click closes the pop-ups unless reserving";

    // Reserving: the pin holds the pop-up open; the check box sets "Reserve".
    window->findChild<QCheckBox*>("Ch_Reserve")->click();
    EXPECT_TRUE(state.Reserve);
    popup = OpenMusic();
    ASSERT_NE(popup, nullptr);
    ClickRow(popup->Frame(), 0);
    EXPECT_EQ(Additions(), Names{music + "z.wav"});
    window->Ti_CheckTimer();
    EXPECT_EQ(window->Popup(), popup);

    // Juke-box mode: a folder adds nothing, a file still does.
    settings.Operation.bJukeBoxMode = true;
    ClickRow(popup->Frame(), 2);
    EXPECT_EQ(Additions(), Names{});
    ClickRow(popup->Frame(), 0);
    EXPECT_EQ(Additions(), Names{music + "z.wav"});

    // The root list takes clicks only with bClickRoot, and records no folder plays.
    settings.Operation.bJukeBoxMode = false;
    ClickRow(window->Frame(), 0);
    EXPECT_EQ(Additions(), Names{});
    settings.Operation.bClickRoot = true;
    ClickRow(window->Frame(), 0);
    EXPECT_EQ(Additions().size(), 5u);
    EXPECT_EQ(history.Count(music + "Alpha"), 0);
}

TEST_F(BrowserWindow, SortMenuAndOrderButtonReorderFromHistory)
{
    fs::create_directories(home.Path() + "history/");
    THistory history(home.Path() + "history/");
    WriteText(history.FileFor(music), "[Count]\nBeta=3\nz.wav=1\n[Date]\nAlpha=45000\nz.wav=44000\n");
    auto* sort = window->findChild<QToolButton*>("Bu_Sort");
    auto* order = window->findChild<QToolButton*>("Bu_Order");
    struct Case {
        int Mode;
        bool Inverse;
        Names Expected;
        const char* Caption;
    } cases[] = {
        {0, false, {"!z.wav", "Alpha", "Beta"}, "名前順"},
        {3, false, {"Beta", "!z.wav", "Alpha"}, "頻度順"},
        {3, true, {"Alpha", "!z.wav", "Beta"}, "頻度順"},
        {2, true, {"Beta", "!z.wav", "Alpha"}, "再生順"},
        {1, false, {"!z.wav", "Alpha", "Beta"}, "新着順"},
    };
    for (const Case& c : cases) {
        window->findChild<QAction*>(QStringLiteral("PM_Sort%1").arg(c.Mode))->trigger();
        if (state.SortInv != c.Inverse)
            order->click();
        window->Ti_CheckTimer();
        EXPECT_EQ(sort->text(), QString::fromUtf8(c.Caption));
        EXPECT_EQ(order->text(), c.Inverse ? QStringLiteral("降順") : QStringLiteral("昇順"));
        TFo_Browser2* popup = OpenMusic();
        ASSERT_NE(popup, nullptr);
        EXPECT_EQ(popup->Frame()->Entries, c.Expected) << c.Caption << (c.Inverse ? " 降順" : "");
    }
    EXPECT_EQ(state.SortMode, 1);
}

TEST_F(BrowserWindow, WheelScrollsThreeRowsPerNotch)
{
    for (int i = 0; i < 40; ++i)
        window->AddFolder(home.Path() + "folder" + std::to_string(100 + i));
    TFr_Browser* frame = window->Frame();
    EXPECT_TRUE(frame->ScrollFrame()->isVisible());
    QWheelEvent down(QPointF(20, 20), window->mapToGlobal(QPointF(20, 20)), {}, QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window.get(), &down);
    EXPECT_EQ(frame->Scroll, 3);
    EXPECT_EQ(frame->ScrollFrame()->Position(), 3);
    Hover(frame, 0, false);
    EXPECT_EQ(frame->HoverIndex, 3);

    // The root list's delete item removes the hovered user folder only.
    window->Ti_CheckTimer();
    QAction* del = window->findChild<QAction*>("PM_Delete");
    EXPECT_TRUE(del->isEnabled());
    del->trigger();
    EXPECT_EQ(window->Roots().Entries()[3], home.Path() + "folder101/");
    TIniFile ini(home.File("setting.ini"));
    window->SaveRoots(ini);
    EXPECT_EQ(ini.ReadString("FolderList", "0", ""), home.Path() + "folder101/");
    EXPECT_EQ(ini.ReadSection("FolderList").size(), 39u);
}

TEST_F(BrowserWindow, PagedPopupFillsTheScreenAndTurnsPages)
{
    for (int i = 0; i < 300; ++i)
        WriteText(music + "Beta/t" + std::to_string(100 + i) + ".wav", "x");
    settings.Operation.nBrowserType = 1;
    TFo_Browser2* popup = OpenMusic();
    ASSERT_NE(popup, nullptr);
    const TFr_Browser* root = window->Frame();
    const QPoint at = root->mapToGlobal(QPoint(0, 0));
    const QRect screen = window->screen()->geometry();
    const int left = at.x() + root->width() + 1, top = at.y() - 22;
    EXPECT_EQ(popup->geometry(),
              QRect(left, top, ((screen.width() - left - 32) / root->width()) * root->width() + 2,
                    screen.height() - top - 32));

    // The triangle of the folder "Beta" (third entry): its first row is RGB(64,64,255).
    TFr_Browser* frame = popup->Frame();
    const int rh = frame->RowHeight, cw = frame->ColumnWidth;
    EXPECT_EQ(Rgb(frame->Picture(), cw - 1 - 13, 2 * rh + (rh - 9) / 2), 0x4040FFu);
    // A folder opens in place from its triangle.
    Click(frame, QPoint(cw - 5, 2 * rh + 5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame->Folder == music + "Beta/"; }, 5000));
    ASSERT_EQ(frame->Entries.size(), 302u);
    const TBrowserGeometry g = frame->Geometry();
    ASSERT_GT(g.Pages(), 1);
    // "次のページ" in bold dark blue in the second bottom cell, then a page further.
    const QImage before = frame->Picture();
    bool blue = false;
    for (int x = cw; x < 2 * cw; ++x)
        for (int y = g.Rows() * rh; y < (g.Rows() + 1) * rh; ++y)
            blue = blue || Rgb(before, x, y) == 0x0000C0u;
    EXPECT_TRUE(blue);
    Click(frame, QPoint(cw + 10, g.Rows() * rh + 5));
    EXPECT_EQ(frame->Scroll, g.PageSize());
    // The wheel moves one column; "戻る" returns to the music folder at its old position.
    QWheelEvent up(QPointF(20, 20), popup->mapToGlobal(QPointF(20, 20)), {}, QPoint(0, 120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(popup, &up);
    EXPECT_EQ(frame->Scroll, g.PageSize() - g.Rows());
    ASSERT_GT(g.Columns(), 2) << "the screen leaves room for the back button";
    {
        Click(frame, QPoint((g.Columns() - 1) * cw + 10, g.Rows() * rh + 5));
        window->Ti_CheckTimer();
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame->Folder == music; }, 5000));
        EXPECT_EQ(frame->Scroll, 0);
        // Back from the chain's root closes the chain.
        Click(frame, QPoint((g.Columns() - 1) * cw + 10, g.Rows() * rh + 5));
        window->Ti_CheckTimer();
        EXPECT_EQ(window->Popup(), nullptr);
    }

    // With smooth scrolling the page slides before the new page shows.
    settings.View.bBrowserSmoothScroll = true;
    popup = OpenMusic();
    ASSERT_NE(popup, nullptr);
    frame = popup->Frame();
    Click(frame, QPoint(cw - 5, 2 * rh + 5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame->Folder == music + "Beta/"; }, 5000));
    Click(frame, QPoint(cw + 10, frame->Geometry().Rows() * rh + 5));
    EXPECT_TRUE(frame->SlideRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame->SlideRunning(); }, 5000));
    EXPECT_EQ(frame->Scroll, frame->Geometry().PageSize());
}

TEST_F(BrowserWindow, TranslucencyAndFontFollowTheSettings)
{
    TFo_Browser2* popup = OpenMusic();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->windowOpacity(), 1.0);
    settings.View.bBrowserAlphaBlend = true;
    settings.View.nBrowserAlphaBlendValue = 51;
    settings.View.nBrowserFontSize = 12; // 16 pixels
    window->ClosePopups();
    popup = OpenMusic();
    ASSERT_NE(popup, nullptr);
    EXPECT_NEAR(popup->windowOpacity(), 204 / 255.0, 0.01);
    EXPECT_EQ(popup->Frame()->RowHeight, 25);
    SendMouse(popup->Frame()->PaintBox(), QEvent::MouseMove, {20, 45}, Qt::NoButton);
    EXPECT_EQ(popup->Frame()->HoverIndex, 1) << "rows follow the font's height (row 2 at 21 pixels)";
    // A registered folder that is gone opens nothing.
    window->AddFolder(home.Path() + "gone");
    Hover(window->Frame(), 3, true);
    window->Lister().Flush();
    QApplication::processEvents();
    EXPECT_EQ(window->Popup(), nullptr);
}

TEST_F(BrowserWindow, BackWithSkippedFoldersStopsAtTheChainsRoot)
{
    const std::string solo = home.Path() + "solo/";
    for (const char* f : {"Only/Deep/a.wav", "Only/Deep/b.wav"}) {
        fs::create_directories(fs::path(solo + f).parent_path());
        WriteText(solo + f, "x");
    }
    window->AddFolder(solo);
    settings.Operation.nBrowserType = 1;
    Hover(window->Frame(), 3, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Popup() != nullptr; }, 5000));
    TFr_Browser* frame = window->Popup()->Frame();
    EXPECT_EQ(frame->Folder, solo + "Only/Deep/");
    const TBrowserGeometry g = frame->Geometry();
    ASSERT_GT(g.Columns(), 2);
    Click(frame, QPoint((g.Columns() - 1) * g.ColumnWidth + 10, g.Rows() * g.RowHeight + 5));
    window->Lister().Flush();
    QApplication::processEvents();
    EXPECT_EQ(frame->Folder, solo) << "climbing past single folders stays inside the registered folder";
    EXPECT_EQ(frame->Entries, Names{"Only"});
}

TEST_F(BrowserWindow, FavouritesMenuAndPaintedRows)
{
    WriteText(settings.Function.FavoritePath + "jazz.mxp", "x");
    settings.Operation.BrowseExts = "wav,mp3,mxp";
    Hover(window->Frame(), 2, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Popup() != nullptr; }, 5000));
    TFr_Browser* frame = window->Popup()->Frame();
    EXPECT_EQ(frame->Entries, Names{"!jazz.mxp"});
    Hover(frame, 0, false);
    auto* menu = frame->findChild<QMenu*>("PM_Favorites");
    SendMouse(frame->PaintBox(), QEvent::MouseButtonPress, {20, 5}, Qt::RightButton);
    QContextMenuEvent context(QContextMenuEvent::Mouse, QPoint(20, 5), frame->PaintBox()->mapToGlobal(QPoint(20, 5)));
    QApplication::sendEvent(frame->PaintBox(), &context);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_FALSE(window->Context().CloseRequest) << "a right click in the favourites keeps the pop-up";
    EXPECT_TRUE(frame->findChild<QAction*>("PM_FavDelete")->isEnabled());
    menu->hide();
    frame->findChild<QAction*>("PM_NewFavorite")->trigger();
    EXPECT_TRUE(state.NewFavoriteRequest);
    frame->findChild<QAction*>("PM_FavDelete")->trigger();
    EXPECT_FALSE(fs::exists(settings.Function.FavoritePath + "jazz.mxp"));
    window->Ti_CheckTimer();
    EXPECT_EQ(window->Popup(), nullptr);

    // Single list in name order: a separator above "Beta" (new first letter), the hovered
    // row's bar, display names in the root list.
    TFo_Browser2* popup = OpenMusic();
    ASSERT_NE(popup, nullptr);
    frame = popup->Frame();
    Hover(frame, 0, false);
    const QImage img = frame->Picture();
    const int rh = frame->RowHeight;
    EXPECT_EQ(Rgb(img, 1, 2 * rh), 0xA0A0A0u);
    EXPECT_EQ(Rgb(img, 1, 2 * rh + 1), 0xFFFFFFu);
    const uint32_t bar = Rgb(img, 1, rh / 2);
    EXPECT_NEAR(int(bar >> 16), 224, 4);
    EXPECT_EQ(bar & 0xFF, 0xFFu);
    EXPECT_EQ(Rgb(window->Frame()->Picture(), 1, rh), 0xFFFFFFu) << "no separators in the root list";
}

} // namespace
} // namespace marlix
