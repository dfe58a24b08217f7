#include "gui/paintbox.h"
#include "gui/scrollframe.h"
#include "settings/setting.h"

#include <QTest>
#include <gtest/gtest.h>

namespace marlix {
namespace {

struct TScrollCase {
    const char* what;
    int count;
    int startPosition;
    int expectedMax;
    int expectedPosition;
};

// A frame 84 pixels high shows 4 rows of 21.
TEST(Scroll, CountsPositionsAndTheThumb)
{
    const TScrollCase cases[] = {
        {"10 rows shown 4 at a time", 10, 0, 6, 0},
        {"fewer rows than fit", 3, 2, 0, 0},
        {"exactly as many as fit", 4, 0, 0, 0},
        {"shrinking list pulls the position down", 8, 6, 4, 4},
        {"position within range stays", 12, 5, 8, 5},
    };
    for (const TScrollCase& c : cases) {
        TFr_Scroll fr(nullptr);
        fr.resize(16, 84);
        fr.SetCount(20);
        fr.SetPosition(c.startPosition);
        fr.SetCount(c.count);
        EXPECT_EQ(fr.MaxPosition(), c.expectedMax) << c.what;
        EXPECT_EQ(fr.Position(), c.expectedPosition) << c.what;
    }

    // Thumb of 10 rows, 4 visible: 4·78/10 = 31 pixels; at position 6 its top is
    // 3 + 6·(84 − 31 − 6)/6 = 50.
    TFr_Scroll fr(nullptr);
    fr.resize(16, 84);
    fr.SetCount(10);
    fr.SetPosition(6);
    const QImage img = fr.findChild<TPaintBox*>("PB_Scroll")->Image();
    const uint32_t background = 0xFFC0C0FF;
    EXPECT_EQ(img.pixel(8, 49), background);
    EXPECT_EQ(img.pixel(4, 50), 0xFF6060FFu) << "edge colour at the thumb's left";
    EXPECT_EQ(img.pixel(8, 80), 0xFFA0A0FFu) << "centre colour mid-thumb, last row";
    EXPECT_EQ(img.pixel(8, 81), background);
    EXPECT_EQ(img.pixel(2, 60), background);
}

TEST(Scroll, MouseDragsAndFollowsWhenMouseScrollIsOn)
{
    TSettingOperation op;
    TFr_Scroll fr(&op);
    fr.resize(16, 84);
    fr.SetCount(10);
    fr.show();
    auto* pb = fr.findChild<TPaintBox*>("PB_Scroll");
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(pb->statusTip(), QStringLiteral("マウスを上下に動かして表示をスクロールします"));
    EXPECT_TRUE(pb->toolTip().isEmpty());

    QTest::mouseMove(pb, QPoint(8, 70));
    EXPECT_EQ(fr.Position(), 0) << "a move without a drag does nothing";
    EXPECT_FALSE(fr.Changed);

    QTest::mousePress(pb, Qt::LeftButton, {}, QPoint(8, 10));
    QTest::mouseMove(pb, QPoint(8, 83));
    EXPECT_EQ(fr.Position(), 6) << "a drag to the very bottom";
    EXPECT_TRUE(fr.Changed);
    // Halfway: 6·(40 − 15)/47 = 3.
    QTest::mouseMove(pb, QPoint(8, 40));
    EXPECT_EQ(fr.Position(), 3);
    QTest::mouseRelease(pb, Qt::LeftButton, {}, QPoint(8, 40));
    QTest::mouseMove(pb, QPoint(8, 0));
    EXPECT_EQ(fr.Position(), 3) << "released: moves are ignored";

    op.bMouseScroll = true;
    QTest::mouseMove(pb, QPoint(8, 1));
    EXPECT_EQ(fr.Position(), 0) << "mouse scrolling follows without a button";

    // A frame too short for any track leaves the position alone instead of dividing by 0.
    fr.resize(16, 11);
    fr.SetCount(10);
    QTest::mouseMove(pb, QPoint(8, 9));
    QTest::mouseMove(pb, QPoint(8, 10));
    EXPECT_EQ(fr.Position(), 0);
}

} // namespace
} // namespace marlix
