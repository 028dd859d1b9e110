#include "runtime/CpuMonitor.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class CpuMonitorTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox{false};
    std::string stat = sandbox.path() + "/stat";

    void writeStat(unsigned long long user, unsigned long long nice, unsigned long long system,
                   unsigned long long idle) {
        std::ofstream out(stat, std::ios::trunc);
        // A full summary line: the fields after idle must not be taken for it.
        out << "cpu  " << user << ' ' << nice << ' ' << system << ' ' << idle
            << " 9999 77 55 0 0 0\n"
            << "cpu0 1 2 3 4 5 6 7 0 0 0\n";
    }
};

TEST_F(CpuMonitorTest, LoadIsTheNonIdleShareOfTheTicksSinceThePreviousReading) {
    writeStat(1000, 10, 500, 8000);
    CpuMonitor monitor(stat);
    writeStat(1050, 10, 525, 8025);  // 100 ticks, 25 idle
    EXPECT_DOUBLE_EQ(monitor.sample(), 75.0);
    writeStat(1050, 10, 525, 8125);  // 100 ticks, all idle
    EXPECT_DOUBLE_EQ(monitor.sample(), 0.0);
}

TEST_F(CpuMonitorTest, NoTicksInBetweenGiveZero) {
    writeStat(1000, 10, 500, 8000);
    CpuMonitor monitor(stat);
    EXPECT_DOUBLE_EQ(monitor.sample(), 0.0);
}

TEST_F(CpuMonitorTest, CountersThatWrapAt32BitsStillGiveTheLoad) {
    writeStat(0xFFFFFFF0ull, 0, 0, 0xFFFFFFFFull);
    CpuMonitor monitor(stat);
    writeStat(0x10ull + 0x100000000ull, 0, 0, 0x1Full + 0x100000000ull);  // +32 busy, +32 idle
    EXPECT_DOUBLE_EQ(monitor.sample(), 50.0);
}

TEST_F(CpuMonitorTest, UnreadableFileGivesZeroAndKeepsTheOldCounters) {
    writeStat(1000, 0, 0, 1000);
    CpuMonitor monitor(stat);
    std::remove(stat.c_str());
    testing::internal::CaptureStdout();
    EXPECT_DOUBLE_EQ(monitor.sample(), 0.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot open " + stat + " for reading\n");
    writeStat(1090, 0, 0, 1010);  // measured against the reading before the gap
    EXPECT_DOUBLE_EQ(monitor.sample(), 90.0);
}

TEST_F(CpuMonitorTest, MissingFileAtConstructionStartsFromZero) {
    testing::internal::CaptureStdout();
    CpuMonitor monitor(stat);
    testing::internal::GetCapturedStdout();
    writeStat(30, 0, 10, 60);
    EXPECT_DOUBLE_EQ(monitor.sample(), 40.0);
}

TEST(CpuMonitor, HostProcStatGivesALoadInRange) {
    CpuMonitor monitor;
    double load = monitor.sample();
    EXPECT_GE(load, 0.0);
    EXPECT_LE(load, 100.0);
}

}  // namespace
