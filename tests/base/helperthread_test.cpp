#include "base/helperthread.h"

#include <gtest/gtest.h>
#include <array>
#include <atomic>
#include <thread>

namespace marlix {
namespace {

// Pieces handed out by a counter: every piece of every round runs exactly once, whether
// the helper takes some, all or none of them, and its writes are visible after Wait.
TEST(HelperThread, EveryPieceRunsOnceAndIsSeenAfterWait)
{
    struct TRound {
        std::atomic<int> Next{0};
        std::array<int, 3> Done{};
        std::thread::id Worker[3];
    };
    const auto work = [](void* p) {
        auto* r = static_cast<TRound*>(p);
        for (int k; (k = r->Next.fetch_add(1)) < 3;) {
            ++r->Done[k];
            r->Worker[k] = std::this_thread::get_id();
        }
    };
    THelperThread helper;
    int helped = 0;
    for (int round = 0; round < 20000; ++round) {
        TRound r;
        helper.Post(work, &r);
        if (round % 2)
            std::this_thread::yield(); // sometimes give the helper time to start
        work(&r);
        helper.Wait();
        ASSERT_EQ(r.Done, (std::array<int, 3>{1, 1, 1})) << round;
        for (const auto& id : r.Worker)
            helped += id != std::this_thread::get_id();
    }
    EXPECT_GT(helped, 0); // the helper did take part
}

} // namespace
} // namespace marlix
