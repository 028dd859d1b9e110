#include "ranges/TimebaseSpecTable.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

struct Expected {
    int group, index, decimation, points;
    const char* label;
};

// Every time base, typed out group by group.
const Expected kExpected[] = {
    {0, 0, 1, 50, "8 \xB5" "s"}, {0, 1, 1, 150, "24 \xB5" "s"}, {0, 2, 1, 400, "64 \xB5" "s"},
    {0, 3, 5, 500, "400 \xB5" "s"}, {0, 4, 20, 500, "1.6 ms"}, {0, 5, 80, 500, "6.4 ms"},
    {1, 0, 1, 50, "16 \xB5" "s"}, {1, 1, 1, 150, "48 \xB5" "s"}, {1, 2, 1, 400, "128 \xB5" "s"},
    {1, 3, 2, 500, "320 \xB5" "s"}, {1, 4, 10, 500, "1.6 ms"}, {1, 5, 40, 500, "6.4 ms"},
    {2, 0, 1, 250, "320 \xB5" "s"}, {2, 1, 1, 500, "640 \xB5" "s"}, {2, 2, 2, 500, "1.28 ms"},
    {2, 3, 3, 500, "1.92 ms"}, {2, 4, 5, 500, "3.2 ms"}, {2, 5, 10, 500, "6.4 ms"},
    {3, 0, 1, 250, "320 \xB5" "s"}, {3, 1, 1, 500, "640 \xB5" "s"}, {3, 2, 2, 500, "1.28 ms"},
    {3, 3, 5, 500, "3.2 ms"}, {3, 4, 10, 500, "6.4 ms"}, {3, 5, 200, 500, "128 ms"},
    {4, 0, 1, 50, "8 \xB5" "s"}, {4, 1, 1, 150, "24 \xB5" "s"}, {4, 2, 1, 400, "64 \xB5" "s"},
    {4, 3, 5, 500, "400 \xB5" "s"}, {4, 4, 25, 500, "2 ms"}, {4, 5, 200, 500, "16 ms"},
    {5, 0, 1, 50, "8 \xB5" "s"}, {5, 1, 1, 150, "24 \xB5" "s"}, {5, 2, 1, 400, "64 \xB5" "s"},
    {5, 3, 5, 500, "400 \xB5" "s"}, {5, 4, 25, 500, "2 ms"}, {5, 5, 200, 500, "16 ms"},
};

TEST(TimebaseSpecTable, EveryTimeBase) {
    TimebaseSpecTable table;
    for (const Expected& e : kExpected) {
        SCOPED_TRACE("group " + std::to_string(e.group) + " index " + std::to_string(e.index));
        const TimebaseSpec* t = table.lookup(e.group, e.index);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->getDecimation(), e.decimation);
        EXPECT_EQ(t->getPoints(), e.points);
        EXPECT_STREQ(t->getLabel(), e.label);
    }
}

TEST(TimebaseSpecTable, EachLabelIsATenthOfTheTraceAtTheGroupsSamplePeriod) {
    TimebaseSpecTable table;
    for (const Expected& e : kExpected) {
        const std::string label = e.label;
        const double micros = std::stod(label) * (label.find("ms") != std::string::npos ? 1000.0 : 1.0);
        EXPECT_NEAR(e.points / 10.0 * e.decimation * TimebaseSpecTable::samplePeriodUs(e.group), micros, 1e-9)
            << "group " << e.group << " index " << e.index;
    }
    for (int group : {-1, 6}) EXPECT_EQ(TimebaseSpecTable::samplePeriodUs(group), 0.0);
}

TEST(TimebaseSpecTable, LabelsAreLatin1Bytes) {
    TimebaseSpecTable table;
    const std::string label = table.lookup(1, 2)->getLabel();
    EXPECT_EQ(label, std::string("\x31\x32\x38\x20\xB5\x73", 6));
}

TEST(TimebaseSpecTable, MissingKeysGiveNoTimeBaseAndChangeNothing) {
    const TimebaseSpecTable table;   // lookups work on a const table
    const int missing[][2] = {{1, 6}, {1, 6}, {1, -1}, {6, 0}, {-1, 0}, {100, 100}, {0, 2147483647}};
    for (const auto& k : missing) EXPECT_EQ(table.lookup(k[0], k[1]), nullptr) << k[0] << "," << k[1];
    const TimebaseSpec* t = table.lookup(1, 5);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->getDecimation(), 40);
    EXPECT_EQ(t->getPoints(), 500);
    EXPECT_STREQ(t->getLabel(), "6.4 ms");
}

// Lookups of missing keys from several threads at once leave the table
// intact (they used to record the missing key).
TEST(TimebaseSpecTable, ConcurrentLookupsWithMissingKeys) {
    TimebaseSpecTable table;
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5000; ++i) {
                if (table.lookup(t, 6 + i % 50) != nullptr) ++wrong[t];
                if (table.lookup(i % 6, i % 6) == nullptr) ++wrong[t];
            }
        });
    for (auto& th : threads) th.join();
    for (int w : wrong) EXPECT_EQ(w, 0);
}

}  // namespace
