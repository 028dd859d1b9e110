// The host's copy of the card's calibration: parameter reports, table sizes,
// element reports and their bounds, and the table-element command.
#include "ChannelTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using chtest::TestChannel;

namespace {

class ChannelCalTables : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    TestChannel ch{3};
};

TEST_F(ChannelCalTables, ParameterReportsOutsideTheTableChangeNothing) {
    ch.onCalParameter(92, 7.5f);
    ch.onCalParameter(93, 1.0f);
    ch.onCalParameter(-1, 1.0f);
    EXPECT_FLOAT_EQ(ch.getCalParameter(92), 7.5f);
    EXPECT_FLOAT_EQ(ch.getCalParameter(0), 4000.038f);
}

TEST_F(ChannelCalTables, SizesReportResizesEachGroupAndKeepsEntries) {
    ch.onCalTableSizes(10, 20, 30);
    const int expected[20] = {10, 10, 10, 10, 10, 20, 20, 20, 20, 15, 15, 15, 15, 30, 30, 30, 30, 30, 15, 15};
    for (int t = 0; t < 20; ++t) {
        EXPECT_EQ(ch.getCalTableElement(t, expected[t] - 1), 0.0f) << t;
        ch.onCalTableElement(t, expected[t] - 1, 1.0f + t);
        EXPECT_EQ(ch.getCalTableElement(t, expected[t] - 1), 1.0f + t) << "last entry of table " << t;
        ch.onCalTableElement(t, expected[t], 99.0f);
        EXPECT_EQ(ch.getCalTableElement(t, expected[t]), 0.0f) << "beyond table " << t;
    }
    ch.onCalTableElement(2, 4, 2.5f);
    ch.onCalTableSizes(5, 20, 30);
    EXPECT_EQ(ch.getCalTableElement(2, 4), 2.5f);   // kept within the new length
    EXPECT_EQ(ch.getCalTableElement(2, 9), 0.0f);   // cut
    ch.onCalTableSizes(10, 20, 30);
    EXPECT_EQ(ch.getCalTableElement(2, 9), 0.0f);   // regrown with zeros
}

TEST_F(ChannelCalTables, ElementReportBounds) {
    // Low-end and the two further tables get their 15 entries only from a sizes report.
    ch.onCalTableElement(9, 0, 1.0f);
    ch.onCalTableElement(18, 0, 1.0f);
    EXPECT_EQ(ch.getCalTableElement(9, 0), 0.0f);
    EXPECT_EQ(ch.getCalTableElement(18, 0), 0.0f);

    ch.onCalTableSizes(3, 4, 2);
    ch.onCalTableElement(9, 14, 9.14f);
    ch.onCalTableElement(9, 15, 9.15f);
    ch.onCalTableElement(6, 3, 6.3f);
    ch.onCalTableElement(-1, 0, 1.0f);
    ch.onCalTableElement(20, 0, 1.0f);
    ch.onCalTableElement(0, 0xFFFFFFFFu, 1.0f);
    EXPECT_FLOAT_EQ(ch.getCalTableElement(9, 14), 9.14f);
    EXPECT_EQ(ch.getCalTableElement(9, 15), 0.0f);
    EXPECT_FLOAT_EQ(ch.getCalTableElement(6, 3), 6.3f);
    EXPECT_EQ(ch.getCalTableElement(20, 0), 0.0f);
    EXPECT_EQ(ch.getCalTableElement(-1, 0), 0.0f);
    EXPECT_EQ(ch.getCalTableElement(0, -1), 0.0f);
}

TEST_F(ChannelCalTables, SetElementRefusesWhatTheFrameCannotCarry) {
    auto log = ch.attachFakeLink();
    ch.onCalTableSizes(4, 3, 2);
    struct Case {
        int table, index, result;
    } cases[] = {
        {0, 3, 0},  {4, 4, -1},   {5, 2, 0},   {8, 3, -1},  {10, 40, 0}, {13, 200, 0},
        {19, 255, 0}, {19, 256, -1}, {-1, 0, -1}, {20, 0, -1}, {0, -1, -1}, {12, 1000, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ch.setCalTableElement(c.table, c.index, 1.0f), c.result) << c.table << "," << c.index;
        EXPECT_EQ(log->take().size(), c.result == 0 ? 1u : 0u) << c.table << "," << c.index;
    }
    // Command 0x08 [2, table, index, value]; the local copy waits for the card.
    ch.setCalTableElement(10, 40, 1.5f);
    EXPECT_EQ(log->take(), std::vector<std::string>{"1A8#020A283FC00000"});
    EXPECT_EQ(ch.getCalTableElement(10, 40), 0.0f);
}

// Tables resized on the CAN reader thread while other threads read them.
TEST_F(ChannelCalTables, ResizingWhileReadingIsSafe) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int n = 0; n < 2000; ++n) {
            ch.onCalTableSizes(n % 50, (n * 7) % 50, (n * 3) % 50);
            ch.onCalTableElement(n % 20, static_cast<unsigned>(n % 40), 1.0f);
        }
        stop = true;
    });
    // Only 0 (a new or unreported entry) and 1 are ever written: anything
    // else is a torn or stray read.
    int reports = 0;
    int strayValues = 0;
    do {
        for (int i = 0; i < 50; ++i) {
            const float v = ch.getCalTableElement(i % 20, i);
            if (v != 0.0f && v != 1.0f) ++strayValues;
        }
        ch.configurationDump();
        ch.parameterTableReport();
        ++reports;
    } while (!stop);
    writer.join();
    EXPECT_GT(reports, 0);
    EXPECT_EQ(strayValues, 0);
}

}  // namespace
