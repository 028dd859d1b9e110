// The conditions the models report, each on its register and bit.
#include "status/ScpiRegister.h"
#include "status/ScpiRegisterManager.h"
#include "status/StatusConditions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using status::Condition;

struct Words {
    int measurement;
    int operation;
    int questionable;
};

Words conditions() {
    ScpiRegisterManager* m = ScpiRegisterManager::instance();
    return {m->getMeasurementRegister().getCondition(), m->getOperationRegister().getCondition(),
            m->getQuestionableRegister().getCondition()};
}

class StatusConditions : public ::testing::Test {
protected:
    void SetUp() override { clearConditions(); }
    void TearDown() override { clearConditions(); }

    static void clearConditions() {
        ScpiRegisterManager* m = ScpiRegisterManager::instance();
        m->getMeasurementRegister().clear();
        m->getOperationRegister().clear();
        m->getQuestionableRegister().clear();
    }

    // Reports the condition on, checks the words, then off again.
    void expectBits(Condition c, int channel, Words expected) {
        SCOPED_TRACE("channel " + std::to_string(channel));
        status::report(c, channel, true);
        const Words on = conditions();
        EXPECT_EQ(on.measurement, expected.measurement);
        EXPECT_EQ(on.operation, expected.operation);
        EXPECT_EQ(on.questionable, expected.questionable);
        status::report(c, channel, false);
        const Words off = conditions();
        EXPECT_EQ(off.measurement, 0);
        EXPECT_EQ(off.operation, 0);
        EXPECT_EQ(off.questionable, 0);
    }
};

}  // namespace

TEST_F(StatusConditions, ChannelConditionsByChannel) {
    const struct {
        Condition condition;
        Words byChannel[3];
    } cases[] = {
        {Condition::OverRange, {{1 << 0, 0, 0}, {1 << 10, 0, 0}, {1 << 13, 0, 0}}},
        {Condition::ClassifierLow, {{1 << 1, 0, 0}, {1 << 11, 0, 0}, {1 << 14, 0, 0}}},
        {Condition::ClassifierHigh, {{1 << 2, 0, 0}, {1 << 12, 0, 0}, {1 << 15, 0, 0}}},
        {Condition::ProbeReady, {{1 << 3, 1 << 4, 0}, {1 << 4, 1 << 5, 0}, {1 << 5, 1 << 6, 0}}},
        {Condition::RangeChange, {{0, 1 << 1, 0}, {0, 1 << 2, 0}, {0, 1 << 3, 0}}},
        {Condition::ProbeFault, {{0, 0, 1 << 8}, {0, 0, 1 << 9}, {0, 0, 1 << 10}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("condition " + std::to_string(static_cast<int>(c.condition)));
        for (int channel = 1; channel <= 3; ++channel) expectBits(c.condition, channel, c.byChannel[channel - 1]);
    }
}

TEST_F(StatusConditions, MeterConditions) {
    status::report(Condition::Busy, true);
    EXPECT_EQ(conditions().operation, 1 << 9);
    status::report(Condition::Busy, false);
    status::report(Condition::NoChannelActive, true);
    EXPECT_EQ(conditions().operation, 1 << 10);
    status::report(Condition::NoChannelActive, false);
    EXPECT_EQ(conditions().operation, 0);
    EXPECT_EQ(conditions().measurement, 0);
    EXPECT_EQ(conditions().questionable, 0);
}

TEST_F(StatusConditions, ChannelsOutsideOneToThreeReportNothing) {
    for (int channel : {0, 4, -1}) {
        status::report(Condition::OverRange, channel, true);
        status::report(Condition::ProbeReady, channel, true);
        status::report(Condition::ProbeFault, channel, true);
    }
    const Words w = conditions();
    EXPECT_EQ(w.measurement, 0);
    EXPECT_EQ(w.operation, 0);
    EXPECT_EQ(w.questionable, 0);
}
