#include "gui/placement.h"
#include "settings/inifile.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QWidget>
#include <gtest/gtest.h>

namespace marlix {
namespace {

struct TPlacementCase {
    const char* what;
    int state; // 0 normal, 1 minimised, 2 maximised
};

// Saved and loaded again, a window comes back with the same normal rectangle and state;
// the keys hold the normal rectangle whatever the state.
TEST(Placement, RoundTrips)
{
    const TPlacementCase cases[] = {{"normal", 0}, {"minimised", 1}, {"maximised", 2}};
    const QRect normal(40, 60, 320, 200);
    for (const TPlacementCase& c : cases) {
        TIniFile ini("");
        QWidget w;
        w.setGeometry(normal);
        w.show();
        QApplication::processEvents();
        if (c.state == 1)
            w.showMinimized();
        if (c.state == 2)
            w.showMaximized();
        QApplication::processEvents();
        SaveWindowPlacement(ini, "PlaylistWnd", &w);
        EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "Left", -1), 40) << c.what;
        EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "Top", -1), 60) << c.what;
        EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "Width", -1), 320) << c.what;
        EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "Height", -1), 200) << c.what;
        EXPECT_EQ(ini.ReadInteger("PlaylistWnd", "State", -1), c.state) << c.what;
        EXPECT_EQ(w.isMaximized(), c.state == 2) << c.what << ": saving keeps the state";

        QWidget back;
        back.show();
        LoadWindowPlacement(ini, "PlaylistWnd", &back, QRect(1, 2, 30, 40), 0);
        QApplication::processEvents();
        EXPECT_EQ(back.isMinimized(), c.state == 1) << c.what;
        EXPECT_EQ(back.isMaximized(), c.state == 2) << c.what;
        back.setWindowState(Qt::WindowNoState);
        QApplication::processEvents();
        EXPECT_EQ(back.geometry(), normal) << c.what;
    }
}

// An MDI child's normal rectangle is known while it is minimised or maximised, and saving
// it that way leaves the child exactly as it was (nothing is asked of the display).
TEST(Placement, NormalRectangleOfAChildIsFollowedThroughItsStates)
{
    QMdiArea area;
    area.resize(900, 700);
    area.show();
    auto* sub = area.addSubWindow(new QWidget);
    sub->show();
    TNormalGeometry normal;
    normal.Watch(sub);
    const QRect place(30, 40, 300, 200);
    sub->setGeometry(place);
    const struct {
        const char* what;
        Qt::WindowState state;
        int saved;
    } cases[] = {{"minimised", Qt::WindowMinimized, 1}, {"maximised", Qt::WindowMaximized, 2}, {"normal", Qt::WindowNoState, 0}};
    for (const auto& c : cases) {
        sub->setWindowState(c.state);
        QApplication::processEvents();
        if (c.state != Qt::WindowNoState) {
            ASSERT_NE(sub->geometry(), place) << c.what;
        }
        EXPECT_EQ(normal.Of(sub), place) << c.what;
        TIniFile ini("");
        SaveWindowPlacement(ini, "SpectrumWnd", sub, normal.Of(sub));
        EXPECT_EQ(ini.ReadInteger("SpectrumWnd", "Left", -1), 30) << c.what;
        EXPECT_EQ(ini.ReadInteger("SpectrumWnd", "Height", -1), 200) << c.what;
        EXPECT_EQ(ini.ReadInteger("SpectrumWnd", "State", -1), c.saved) << c.what;
        EXPECT_EQ(sub->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), c.state) << c.what;
    }
}

TEST(Placement, DefaultsForMissingOrBrokenKeys)
{
    TIniFile ini("");
    ini.WriteInteger("BrowserWnd", "Left", 5);
    ini.WriteInteger("BrowserWnd", "Width", -20);
    ini.WriteInteger("BrowserWnd", "State", 7);
    QWidget w;
    w.show();
    LoadWindowPlacement(ini, "BrowserWnd", &w, QRect(10, 20, 300, 150), 0);
    QApplication::processEvents();
    EXPECT_EQ(w.geometry(), QRect(5, 20, 300, 150)) << "a size below 1 keeps the default size";
    EXPECT_FALSE(w.isMaximized() || w.isMinimized()) << "an unknown state is the default";

    QWidget v;
    v.show();
    LoadWindowPlacement(ini, "TonkaraWnd", &v, QRect(10, 20, 300, 150), 2);
    QApplication::processEvents();
    EXPECT_TRUE(v.isMaximized()) << "no section: the default state";
    EXPECT_EQ(kWindowSections.size(), 7u);
    EXPECT_EQ(kWindowSections.front(), "ConductorWnd");
}

} // namespace
} // namespace marlix
