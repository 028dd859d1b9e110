// End to end: the real simulator and the three channel models of the meter
// on one private bus.  One run shares the simulator's slow steps (probes
// ready after 10 s, a zero run of about 21 s).
#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The simulator's cards: noise in percent of the full scale, around a field of 0.
constexpr double kNoisePercent[3] = {40.0, 10.0, 80.0};

struct Readings {
    std::mutex mutex;
    std::vector<float> values;   // gauss
    std::vector<int> ranges;     // the channel's range when the reading came
};

}  // namespace

TEST(ChannelWithSimulator, ThreeChannelsMeasureAndZero) {
    testsupport::TempSandbox sandbox;
    const std::string bus = testsupport::uniqueBusName("e2");
    testsupport::ChildProcess mendra;
    ASSERT_TRUE(mendra.start(testsupport::binPath("mendra"), {"-can", bus, "-sandbox", sandbox.path()}));
    ASSERT_TRUE(mendra.waitForOutput("Using CAN")) << mendra.output();

    testing::internal::CaptureStdout();
    MeterModel* meter = MeterModel::instance(bus.c_str());
    ASSERT_EQ(meter, MeterModel::instance());
    EXPECT_EQ(meter->getChannel(0), nullptr);
    EXPECT_EQ(meter->getChannel(4), nullptr);
    meter->startChannelLinks();
    const std::string started = testing::internal::GetCapturedStdout();
    EXPECT_NE(started.find("Channel 3 CAN running"), std::string::npos);
    EXPECT_TRUE(meter->isThreeChannelModel());

    Readings readings[3];
    for (unsigned slot = 1; slot <= 3; ++slot) {
        ChannelModel* ch = meter->getChannel(slot);
        ASSERT_NE(ch, nullptr);
        EXPECT_EQ(ch->getChannel(), static_cast<int>(slot));
        EXPECT_TRUE(ch->isCardPresent());
        Readings& r = readings[slot - 1];
        ch->signalNewReading().connect([ch, &r](int, float, float, float, float, float, int) {
            std::lock_guard<std::mutex> lock(r.mutex);
            r.values.push_back(ch->getValue());
            r.ranges.push_back(ch->getRange());
        });
    }
    for (unsigned slot = 1; slot <= 3; ++slot) {
        meter->getChannel(slot)->requestAllData();
        std::this_thread::sleep_for(200ms);   // the start-up step's pacing of the send-all requests
    }

    // The simulated probes become ready about 10 s after the simulator starts.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        for (unsigned slot = 1; slot <= 3; ++slot)
            if (meter->getChannel(slot)->getChannelStatus() != 2) return false;
        return true;
    }, 30s, 50ms)) << mendra.output();
    for (unsigned slot = 1; slot <= 3; ++slot) {
        ChannelModel* ch = meter->getChannel(slot);
        EXPECT_EQ(ch->getZeroingState(), 3);
        EXPECT_EQ(ch->getProbeModel(), "ABC123456789");
        ch->setDisplayRate(10.0f);
    }

    // Autorange walks each channel down to the range its noise fits; once a
    // channel's range has held for a while, its readings stay within the
    // card's noise bound of that range's full scale.
    for (unsigned slot = 1; slot <= 3; ++slot) {
        ChannelModel* ch = meter->getChannel(slot);
        Readings& r = readings[slot - 1];
        std::size_t from = 0;
        ASSERT_TRUE(testsupport::waitUntil([&] {
            std::lock_guard<std::mutex> lock(r.mutex);
            // Ten readings in a row on one range, after the last change.
            std::size_t n = r.ranges.size();
            if (n < 12) return false;
            for (std::size_t i = n - 12; i < n; ++i)
                if (r.ranges[i] != r.ranges[n - 1]) return false;
            from = n - 10;
            return true;
        }, 30s, 20ms)) << "channel " << slot << " never held a range";
        std::lock_guard<std::mutex> lock(r.mutex);
        const int range = r.ranges.back();
        const float fullScale = ch->getRangeSpec()->getFullScale();
        const double bound = 0.005 * kNoisePercent[slot - 1] * fullScale;
        for (std::size_t i = from; i < r.values.size(); ++i) {
            if (r.ranges[i] != range) continue;
            EXPECT_LE(std::fabs(r.values[i]), bound) << "channel " << slot << " range " << range;
        }
    }

    // A zero run of the simulated card takes about 21 s.
    ChannelModel* ch = meter->getChannel(1);
    std::vector<float> progress;
    std::mutex progressMutex;
    ch->signalZeroingProgress().connect([&](int, float p) {
        std::lock_guard<std::mutex> lock(progressMutex);
        progress.push_back(p);
    });
    // A mode other than the one the settling left as the last zero's (4), so
    // that the zero's end is seen to take the mode it ran in.
    ch->setZeroMode(1);
    ASSERT_EQ(ch->getLastZeroMode(), 4);
    ch->startZero();
    EXPECT_EQ(ch->getZeroingState(), 1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return ch->getZeroingState() == 0; }, 40s, 50ms))
        << "zero state " << ch->getZeroingState();
    {
        std::lock_guard<std::mutex> lock(progressMutex);
        ASSERT_FALSE(progress.empty());
        EXPECT_FLOAT_EQ(progress.back(), 100.0f);
    }
    EXPECT_EQ(ch->getLastZeroMode(), 1) << "the mode the zero ran in";

    // The links close cleanly while the cards still stream.
    testing::internal::CaptureStdout();
    for (unsigned slot = 1; slot <= 3; ++slot) meter->getChannel(slot)->stopCan();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Channel 2 CAN shuts off"), std::string::npos);
    EXPECT_EQ(mendra.stop(), 0);
}
