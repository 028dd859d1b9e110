// One simulated card in this process, with a field level that the program
// itself never sets, so that the waveform windows and the samples carry
// values to check against the sine table and the noise bound.
#include "BusPeer.h"
#include "simulator/ChannelSim.h"
#include "simulator/SineWave.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using simtest::BusPeer;
using simtest::cardReply;
using simtest::Frame;

namespace {

constexpr int kChannel = 2;
constexpr float kFullScale = 30.0f;   // probe class 3, range 0
constexpr double kFieldLevel = 50.0;  // percent: waveform gain 15

class ChannelSimCard : public ::testing::Test {
protected:
    void SetUp() override {
        peer = std::make_unique<BusPeer>(bus);
        peer->start();
        card = std::make_unique<ChannelSim>(kChannel, bus.c_str(), 0.0, 10.0);
        card->_setProbeType(3);
        card->setFieldLevel(kFieldLevel);
    }
    void TearDown() override {
        card.reset();
        peer.reset();
    }

    // Requests one capture and returns its values once its end frame came.
    std::vector<float> capture(int mode, int slope, int decimation, int count) {
        peer->log.clear();
        peer->can.sendWaveformRequest(kChannel, mode, slope, decimation, count);
        std::vector<float> values;
        const bool ended = testsupport::waitUntil([&] {
            for (const Frame& f : peer->log.withId({cardReply(kChannel, 0x02)}))
                if (f.data[0] == 4) return true;
            return false;
        });
        EXPECT_TRUE(ended) << "no end frame";
        for (const Frame& f : peer->log.withId({cardReply(kChannel, 0x03)})) {
            values.push_back(f.floatAt(0));
            values.push_back(f.floatAt(4));
        }
        return values;
    }

    void setTriggerMode(int mode) {
        const std::size_t before = peer->log.count(cardReply(kChannel, 0x02));
        peer->can.sendTriggerMode(kChannel, mode);
        ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(cardReply(kChannel, 0x02)) > before; }));
    }

    // The window start that explains every value, or -1.
    static long long matchingStart(const std::vector<float>& values, int decimation, long long from, long long to) {
        const SineTable table;
        const double gain = kFullScale * kFieldLevel * 0.01;
        for (long long first = from; first <= to; ++first) {
            bool all = true;
            for (std::size_t i = 0; i < values.size() && all; ++i)
                all = values[i] == static_cast<float>(gain * table.at(first + static_cast<long long>(i) * decimation));
            if (all) return first;
        }
        return -1;
    }

    testsupport::TempSandbox sandbox;
    std::string bus = testsupport::uniqueBusName("cs");
    std::unique_ptr<BusPeer> peer;
    std::unique_ptr<ChannelSim> card;
};

TEST_F(ChannelSimCard, FreeRunWindowStartsWithinThePhaseRange) {
    const std::vector<float> values = capture(1, 0, 2, 100);
    ASSERT_EQ(values.size(), 100u);
    EXPECT_GE(matchingStart(values, 2, 0, 100), 0) << "values are the table from an index 0-100";
    const std::vector<float> odd = capture(1, 0, 2, 5);
    EXPECT_EQ(odd.size(), 6u) << "an odd count sends one pair more";
}

TEST_F(ChannelSimCard, HostTimeBaseWindowContinuesTheSinePastTheTable) {
    const std::vector<float> values = capture(1, 0, 200, 500);
    ASSERT_EQ(values.size(), 500u);
    EXPECT_GE(matchingStart(values, 200, 0, 100), 0);
}

// A capture without decimation, at the sample period of the card's frequency
// range (the host's time bases: 1.6 us in ranges 0, 4 and 5, 3.2 us in range
// 1, 12.8 us in ranges 2 and 3), holds the frequency that the card reports,
// 4999.5 Hz: a period every 1 / (4999.5 Hz x sample period) samples.
TEST_F(ChannelSimCard, CapturesHoldTheReportedFrequencyAtTheRangesSamplePeriod) {
    const std::pair<int, double> cases[] = {{0, 1.6}, {1, 3.2}, {2, 12.8}, {3, 12.8}, {4, 1.6}, {5, 1.6}};
    for (const auto& c : cases) {
        peer->log.clear();
        peer->can.sendSetMode(kChannel, 1, c.first);
        ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(cardReply(kChannel, 0x01)) == 1; }));
        const std::vector<float> v = capture(1, 0, 1, 500);
        ASSERT_EQ(v.size(), 500u);
        // Rising zero crossings, between samples by linear interpolation.
        std::vector<double> rising;
        for (std::size_t i = 0; i + 1 < v.size(); ++i)
            if (v[i] < 0.0f && v[i + 1] >= 0.0f) rising.push_back(i + v[i] / (v[i] - v[i + 1]));
        ASSERT_GE(rising.size(), 3u) << "range " << c.first;
        const double period = (rising.back() - rising.front()) / static_cast<double>(rising.size() - 1);
        const double expected = 1.0e6 / (4999.5 * c.second);
        EXPECT_NEAR(period, expected, expected * 0.005) << "range " << c.first;
    }
}

TEST_F(ChannelSimCard, TriggeredWindowIsCentredOnTheCrossing) {
    ASSERT_NO_FATAL_FAILURE(setTriggerMode(1));
    peer->can.sendTriggerLevel(kChannel, 5.0f);
    for (int slope : {0, 1}) {
        const std::vector<float> v = capture(1, slope, 3, 100);
        ASSERT_EQ(v.size(), 100u);
        if (slope == 0) {
            EXPECT_TRUE(v[49] < 5.0f && 5.0f <= v[50]) << v[49] << " " << v[50];
        } else {
            EXPECT_TRUE(v[49] > 5.0f && 5.0f >= v[50]) << v[49] << " " << v[50];
        }
        EXPECT_GE(matchingStart(v, 3, 0, 1000), 0);
    }
}

TEST_F(ChannelSimCard, SamplesCarryTheFieldWithinTheNoiseBound) {
    card->_setStatus(2);
    peer->can.sendSendAllRequest(kChannel);
    ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(cardReply(kChannel, 0x00)) >= 100; }));
    const double field = kFullScale * kFieldLevel * 0.01;
    const double bound = 0.5 * 10.0 * 0.01 * kFullScale;
    for (const Frame& f : peer->log.withId({cardReply(kChannel, 0x00)}))
        EXPECT_LE(std::fabs(f.floatAt(0) - field), bound * (1 + 1e-6));
}

// What the host stored with commands 0x03, 0x07 and 0x08 is what the next
// send-all reports, each value under the number it was set with.
TEST_F(ChannelSimCard, SendAllReportsWhatTheHostStored) {
    peer->can.sendCalSetParameter(kChannel, 92, 7.5f);
    peer->can.sendSetCalTableElement(kChannel, 1, 3, 2.5f);
    peer->can.sendSetCalTableElement(kChannel, 12, 14, 4.0f);
    peer->can.sendSetCalTableElement(kChannel, 17, 11, 5.0f);
    peer->can.sendSetCalTableElement(kChannel, 18, 0, 9.0f);   // not settable
    peer->can.sendSetCalTableElement(kChannel, 5, 10, 9.0f);   // past group B (10)
    peer->can.sendSetBoardInfo(kChannel, 4, "ABCDEFG", 7);
    peer->can.sendSetBoardInfo(kChannel, 5, "HIJKLMN", 7);

    // Table elements and parameters of the next send-all, by (table, index).
    auto sendAll = [&](std::map<std::pair<int, int>, float>& elements, std::map<int, float>& parameters,
                       std::string& serial) {
        // A hello answered: every echo of the commands before it has come.
        const std::size_t hellos = peer->log.count(cardReply(kChannel, 0x0A));
        peer->can.sendHello(kChannel);
        ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(cardReply(kChannel, 0x0A)) > hellos; }));
        peer->log.clear();
        peer->can.sendSendAllRequest(kChannel);
        ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(cardReply(kChannel, 0x06)) == 1; }));
        for (const Frame& f : peer->log.withId({cardReply(kChannel, 0x0E)}))
            elements[{f.data[0], f.data[1]}] = f.floatAt(2);
        for (const Frame& f : peer->log.withId({cardReply(kChannel, 0x0D)})) parameters[f.data[0]] = f.floatAt(1);
        for (const Frame& f : peer->log.withId({cardReply(kChannel, 0x13)}))
            if (f.data[0] == 4 || f.data[0] == 5) serial += f.text(1, 7);
    };

    std::map<std::pair<int, int>, float> elements;
    std::map<int, float> parameters;
    std::string serial;
    ASSERT_NO_FATAL_FAILURE(sendAll(elements, parameters, serial));
    EXPECT_EQ(parameters.at(92), 7.5f);
    EXPECT_EQ(parameters.at(91), 0.0f);
    EXPECT_EQ(elements.at({1, 3}), 2.5f);
    EXPECT_EQ(elements.at({2, 3}), 1.0f);
    EXPECT_EQ(elements.at({12, 14}), 4.0f);
    EXPECT_EQ(elements.at({17, 11}), 5.0f);
    EXPECT_EQ(elements.at({18, 0}), 1.0f);
    EXPECT_EQ(elements.count({5, 10}), 0u);
    EXPECT_EQ(serial, "ABCDEFGHIJKLMN");

    // New tables start again from 1.0, the fixed ones included.
    peer->can.sendCalCreateNewTables(kChannel, 3, 2, 1);
    peer->can.sendSetCalTableElement(kChannel, 0, 3, 6.0f);    // past the new group A (3)
    elements.clear();
    serial.clear();
    ASSERT_NO_FATAL_FAILURE(sendAll(elements, parameters, serial));
    EXPECT_EQ(elements.size(), 3u * 5 + 2u * 4 + 15u * 6 + 1u * 5);
    for (const auto& e : elements) EXPECT_EQ(e.second, 1.0f) << e.first.first << ", " << e.first.second;
}

// The card streams only once it is synced (a send-all) and its probe is
// ready, and stops again when the probe status leaves 2.
TEST_F(ChannelSimCard, StreamsOnlyWhenSyncedAndProbeReady) {
    const int sample = cardReply(kChannel, 0x00);
    card->_setStatus(2);
    EXPECT_FALSE(testsupport::waitUntil([&] { return peer->log.count(sample) > 0; }, 300ms)) << "not synced";
    peer->can.sendSendAllRequest(kChannel);
    ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(sample) >= 10; }));
    // The presence frame that reports the probe gone marks, in the order the
    // frames crossed the bus, where streaming has to stop: only a tick already
    // under way may still send a sample after it.
    const int presence = cardReply(kChannel, 0x05);
    card->_setStatus(1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.lastByte0(presence) == 1; }));
    auto samplesAfterLeaving = [&] {
        std::size_t n = 0;
        bool left = false;
        for (const Frame& f : peer->log.all()) {
            if (f.id == presence) left = f.data[0] == 1;
            else if (left && f.id == sample) ++n;
        }
        return n;
    };
    EXPECT_FALSE(testsupport::waitUntil([&] { return samplesAfterLeaving() > 1; }, 300ms)) << "probe not ready";
    // Each tick sends its frequency right after its sample, the last one too.
    const int frequency = cardReply(kChannel, 0x10);
    EXPECT_TRUE(testsupport::waitUntil([&] { return peer->log.count(frequency) == peer->log.count(sample); }))
        << peer->log.count(frequency) << " frequencies, " << peer->log.count(sample) << " samples";
    const std::vector<Frame> stream = peer->log.withId({sample, frequency});
    for (std::size_t i = 0; i < stream.size(); ++i)
        ASSERT_EQ(stream[i].id, i % 2 == 0 ? sample : frequency) << "frame " << i;
}

// Peak and valley of the samples x 1.15 hold from the start (0 and 0) until
// command 0x04 restarts them from -30000 and 30000.
TEST_F(ChannelSimCard, ResetPeaksRestartsPeakAndValley) {
    const int peakValley = cardReply(kChannel, 0x07);
    card->_setStatus(2);
    peer->can.sendSendAllRequest(kChannel);
    ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(peakValley) >= 1; }));
    // Samples lie at 15 +- 1.5, their 1.15-fold at 15.525 to 18.975.
    const double low = 1.15 * 13.5 * (1 - 1e-6), high = 1.15 * 16.5 * (1 + 1e-6);
    const Frame first = peer->log.withId({peakValley}).front();
    EXPECT_GE(first.floatAt(0), low);
    EXPECT_LE(first.floatAt(0), high);
    EXPECT_EQ(first.floatAt(4), 0.0f) << "the valley starts at 0, above every sample";

    peer->log.clear();
    peer->can.sendResetPeaks(kChannel, 2);
    // The first report may race the reset; the second follows whole ticks after it.
    ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(peakValley) >= 2; }));
    const Frame after = peer->log.withId({peakValley})[1];
    EXPECT_GE(after.floatAt(0), low);
    EXPECT_LE(after.floatAt(0), high);
    EXPECT_GE(after.floatAt(4), low);
    EXPECT_LE(after.floatAt(4), after.floatAt(0));
}

// Command 0x00 with mode 1 and frequency range 2 slows the tick to 78125 us.
TEST_F(ChannelSimCard, LowFrequencyModeSlowsTheStream) {
    const int sample = cardReply(kChannel, 0x00);
    card->_setStatus(2);
    peer->can.sendSendAllRequest(kChannel);
    ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(sample) >= 10; }));
    peer->can.sendSetMode(kChannel, 1, 2);
    ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(cardReply(kChannel, 0x01)) == 1; }));
    EXPECT_EQ(peer->log.withId({cardReply(kChannel, 0x01)})[0].floatAt(2), 12.8f);
    peer->log.clear();
    // 800 ms hold about 10 ticks of 78 ms (a tick of 1.8 ms would give over 400).
    EXPECT_FALSE(testsupport::waitUntil([&] { return peer->log.count(sample) > 20; }, 800ms));
}

// Only zero mode 0 (data byte 0 of command 0x16) starts a run, and a second
// request during a run starts a second one.
TEST_F(ChannelSimCard, ZeroRequestsStartRunsOnlyForModeZero) {
    const int progress = cardReply(kChannel, 0x12);
    peer->can.sendCurrentRecal(kChannel);   // 0x16 [2]
    EXPECT_FALSE(testsupport::waitUntil([&] { return peer->log.count(progress) > 0; }, 300ms));
    peer->can.sendStartZero(kChannel, 3);   // 0x16 [0, 3]: the zero mode byte is not passed on
    peer->can.sendStartZero(kChannel, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return peer->log.count(progress) >= 2; }));
    const auto frames = peer->log.withId({progress});
    EXPECT_EQ(frames[0].floatAt(0), 0.0f);
    EXPECT_EQ(frames[1].floatAt(0), 0.0f) << "each run starts at 0";
}

}  // namespace
