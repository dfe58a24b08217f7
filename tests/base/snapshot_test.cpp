#include "base/snapshot.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace marlix {
namespace {

// Version i is i % 50 + 1 copies of i, so a torn or freed version shows as a wrong size
// or a wrong element. The reader takes the newest on every pass while the writer
// publishes; the writer never keeps more than the one version the reader holds.
TEST(HandOverSnapshot, ReaderSeesWholeVersionsInOrderWhileTheWriterFreesTheRest)
{
    const auto version = [](int i) { return std::vector<int>(static_cast<size_t>(i % 50 + 1), i); };
    TSnapshot<std::vector<int>> snapshot(version(0));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, backwards{0}, reads{0};
    std::thread reader([&] {
        int last = 0;
        while (!done.load()) {
            const std::vector<int>& v = *snapshot.Acquire();
            const int id = v.front();
            if (v != version(id))
                ++torn;
            if (id < last)
                ++backwards;
            last = id;
            ++reads;
        }
        snapshot.Release();
    });
    const int count = 20000;
    size_t mostRetired = 0;
    for (int i = 1; i <= count; ++i) {
        snapshot.Publish(version(i));
        mostRetired = std::max(mostRetired, snapshot.RetiredCount());
        if (i % 1000 == 0) // let the reader see a good share of the versions
            while (reads.load() < i / 100)
                std::this_thread::yield();
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(backwards.load(), 0);
    EXPECT_LE(mostRetired, 1u);
    snapshot.Collect();
    EXPECT_EQ(snapshot.RetiredCount(), 0u);
    EXPECT_EQ(snapshot.Version(), static_cast<uint64_t>(count));
    EXPECT_EQ(*snapshot.Acquire(), version(count));
}

} // namespace
} // namespace marlix
