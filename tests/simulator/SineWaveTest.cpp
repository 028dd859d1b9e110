// The simulated card's sine table and trigger search: windows past the table,
// degenerate requests and the trigger rule.
#include "simulator/SineWave.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const SineTable& table() {
    static const SineTable t;   // the default sample period, 1.6 us
    return t;
}

// Sample i of the 4999.5 Hz signal at the sample period.
double expected(long long i, double periodUs = 1.6) {
    return i == 0 ? 0.0
                  : std::sin(6.283185307179586 * 4999.5 * periodUs * 1.0e-6 * static_cast<double>(i)) *
                        1.4142135623730951;
}

TEST(SineTable, EntriesAreTheSignalsSamples) {
    for (double period : {1.6, 3.2, 12.8}) {
        const SineTable t(period);
        EXPECT_EQ(t.samplePeriodUs(), period);
        for (long long i : {0LL, 1LL, 100LL, 399LL, 400LL, 12345LL, 79999LL})
            EXPECT_NEAR(t.at(i), expected(i, period), 1e-12) << "period " << period << ", index " << i;
    }
}

TEST(SineTable, SamplesPastEitherEndContinueTheSignal) {
    for (long long i : {80000LL, 80001LL, 80123LL, 99800LL + 100, 4294967295LL, -1LL, -400LL, -401LL})
        EXPECT_NEAR(table().at(i), expected(i), 1e-6) << "index " << i;
    // No jump at the table's end: one sample's step at most.
    const double step = 6.283185307179586 * 4999.5 * 1.6e-6 * 1.4142135623730951;
    EXPECT_LE(std::fabs(table().at(80000) - table().at(79999)), step);
}

TEST(TriggerSearch, FreeRunStartsAtHalfWindowPlusPhase) {
    TriggerSetup setup;   // stored trigger mode 0
    EXPECT_EQ(findTrigger(table(), {1, 0, 2, 100}, setup, 37), 2 * 50 + 37);
    setup.storedTriggerMode = 1;
    EXPECT_EQ(findTrigger(table(), {0, 0, 200, 500}, setup, 5), 200 * 250 + 5);   // requested mode 0
    EXPECT_EQ(findTrigger(table(), {1, 0, 0, 500}, TriggerSetup{}, 3), 3);        // decimation 0, free run
}

struct NoTriggerCase {
    const char* name;
    WaveformRequest request;
    double fieldLevel;
};

class TriggerSearchEnds : public ::testing::TestWithParam<NoTriggerCase> {};

TEST_P(TriggerSearchEnds, WithoutATriggerItThrows) {
    TriggerSetup setup;
    setup.storedTriggerMode = 1;
    setup.fieldLevel = GetParam().fieldLevel;
    setup.fullScale = 30.0f;
    setup.triggerLevel = 1.0f;
    EXPECT_THROW(findTrigger(table(), GetParam().request, setup, 0), TvlTriggerNotFound);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TriggerSearchEnds,
    ::testing::Values(NoTriggerCase{"fieldZero", {1, 0, 2, 100}, 0.0},
                      NoTriggerCase{"decimationZero", {1, 0, 0, 100}, 50.0},
                      NoTriggerCase{"decimationZeroNoPoints", {1, 1, 0, 0}, 50.0},
                      NoTriggerCase{"startPastTable", {1, 0, 65535, 4}, 50.0},
                      NoTriggerCase{"levelAboveThePeak", {1, 0, 1, 100}, 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TriggerSearch, FindsTheCrossingOnEachSlope) {
    TriggerSetup setup;
    setup.storedTriggerMode = 1;
    setup.fieldLevel = 100.0;   // amplitude 30 * sqrt(2)
    setup.fullScale = 30.0f;
    setup.triggerLevel = 0.5f;
    const SineTable& s = table();
    for (int slope : {0, 1}) {
        for (WaveformRequest request : {WaveformRequest{1, slope, 1, 100}, WaveformRequest{1, slope, 7, 40},
                                        WaveformRequest{1, slope, 3, 1}, WaveformRequest{1, slope, 3, 0}}) {
            request.slope = slope;
            const long long idx = findTrigger(s, request, setup, 0);
            const long long d = request.decimation;
            ASSERT_GE(idx - d, 0);
            const double before = 30.0 * s.at(idx - d), here = 30.0 * s.at(idx);
            if (slope == 0) {
                EXPECT_TRUE(before < 0.5 && 0.5 <= here) << before << " " << here;
            } else {
                EXPECT_TRUE(before > 0.5 && 0.5 >= here) << before << " " << here;
            }
            EXPECT_GE(windowStart(idx, request), 0);
            EXPECT_EQ((idx - d * (request.count / 2)) % d, 0) << "candidates step by the decimation";
        }
    }
}

}  // namespace
