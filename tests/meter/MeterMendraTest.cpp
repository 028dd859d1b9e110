// End to end: the real simulator and the program's meter model (no window)
// on a private bus.  The simulated probes become ready about 10 s after the
// simulator starts, so one run walks through the whole story.
#include "BusRecorder.h"
#include "MeterTestSupport.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "platform/Platform.h"
#include "runtime/FileIoManager.h"
#include "status/ScpiRegister.h"
#include "status/ScpiRegisterManager.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <atomic>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using metertest::BusRecorder;
using metertest::Frame;
using testsupport::readFile;

namespace {

struct VectorSums {
    std::mutex mutex;
    std::vector<std::vector<float>> sums;   // value, angles X, Y, Z
    std::size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return sums.size();
    }
};

float floatOf(const std::vector<int>& bytes, int at) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits = bits << 8 | static_cast<std::uint32_t>(bytes[at + i]);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

}  // namespace

TEST(MeterWithSimulator, ThreeChannelsBackplaneVectorSumSettingsAndProfiles) {
    testsupport::TempSandbox sandbox;
    const std::string bus = testsupport::uniqueBusName("me");
    testsupport::ChildProcess mendra;
    ASSERT_TRUE(mendra.start(testsupport::binPath("mendra"), {"-can", bus, "-sandbox", sandbox.path()}));
    ASSERT_TRUE(mendra.waitForOutput("Using CAN")) << mendra.output();
    BusRecorder vectorSumFrames(bus, [](int id) { return id == 0x146; });

    testing::internal::CaptureStdout();
    MeterModel* meter = MeterModel::instanceForInterface(bus.c_str());
    ASSERT_EQ(meter, MeterModel::instance());
    ASSERT_EQ(meter, MeterModel::instanceForInterface("other0"));
    // Slots are connected before any reader thread runs: a signal must not
    // be connected to while another thread emits it.
    VectorSums sums;
    std::atomic<bool> collecting{false};
    meter->signalVectorSumUpdated().connect([&](float v, float x, float y, float z) {
        if (!collecting) return;
        std::lock_guard<std::mutex> lock(sums.mutex);
        sums.sums.push_back({v, x, y, z});
    });
    std::atomic<int> waveforms{0};
    meter->signalWaveformReady().connect([&] { ++waveforms; });
    std::atomic<int> busySignals{0};
    meter->signalBusyChanged().connect([&](bool busy) {
        if (busy) ++busySignals;
    });
    meter->startBackplane();
    testing::internal::GetCapturedStdout();

    // The model decision and the backplane's answer to the status request.
    EXPECT_TRUE(meter->isThreeChannelModel());
    ASSERT_TRUE(testsupport::waitUntil([&] { return meter->getBackplaneTemperature() == 27.0f; }))
        << mendra.output();
    ASSERT_TRUE(testsupport::waitUntil([&] { return meter->getBackplaneCalDate() == "01-01-1111"; }));
    EXPECT_FLOAT_EQ(meter->getBackplaneCalParameter(0), 37.0f);
    EXPECT_FLOAT_EQ(meter->getBackplaneCalParameter(3), 19660.0f);
    EXPECT_EQ(meter->getBackplaneModel(), "DEMO");
    EXPECT_EQ(meter->getBackplaneRev(), "111");
    EXPECT_TRUE(meter->isDemoMode()) << "the simulated backplane calls itself DEMO";
    // The channels get their copy of the temperature after the meter.
    for (unsigned slot = 1; slot <= 3; ++slot) {
        EXPECT_TRUE(meter->getChannel(slot)->isDemoMode());
        EXPECT_TRUE(testsupport::waitUntil([&] { return meter->getChannel(slot)->getBackplaneTemperature() == 27.0f; }))
            << "slot " << slot << ": " << meter->getChannel(slot)->getBackplaneTemperature();
    }
    EXPECT_EQ(meter->backplaneInfoReport()[4].substr(40), std::string(11, ' ') + "DEMO");

    meter->loadSettings();
    meter->setVectorSumOutputMode(4);
    for (unsigned slot = 1; slot <= 3; ++slot) {
        meter->getChannel(slot)->requestAllData();
        std::this_thread::sleep_for(200ms);
    }
    ASSERT_TRUE(testsupport::waitUntil([&] {
        for (unsigned slot = 1; slot <= 3; ++slot)
            if (meter->getChannel(slot)->getChannelStatus() != 2) return false;
        return true;
    }, 30s, 50ms)) << mendra.output();
    // The meter follows the channels' status signals, which come after the status.
    EXPECT_TRUE(testsupport::waitUntil([&] { return meter->isAnyChannelActive(); }));
    meter->setDisplayRate(5.0f);

    // The vector sum of the three noise readings, with a data log running.
    collecting = true;
    meter->startDataLogging(FileIoManager::kInternal);
    ASSERT_TRUE(testsupport::waitUntil([&] { return sums.size() >= 10; }, 20s));
    std::string logName = meter->stopDataLogging();
    EXPECT_GE(FileIoManager::instance()->getRowCount(), 9);

    for (int i = 0; i < 5; ++i) {
        // Each snapshot holds the three readings and the magnitude of one
        // computation.
        std::vector<float> snap = meter->getFluxSnapshot();
        double expected = std::sqrt(double(snap[0]) * snap[0] + double(snap[1]) * snap[1] + double(snap[2]) * snap[2]);
        EXPECT_NEAR(snap[3], expected, 1e-5 * std::max(1.0, expected));
        std::this_thread::sleep_for(100ms);
    }
    {
        std::lock_guard<std::mutex> lock(sums.mutex);
        int nonZero = 0;
        for (const auto& s : sums.sums) {
            if (s[0] == 0.0f) continue;
            ++nonZero;
            // Direction cosines of one vector.
            double c = 0;
            for (int a = 1; a <= 3; ++a) c += std::pow(std::cos(s[a] * M_PI / 180.0), 2);
            EXPECT_NEAR(c, 1.0, 1e-3);
            for (int a = 1; a <= 3; ++a) EXPECT_TRUE(s[a] >= 0.0f && s[a] <= 180.0f);
        }
        EXPECT_GT(nonZero, 0) << "the noise gives a vector";
    }
    std::vector<float> valueAndAngles = meter->getVectorSumAndAngles();
    ASSERT_EQ(valueAndAngles.size(), 4u);

    // The vector-sum output follows each computation (mode 4: the value's
    // bits; mode 3: no frame).
    std::vector<Frame> frames = vectorSumFrames.take(1);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().data.size(), 8u);
    EXPECT_FLOAT_EQ(floatOf(frames.back().data, 4), meter->getVectorSumRangeSpec()->getFullScale());
    EXPECT_GE(floatOf(frames.back().data, 0), 0.0f);
    meter->setVectorSumOutputMode(3);
    vectorSumFrames.take(0);
    std::size_t before = sums.size();
    ASSERT_TRUE(testsupport::waitUntil([&] { return sums.size() >= before + 3; }, 10s));
    EXPECT_TRUE(vectorSumFrames.take(0).empty());

    // A waveform acquisition over the three AC channels, trigger channel 2:
    // every card stopped, then the roles, then the trigger channel armed.
    for (unsigned slot = 1; slot <= 3; ++slot) meter->getChannel(slot)->setMode(1);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        for (unsigned slot = 1; slot <= 3; ++slot)
            if (meter->getChannel(slot)->getMode() != 1) return false;
        return true;
    }));
    meter->enterWaveformMode();
    EXPECT_EQ(meter->getTriggerChannel(), 2);
    BusRecorder triggerFrames(bus, [](int id) { return id == 0x162 || id == 0x182 || id == 0x1A2; });
    meter->startAcquisition();
    ASSERT_TRUE(testsupport::waitUntil([&] { return waveforms >= 3; }, 20s)) << "state " << meter->getAcquisitionState();
    EXPECT_NE(meter->getAcquisitionState(), 0);
    int period = meter->getChannel(2)->getWaveformTimerPeriod();
    EXPECT_TRUE(period >= 60 && period <= 950) << period;
    meter->stopAcquisition();
    meter->leaveWaveformMode();
    EXPECT_EQ(meter->getAcquisitionState(), 0);
    std::vector<std::pair<int, int>> roles;
    for (const Frame& f : triggerFrames.take(0))
        if (!f.data.empty() && f.data[0] <= 3) roles.push_back({f.id, f.data[0]});
    // Arming the trigger channel first arms the two followers.
    ASSERT_GE(roles.size(), 9u);
    std::vector<std::pair<int, int>> expectedRoles = {{0x162, 0}, {0x182, 0}, {0x1A2, 0}, {0x162, 2}, {0x1A2, 2},
                                                      {0x182, 1}, {0x162, 3}, {0x1A2, 3}, {0x182, 3}};
    roles.resize(expectedRoles.size());
    EXPECT_EQ(roles, expectedRoles);

    // Every ready slot shows in the status registers: measurement bits 3-5,
    // operation bits 4-6; operation bit 10 (no channel active) is clear.
    ScpiRegister& measurement = ScpiRegisterManager::instance()->getMeasurementRegister();
    ScpiRegister& operation = ScpiRegisterManager::instance()->getOperationRegister();
    EXPECT_EQ(measurement.getCondition() & 0x38, 0x38);
    EXPECT_EQ(operation.getCondition() & 0x70, 0x70);
    EXPECT_EQ(operation.getCondition() & (1 << 10), 0);

    // A zero on a ready slot makes the meter busy: the running acquisition
    // stops and operation bit 9 is set, with one busy signal.
    meter->startAcquisition();
    ASSERT_TRUE(testsupport::waitUntil([&] { return meter->getAcquisitionState() != 0; }, 10s));
    const int busyBefore = busySignals;
    meter->getChannel(1)->startZero();
    ASSERT_TRUE(testsupport::waitUntil([&] { return meter->isBusy(); }));
    EXPECT_EQ(meter->getAcquisitionState(), 0);
    EXPECT_NE(operation.getCondition() & (1 << 9), 0);
    EXPECT_EQ(busySignals.load(), busyBefore + 1);

    // The meter settings file round trips; a profile restores every file.
    meter->setGpibAddress(17);
    meter->setAngleUnits(1);
    meter->getChannel(2)->setMaxHoldEnabled(true);
    ASSERT_TRUE(meter->saveProfile(4));
    std::string saved = readFile(meter->getSettingsPath());
    EXPECT_NE(saved.find("gpibaddress: 17\nrs232"), std::string::npos);
    meter->setGpibAddress(3);
    meter->setAngleUnits(0);
    meter->getChannel(2)->setMaxHoldEnabled(false);
    ASSERT_TRUE(meter->restoreProfile(4));
    EXPECT_EQ(meter->getGpibAddress(), 17);
    EXPECT_EQ(meter->getAngleUnits(), 1);
    EXPECT_TRUE(meter->getChannel(2)->isMaxHoldEnabled());
    meter->flushSettings();
    EXPECT_EQ(readFile(meter->getSettingsPath()), saved);

    testing::internal::CaptureStdout();
    meter->stopCan();
    std::string stopped = testing::internal::GetCapturedStdout();
    EXPECT_NE(stopped.find("Channel 3 CAN shuts off"), std::string::npos);
    EXPECT_EQ(meter->backplane(), nullptr);
    EXPECT_EQ(mendra.stop(), 0);
    EXPECT_NE(logName, "");
}
