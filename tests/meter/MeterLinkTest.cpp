// The meter model's backplane link on a private bus: every command's frame,
// the reports of the backplane, front panel and power supply, the status
// cycle, a backplane that goes and comes back, the model decision with only
// card 2 answering, and the guarded link while it is taken down under
// running setters.
#include "BusRecorder.h"
#include "MeterTestSupport.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "channel/ClassifierController.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using metertest::BusRecorder;
using metertest::Frame;
using metertest::TestMeter;

namespace {

class MeterLinkTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    std::string bus = testsupport::uniqueBusName("m");
};

std::vector<int> zeros(std::vector<int> head, std::size_t length) {
    head.resize(length, 0);
    return head;
}

TEST_F(MeterLinkTest, EveryCommandSendsItsFrame) {
    BusRecorder recorder(bus, metertest::toNodes026);
    // Card command 0x17 (diagnostic option) to cards 1-3.
    BusRecorder diagOptions(bus, [](int id) { return id == 0x177 || id == 0x197 || id == 0x1B7; });
    TestMeter meter(bus);
    testing::internal::CaptureStdout();
    meter.startBackplane();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(recorder.take(1), (std::vector<Frame>{{0x140, {}}})) << "the status request after the start";

    struct Case {
        const char* what;
        std::function<void()> act;
        std::vector<Frame> frames;
    } cases[] = {
        {"lcd 8", [&] { meter.setLcdLevel(8); }, {{0x103, zeros({8}, 8)}}},
        {"lcd 0", [&] { meter.setLcdLevel(0); }, {}},
        {"lcd 9", [&] { meter.setLcdLevel(9); }, {}},
        {"button 3", [&] { meter.setButtonLevel(3); }, {{0x101, zeros({3}, 8)}}},
        {"button 9", [&] { meter.setButtonLevel(9); }, {}},
        {"power-on run", [&] { meter.setPowerOnMode(1); }, {{0x10B, {1}}}},
        {"host ready", [&] { meter.sendHostReady(); }, {{0x10C, {}}}},
        {"eeprom load", [&] { meter.loadBackplaneEeprom(); }, {{0x143, {1}}}},
        {"eeprom write", [&] { meter.writeBackplaneEeprom(); }, {{0x143, {0}}}},
        {"recal defaults", [&] { meter.restoreBackplaneRecalDefaults(); }, {{0x143, {2}}}},
        {"factory defaults", [&] { meter.restoreBackplaneFactoryDefaults(); }, {{0x143, {3}}}},
        {"cal parameter", [&] { meter.setBackplaneCalParameter(3, 1.5f); }, {{0x144, {1, 3, 0x3F, 0xC0, 0, 0}}}},
        {"sine 40000", [&] { meter.setSineWaveDacOutput(40000); }, {{0x142, {0x7F, 0xFF}}}},
        {"sine -40000", [&] { meter.setSineWaveDacOutput(-40000); }, {{0x142, {0x80, 0x01}}}},
        {"sine mode 1", [&] { meter.setSineWaveDacMode(1); }, {{0x141, {1}}}},
        {"sine mode 2", [&] { meter.setSineWaveDacMode(2); }, {}},
        {"long serial", [&] { meter.setBackplaneSerial("ABCDEFGHIJKLMNOPQRST"); },
         {{0x148, {4, 'A', 'B', 'C', 'D', 'E', 'F', 'G'}}, {0x148, {5, 'H', 'I', 'J', 'K', 'L', 'M', 'N'}}}},
        {"short serial", [&] { meter.setBackplaneSerial("XY"); },
         {{0x148, zeros({4, 'X', 'Y'}, 8)}, {0x148, zeros({5}, 8)}}},
        {"model", [&] { meter.setBackplaneModel("M"); }, {{0x148, zeros({0, 'M'}, 8)}, {0x148, zeros({1}, 8)}}},
        {"cal date", [&] { meter.setBackplaneCalDate("01-02-2026"); },
         {{0x148, {6, '0', '1', '-', '0', '2', '-', '2'}}, {0x148, zeros({7, '0', '2', '6'}, 8)}}},
        // Analog outputs.
        {"vsum mode 3", [&] { meter.setVectorSumOutputMode(3); }, {{0x145, {2, 0, 0}}}},
        {"vsum mode 0", [&] { meter.setVectorSumOutputMode(0); }, {{0x145, {0, 0, 0}}}},
        {"vsum mode 4", [&] { meter.setVectorSumOutputMode(4); }, {{0x145, {0, 0, 1}}}},
        {"aux mode 2", [&] { meter.setAuxOutputMode(2); }, {}},
        {"aux mode 4", [&] { meter.setAuxOutputMode(4); }, {{0x145, {3, 0, 1}}}},
        {"aux mode 0", [&] { meter.setAuxOutputMode(0); }, {{0x145, {3, 0, 0}}}},
        {"aux mode 3", [&] { meter.setAuxOutputMode(3); }, {{0x145, {5, 0, 0}}}},
        {"vsum scale 100", [&] { meter.setVectorSumOutputScaling(100); }, {{0x145, {1, 0x00, 0x64}}}},
        {"vsum scale 101", [&] { meter.setVectorSumOutputScaling(101); }, {}},
        {"vsum scale -1", [&] { meter.setVectorSumOutputScaling(-1); }, {}},
        {"aux scale 30", [&] { meter.setAuxOutputScaling(30); }, {{0x145, {4, 0, 30}}}},
        {"vsum range 1", [&] { meter.setVectorSumDacRange(1); }, {{0x147, {0, 1}}}},
        {"vsum range 2", [&] { meter.setVectorSumDacRange(2); }, {}},
        {"aux range 0", [&] { meter.setAuxDacRange(0); }, {{0x147, {1, 0}}}},
        {"vsum dac -1", [&] { meter.setVectorSumDacOutput(-1); }, {{0x145, {2, 0xFF, 0xFF}}}},
        {"aux dac 0x1234", [&] { meter.setAuxDacOutput(0x1234); }, {{0x145, {5, 0x12, 0x34}}}},
    };
    for (const Case& c : cases) {
        c.act();
        EXPECT_EQ(recorder.take(c.frames.size()), c.frames) << c.what;
    }
    // After an EEPROM load or write every card is told option 10, in slot order.
    std::vector<Frame> option10 = {{0x177, zeros({0, 10}, 8)}, {0x197, zeros({0, 10}, 8)}, {0x1B7, zeros({0, 10}, 8)}};
    std::vector<Frame> twice = option10;
    twice.insert(twice.end(), option10.begin(), option10.end());
    EXPECT_EQ(diagOptions.take(6), twice);

    // What the setters stored.
    EXPECT_EQ(meter.getLcdLevel(), 8);
    EXPECT_EQ(meter.getButtonLevel(), 3);
    EXPECT_EQ(meter.getVectorSumOutputMode(), 4);
    EXPECT_EQ(meter.getAuxOutputMode(), 3);
    EXPECT_EQ(meter.getVectorSumOutputScaling(), -1) << "stored and signalled even when not sent";
    EXPECT_EQ(meter.getAuxOutputScaling(), 30);
    EXPECT_EQ(meter.getPowerOnMode(), 0) << "only the node's own report sets it";
    EXPECT_EQ(meter.getBackplaneSerial(), "0000") << "only the backplane's report sets the texts";

    // The status cycle asks for the versions until they are known.
    meter.onStatusTimer();
    EXPECT_EQ(recorder.take(3), (std::vector<Frame>{{0x140, {}}, {0x109, {}}, {0x1C9, {}}}));
    meter.onFrontPanelVersion(1, 5);
    meter.onStatusTimer();
    EXPECT_EQ(recorder.take(2), (std::vector<Frame>{{0x140, {}}, {0x1C9, {}}}));

    // Taken down, the link sends nothing; the setters still store.
    testing::internal::CaptureStdout();
    meter.stopCan();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(meter.backplane(), nullptr);
    meter.setLcdLevel(2);
    meter.setVectorSumOutputMode(0);
    meter.setBackplaneModel("X");
    meter.onStatusTimer();
    EXPECT_TRUE(recorder.take(0).empty());
    EXPECT_EQ(meter.getLcdLevel(), 2);
}

TEST_F(MeterLinkTest, SettingsLoadSendsTheLevelsTwice) {
    BusRecorder recorder(bus, [](int id) { return id == 0x103; });
    TestMeter meter(bus);
    testing::internal::CaptureStdout();
    meter.startBackplane();
    testing::internal::GetCapturedStdout();
    platform::writeFileAtomic(meter.getSettingsPath(), "lcdlevel: 3\n");
    meter.loadSettings();
    EXPECT_EQ(recorder.take(2), (std::vector<Frame>{{0x103, zeros({5}, 8)}, {0x103, zeros({3}, 8)}}));
    EXPECT_EQ(meter.getLcdLevel(), 3);
}

TEST_F(MeterLinkTest, ReportsOfTheBackplaneFrontPanelAndPowerSupply) {
    TestMeter meter(bus);
    std::atomic<int> powerOnReports{0};
    meter.signalPowerOnModeReceived().connect([&] { ++powerOnReports; });
    testing::internal::CaptureStdout();
    meter.startBackplane();
    testing::internal::GetCapturedStdout();

    CANinterface peer(bus.c_str());
    peer.sendBackplaneTemperature(21.5f);
    peer.sendBackplaneCalParameter(5, 2.5f);
    peer.sendBackplaneCalParameter(14, 9.0f);
    peer.sendBackplaneBoardInfo(0, "DEMO\0\0\0", 7);
    peer.sendBackplaneBoardInfo(1, "\0\0\0\0\0\0\0", 7);
    const char frontPanel[3] = {1, 9, 5};
    const char psu[3] = {2, 0, 11};
    peer.sendRawFrame(0x029, 3, frontPanel);
    peer.sendRawFrame(0x629, 3, psu);
    peer.sendPowerOnMode(3);

    ASSERT_TRUE(testsupport::waitUntil([&] { return powerOnReports == 1; }));
    EXPECT_FLOAT_EQ(meter.getBackplaneTemperature(), 21.5f);
    for (unsigned slot = 1; slot <= 3; ++slot) {
        EXPECT_FLOAT_EQ(meter.getChannel(slot)->getBackplaneTemperature(), 21.5f);
        EXPECT_TRUE(meter.getChannel(slot)->isDemoMode());
    }
    EXPECT_FLOAT_EQ(meter.getBackplaneCalParameter(5), 2.5f);
    EXPECT_FLOAT_EQ(meter.getBackplaneCalParameter(0), 38.0f);
    EXPECT_EQ(meter.getBackplaneModel(), "DEMO");
    EXPECT_TRUE(meter.isDemoMode());
    EXPECT_EQ(meter.getFrontPanelFirmwareVersion(), "1.5");
    EXPECT_EQ(meter.getPsuFirmwareVersion(), "2.11");
    EXPECT_EQ(meter.getPowerOnMode(), 1);
    testing::internal::CaptureStdout();
    meter.stopCan();
    testing::internal::GetCapturedStdout();
}

// A backplane that answers the status request with its temperature, for as
// long as it lives; with `announce`, it also reports it unasked when it
// starts, as a backplane that has just been powered does.
class ScriptedBackplane {
public:
    ScriptedBackplane(const std::string& bus, float temperature, bool announce = false) : link(bus.c_str()) {
        link.setFilter(0x040, 0x0E0);
        link.signalTemperatureRequest().connect([this, temperature] { link.sendBackplaneTemperature(temperature); });
        link.startReader();
        if (announce) link.sendBackplaneTemperature(temperature);
    }
    ~ScriptedBackplane() { link.stopReader(); }
private:
    CANinterface link;
};

// The status cycle is run by hand (its timer stopped): each call is one tick.
TEST_F(MeterLinkTest, ABackplaneThatComesBackIsAskedAndGetsWhatItKeeps) {
    BusRecorder recorder(bus, [](int id) { return metertest::toNodes026(id) || id == 0x149; });
    TestMeter meter(bus);
    std::atomic<int> returns{0};
    meter.signalBackplaneReturned().connect([&] { ++returns; });
    auto backplane = std::make_unique<ScriptedBackplane>(bus, 27.0f);
    testing::internal::CaptureStdout();
    meter.startBackplane();
    testing::internal::GetCapturedStdout();
    meter.statusTimer.stop();
    ASSERT_TRUE(testsupport::waitUntil([&] { return meter.getBackplaneTemperature() == 27.0f; }));
    EXPECT_EQ(meter.getBackplaneState(), MeterModel::kBackplanePresent);

    meter.setLcdLevel(3);
    meter.setButtonLevel(4);
    meter.setVectorSumOutputMode(4);
    meter.setAuxOutputScaling(100);
    meter.getChannel(2)->getClassifierController().setState(kClassHigh);

    // Gone: the tick after an unanswered request finds it missing, and asks
    // every 2 s from then on.
    backplane.reset();
    meter.onStatusTimer();
    EXPECT_EQ(meter.getBackplaneState(), MeterModel::kBackplanePresent) << "the last request was answered";
    meter.onStatusTimer();
    EXPECT_EQ(meter.getBackplaneState(), MeterModel::kBackplaneMissing);
    EXPECT_EQ(meter.statusTimer.getPeriod(), MeterModel::kMissingPollMs);
    EXPECT_EQ(returns, 0);

    backplane = std::make_unique<ScriptedBackplane>(bus, 28.0f);
    recorder.take(0);
    meter.onStatusTimer();
    ASSERT_TRUE(testsupport::waitUntil([&] { return returns == 1; }));
    EXPECT_EQ(meter.getBackplaneState(), MeterModel::kBackplanePresent);
    EXPECT_EQ(meter.statusTimer.getPeriod(), MeterModel::kStatusPeriodMs);
    EXPECT_TRUE(testsupport::waitUntil([&] { return meter.getBackplaneTemperature() == 28.0f; }));
    const std::vector<Frame> expected = {
        {0x140, {}},                                              // the poll it answered
        {0x140, {}},                                              // its status asked for
        {0x103, zeros({3}, 8)},          {0x101, zeros({4}, 8)},   // the backlight levels
        {0x145, {0, 0, 1}},              {0x145, {1, 0, 30}},      // the vector-sum output
        {0x145, {3, 0, 0}},              {0x145, {4, 0, 100}},     // the auxiliary output
        {0x149, {1, 0, 0}}, {0x149, {1, 1, 0}}, {0x149, {2, 0, 0}}, {0x149, {2, 1, 1}},
        {0x149, {3, 0, 0}}, {0x149, {3, 1, 0}},                   // the classifier lines
    };
    EXPECT_EQ(recorder.takeFirst(expected.size()), expected);
}

// Every status request sent has had its answer.
bool answered(TestMeter& meter) {
    return testsupport::waitUntil([&] {
        std::lock_guard<std::mutex> lock(meter.statusAskMutex);
        return meter.statusAnswersDue == 0;
    });
}

// A backplane that restarts between two status requests is never found
// missing; its unasked report at start has what it keeps sent again at once,
// with no request (its status came with it).  Answers to requests resend
// nothing.
TEST_F(MeterLinkTest, ABackplaneThatRestartsBetweenTwoRequestsGetsWhatItKeepsAtOnce) {
    BusRecorder recorder(bus, [](int id) { return metertest::toNodes026(id) || id == 0x149; });
    TestMeter meter(bus);
    std::atomic<int> returns{0};
    meter.signalBackplaneReturned().connect([&] { ++returns; });
    auto backplane = std::make_unique<ScriptedBackplane>(bus, 27.0f, true);
    testing::internal::CaptureStdout();
    meter.startBackplane();
    meter.statusTimer.stop();
    ASSERT_TRUE(testsupport::waitUntil([&] { return meter.getBackplaneTemperature() == 27.0f; }));
    meter.setLcdLevel(3);
    meter.setButtonLevel(4);
    meter.setVectorSumOutputMode(4);
    meter.setAuxOutputScaling(100);
    meter.getChannel(2)->getClassifierController().setState(kClassHigh);
    meter.onStatusTimer();
    ASSERT_TRUE(answered(meter));
    recorder.take(0);
    EXPECT_EQ(returns, 0);

    backplane = std::make_unique<ScriptedBackplane>(bus, 28.0f, true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return returns == 1; }));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(meter.getBackplaneState(), MeterModel::kBackplanePresent);
    EXPECT_FLOAT_EQ(meter.getBackplaneTemperature(), 28.0f);
    const std::vector<Frame> expected = {
        {0x103, zeros({3}, 8)},          {0x101, zeros({4}, 8)},   // the backlight levels
        {0x145, {0, 0, 1}},              {0x145, {1, 0, 30}},      // the vector-sum output
        {0x145, {3, 0, 0}},              {0x145, {4, 0, 100}},     // the auxiliary output
        {0x149, {1, 0, 0}}, {0x149, {1, 1, 0}}, {0x149, {2, 0, 0}}, {0x149, {2, 1, 1}},
        {0x149, {3, 0, 0}}, {0x149, {3, 1, 0}},                   // the classifier lines
    };
    EXPECT_EQ(recorder.takeFirst(expected.size()), expected);

    // Its answers to the cycle's requests resend nothing.
    for (int tick = 0; tick < 2; ++tick) {
        meter.onStatusTimer();
        ASSERT_TRUE(answered(meter));
    }
    EXPECT_EQ(recorder.take(6), (std::vector<Frame>{{0x140, {}}, {0x109, {}}, {0x1C9, {}},
                                                    {0x140, {}}, {0x109, {}}, {0x1C9, {}}}));
    EXPECT_TRUE(recorder.take(0).empty());
    EXPECT_EQ(returns, 1);
}

// A peer in place of the simulator that answers only card 2's hello.
TEST_F(MeterLinkTest, OnlyCardTwoAnsweringMakesTheSingleChannelModel) {
    CANinterface card2(bus.c_str());
    card2.setFilter(4 << 5, 0x0E0);
    card2.signalHelloRequest().connect([&card2] { card2.sendHelloReply(2); });
    card2.startReader();

    TestMeter meter(bus);
    testing::internal::CaptureStdout();
    meter.startBackplane();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(meter.getChannel(2)->isCardPresent());
    EXPECT_FALSE(meter.getChannel(1)->isCardPresent());
    EXPECT_FALSE(meter.isThreeChannelModel());

    // The settings' trigger channel is not read on this model.
    platform::writeFileAtomic(meter.getSettingsPath(), "triggerchannel: 3\n");
    meter.loadSettings();
    EXPECT_EQ(meter.getTriggerChannel(), 2);
    testing::internal::CaptureStdout();
    meter.stopCan();
    testing::internal::GetCapturedStdout();
}

// Menu, SCPI and JSON threads keep calling setters while the channel
// processors are re-initialised: no frame may go to a link being deleted.
TEST_F(MeterLinkTest, SettersRacingTheLinkTakeDown) {
    TestMeter meter(bus);
    std::atomic<bool> stop{false};
    std::thread setters([&] {
        int i = 0;
        while (!stop) {
            meter.setLcdLevel(1 + i % 8);
            meter.setVectorSumOutputMode(i % 2 ? 0 : 4);
            meter.setSineWaveDacOutput(i);
            meter.onStatusTimer();
            ++i;
        }
    });
    testing::internal::CaptureStdout();
    for (int cycle = 0; cycle < 2; ++cycle) {
        meter.startBackplane();
        meter.stopCan();
    }
    testing::internal::GetCapturedStdout();
    stop = true;
    setters.join();
    EXPECT_EQ(meter.backplane(), nullptr);
}

}  // namespace
