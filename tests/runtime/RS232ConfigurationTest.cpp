#include "runtime/RS232Configuration.h"

#include <gtest/gtest.h>

TEST(RS232Configuration, DefaultsAre9600Baud8N1WithoutFlowControl) {
    RS232Configuration c;
    EXPECT_EQ(c.getSpeed(), 2);
    EXPECT_EQ(c.getDataBits(), 1);
    EXPECT_EQ(c.getStopBits(), 0);
    EXPECT_EQ(c.getParity(), 0);
    EXPECT_EQ(c.getFlowControl(), 0);
}

TEST(RS232Configuration, SettersStoreCodesUncheckedAndCopiesAreIndependent) {
    RS232Configuration c;
    c.setSpeed(6);
    c.setDataBits(0);
    c.setStopBits(1);
    c.setParity(2);
    c.setFlowControl(17);  // outside the list: stored as it is
    RS232Configuration copy = c;
    c.setSpeed(0);
    EXPECT_EQ(copy.getSpeed(), 6);
    EXPECT_EQ(copy.getDataBits(), 0);
    EXPECT_EQ(copy.getStopBits(), 1);
    EXPECT_EQ(copy.getParity(), 2);
    EXPECT_EQ(copy.getFlowControl(), 17);
    EXPECT_EQ(c.getSpeed(), 0);
}
