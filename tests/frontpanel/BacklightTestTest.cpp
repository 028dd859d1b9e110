// The key-backlight test's runs: the frames and waits of a run, runs side by
// side, and the owner's stop, which cuts the waits short and joins.
#include "frontpanel/BacklightTest.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

// The frames sent, readable while runs send.
class Frames {
public:
    BacklightTest::Send sender() {
        return [this](int key, int level) {
            std::lock_guard<std::mutex> lock(mutex);
            sent.emplace_back(key, level);
        };
    }
    std::vector<std::pair<int, int>> get() {
        std::lock_guard<std::mutex> lock(mutex);
        return sent;
    }
    std::size_t count() { return get().size(); }

private:
    std::mutex mutex;
    std::vector<std::pair<int, int>> sent;
};

TEST(BacklightTest, ARunLightsKeysSevenToTenAtLevelOneThenTwoThenOff) {
    Frames frames;
    BacklightTest test(frames.sender(), 1ms);
    test.start();
    ASSERT_TRUE(testsupport::waitUntil([&] { return test.runningCount() == 0; }, 20s));
    const std::vector<std::pair<int, int>> expected = {{7, 1}, {8, 1}, {9, 1}, {10, 1}, {7, 2}, {8, 2},
                                                       {9, 2}, {10, 2}, {7, 0}, {8, 0}, {9, 0}, {10, 0}};
    EXPECT_EQ(frames.get(), expected);
}

TEST(BacklightTest, StopCutsTheWaitsShortAndJoinsEveryRun) {
    Frames frames;
    BacklightTest test(frames.sender(), 1h);   // a run would take most of a day
    test.start();
    test.start();   // a second run beside the first, as a second press gives
    ASSERT_TRUE(testsupport::waitUntil([&] { return frames.count() == 2; }, 20s));
    EXPECT_EQ(test.threadCount(), 2u);
    EXPECT_EQ(test.runningCount(), 2u);
    test.stop();
    EXPECT_EQ(test.threadCount(), 0u);
    EXPECT_EQ(frames.get(), (std::vector<std::pair<int, int>>{{7, 1}, {7, 1}})) << "no frame after the stop";

    // The test can run again after a stop.
    test.start();
    ASSERT_TRUE(testsupport::waitUntil([&] { return frames.count() == 3; }, 20s));
}   // the destructor stops the third run

TEST(BacklightTest, AStartJoinsTheRunsThatHaveEnded) {
    Frames frames;
    BacklightTest test(frames.sender(), 0ms);
    for (int i = 1; i <= 3; ++i) {
        test.start();
        EXPECT_EQ(test.threadCount(), 1u) << "the run before has been joined";
        ASSERT_TRUE(testsupport::waitUntil([&] { return test.runningCount() == 0; }, 20s));
        EXPECT_EQ(frames.count(), 12u * i);
    }
}

}  // namespace
