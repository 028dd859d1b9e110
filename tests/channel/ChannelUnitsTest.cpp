// Units and the gains they resend, the analog outputs, the diagnostic mode,
// the waveform scale labels and the capture cycle with its ring of buffers.
#include "ChannelTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using chtest::TestChannel;

namespace {

class ChannelUnits : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    TestChannel ch{1};
    std::shared_ptr<testsupport::FakeBus> log = ch.attachFakeLink();
};

TEST_F(ChannelUnits, FluxUnitResendsTheGainsAndChangesTheDisplayScale) {
    ch.onRangeReply(0);   // 30 G
    ch.sendGains();
    log->take();
    std::vector<int> units;
    ch.signalFluxUnitsChanged().connect([&](int c, int u) { units.push_back(c * 10 + u); });
    ch.setReading(10.0f);
    ch.setFluxUnits(1);
    EXPECT_EQ(log->take(), (std::vector<std::string>{"169#0841F00000", "169#0941F00000"}));
    EXPECT_EQ(ch.getRangeSpec()->getUnitName(), "mT");
    EXPECT_FLOAT_EQ(ch.getDisplayValue(), 1.0f);   // 10 G is 1 mT
    EXPECT_EQ(units, std::vector<int>{11});
    EXPECT_TRUE(ch.isSettingsDirty());
    ch.setFluxUnits(0);
    EXPECT_EQ(ch.getRangeSpec()->getUnitName(), "G");
    EXPECT_FLOAT_EQ(ch.getDisplayValue(), 10.0f);
}

TEST_F(ChannelUnits, TemperatureAndTimeUnits) {
    const struct {
        int unit;
        const char* letter;
    } cases[] = {{0, "F"}, {2, "K"}, {5, "K"}, {1, "C"}, {-1, "C"}};
    for (const auto& c : cases) {
        ch.setTemperatureUnits(c.unit);
        EXPECT_EQ(ch.getTemperatureUnits(), c.unit);
        EXPECT_EQ(ch.getTemperatureUnitText(), c.letter) << c.unit;
    }
    int timeUnit = -1;
    ch.signalTimeUnitsChanged().connect([&](int, int u) { timeUnit = u; });
    ch.setTimeUnits(1);
    EXPECT_EQ(timeUnit, 1);
    EXPECT_EQ(ch.getTimeUnits(), 1);
    EXPECT_TRUE(log->take().empty());
}

TEST_F(ChannelUnits, AnalogOutputsAndDiagnosticMode) {
    std::vector<int> announced;
    ch.signalCdacModeChanged().connect([&](int, int m) { announced.push_back(m); });
    ch.signalUdacScalingChanged().connect([&](int, int v) { announced.push_back(v); });
    const struct {
        void (ChannelModel::*set)(int);
        int value;
        std::vector<std::string> frames;
    } cases[] = {
        {&ChannelModel::setCdacMode, 1, {"169#000001"}},
        {&ChannelModel::setCdacMode, 3, {"169#020000"}},   // output to 0, no mode command
        {&ChannelModel::setCdacMode, 7, {}},
        {&ChannelModel::setUdacMode, 2, {"169#030002"}},
        {&ChannelModel::setUdacMode, 3, {"169#050000"}},
        {&ChannelModel::setCdacScaling, 100, {"169#010064"}},
        {&ChannelModel::setUdacScaling, 30, {"169#04001E"}},
        {&ChannelModel::setUdacScaling, 150, {}},           // stored, never sent
        {&ChannelModel::setDiagMode, 2, {"16B#0200000000000000"}},
        {&ChannelModel::setDiagMode, 300, {}},
    };
    for (const auto& c : cases) {
        (ch.*c.set)(c.value);
        EXPECT_EQ(log->take(), c.frames) << c.value;
    }
    EXPECT_EQ(ch.getCdacMode(), 7);
    EXPECT_EQ(ch.getUdacMode(), 3);
    EXPECT_EQ(ch.getUdacScaling(), 150);
    EXPECT_EQ(ch.getDiagMode(), 300);
    EXPECT_EQ(announced, (std::vector<int>{1, 3, 7, 30, 150}));
}

TEST_F(ChannelUnits, WaveformScaleLabels) {
    ch.onRangeReply(2);   // 3 kG, shown in kG
    ch.sendGains();
    ASSERT_EQ(ch.getRangeSpec()->getUnitName(), "kG");
    const std::string text = ch.getWaveformScaleText(4);   // 3 kG / 3
    EXPECT_EQ(text.substr(0, 4), "1.00");
    EXPECT_EQ(text.substr(text.size() - 6), "kG/div");
    EXPECT_EQ(ch.getWaveformScaleText(5).substr(0, 4), "2.00");
    EXPECT_EQ(ch.getWaveformScaleText(0).substr(0, 4), "0.05");
    EXPECT_EQ(ch.getWaveformScaleText(9).substr(0, 4), "5.00");
    int announced = -1;
    ch.signalWaveformScaleChanged().connect([&](int, int s) { announced = s; });
    ch.setWaveformScale(1);
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(ch.getCurrentWaveformScaleText(), ch.getWaveformScaleText(1));
}

TEST_F(ChannelUnits, TheThirteenthWaveformOverwritesTheFirst) {
    int ready = 0;
    ch.signalWaveformReady().connect([&](int) { ++ready; });
    for (int w = 0; w < 13; ++w) {
        ch.onWaveformStart(4);
        ch.onWaveformData(w, w + 0.5f);
        ch.onWaveformData(-w, 0.25f);
        // The buffer handed out is never the one being filled, also while
        // the first capture comes in.
        EXPECT_NE(ch.readyBuffer(), ch.fillBuffer()) << w;
        ch.onWaveformEnd();
        EXPECT_EQ(ch.readyBuffer(), (w + 1) % 12);
        EXPECT_EQ(ch.fillBuffer(), (w + 2) % 12);
        const WaveformBuffer& b = ch.getWaveformBuffer();
        EXPECT_EQ(b.count, 4);
        EXPECT_EQ(b.samples[0], static_cast<float>(w));
        EXPECT_EQ(b.samples[3], 0.25f);
        EXPECT_EQ(b.samples[4], 0.0f);
    }
    EXPECT_EQ(ready, 13);
    // More pairs than the buffer holds are dropped.
    ch.onWaveformStart(900);
    for (int i = 0; i < 300; ++i) ch.onWaveformData(1.0f, 2.0f);
    ch.onWaveformEnd();
    EXPECT_EQ(ch.getWaveformBuffer().count, WaveformBuffer::kCapacity);
    EXPECT_EQ(ch.getWaveformBuffer().samples[499], 2.0f);
}

TEST_F(ChannelUnits, SingleCaptureIsTakenOnce) {
    ch.setTriggerMode(3);
    ch.armCapture();
    // 0x02 [3, card mode 2, slope 0, decimation 80, 500 points] (filter 0, time base 5)
    EXPECT_EQ(log->take(), std::vector<std::string>{"162#030200005001F4"});
    EXPECT_FALSE(ch.isCaptureRunning());
    ch.onCaptureState(1);
    ch.onWaveformStart(2);
    ch.onWaveformEnd();
    // The end does not re-arm: nothing within a few timer periods.
    ch.setWaveformTimerPeriod(10);
    EXPECT_FALSE(testsupport::waitUntil([&] { return !log->take().empty(); }, std::chrono::milliseconds(100)));
}

TEST_F(ChannelUnits, RunningCaptureRearmsAfterTheTimer) {
    std::atomic<int> armed{0};
    ch.signalCaptureArmed().connect([&](int) { ++armed; });
    ch.setWaveformTimerPeriod(20);
    ch.setTriggerMode(1);
    ch.setTimebase(0);
    ch.onCaptureState(1);
    ch.armCapture();
    EXPECT_EQ(armed, 1);   // announced before the request while the card waits
    EXPECT_EQ(log->take(), std::vector<std::string>{"162#0301000001" "0032"});
    ch.onWaveformEnd();
    ASSERT_TRUE(testsupport::waitUntil([&] { return armed == 2; }));
    EXPECT_TRUE(testsupport::waitUntil([&] {
        auto f = log->take();
        return !f.empty() && f.front() == "162#03010000010032";
    }));
    ch.stopCapture();
    EXPECT_FALSE(ch.isCaptureRunning());
    EXPECT_EQ(log->take(), std::vector<std::string>{"162#04"});
}

}  // namespace
