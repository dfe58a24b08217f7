#include "base/mainthread.h"

#include <gtest/gtest.h>
#include <atomic>
#include <thread>

namespace marlix {
namespace {

TEST(MainThread, WorkerCallsRunOnTheMainThreadInOrder)
{
    TMainThread& main = TMainThread::Instance();
    main.SetMainThread(std::this_thread::get_id());
    main.Restart();
    std::vector<int> seen;
    std::atomic<int> finished{0};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(main.Synchronize([&, i] {
                EXPECT_TRUE(main.IsMainThread());
                seen.push_back(i);
            }));
        finished = 1;
    });
    main.WaitPumping([&] { return finished.load() == 1; });
    worker.join();
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(MainThread, OnTheMainThreadACallRunsAtOnceAndShutdownReleasesWaiters)
{
    TMainThread& main = TMainThread::Instance();
    main.SetMainThread(std::this_thread::get_id());
    main.Restart();
    int ran = 0;
    EXPECT_TRUE(main.Synchronize([&] { ++ran; }));
    EXPECT_EQ(ran, 1);

    std::atomic<int> result{-1};
    std::thread worker([&] { result = main.Synchronize([&] { ++ran; }) ? 1 : 0; });
    while (true) { // wait until the call is queued, without running it
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (result.load() != -1)
            break;
        main.Shutdown();
    }
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(ran, 1);
    main.Restart();
}

} // namespace
} // namespace marlix
