#include "gui/windowtimer.h"

#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace marlix {
namespace {

// The windows' ticks share one timer: a tick that hides or deletes a later window in the
// same turn must leave that window unticked from then on (no tick of a hidden window, no
// tick through a deleted one), while the others go on.
TEST(WindowTimer, ATickThatHidesOrDeletesAnotherWindowEndsItsTicksAtOnce)
{
    for (const bool remove : {false, true}) {
        QWidget first, third;
        auto second = std::make_unique<QWidget>();
        int ticks[3] = {};
        bool hiddenTicked = false;
        new TWindowTimer(&first, [&] {
            if (++ticks[0] == 3) {
                if (remove)
                    second.reset();
                else
                    second->hide();
            }
        });
        new TWindowTimer(second.get(), [&] {
            ++ticks[1];
            hiddenTicked |= second->isHidden();
        });
        new TWindowTimer(&third, [&] { ++ticks[2]; });
        first.show();
        second->show();
        third.show();
        QTRY_VERIFY_WITH_TIMEOUT(ticks[2] >= 8, 5000);
        EXPECT_FALSE(hiddenTicked) << (remove ? "deleted" : "hidden");
        EXPECT_LE(ticks[1], 3) << (remove ? "deleted" : "hidden");
        EXPECT_GE(ticks[0], 8);
    }
}

} // namespace
} // namespace marlix
