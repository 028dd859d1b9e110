// Holds, the relative offset by channel state, the trigger level and the six
// value-editing keys with their limits, undo and beep.
#include "ChannelTestSupport.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using chtest::TestChannel;

namespace {

class ChannelHolds : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    TestChannel ch{1};
    std::shared_ptr<testsupport::FakeBus> log = ch.attachFakeLink();
    int holdSignals = 0;
    std::vector<int> relativeStates;
    std::vector<std::pair<bool, float>> triggerLevels;

    void SetUp() override {
        ch.signalHoldsChanged().connect([this](int, bool, bool, bool, bool, bool) { ++holdSignals; });
        ch.signalRelativeStateChanged().connect([this](int, int s) { relativeStates.push_back(s); });
        ch.signalTriggerLevelChanged().connect(
            [this](int, bool editing, float level) { triggerLevels.push_back({editing, level}); });
    }
    // Range 0 of a 1X probe: 30 G full scale, display scale 1, 4 decimals.
    void useThirtyGaussRange() {
        ch.onRangeReply(0);
        ch.sendGains();
        ASSERT_FLOAT_EQ(ch.getRangeSpec()->getFullScale(), 30.0f);
        log->take();
    }
    // Steps the selected digit n times.
    void press(void (ChannelModel::*key)(), int n = 1) {
        for (int i = 0; i < n; ++i) (ch.*key)();
    }
};

TEST_F(ChannelHolds, FlagsEmitAndMarkTheSettingsDirty) {
    ch.toggleHoldActive();
    ch.toggleMinHold();
    ch.toggleMaxHold();
    ch.togglePeakHold();
    ch.toggleValleyHold();
    EXPECT_TRUE(ch.isHoldActive() && ch.isMinHoldEnabled() && ch.isMaxHoldEnabled() &&
                ch.isPeakHoldEnabled() && ch.isValleyHoldEnabled());
    EXPECT_EQ(holdSignals, 5);
    EXPECT_TRUE(ch.isSettingsDirty());
    ch.toggleMinHold();
    EXPECT_FALSE(ch.isMinHoldEnabled());
}

TEST_F(ChannelHolds, ResetsAndCardReports) {
    ch.setReading(12.0f);
    ch.resetHolds();
    EXPECT_EQ(ch.getMinHoldValue(), 12.0f);
    EXPECT_EQ(ch.getMaxHoldValue(), 12.0f);
    EXPECT_EQ(log->take(), std::vector<std::string>{"164#02"});

    ch.setReading(-3.0f);
    ch.resetMinHold();
    EXPECT_EQ(ch.getMinHoldValue(), -3.0f);
    EXPECT_EQ(ch.getMaxHoldValue(), 12.0f);
    ch.resetMaxHold();
    EXPECT_EQ(ch.getMaxHoldValue(), -3.0f);
    EXPECT_TRUE(log->take().empty());

    ch.onPeakValley(5.0f, -5.0f);
    ch.resetPeakHold();
    ch.resetValleyHold();
    EXPECT_EQ(log->take(), (std::vector<std::string>{"164#00", "164#01"}));
    EXPECT_EQ(ch.getPeakHoldValue(), 5.0f);   // until the card reports again

    holdSignals = 0;
    ch.onPeakValley(6.0f, -5.0f);
    ch.onPeakValley(6.0f, -5.0f);
    EXPECT_EQ(holdSignals, 1);
    EXPECT_EQ(ch.getPeakHoldValue(), 6.0f);
    EXPECT_EQ(ch.getValleyHoldValue(), -5.0f);
}

TEST_F(ChannelHolds, RelativeNeedsAReadyProbe) {
    for (int status : {0, 1, 3}) {
        ch.setStatus(status);
        ch.setAutoRelative();
        ch.setManualRelative();
        ch.editRelativeOffset();
        ch.toggleRelative();
        ch.editTriggerLevel(true);
        EXPECT_EQ(ch.getRelativeState(), 0) << status;
        EXPECT_FALSE(ch.isEditingTriggerLevel()) << status;
    }
    EXPECT_TRUE(relativeStates.empty());
}

TEST_F(ChannelHolds, RelativeCaptureByState) {
    ch.setStatus(2);
    ch.setReading(10.0f);
    ch.setAutoRelative();   // from off: the reading becomes the offset
    EXPECT_EQ(ch.getRelativeState(), 1);
    EXPECT_EQ(ch.getRelativeOffset(), 10.0f);
    ch.setReading(2.0f);
    ch.setAutoRelative();   // already captured: kept
    EXPECT_EQ(ch.getRelativeOffset(), 10.0f);
    ch.setManualRelative();
    EXPECT_EQ(ch.getRelativeState(), 2);
    ch.setAutoRelative();   // stored offset: the present reading is added
    EXPECT_EQ(ch.getRelativeOffset(), 12.0f);
    ch.toggleRelative();
    EXPECT_EQ(ch.getRelativeState(), 0);
    ch.toggleRelative();
    EXPECT_EQ(ch.getRelativeState(), 1);
    EXPECT_EQ(ch.getRelativeOffset(), 2.0f);
    EXPECT_EQ(relativeStates, (std::vector<int>{1, 1, 2, 1, 0, 1}));
}

TEST_F(ChannelHolds, RelativeOffsetFromRemoteIsLimited) {
    useThirtyGaussRange();
    ch.setRelativeOffset(33.0f);   // exactly 1.1 x full scale
    EXPECT_EQ(ch.getRelativeOffset(), 33.0f);
    ch.setRelativeOffset(-33.01f);
    ch.setRelativeOffset(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(ch.getRelativeOffset(), 33.0f);
    // While the offset is edited the editor follows it.
    ch.setStatus(2);
    ch.editRelativeOffset();
    ch.setRelativeOffset(-1.5f);
    EXPECT_FLOAT_EQ(ch.getDigitEditor().getValue(), -1.5f);
    EXPECT_TRUE(ch.isEditValueNegative());
}

TEST_F(ChannelHolds, RelativeOffsetEntryWithTheEditingKeys) {
    useThirtyGaussRange();
    ch.setStatus(2);
    ch.editRelativeOffset();
    EXPECT_EQ(ch.getRelativeState(), 3);
    EXPECT_EQ(ch.getDigitEditor().getDecimals(), 4);
    EXPECT_EQ(ch.getEditSelectedDigit(), 0);
    press(&ChannelModel::editDigitLeft, 5);   // tens
    press(&ChannelModel::editIncrementDigit, 2);
    ch.editDigitRight();                       // units
    press(&ChannelModel::editIncrementDigit, 5);
    EXPECT_FLOAT_EQ(ch.getRelativeOffset(), 25.0f);
    ch.editToggleSign();
    EXPECT_FLOAT_EQ(ch.getRelativeOffset(), -25.0f);
    ch.editReset();
    EXPECT_EQ(ch.getRelativeOffset(), 0.0f);
    EXPECT_FALSE(ch.isEditValueNegative());
    // The digit keys stop at both ends and announce the cursor.
    relativeStates.clear();
    press(&ChannelModel::editDigitLeft, 8);
    EXPECT_EQ(ch.getEditSelectedDigit(), 5);
    press(&ChannelModel::editDigitRight, 8);
    EXPECT_EQ(ch.getEditSelectedDigit(), 0);
    EXPECT_EQ(relativeStates, std::vector<int>(16, 3));
    ch.setManualRelative();   // ends the editing
    EXPECT_EQ(ch.getRelativeState(), 2);
}

// The entry limit, 1.1 x full scale in the display unit (the editor's own
// test has the cases): 300 G shown in mT (display scale 0.1) takes 33.0000
// and refuses 33.0001 with a beep, the step undone.
TEST_F(ChannelHolds, EditLimitIsElevenTenthsOfFullScaleInTheDisplayUnit) {
    ch.onRangeReply(1);
    ch.setFluxUnits(1);
    ASSERT_FLOAT_EQ(ch.getRangeSpec()->getFullScale(), 300.0f);
    ASSERT_FLOAT_EQ(ch.getRangeSpec()->getDisplayScale(), 0.1f);
    ASSERT_EQ(ch.getRangeSpec()->getDecimals(), 4);
    ch.setStatus(2);
    ch.editRelativeOffset();
    press(&ChannelModel::editDigitLeft, 5);   // tens
    press(&ChannelModel::editIncrementDigit, 3);
    ch.editDigitRight();                       // units
    const unsigned long tones = platform::toneCount();
    press(&ChannelModel::editIncrementDigit, 3);
    EXPECT_EQ(platform::toneCount(), tones);
    EXPECT_FLOAT_EQ(ch.getDigitEditor().getValue(), 33.0f);
    EXPECT_NEAR(ch.getRelativeOffset(), 330.0f, 0.001f);
    press(&ChannelModel::editDigitRight, 4);
    ch.editIncrementDigit();                   // 33.0001 mT
    EXPECT_EQ(platform::toneCount() - tones, 2u);   // one beep: two tones
    EXPECT_FLOAT_EQ(ch.getDigitEditor().getValue(), 33.0f);
    EXPECT_NEAR(ch.getRelativeOffset(), 330.0f, 0.001f);
}

TEST_F(ChannelHolds, ManualZeroOffsetIsEditedWithTheSameLimit) {
    useThirtyGaussRange();
    ch.setStatus(2);
    ch.editManualZero();
    ASSERT_EQ(ch.getManualZeroState(), 2);
    ch.editIncrementDigit();
    EXPECT_FLOAT_EQ(ch.getManualZeroOffset(), 0.0001f);
    press(&ChannelModel::editDigitLeft, 5);
    press(&ChannelModel::editIncrementDigit, 3);
    const unsigned long tones = platform::toneCount();
    ch.editIncrementDigit();   // 40.0001
    EXPECT_EQ(platform::toneCount() - tones, 2u);
    EXPECT_FLOAT_EQ(ch.getManualZeroOffset(), 30.0001f);
    // Editing again loads the offset with the cursor on digit 0, as every load does.
    ch.applyManualZero();
    ASSERT_EQ(ch.getEditSelectedDigit(), 5);
    ch.editManualZero();
    EXPECT_EQ(ch.getEditSelectedDigit(), 0);
    EXPECT_FLOAT_EQ(ch.getDigitEditor().getValue(), 30.0001f);
}

// Decrements are limited for every target, increments only for the
// relative and manual-zero offsets.
TEST_F(ChannelHolds, TriggerLevelEditing) {
    useThirtyGaussRange();
    ch.setStatus(2);
    ch.setTriggerLevel(2.5f);
    EXPECT_EQ(log->take(), std::vector<std::string>{"162#0540200000"});
    EXPECT_TRUE(ch.isSettingsDirty());
    ch.editTriggerLevel(true);
    EXPECT_TRUE(ch.isEditingTriggerLevel());
    EXPECT_FLOAT_EQ(ch.getDigitEditor().getValue(), 2.5f);
    press(&ChannelModel::editDigitLeft, 5);
    unsigned long tones = platform::toneCount();
    ch.editDecrementDigit();   // tens 0 -> 9: 92.5 is beyond 33
    EXPECT_EQ(platform::toneCount() - tones, 2u);
    EXPECT_FLOAT_EQ(ch.getTriggerLevel(), 2.5f);
    EXPECT_TRUE(log->take().empty());
    tones = platform::toneCount();
    press(&ChannelModel::editIncrementDigit, 4);   // 42.5: no limit upwards
    EXPECT_EQ(platform::toneCount(), tones);
    EXPECT_FLOAT_EQ(ch.getTriggerLevel(), 42.5f);
    EXPECT_EQ(log->take().size(), 4u);
    EXPECT_EQ(triggerLevels.back(), (std::pair<bool, float>{true, 42.5f}));
    ch.editTriggerLevel(false);
    EXPECT_FALSE(ch.isEditingTriggerLevel());
    EXPECT_EQ(triggerLevels.back(), (std::pair<bool, float>{false, 42.5f}));
}

TEST_F(ChannelHolds, KeysWithNothingEditedChangeOnlyTheEditor) {
    useThirtyGaussRange();
    press(&ChannelModel::editDigitLeft, 5);
    unsigned long tones = platform::toneCount();
    ch.editDecrementDigit();   // 90: beyond the limit even with no target
    EXPECT_EQ(platform::toneCount() - tones, 2u);
    ch.editIncrementDigit();   // no target: increments are not limited
    EXPECT_EQ(platform::toneCount() - tones, 2u);
    EXPECT_FLOAT_EQ(ch.getDigitEditor().getValue(), 100000.0f);
    EXPECT_TRUE(log->take().empty());
    EXPECT_TRUE(relativeStates.empty());
    EXPECT_TRUE(triggerLevels.empty());
}

}  // namespace
