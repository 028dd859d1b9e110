#include "runtime/Backoff.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;

TEST(Backoff, DoublesUpToTheLongestAndStartsOverAfterASuccess) {
    Backoff retry(100ms, 1000ms);
    std::vector<std::chrono::milliseconds> waits;
    for (int i = 0; i < 7; ++i) waits.push_back(retry.failed());
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds>{100ms, 200ms, 400ms, 800ms, 1000ms, 1000ms, 1000ms}));
    retry.succeeded();
    EXPECT_EQ(retry.failed(), 100ms);
    EXPECT_EQ(retry.failed(), 200ms);

    Backoff standard;
    std::chrono::milliseconds total{0};
    for (int i = 0; i < 10; ++i) total += standard.failed();
    EXPECT_EQ(standard.failed(), Backoff::kLongest);
    EXPECT_GE(total, 10s) << "ten failures in a row take seconds, not one";
}
