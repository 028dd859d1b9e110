// The reading pipeline: averaging, decimation, autorange, range fit,
// over-range, mode and frequency reports, and the guards on rates.
#include "ChannelFixture.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace channeltest;

namespace {
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr int kOverRangeBit = 10;     // measurement register, channel 2
constexpr int kRangeBusyBit = 2;      // operation register, channel 2
}  // namespace

TEST(ChannelRates, DisplayRateSetsTheSamplesPerAverage) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(2, "unused");
    m.setDisplayRate(2.0f);
    EXPECT_EQ(m.getSamplesPerAverage(), 305);
    m.setDisplayRate(10.0f);
    EXPECT_EQ(m.getSamplesPerAverage(), 61);
    m.setDisplayRate(700.0f);
    EXPECT_EQ(m.getSamplesPerAverage(), 1);
    EXPECT_EQ(m.getDecimation(), 1);
}

TEST(ChannelRates, UnusableRatesNeverReachADivision) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(2, "unused");
    m.setDisplayRate(10.0f);
    for (float bad : {0.0f, -1.0f, kNaN, kInf, -kInf}) {
        m.setDisplayRate(bad);
        EXPECT_FLOAT_EQ(m.getDisplayRate(), 10.0f) << bad;
        EXPECT_EQ(m.getSamplesPerAverage(), 61) << bad;
    }
    // A card rate that is no rate keeps the last good one.
    for (float bad : {0.0f, -610.0f, kNaN, kInf}) {
        m.onModeReply(0, 0, bad);
        EXPECT_FLOAT_EQ(m.getCardSampleRate(), 610.0f) << bad;
        EXPECT_EQ(m.getSamplesPerAverage(), 61) << bad;
    }
    m.setDecimation(0);
    EXPECT_EQ(m.getDecimation(), 1);
    m.setDecimation(-5);
    EXPECT_EQ(m.getDecimation(), 1);
    m.setSamplesPerAverage(0);
    EXPECT_EQ(m.getSamplesPerAverage(), 1);
    // A sample with the guarded values makes a reading at once.
    m.onSample(5.0f, 0);
    EXPECT_FLOAT_EQ(m.getValue(), 5.0f);
}

// The value, format and unit a readout shows, as one text.
static std::string shownFreq(const ChannelModel& m) {
    const ChannelModel::SignalFreqText t = m.getSignalFreqText();
    char number[64];
    std::snprintf(number, sizeof number, t.format.c_str(), static_cast<double>(t.value));
    return std::string(number) + " " + t.unit;
}

TEST(ChannelFrequency, ShownAsFrequencyOrPeriod) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(1, "unused");
    m.onFrequency(1200.0f);
    EXPECT_EQ(m.getSignalFreqText().unit, "Hz");
    EXPECT_EQ(m.getSignalFreqText().format, "%4.1f");
    m.onFrequency(1500.0f);
    EXPECT_EQ(m.getSignalFreqText().unit, "kHz");
    EXPECT_EQ(m.getSignalFreqText().format, "%2.3f");
    EXPECT_FLOAT_EQ(m.getSignalFreqText().value, 1.5f);

    m.setTimeUnits(1);
    m.onFrequency(1000.0f);   // a period of exactly 1 ms
    EXPECT_EQ(m.getSignalFreqText().unit, "msec");
    EXPECT_EQ(m.getSignalFreqText().format, "%3.2f");
    EXPECT_FLOAT_EQ(m.getSignalFreqText().value, 1.0f);
    m.onFrequency(2000.0f);
    EXPECT_EQ(m.getSignalFreqText().unit, "usec");
    EXPECT_FLOAT_EQ(m.getSignalFreqText().value, 500.0f);
}

TEST(ChannelFrequency, ATimeUnitChangeConvertsTheStoredFrequencyAtOnce) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(1, "unused");
    // What a readout drawing on the unit's signal finds, before the card
    // reports again.
    std::vector<std::string> seen;
    m.signalTimeUnitsChanged().connect([&](int, int) { seen.push_back(shownFreq(m)); });
    struct Case {
        float hz;
        int unit;
        const char* shown;
        float stored;
    } cases[] = {
        {4999.5f, 1, "200.0 usec", 1.0f / 4999.5f}, {4999.5f, 0, "4.999 kHz", 4999.5f},
        {60.0f, 1, "16.67 msec", 1.0f / 60.0f},     {60.0f, 0, "60.0 Hz", 60.0f},
        {0.0f, 1, " 0.0 usec", 0.0f},
    };
    for (const Case& c : cases) {
        m.setTimeUnits(c.unit == 1 ? 0 : 1);
        m.onFrequency(c.hz);
        seen.clear();
        m.setTimeUnits(c.unit);
        EXPECT_EQ(shownFreq(m), c.shown) << c.hz << " Hz, unit " << c.unit;
        EXPECT_EQ(seen, std::vector<std::string>{c.shown}) << c.hz << " Hz, unit " << c.unit;
        EXPECT_FLOAT_EQ(m.getSignalFreq(), c.stored) << c.hz << " Hz, unit " << c.unit;
    }
}

TEST(ChannelFrequency, NoSignalNeverGivesAnInfiniteOrNegativePeriod) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(1, "unused");
    m.setTimeUnits(1);
    for (float f : {0.0f, -50.0f, kNaN, -kInf, kInf, 1e-40f}) {
        m.onFrequency(f);
        const float shown = m.getSignalFreqText().value;
        EXPECT_TRUE(std::isfinite(m.getSignalFreq())) << f;
        EXPECT_TRUE(std::isfinite(shown)) << f;
        EXPECT_GE(shown, 0.0f) << f;
    }
}

TEST(ChannelWaveform, AnnouncedCountIsClampedAndExtraPairsDropped) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(1, "unused");
    m.onWaveformStart(100000);
    for (int k = 0; k < 400; ++k) m.onWaveformData(float(2 * k), float(2 * k + 1));
    m.onWaveformEnd();
    const WaveformBuffer& b = m.getWaveformBuffer();
    EXPECT_EQ(b.count, 500);
    EXPECT_FLOAT_EQ(b.samples[498], 498.0f);
    EXPECT_FLOAT_EQ(b.samples[499], 499.0f);

    m.onWaveformStart(-3);
    m.onWaveformEnd();
    EXPECT_EQ(m.getWaveformBuffer().count, 0);
}

TEST_F(ChannelFixture, AveragesAndDecimatesTheCardSamples) {
    makeReady();
    // These small readings would move an autoranging channel down, and the
    // card's range report, whenever it lands among the samples below, rightly
    // drops the partial average: keep the range fixed and its echo handled.
    model.setAutorange(false);
    ASSERT_TRUE(testsupport::waitUntil([] { return !operationBit(kRangeBusyBit); }));
    model.setSamplesPerAverage(4);
    const std::size_t before = readingCount();
    card.out().sendSample(kChannel, 1.0f, 0);
    card.out().sendSample(kChannel, 2.0f, 0);
    card.out().sendSample(kChannel, 3.0f, 4);
    card.out().sendSample(kChannel, 6.0f, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return readingCount() == before + 1; }));
    EXPECT_FLOAT_EQ(model.getValue(), 3.0f);
    EXPECT_EQ(model.isClipped(), 4) << "status bits of the averaged samples are kept";

    model.setDecimation(2);
    for (int i = 1; i <= 8; ++i) card.out().sendSample(kChannel, float(i), 0);   // keeps 2, 4, 6, 8
    ASSERT_TRUE(testsupport::waitUntil([&] { return readingCount() == before + 2; }));
    EXPECT_FLOAT_EQ(model.getValue(), 5.0f);
    EXPECT_EQ(model.isClipped(), 0);
}

TEST_F(ChannelFixture, ModeReportRecomputesTheAverageAndAnnouncesTheMode) {
    makeReady();
    // Shared with the slot, which runs on the reader thread and stays
    // connected as long as the model lives.
    auto dcReports = std::make_shared<std::atomic<int>>(0);
    model.signalModeChanged().connect([dcReports](int, int m, int f) {
        if (m == 0 && f == 0) ++*dcReports;
    });
    model.setDisplayRate(10.0f);
    card.out().sendModeReply(kChannel, 0, 0, 610.0f);
    ASSERT_TRUE(testsupport::waitUntil([&] { return *dcReports > 0; }));
    EXPECT_EQ(model.getSamplesPerAverage(), 61);
    feed(1.0f, 61, 1);
    model.setDisplayRate(700.0f);
    feed(2.0f, 3, 3);
}

TEST_F(ChannelFixture, ModeAndFrequencyCommandsBackToBackDoNotUndoEachOther) {
    startAndCardReady();
    card.clear();
    // No report comes in between: each frame must carry the other command's value.
    model.setMode(1);
    model.setFreqRange(3);
    model.setMode(1);
    ASSERT_TRUE(card.waitForCount(kSetMode, 3));
    const auto frames = card.frames(kSetMode);
    for (const auto& f : frames) EXPECT_EQ(f.data[0], 1) << "mode";
    EXPECT_EQ(frames[1].data[1], 3);
    EXPECT_EQ(frames[2].data[1], 3) << "frequency range";
}

TEST_F(ChannelFixture, AutorangeStepsAtTheThresholds) {
    makeReady();
    ASSERT_TRUE(model.isAutorange());
    model.setSamplesPerAverage(1);
    // From the 30 kG range down to the 30 G range, one step per reading.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        card.out().sendSample(kChannel, 20.0f, 0);
        return model.getRange() == 0;
    }, std::chrono::seconds(10), std::chrono::milliseconds(50)));
    ASSERT_TRUE(waitForRange(0));
    EXPECT_EQ(model.getRangeSpec()->getRangeName(), "30G");

    card.clear();
    feed(27.0f, 3, 3);   // at the up threshold (0.9 x 30 G): stays
    EXPECT_EQ(card.count(kSetRange), 0u);
    feed(27.01f, 1, 1);
    ASSERT_TRUE(card.waitForCount(kSetRange, 1));
    EXPECT_EQ(card.frames(kSetRange)[0].data[0], 1);
    ASSERT_TRUE(waitForRange(1));

    card.clear();
    feed(24.0f, 3, 3);   // at the down threshold (0.8 x 30 G): stays
    EXPECT_EQ(card.count(kSetRange), 0u);
    feed(23.99f, 1, 1);
    ASSERT_TRUE(card.waitForCount(kSetRange, 1));
    EXPECT_EQ(card.frames(kSetRange)[0].data[0], 0);
    ASSERT_TRUE(waitForRange(0));
}

TEST_F(ChannelFixture, RangeCommandHoldsTheOperationBitUntilTheCardConfirms) {
    makeReady();
    card.echoRange = false;
    model.setRange(1);
    ASSERT_TRUE(card.waitForCount(kSetRange, 2));   // present range again, then 1
    EXPECT_TRUE(operationBit(kRangeBusyBit));
    EXPECT_FALSE(model.isAutorange());
    EXPECT_EQ(model.getRange(), 3) << "the range follows the card's report only";
    card.out().sendRangeReply(kChannel, 1);
    ASSERT_TRUE(waitForRange(1));
    EXPECT_FALSE(operationBit(kRangeBusyBit));
    // The gains of the new range go to the card (they cross the bus after the
    // range report has been handled, so wait for them).
    EXPECT_TRUE(testsupport::waitUntil([&] {
        const auto gains = card.frames(kSetGain);
        return gains.size() >= 2u && gainOf(gains.back()) == 300.0f;
    }));
}

TEST_F(ChannelFixture, RangeFitsFollowsTheRmsOffsetAndTheRelativeOffset) {
    makeReady();
    card.out().sendCalParameter(kChannel, 61, 40.0f);   // DC RMS offset of range 0
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getCalParameter(61) == 40.0f; }));
    EXPECT_FALSE(model.rangeFits(0));
    EXPECT_TRUE(model.rangeFits(1));
    EXPECT_FALSE(model.rangeFits(4));
    card.out().sendCalParameter(kChannel, 61, 33.0f);   // exactly 1.1 x 30 G fits
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getCalParameter(61) == 33.0f; }));
    EXPECT_TRUE(model.rangeFits(0));

    model.setRelativeOffset(40.0f);
    model.setManualRelative();
    ASSERT_EQ(model.getRelativeState(), 2);
    EXPECT_FALSE(model.rangeFits(0));
    EXPECT_TRUE(model.rangeFits(1));

    // A refused range re-announces the present one and raises error 11.
    card.clear();
    rangeAnnouncements.clear();
    model.setRange(0);
    EXPECT_EQ(copyOf(errors), std::vector<int>{11});
    ASSERT_FALSE(copyOf(rangeAnnouncements).empty());
    EXPECT_EQ(copyOf(rangeAnnouncements).back(), model.getRange());
}

TEST_F(ChannelFixture, OverRangeFlagsTheReadingAndSetsTheMeasurementBit) {
    makeReady();
    model.setSamplesPerAverage(1);
    model.setRange(0);
    ASSERT_TRUE(waitForRange(0));
    feed(10.0f, 1, 1);
    EXPECT_FALSE(model.isOverRange());

    feed(33.0f, 1, 1);   // exactly 1.1 x full scale is in range
    EXPECT_FALSE(model.isOverRange());
    EXPECT_FLOAT_EQ(model.getValue(), 33.0f);
    EXPECT_FALSE(measurementBit(kOverRangeBit));

    feed(33.01f, 1, 1);
    EXPECT_TRUE(model.isOverRange());
    EXPECT_FLOAT_EQ(model.getValue(), 33.0f) << "the last in-range reading stays";
    EXPECT_TRUE(measurementBit(kOverRangeBit));
    feed(40.0f, 2, 2);
    EXPECT_EQ(copyOf(overRangeChanges), std::vector<bool>{true}) << "announced on transitions only";

    feed(-5.0f, 1, 1);
    EXPECT_FALSE(model.isOverRange());
    EXPECT_FALSE(measurementBit(kOverRangeBit));
    EXPECT_FLOAT_EQ(model.getValue(), -5.0f);
    EXPECT_EQ(copyOf(overRangeChanges), (std::vector<bool>{true, false}));
}

TEST_F(ChannelFixture, RangeReportSkipsHalfASecondAndRestartsTheHolds) {
    makeReady();
    model.setSamplesPerAverage(1);
    model.setAutorange(false);   // the small readings below must not move the range
    ASSERT_TRUE(testsupport::waitUntil([] { return !operationBit(kRangeBusyBit); }));
    // 40 samples counted over the 4 s rate period: 10 samples a second.
    card.sendSamples(1.0f, 40);
    ASSERT_TRUE(testsupport::waitUntil([&] { return readingCount() >= 40; }));
    model.onRateTimer();
    EXPECT_FLOAT_EQ(model.getReceivedSampleRate(), 10.0f);

    model.setRange(2);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        const auto a = copyOf(rangeAnnouncements);
        return !a.empty() && a.back() == 2;
    }));
    EXPECT_EQ(model.skipping(), 5);
    const auto announced = copyOf(rangeAnnouncements).size();
    const std::size_t before = readingCount();
    card.sendSamples(100.0f, 5);
    card.sendSamples(200.0f, 1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return readingCount() == before + 1; }));
    EXPECT_FLOAT_EQ(model.getValue(), 200.0f);
    EXPECT_EQ(copyOf(rangeAnnouncements).size(), announced + 1) << "range announced again at the end of the skip";
    // The holds restart from the first reading of the new range, right after
    // it is announced.
    EXPECT_TRUE(testsupport::waitUntil([&] { return model.getMinHoldValue() == 200.0f; }))
        << model.getMinHoldValue();
    EXPECT_FLOAT_EQ(model.getMaxHoldValue(), 200.0f);
}

TEST_F(ChannelFixture, DiagnosticReadingsBypassRanging) {
    makeReady();
    model.setSamplesPerAverage(1);
    model.setDiagMode(2);
    card.out().sendDiagModeReply(kChannel, 2, "V");
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getDiagUnitText() == "V"; }));
    feed(1.0e9f, 1, 1);
    EXPECT_FLOAT_EQ(model.getValue(), 1.0e9f);
    EXPECT_FALSE(model.isOverRange());
    EXPECT_FLOAT_EQ(model.getDisplayValue(), 1.0e9f) << "display scale 1 in diagnostic mode";
}

TEST(ChannelGuards, NonFiniteOffsetsLevelsAndThresholdsAreRefused) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(2, "unused");
    m.setRelativeOffset(12.0f);
    m.setTriggerLevel(3.0f);
    m.getClassifierController().setUpperThreshold(20.0f);
    m.getClassifierController().setLowerThreshold(-20.0f);
    for (float bad : {kNaN, kInf, -kInf}) {
        m.setRelativeOffset(bad);
        m.setTriggerLevel(bad);
        m.updateTriggerLevel(bad, true);
        m.getClassifierController().setUpperThreshold(bad);
        m.getClassifierController().setLowerThreshold(bad);
    }
    EXPECT_FLOAT_EQ(m.getRelativeOffset(), 12.0f);
    EXPECT_FLOAT_EQ(m.getTriggerLevel(), 3.0f);
    EXPECT_FLOAT_EQ(m.getClassifierController().getUpperThreshold(), 20.0f);
    EXPECT_FLOAT_EQ(m.getClassifierController().getLowerThreshold(), -20.0f);
}
