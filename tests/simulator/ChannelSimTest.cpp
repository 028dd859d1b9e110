// One simulated card in this process, with a field level that the program
// itself never sets, so that the waveform windows and the samples carry
// values to check against the sine table and the noise bound.
#include "BusPeer.h"
#include "simulator/ChannelSim.h"
#include "simulator/SineWave.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
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

}  // namespace
