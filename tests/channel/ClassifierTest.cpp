// The classifier: states, output frames 0x149 and measurement bits, the
// threshold rules and the front-panel entry.
#include "ChannelFixture.h"

#include "platform/Platform.h"

#include <atomic>
#include <limits>
#include <thread>

using namespace channeltest;

namespace {
constexpr int kLowBit = 11;    // channel 2
constexpr int kHighBit = 12;

std::vector<std::array<int, 3>> outputs(const ScriptedCard& card) {
    std::vector<std::array<int, 3>> out;
    for (const auto& f : card.frames(kClassifierId)) out.push_back({f.data[0], f.data[1], f.data[2]});
    return out;
}
}  // namespace

TEST_F(ChannelFixture, ClassifierSortsReadingsAndDrivesTheOutputs) {
    makeReady();
    model.setSamplesPerAverage(1);
    ClassifierController& c = model.getClassifierController();
    std::atomic<int> wrongChannel{0};
    c.signalChanged().connect([&](int ch, int, int) {
        if (ch != kChannel) ++wrongChannel;
    });
    c.setUpperThreshold(10.0f);
    c.setLowerThreshold(-10.0f);
    feed(20.0f, 1, 1);
    EXPECT_EQ(c.getState(), 0) << "off: nothing is classified";
    c.setMode(1);
    card.clear();

    feed(20.0f, 10, 10);
    EXPECT_EQ(c.getState(), 1);
    ASSERT_TRUE(card.waitForCount(kClassifierId, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(outputs(card), (std::vector<std::array<int, 3>>{{2, 0, 0}, {2, 1, 1}})) << "two frames for ten readings";
    EXPECT_TRUE(measurementBit(kHighBit));
    EXPECT_FALSE(measurementBit(kLowBit));

    card.clear();
    feed(10.0f, 1, 1);   // equal to the upper threshold: pass
    EXPECT_EQ(c.getState(), 0);
    feed(-10.5f, 1, 1);
    EXPECT_EQ(c.getState(), 2);
    ASSERT_TRUE(card.waitForCount(kClassifierId, 4));
    EXPECT_EQ(outputs(card), (std::vector<std::array<int, 3>>{{2, 0, 0}, {2, 1, 0}, {2, 0, 1}, {2, 1, 0}}));
    EXPECT_FALSE(measurementBit(kHighBit));
    EXPECT_TRUE(measurementBit(kLowBit));

    // Off drives the outputs to pass.
    card.clear();
    c.setMode(0);
    EXPECT_EQ(c.getState(), 0);
    ASSERT_TRUE(card.waitForCount(kClassifierId, 2));
    EXPECT_EQ(outputs(card), (std::vector<std::array<int, 3>>{{2, 0, 0}, {2, 1, 0}}));
    EXPECT_FALSE(measurementBit(kLowBit));

    // Direct line control.
    card.clear();
    model.setClassifierLine1(1);
    ASSERT_TRUE(card.waitForCount(kClassifierId, 1));
    EXPECT_EQ(outputs(card), (std::vector<std::array<int, 3>>{{2, 1, 1}}));
    EXPECT_EQ(wrongChannel, 0);
}

TEST(ClassifierThresholds, RefusesWhatCannotBeAThreshold) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(1, "unused");   // range 3 of a 1X probe: 30 kG full scale
    ClassifierController& c = m.getClassifierController();
    int settings = 0;
    c.signalSettingsChanged().connect([&](int) { ++settings; });

    c.setUpperThreshold(33000.0f);   // exactly 1.1 x full scale
    EXPECT_FLOAT_EQ(c.getUpperThreshold(), 33000.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float bad : {33010.0f, nan, inf, -inf}) c.setUpperThreshold(bad);
    for (float bad : {-33010.0f, nan, inf, -inf, 33001.0f}) c.setLowerThreshold(bad);
    EXPECT_FLOAT_EQ(c.getUpperThreshold(), 33000.0f);
    EXPECT_FLOAT_EQ(c.getLowerThreshold(), 0.0f);
    EXPECT_EQ(settings, 1);

    // Upper first, then lower, as the settings file is read.
    ChannelModel fresh(2, "unused");
    ClassifierController& f = fresh.getClassifierController();
    f.setUpperThreshold(-10.0f);
    f.setLowerThreshold(-20.0f);
    EXPECT_FLOAT_EQ(f.getUpperThreshold(), 0.0f);
    EXPECT_FLOAT_EQ(f.getLowerThreshold(), -20.0f);
}

TEST(ClassifierThresholds, ZeroThresholdsAndTheModeReport) {
    testsupport::TempSandbox sandbox;
    ScpiRegisterManager::instance()->getMeasurementRegister().clear();
    ChannelModel m(3, "unused");
    ClassifierController& c = m.getClassifierController();
    c.setMode(1);
    c.classify(0.1f);
    EXPECT_EQ(c.getState(), 1);
    EXPECT_TRUE(measurementBit(15));
    c.classify(-0.1f);
    EXPECT_EQ(c.getState(), 2);
    EXPECT_TRUE(measurementBit(14));
    EXPECT_FALSE(measurementBit(15));
    c.classify(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(c.getState(), 0) << "a reading that is not a number passes";

    c.setLowerThreshold(-5.0f);
    m.onModeReply(1, 0, 610.0f);   // AC: the classifier switches off, negative thresholds become 0
    EXPECT_EQ(c.getMode(), 0);
    EXPECT_FLOAT_EQ(c.getLowerThreshold(), 0.0f);
    c.editToggleSign();            // ignored in AC
    EXPECT_FALSE(c.isEditValueNegative());
}

TEST_F(ChannelFixture, ThresholdEntryWithTheChannelKeys) {
    makeReady();
    model.setRange(0);   // 30 G, 4 decimals, display scale 1
    ASSERT_TRUE(waitForRange(0));
    ClassifierController& c = model.getClassifierController();
    c.setUpperThreshold(32.0f);
    std::atomic<int> changes{0};
    c.signalChanged().connect([&](int, int, int) { ++changes; });
    c.editUpperThreshold();
    EXPECT_EQ(c.getMode(), 3);
    c.selectEditDigit(5);        // the tens digit of 32.0000
    changes = 0;
    c.editDecrementDigit();      // 22 G
    EXPECT_FLOAT_EQ(c.getUpperThreshold(), 22.0f);
    EXPECT_EQ(changes, 1);
    c.endEdit();
    EXPECT_EQ(c.getMode(), 0);
}

// The entry limit, 1.1 x full scale in the display unit (the editor's own
// test has the cases): 300 G shown in mT (display scale 0.1) takes 33.0000
// and refuses 33.0001 with a beep, the step undone and nothing announced.
TEST_F(ChannelFixture, ThresholdEntryStopsAtElevenTenthsOfFullScaleInTheDisplayUnit) {
    makeReady();
    model.setRange(1);   // 300 G
    ASSERT_TRUE(waitForRange(1));
    model.setFluxUnits(1);
    ASSERT_FLOAT_EQ(model.getRangeSpec()->getDisplayScale(), 0.1f);
    ASSERT_EQ(model.getRangeSpec()->getDecimals(), 4);
    ClassifierController& c = model.getClassifierController();
    c.setUpperThreshold(320.0f);   // 32.0000 mT
    std::atomic<int> changes{0};
    c.signalChanged().connect([&](int, int, int) { ++changes; });
    c.editUpperThreshold();
    c.selectEditDigit(4);          // the units digit
    const unsigned long tones = platform::toneCount();
    changes = 0;
    c.editIncrementDigit();        // 33.0000 mT = 1.1 x full scale
    EXPECT_EQ(platform::toneCount(), tones);
    EXPECT_NEAR(c.getUpperThreshold(), 330.0f, 0.001f);
    EXPECT_EQ(changes, 1);
    c.selectEditDigit(0);
    changes = 0;
    c.editIncrementDigit();        // 33.0001 mT: undone with a beep
    EXPECT_GT(platform::toneCount(), tones);
    EXPECT_NEAR(c.getUpperThreshold(), 330.0f, 0.001f);
    EXPECT_EQ(changes, 0);
    c.selectEditDigit(4);
    c.editDecrementDigit();        // 32.0000 mT: the refused step was undone
    EXPECT_NEAR(c.getUpperThreshold(), 320.0f, 0.0005f);
    c.endEdit();
}
