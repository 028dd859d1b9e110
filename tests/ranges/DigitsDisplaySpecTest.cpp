#include "ranges/DigitsDisplaySpec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// The digits, index 0 first, read back through the editor itself: with
// decimals 0 its value is the digit sum.
std::vector<int> digitsOf(DigitsDisplaySpec& e) {
    const int decimals = e.getDecimals();
    e.setDecimals(0);
    long sum = std::lround(std::fabs(e.getValue()));
    e.setDecimals(decimals);
    std::vector<int> out;
    for (int i = 0; i < e.getDigitCount(); ++i, sum /= 10) out.push_back(static_cast<int>(sum % 10));
    return out;
}

TEST(DigitsDisplaySpec, NewEditorHoldsZero) {
    DigitsDisplaySpec e(6);
    EXPECT_EQ(e.getValue(), 0.0f);
    EXPECT_FALSE(e.isNegative());
    EXPECT_EQ(e.getSelectedDigit(), 0);
    EXPECT_EQ(e.getDecimals(), 0);
}

struct LoadCase {
    int decimals;
    float input;
    std::vector<int> digits;   // index 0 first
    bool negative;
    float readBack;
};

TEST(DigitsDisplaySpec, LoadsDigitsSignAndDecimals) {
    const LoadCase cases[] = {
        {4, -12.34567f, {7, 5, 4, 3, 2, 1}, true, -12.3457f},
        {4, 123.45678f, {8, 6, 5, 4, 3, 2}, false, 23.4568f},   // leading 1 dropped
        {5, 3.3f, {0, 0, 0, 0, 3, 3}, false, 3.3f},
        {0, 999999.0f, {9, 9, 9, 9, 9, 9}, false, 999999.0f},
        {0, 2.5f, {3, 0, 0, 0, 0, 0}, false, 3.0f},               // halves away from zero
        {0, -2.5f, {3, 0, 0, 0, 0, 0}, true, -3.0f},
        {6, 0.123456f, {6, 5, 4, 3, 2, 1}, false, 0.123456f},      // all six are decimals
        {3, 33.0f, {0, 0, 0, 3, 3, 0}, false, 33.0f},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.input);
        DigitsDisplaySpec e(6);
        e.setDecimals(c.decimals);
        e.setValue(c.input);
        EXPECT_EQ(digitsOf(e), c.digits);
        EXPECT_EQ(e.isNegative(), c.negative);
        EXPECT_FLOAT_EQ(e.getValue(), c.readBack);
    }
}

TEST(DigitsDisplaySpec, StepsWrapWithoutCarryAndKeepTheSign) {
    DigitsDisplaySpec e(6);
    e.setDecimals(2);
    e.setValue(-0.19f);   // digits 9, 1, 0 ...
    e.setSelectedDigit(0);
    e.incrementDigit();
    EXPECT_FLOAT_EQ(e.getValue(), -0.10f);   // 9 -> 0, digit 1 stays 1
    EXPECT_TRUE(e.isNegative());
    e.decrementDigit();
    EXPECT_FLOAT_EQ(e.getValue(), -0.19f);   // 0 -> 9, no borrow
    e.setSelectedDigit(2);
    e.decrementDigit();
    EXPECT_FLOAT_EQ(e.getValue(), -9.19f);   // 0 -> 9 on the selected digit only
    e.setSelectedDigit(5);
    for (int i = 0; i < 10; ++i) e.incrementDigit();   // a full turn
    EXPECT_FLOAT_EQ(e.getValue(), -9.19f);
}

TEST(DigitsDisplaySpec, SelectionAndDecimalsStayInBounds) {
    DigitsDisplaySpec e(6);
    e.setSelectedDigit(5);
    EXPECT_EQ(e.getSelectedDigit(), 5);
    e.setSelectedDigit(6);
    EXPECT_EQ(e.getSelectedDigit(), 5);
    e.setSelectedDigit(-1);
    EXPECT_EQ(e.getSelectedDigit(), 5);
    e.setSelectedDigit(0);
    EXPECT_EQ(e.getSelectedDigit(), 0);

    e.setDecimals(6);
    EXPECT_EQ(e.getDecimals(), 6);
    e.setDecimals(7);
    EXPECT_EQ(e.getDecimals(), 6);
    e.setDecimals(-1);
    EXPECT_EQ(e.getDecimals(), 6);
}

TEST(DigitsDisplaySpec, SignOfZero) {
    DigitsDisplaySpec e(6);
    e.toggleSign();
    EXPECT_TRUE(e.isNegative());
    EXPECT_EQ(e.getValue(), 0.0f);
    EXPECT_TRUE(std::signbit(e.getValue()));   // -0.0
    e.setValue(-0.0f);
    EXPECT_FALSE(e.isNegative());
    e.toggleSign();
    e.toggleSign();
    EXPECT_FALSE(e.isNegative());
}

// NaN takes the sign +1 like any value that is not below zero, and loads
// zero rather than whatever lround would make of it.
TEST(DigitsDisplaySpec, NanLoadsPositiveZero) {
    for (float nan : {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN()}) {
        DigitsDisplaySpec e(6);
        e.setDecimals(2);
        e.setValue(-12.5f);
        e.setValue(nan);
        EXPECT_FALSE(e.isNegative());
        EXPECT_EQ(e.getValue(), 0.0f);
        EXPECT_FALSE(std::signbit(e.getValue()));
    }
}

TEST(DigitsDisplaySpec, InfinityAndValuesBeyondThirtyOneBitsClampToAllNines) {
    const float cases[] = {std::numeric_limits<float>::infinity(), 3.0e9f, 1.0e30f,
                           std::numeric_limits<float>::max()};
    for (float x : cases) {
        for (float s : {1.0f, -1.0f}) {
            SCOPED_TRACE(x * s);
            DigitsDisplaySpec e(6);
            e.setDecimals(3);
            e.setValue(s * x);
            EXPECT_FLOAT_EQ(e.getValue(), s * 999.999f);
            EXPECT_EQ(e.isNegative(), s < 0);
        }
    }
    // Just below the clamp the low digits are kept, as for any other value.
    DigitsDisplaySpec e(6);
    e.setValue(2147483520.0f);
    EXPECT_EQ(e.getValue(), 483520.0f);
}

TEST(DigitsDisplaySpec, DigitCountBounds) {
    DigitsDisplaySpec none(0);
    EXPECT_EQ(none.getDigitCount(), 0);
    none.incrementDigit();
    none.decrementDigit();
    none.setValue(5.0f);
    none.setSelectedDigit(0);
    EXPECT_EQ(none.getSelectedDigit(), 0);
    EXPECT_EQ(none.getValue(), 0.0f);
    DigitsDisplaySpec negative(-3);
    EXPECT_EQ(negative.getDigitCount(), 0);
    EXPECT_EQ(negative.getValue(), 0.0f);

    // More digits than the 32-bit digit sum holds are capped at nine.
    DigitsDisplaySpec big(12);
    EXPECT_EQ(big.getDigitCount(), DigitsDisplaySpec::kMaxDigits);
    big.setValue(999999999.0f);   // nearest float is 1e9: the tenth digit is dropped
    big.setDecimals(9);
    big.setSelectedDigit(8);
    big.incrementDigit();
    EXPECT_FLOAT_EQ(big.getValue(), 0.1f);
}

struct LimitCase {
    int decimals;
    float value;
    double limit;
    bool beyond;
};

TEST(DigitsDisplaySpec, IsBeyondComparesInTheEditorsOwnDigits) {
    // Limits made as the editor's users make them, 1.1f x full scale x the
    // range table's display scale, which is never exact and may fall just
    // below the digit that carries it (3 G in mT: 0.32999998...): that digit
    // is within, the next one up beyond, on either sign.
    const float mT = 0.099999994f;   // the table's G -> mT factor
    const float T = 0.0001f;         // G -> T
    const double mT3 = static_cast<double>(1.1f) * 3.0f * mT;      // 0.32999998748
    const double mT30 = static_cast<double>(1.1f) * 30.0f * mT;    // 3.29999987483
    const double T3 = static_cast<double>(1.1f) * 3.0f * T;        // 0.00032999999
    const double G = static_cast<double>(1.1f) * 30000.0f;         // 33000.0007
    const double G30 = static_cast<double>(1.1f) * 30.0f;          // 33.0000007
    const double mT300 = static_cast<double>(1.1f) * 300.0f * mT;  // 32.9999987
    const LimitCase cases[] = {
        {3, 0.33f, mT3, false},     {3, 0.331f, mT3, true},     {3, -0.33f, mT3, false},
        {3, -0.331f, mT3, true},    {3, 0.329f, mT3, false},    {2, 3.3f, mT30, false},
        {2, 3.31f, mT30, true},     {5, 0.00033f, T3, false},   {5, 0.00034f, T3, true},
        {0, 33000.0f, G, false},    {0, 33001.0f, G, true},     {0, 0.0f, 0.0, false},
        {0, 1.0f, 0.0, true},
        // Four decimals, as the 30 G and 300 G ranges show them.
        {4, 33.0f, G30, false},     {4, 33.0001f, G30, true},   {4, 33.0f, mT300, false},
        {4, 33.0001f, mT300, true}, {4, -33.0f, mT300, false},  {4, -33.0001f, mT300, true},
    };
    for (const LimitCase& c : cases) {
        DigitsDisplaySpec e(6);
        e.setDecimals(c.decimals);
        e.setValue(c.value);
        EXPECT_EQ(e.isBeyond(c.limit), c.beyond) << c.value << " against " << c.limit;
    }
}

}  // namespace
