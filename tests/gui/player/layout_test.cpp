#include "gui/player/layout.h"

#include <gtest/gtest.h>

namespace marlix {
namespace {

// Layout 4 on a 1000 x 700 client with frames of 8 x 30, worked out by hand from the
// layout's table: the left column splits (700 - 4) / 2 = 348 and 348.
TEST(Layout, FourOnAThousandBySevenHundred)
{
    const TLayoutRects r = ComputeLayout(4, QSize(1000, 700), QSize(8, 30), {});
    EXPECT_EQ(r[lwBrowser], QRect(0, 0, 248, 348));
    EXPECT_EQ(r[lwInformation], QRect(0, 348, 248, 348));
    EXPECT_EQ(r[lwConductor], QRect(248, 0, 396, 150));
    EXPECT_EQ(r[lwPlaylist], QRect(248, 150, 396, 546));
    EXPECT_EQ(r[lwSpectrum], QRect(644, 0, 352, 350));
    EXPECT_EQ(r[lwEqualizer], QRect(644, 350, 352, 346));

    // A transport that cannot be smaller than 642 x 150 widens its column instead.
    std::array<QSize, LayoutWindowCount> minimum{};
    minimum[lwConductor] = QSize(642, 150);
    const TLayoutRects wide = ComputeLayout(4, QSize(1000, 700), QSize(8, 30), {}, minimum);
    EXPECT_EQ(wide[lwConductor], QRect(248, 0, 650, 180));
    EXPECT_EQ(wide[lwSpectrum], QRect(898, 0, 98, 350));
}

// Every layout tiles the client, less a 4-pixel margin at the right and bottom, with no
// gap and no overlap, whatever the client and frame sizes and the windows' sizes before.
TEST(Layout, EveryLayoutTilesTheClient)
{
    const struct {
        QSize Client, Frame, Before;
    } cases[] = {{{1000, 700}, {8, 30}, {100, 100}}, {{1600, 1000}, {2, 24}, {640, 480}}, {{1280, 900}, {0, 0}, {1, 1}}};
    for (const auto& c : cases)
        for (int layout = 1; layout <= 6; ++layout) {
            std::array<QSize, LayoutWindowCount> before;
            before.fill(c.Before);
            std::array<QSize, LayoutWindowCount> minimum{};
            minimum[lwConductor] = QSize(c.Client.width() / 3, 150);
            const TLayoutRects r = ComputeLayout(layout, c.Client, c.Frame, before, minimum);
            const QRect area(0, 0, c.Client.width() - 4, c.Client.height() - 4);
            long long covered = 0;
            for (int i = 0; i < LayoutWindowCount; ++i) {
                EXPECT_TRUE(area.contains(r[i])) << "layout " << layout << " window " << i;
                covered += static_cast<long long>(r[i].width()) * r[i].height();
                for (int j = i + 1; j < LayoutWindowCount; ++j)
                    EXPECT_FALSE(r[i].intersects(r[j])) << "layout " << layout << " windows " << i << ", " << j;
            }
            EXPECT_EQ(covered, static_cast<long long>(area.width()) * area.height()) << "layout " << layout;
        }
}

} // namespace
} // namespace marlix
