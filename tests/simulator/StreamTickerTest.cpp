// The one thread that ticks every simulated card's stream.
#include "simulator/StreamTicker.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct Counted {
    std::shared_ptr<std::atomic<int>> ticks = std::make_shared<std::atomic<int>>(0);
    int add(int periodUs) {
        auto n = ticks;
        return sim::StreamTicker::add([periodUs] { return periodUs; }, [n] { ++*n; });
    }
};

TEST(StreamTicker, ARemovedCardNeverTicksAgainAndTheOthersGoOn) {
    Counted fast, slow;
    const int fastHandle = fast.add(1000);
    const int slowHandle = slow.add(200000);
    // The first tick comes at once, then one each period.
    ASSERT_TRUE(testsupport::waitUntil([&] { return *slow.ticks >= 1 && *fast.ticks >= 50; }));
    // Compared with each other, not with the clock: on a loaded machine the
    // thread may tick late, but the fast card (200 times the slow one's pace)
    // stays far ahead.
    const int slowSoFar = *slow.ticks, fastSoFar = *fast.ticks;
    EXPECT_GT(fastSoFar, 3 * slowSoFar) << "each card at its own period";
    sim::StreamTicker::remove(fastHandle);
    const int atRemoval = *fast.ticks;
    const int slowBefore = *slow.ticks;
    ASSERT_TRUE(testsupport::waitUntil([&] { return *slow.ticks >= slowBefore + 2; }));
    EXPECT_EQ(*fast.ticks, atRemoval);
    sim::StreamTicker::remove(slowHandle);
    sim::StreamTicker::remove(slowHandle);  // a second remove is harmless
    const int slowAtRemoval = *slow.ticks;

    // The thread ended with the last card; a new card starts one again.
    Counted again;
    const int handle = again.add(1000);
    EXPECT_TRUE(testsupport::waitUntil([&] { return *again.ticks >= 10; }));
    sim::StreamTicker::remove(handle);
    std::this_thread::sleep_for(20ms);  // time for a stray tick to show
    EXPECT_EQ(*slow.ticks, slowAtRemoval);
}

TEST(StreamTicker, RemovalWaitsForATickUnderWay) {
    std::atomic<bool> inTick{false}, removed{false}, tickSawRemoval{false};
    const int handle = sim::StreamTicker::add([] { return 1000; }, [&] {
        inTick = true;
        std::this_thread::sleep_for(50ms);
        if (removed) tickSawRemoval = true;
        inTick = false;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return inTick.load(); }, std::chrono::seconds(10), 0ms));
    sim::StreamTicker::remove(handle);
    removed = true;
    EXPECT_FALSE(inTick.load());
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(tickSawRemoval.load());
}

}  // namespace
