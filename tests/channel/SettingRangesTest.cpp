// The allowed values of the settings that SCPI, JSON and the menus share:
// the lists the interfaces offer lie inside the ranges they check.
#include "channel/SettingRanges.h"

#include <gtest/gtest.h>

#include <limits>

namespace sr = settingrange;

TEST(SettingRanges, ZeroModesAreTheThreeOfferedAndNoOther) {
    int accepted = 0;
    for (long long mode = -2; mode <= 8; ++mode) {
        bool offered = false;
        for (int m : sr::kZeroModes) offered = offered || m == mode;
        EXPECT_EQ(sr::isZeroMode(mode), offered) << mode;
        accepted += sr::isZeroMode(mode) ? 1 : 0;
    }
    EXPECT_EQ(accepted, sr::kZeroModeCount);
    EXPECT_EQ(sr::kZeroModes[0], sr::kZeroDcOnly);
    EXPECT_EQ(sr::kZeroModes[1], sr::kZeroBasicAc);
    EXPECT_EQ(sr::kZeroModes[2], sr::kZeroAdvancedAc);
}

TEST(SettingRanges, IntegerRangesStartAtZeroAndCheckWideValues) {
    struct Range {
        bool (*isValid)(long long);
        int count;
    };
    const Range ranges[] = {{sr::isRange, 4},         {sr::isFreqRange, 6},          {sr::isFluxUnit, 4},
                            {sr::isTemperatureUnit, 3}, {sr::isTimeUnit, 2},         {sr::isAngleUnit, 2},
                            {sr::isOutputMode, 3},    {sr::isMode, 2}};
    for (const Range& r : ranges) {
        EXPECT_FALSE(r.isValid(-1));
        EXPECT_TRUE(r.isValid(0));
        EXPECT_TRUE(r.isValid(r.count - 1));
        EXPECT_FALSE(r.isValid(r.count));
        EXPECT_FALSE(r.isValid(4294967296LL));   // 0 once narrowed to 32 bits
    }
}

TEST(SettingRanges, DisplayRatesOfferedAreTakenByTheMeter) {
    for (float rate : sr::kDisplayRates) EXPECT_TRUE(sr::isDisplayRate(rate)) << rate;
    EXPECT_FALSE(sr::isDisplayRate(0.25f));
    EXPECT_TRUE(sr::isDisplayRate(0.26f));
    EXPECT_TRUE(sr::isDisplayRate(5.99f));
    EXPECT_FALSE(sr::isDisplayRate(6.0f));
    EXPECT_FALSE(sr::isDisplayRate(std::numeric_limits<float>::quiet_NaN()));
}

TEST(SettingRanges, FullScaleIsZeroToTenVoltsInTenths) {
    EXPECT_EQ(sr::fullScaleTenths(0.0f), 0);
    EXPECT_EQ(sr::fullScaleTenths(2.56f), 26);
    EXPECT_EQ(sr::fullScaleTenths(0.25f), 3);   // halves away from zero
    EXPECT_EQ(sr::fullScaleTenths(10.0f), 100);
    EXPECT_EQ(sr::fullScaleTenths(10.01f), -1);
    EXPECT_EQ(sr::fullScaleTenths(-0.1f), -1);
    EXPECT_EQ(sr::fullScaleTenths(std::numeric_limits<float>::quiet_NaN()), -1);
    EXPECT_EQ(sr::fullScaleTenths(std::numeric_limits<float>::infinity()), -1);
}
