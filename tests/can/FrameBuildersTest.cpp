// Every frame builder, byte for byte, and every range check that suppresses a frame.
#include "support/FakeTransport.h"
#include "can/CANinterface.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace {

using testsupport::FakeBus;
using testsupport::FakeTransport;

struct Case {
    const char* name;
    std::function<int(CANinterface&)> call;
    canid_t id;
    int dlc;
    std::vector<int> data;   // bytes 0.. given; the rest must be zero
};

// Text halves without a terminator: the builders must copy exactly n bytes.
const std::array<char, 7> kModel{{'T', 'V', 'L', '4', '7', '0', '0'}};
const std::array<char, 7> kSerial{{'S', 'N', '1', '2', '3', '4', '5'}};
const std::array<char, 4> kBytes4{{'a', 'b', 'c', 'd'}};

#define CALL(expr) [](CANinterface& l) { return l.expr; }
#define CALLV(expr) [](CANinterface& l) { l.expr; return 0; }

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        // Host to front-panel controller and power supply
        {"ButtonBacklight", CALL(sendButtonBacklight(0x1234, 7)), 0x100, 8, {0x34, 7}},
        {"ButtonBacklightLevel", CALL(sendButtonBacklightLevel(200)), 0x101, 8, {200}},
        {"LcdBacklightLevel", CALL(sendLcdBacklightLevel(5)), 0x103, 8, {5}},
        {"BootloadNotice node 0", CALL(sendBootloadNotice(0, 120)), 0x104, 2, {0, 120}},
        {"BootloadNotice node 6", CALL(sendBootloadNotice(6, 0x1234)), 0x1C4, 2, {0x12, 0x34}},
        {"FrontPanelVersionRequest", CALL(sendFrontPanelVersionRequest()), 0x109, 0, {}},
        {"SetPowerOnMode", CALL(sendSetPowerOnMode(1)), 0x10B, 1, {1}},
        {"HostReady", CALL(sendHostReady()), 0x10C, 0, {}},
        {"PsuVersionRequest", CALL(sendPsuVersionRequest()), 0x1C9, 0, {}},

        // Host to backplane
        {"TemperatureRequest", CALL(sendTemperatureRequest()), 0x140, 0, {}},
        {"SineWaveDacMode 1", CALLV(sendSetSineWaveDacMode(1)), 0x141, 1, {1}},
        {"SineWaveDacMode 0", CALLV(sendSetSineWaveDacMode(0)), 0x141, 1, {0}},
        {"SineWaveDacOutput 1000", CALL(sendSetSineWaveDacOutput(1000)), 0x142, 2, {0x03, 0xE8}},
        {"SineWaveDacOutput 40000", CALL(sendSetSineWaveDacOutput(40000)), 0x142, 2, {0x7F, 0xFF}},
        {"SineWaveDacOutput -40000", CALL(sendSetSineWaveDacOutput(-40000)), 0x142, 2, {0x80, 0x01}},
        {"SineWaveDacOutput -32768", CALL(sendSetSineWaveDacOutput(-32768)), 0x142, 2, {0x80, 0x01}},
        {"SineWaveDacOutput -32767", CALL(sendSetSineWaveDacOutput(-32767)), 0x142, 2, {0x80, 0x01}},
        {"SineWaveDacOutput 32767", CALL(sendSetSineWaveDacOutput(32767)), 0x142, 2, {0x7F, 0xFF}},
        {"SineWaveDacOutput -1", CALL(sendSetSineWaveDacOutput(-1)), 0x142, 2, {0xFF, 0xFF}},
        {"BackplaneEepromWrite", CALL(sendBackplaneEepromWrite()), 0x143, 1, {0}},
        {"BackplaneEepromLoad", CALL(sendBackplaneEepromLoad()), 0x143, 1, {1}},
        {"BackplaneRecalDefaults", CALL(sendBackplaneRecalDefaults()), 0x143, 1, {2}},
        {"BackplaneFactoryDefaults", CALL(sendBackplaneFactoryDefaults()), 0x143, 1, {3}},
        {"SetBackplaneCalParameter", CALL(sendSetBackplaneCalParameter(7, 1.0f)), 0x144, 6,
         {1, 7, 0x3F, 0x80, 0, 0}},
        {"BackplaneDacMode aux", CALL(sendSetBackplaneDacMode(4, 2)), 0x145, 3, {3, 0, 2}},
        {"BackplaneDacMode vector", CALL(sendSetBackplaneDacMode(0, 1)), 0x145, 3, {0, 0, 1}},
        {"BackplaneDacScaling aux 100", CALLV(sendSetBackplaneDacScaling(4, 100)), 0x145, 3, {4, 0, 100}},
        {"BackplaneDacScaling vector", CALLV(sendSetBackplaneDacScaling(1, 50)), 0x145, 3, {1, 0, 50}},
        {"BackplaneDacOutput aux", CALL(sendSetBackplaneDacOutput(4, 0x1234)), 0x145, 3, {5, 0x12, 0x34}},
        {"BackplaneDacOutput vector", CALL(sendSetBackplaneDacOutput(0, -1)), 0x145, 3, {2, 0xFF, 0xFF}},
        {"VectorSumOutput", CALL(sendVectorSumOutput(0x01020304, 1.0f)), 0x146, 8,
         {1, 2, 3, 4, 0x3F, 0x80, 0, 0}},
        {"BackplaneDacRange 1 1", CALLV(sendSetBackplaneDacRange(1, 1)), 0x147, 2, {1, 1}},
        {"BackplaneDacRange 0 1", CALLV(sendSetBackplaneDacRange(0, 1)), 0x147, 2, {0, 1}},
        {"SetBackplaneBoardInfo", CALLV(sendSetBackplaneBoardInfo(2, kModel.data(), 7)), 0x148, 8,
         {2, 'T', 'V', 'L', '4', '7', '0', '0'}},
        {"SetBackplaneBoardInfo short", CALLV(sendSetBackplaneBoardInfo(3, kModel.data(), 2)), 0x148, 8,
         {3, 'T', 'V'}},
        {"ClassifierOutput", CALL(sendClassifierOutput(2, 1, 1)), 0x149, 3, {2, 1, 1}},

        // Host to the channel card
        {"SetMode", CALL(sendSetMode(1, 2, 3)), 0x160, 2, {2, 3}},
        {"SetRange", CALL(sendSetRange(2, 3)), 0x181, 8, {3}},
        {"TriggerMode", CALL(sendTriggerMode(3, 2)), 0x1A2, 1, {2}},
        {"WaveformRequest", CALL(sendWaveformRequest(1, 1, 0, 0x0102, 500)), 0x162, 7,
         {3, 1, 0, 0x01, 0x02, 0x01, 0xF4}},
        {"StopWaiting", CALL(sendStopWaiting(2)), 0x182, 1, {4}},
        {"TriggerLevel", CALL(sendTriggerLevel(3, -2.5f)), 0x1A2, 5, {5, 0xC0, 0x20, 0, 0}},
        {"SetBoardInfo", CALLV(sendSetBoardInfo(1, 4, kSerial.data(), 7)), 0x163, 8,
         {4, 'S', 'N', '1', '2', '3', '4', '5'}},
        {"ResetPeaks", CALL(sendResetPeaks(1, 2)), 0x164, 1, {2}},
        {"SendAllRequest", CALL(sendSendAllRequest(3)), 0x1A5, 0, {}},
        {"CalSaveToEeprom", CALL(sendCalSaveToEeprom(1)), 0x166, 1, {0}},
        {"CalLoadFromEeprom", CALL(sendCalLoadFromEeprom(1)), 0x166, 1, {1}},
        {"CalRecalDefaults", CALL(sendCalRecalDefaults(1)), 0x166, 1, {2}},
        {"CalFactoryDefaults", CALL(sendCalFactoryDefaults(1)), 0x166, 1, {3}},
        {"CalSetParameter", CALL(sendCalSetParameter(2, 92, 0.5f)), 0x187, 6, {1, 92, 0x3F, 0, 0, 0}},
        {"CalCreateNewTables", CALL(sendCalCreateNewTables(1, 10, 20, 30)), 0x168, 4, {0, 10, 20, 30}},
        {"SetCalTableElement", CALL(sendSetCalTableElement(3, 5, 19, 10.0f)), 0x1A8, 7,
         {2, 5, 19, 0x41, 0x20, 0, 0}},
        {"DacMode uncorrected", CALL(sendSetDacMode(1, 1, 2)), 0x169, 3, {3, 0, 2}},
        {"DacMode multiplying", CALL(sendSetDacMode(1, 3, 1)), 0x169, 3, {6, 0, 1}},
        {"DacMode corrected", CALL(sendSetDacMode(1, 0, 1)), 0x169, 3, {0, 0, 1}},
        {"DacMode other counts as 0", CALL(sendSetDacMode(1, 7, 1)), 0x169, 3, {0, 0, 1}},
        {"DacScaling uncorrected 100", CALLV(sendSetDacScaling(1, 1, 100)), 0x169, 3, {4, 0x00, 0x64}},
        {"DacScaling corrected 100", CALLV(sendSetDacScaling(1, 0, 100)), 0x169, 3, {1, 0x00, 0x64}},
        {"DacOutput uncorrected", CALL(sendSetDacOutput(1, 1, 0x0304)), 0x169, 3, {5, 3, 4}},
        {"DacOutput multiplying", CALL(sendSetDacOutput(1, 3, 0x0304)), 0x169, 3, {7, 3, 4}},
        {"DacOutput corrected", CALL(sendSetDacOutput(1, 0, -2)), 0x169, 3, {2, 0xFF, 0xFE}},
        {"Gain 0", CALLV(sendSetGain(1, 0, 1.0f)), 0x169, 5, {8, 0x3F, 0x80, 0x00, 0x00}},
        {"Gain 1", CALLV(sendSetGain(2, 1, -1.0f)), 0x189, 5, {9, 0xBF, 0x80, 0x00, 0x00}},
        {"Hello", CALL(sendHello(2)), 0x18A, 0, {}},
        {"SetDiagMode 255", CALLV(sendSetDiagMode(1, 255)), 0x16B, 8, {255}},
        {"MuxFampInput", CALLV(sendSetMuxFampInput(1, 1)), 0x16C, 8, {1}},
        {"MuxSampInput", CALLV(sendSetMuxSampInput(1, 3)), 0x16D, 8, {3}},
        {"MuxTampInput", CALLV(sendSetMuxTampInput(1, 2)), 0x16E, 8, {2}},
        {"MuxHpfValue", CALLV(sendSetMuxHpfValue(1, 1)), 0x16F, 8, {1}},
        {"MuxMadcInput", CALLV(sendSetMuxMadcInput(1, 7)), 0x170, 8, {7}},
        {"MuxDcrefValue", CALLV(sendSetMuxDcrefValue(1, 1)), 0x171, 8, {1}},
        {"MuxControlCurrentMode", CALLV(sendSetMuxControlCurrentMode(1, 1)), 0x172, 8, {1}},
        {"MuxHallCurrent", CALLV(sendSetMuxHallCurrent(3, 0)), 0x1B3, 8, {0}},
        {"MuxDadcInput", CALLV(sendSetMuxDadcInput(1, 3)), 0x174, 2, {0, 3}},
        {"SetDadcMode", CALL(sendSetDadcMode(1, 1)), 0x174, 2, {1, 1}},
        {"ReadDadcCounts", CALL(sendReadDadcCounts(1)), 0x174, 2, {2, 0}},
        {"ReadDadcVolts", CALL(sendReadDadcVolts(1)), 0x174, 2, {2, 1}},
        {"OutputSwitch", CALLV(sendSetOutputSwitch(1, 3, 1)), 0x175, 2, {3, 1}},
        {"StartZero", CALL(sendStartZero(1, 3)), 0x176, 2, {0, 3}},
        {"CurrentRecal", CALL(sendCurrentRecal(1)), 0x176, 1, {2}},
        {"DiagOption", CALL(sendDiagOption(1, 0x0102, 0x0304, 0x0506, 0x0708)), 0x177, 8,
         {1, 2, 3, 4, 5, 6, 7, 8}},

        // Channel argument: 1 node 3, 3 node 5, anything else node 4
        {"channel 0 is channel 2", CALL(sendSetRange(0, 1)), 0x181, 8, {1}},
        {"channel 7 is channel 2", CALL(sendSetRange(7, 1)), 0x181, 8, {1}},
        {"reply channel 0 is channel 2", CALL(sendRangeReply(0, 1)), 0x428, 8, {1}},
        {"reply channel 7 is channel 2", CALL(sendRangeReply(7, 1)), 0x428, 8, {1}},

        // Replies of the channel card
        {"Sample", CALL(sendSample(1, 1.0f, 0x81)), 0x320, 5, {0x3F, 0x80, 0, 0, 0x81}},
        {"ModeReply", CALL(sendModeReply(2, 1, 2, 100.0f)), 0x421, 6, {1, 2, 0x42, 0xC8, 0, 0}},
        {"TriggerModeReply 2", CALL(sendTriggerModeReply(3, 2)), 0x522, 1, {2}},
        {"TriggerModeReply 1", CALL(sendTriggerModeReply(3, 1)), 0x522, 1, {1}},
        {"TriggerModeReply 5 as 0", CALL(sendTriggerModeReply(3, 5)), 0x522, 1, {0}},
        {"WaveformStart", CALL(sendWaveformStart(1, 500)), 0x322, 3, {3, 0x01, 0xF4}},
        {"WaveformEnd", CALL(sendWaveformEnd(1)), 0x322, 1, {4}},
        {"WaveformData", CALL(sendWaveformData(1, 1.0f, -1.0f)), 0x323, 8,
         {0x3F, 0x80, 0, 0, 0xBF, 0x80, 0, 0}},
        {"ProbePresence", CALL(sendProbePresence(1, 2)), 0x325, 8, {2}},
        {"CardReady", CALL(sendCardReady(1)), 0x326, 0, {}},
        {"PeakValley", CALL(sendPeakValley(1, 2.0f, 0.5f)), 0x327, 8, {0x40, 0, 0, 0, 0x3F, 0, 0, 0}},
        {"RangeReply", CALL(sendRangeReply(1, 3)), 0x328, 8, {3}},
        {"DiagModeReply Vrms", CALL(sendDiagModeReply(1, 7, "Vrms")), 0x329, 8, {7, 'V', 'r', 'm', 's'}},
        {"DiagModeReply 9 chars", CALL(sendDiagModeReply(1, 7, "ABCDEFGHI")), 0x329, 8,
         {7, 'A', 'B', 'C', 'D', 'E', 'F', 0}},
        {"HelloReply", CALL(sendHelloReply(2)), 0x42A, 0, {}},
        {"ZeroDone", CALL(sendZeroDone(1, 1)), 0x32B, 8, {1}},
        {"ProbeDataIndexed", CALL(sendProbeDataIndexed(1, 9, 3, 0x3F800000)), 0x32C, 6,
         {9, 3, 0x3F, 0x80, 0, 0}},
        {"ProbeDataValue", CALL(sendProbeDataValue(1, 4, 0x12345678)), 0x32C, 5, {4, 0x12, 0x34, 0x56, 0x78}},
        {"ProbeDataBytes n=4", CALL(sendProbeDataBytes(1, 2, kBytes4.data(), 4)), 0x32C, 5,
         {2, 'a', 'b', 'c', 'd'}},
        {"ProbeDataBytes n=7", CALL(sendProbeDataBytes(1, 2, kModel.data(), 7)), 0x32C, 8,
         {2, 'T', 'V', 'L', '4', '7', '0', '0'}},
        {"ProbeDataBytes n=0", CALL(sendProbeDataBytes(1, 2, nullptr, 0)), 0x32C, 1, {2}},
        {"CalParameter", CALL(sendCalParameter(1, 5, 1.0f)), 0x32D, 5, {5, 0x3F, 0x80, 0, 0}},
        {"CalTableElement", CALL(sendCalTableElement(1, 2, 3, 1.0f)), 0x32E, 6, {2, 3, 0x3F, 0x80, 0, 0}},
        {"CalTableSizes", CALL(sendCalTableSizes(1, 4, 5, 6)), 0x32F, 3, {4, 5, 6}},
        {"Frequency", CALL(sendFrequency(1, 1.0f)), 0x330, 4, {0x3F, 0x80, 0, 0}},
        {"CardEvent", CALL(sendCardEvent(1, 0x0102)), 0x331, 2, {1, 2}},
        {"ZeroingProgress", CALL(sendZeroingProgress(1, 100.0f)), 0x332, 8, {0x42, 0xC8, 0, 0}},
        {"BoardInfo", CALL(sendBoardInfo(3, 1, kModel.data(), 7)), 0x533, 8,
         {1, 'T', 'V', 'L', '4', '7', '0', '0'}},

        // Front-panel controller side
        {"KeyPressed", CALL(sendKeyPressed(31)), 0x020, 8, {31}},
        {"PowerOnMode", CALL(sendPowerOnMode(1)), 0x02C, 1, {1}},

        // Replies of the backplane
        {"BackplaneTemperature", CALL(sendBackplaneTemperature(25.0f)), 0x220, 4, {0x41, 0xC8, 0, 0}},
        {"BackplaneCalParameter", CALL(sendBackplaneCalParameter(3, 1.0f)), 0x221, 5, {3, 0x3F, 0x80, 0, 0}},
        {"BackplaneBoardInfo", CALL(sendBackplaneBoardInfo(0, kSerial.data(), 7)), 0x222, 8,
         {0, 'S', 'N', '1', '2', '3', '4', '5'}},

        // Raw frames (the bootloader's program bytes)
        {"RawFrame 2 bytes", CALL(sendRawFrame(0x001, 2, "\x12\x34")), 0x001, 2, {0x12, 0x34}},
        {"RawFrame 8 bytes", CALL(sendRawFrame(0x123, 8, "ABCDEFGH")), 0x123, 8,
         {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}},
        {"RawFrame 0 bytes", CALL(sendRawFrame(0x16A, 0, nullptr)), 0x16A, 0, {}},
    };
    return table;
}

// Calls that must send nothing; those that return an int return -1.
struct Refused {
    const char* name;
    std::function<int(CANinterface&)> call;
};

const std::vector<Refused>& refusals() {
    static const std::vector<Refused> table = {
        {"BootloadNotice node 1", CALL(sendBootloadNotice(1, 120))},
        {"BootloadNotice node 4", CALL(sendBootloadNotice(4, 120))},
        {"SineWaveDacMode 2", CALLV(sendSetSineWaveDacMode(2))},
        {"SineWaveDacMode negative", CALLV(sendSetSineWaveDacMode(static_cast<unsigned>(-1)))},
        {"BackplaneDacScaling 101", CALLV(sendSetBackplaneDacScaling(0, 101))},
        {"BackplaneDacScaling negative", CALLV(sendSetBackplaneDacScaling(4, static_cast<unsigned>(-1)))},
        {"BackplaneDacRange dac 2", CALLV(sendSetBackplaneDacRange(2, 0))},
        {"BackplaneDacRange range 2", CALLV(sendSetBackplaneDacRange(0, 2))},
        {"SetBackplaneBoardInfo n=8", CALLV(sendSetBackplaneBoardInfo(0, "ABCDEFGH", 8))},
        {"SetBackplaneBoardInfo n<0", CALLV(sendSetBackplaneBoardInfo(0, "A", -1))},
        {"SetBackplaneBoardInfo null text", CALLV(sendSetBackplaneBoardInfo(0, nullptr, 3))},
        {"SetBoardInfo n=8", CALLV(sendSetBoardInfo(1, 0, "ABCDEFGH", 8))},
        {"DacScaling 101", CALLV(sendSetDacScaling(1, 1, 101))},
        {"DacScaling negative", CALLV(sendSetDacScaling(1, 0, static_cast<unsigned>(-5)))},
        {"Gain which 2", CALLV(sendSetGain(1, 2, 1.0f))},
        {"Gain which -1", CALLV(sendSetGain(1, -1, 1.0f))},
        {"DiagMode 256", CALLV(sendSetDiagMode(1, 256))},
        {"MuxFampInput 2", CALLV(sendSetMuxFampInput(1, 2))},
        {"MuxSampInput 4", CALLV(sendSetMuxSampInput(1, 4))},
        {"MuxTampInput 3", CALLV(sendSetMuxTampInput(1, 3))},
        {"MuxHpfValue 2", CALLV(sendSetMuxHpfValue(1, 2))},
        {"MuxMadcInput 8", CALLV(sendSetMuxMadcInput(1, 8))},
        {"MuxDcrefValue 2", CALLV(sendSetMuxDcrefValue(1, 2))},
        {"MuxControlCurrentMode 2", CALLV(sendSetMuxControlCurrentMode(1, 2))},
        {"MuxHallCurrent 2", CALLV(sendSetMuxHallCurrent(1, 2))},
        {"MuxMadcInput negative", CALLV(sendSetMuxMadcInput(1, static_cast<unsigned>(-1)))},
        {"MuxDadcInput 4", CALLV(sendSetMuxDadcInput(1, 4))},
        {"OutputSwitch sw 4", CALLV(sendSetOutputSwitch(1, 4, 0))},
        {"OutputSwitch v 2", CALLV(sendSetOutputSwitch(1, 0, 2))},
        {"ProbeDataBytes n=8", CALL(sendProbeDataBytes(1, 2, "ABCDEFGH", 8))},
        {"ProbeDataBytes n<0", CALL(sendProbeDataBytes(1, 2, "A", -1))},
        {"BoardInfo n=8", CALL(sendBoardInfo(1, 0, "ABCDEFGH", 8))},
        {"BackplaneBoardInfo n=8", CALL(sendBackplaneBoardInfo(0, "ABCDEFGH", 8))},
        {"RawFrame length 9", CALL(sendRawFrame(0x001, 9, "ABCDEFGHI"))},
        {"RawFrame length -1", CALL(sendRawFrame(0x001, -1, "A"))},
        {"RawFrame null bytes", CALL(sendRawFrame(0x001, 2, nullptr))},
    };
    return table;
}

class FrameBuilders : public ::testing::Test {
protected:
    std::shared_ptr<FakeBus> bus = std::make_shared<FakeBus>();
    CANinterface link{std::make_unique<FakeTransport>(bus)};
};

TEST_F(FrameBuilders, EveryBuilderFillsItsFrameByteForByte) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        bus->written.clear();
        EXPECT_EQ(c.call(link), 0);
        const auto frames = bus->frames();
        ASSERT_EQ(frames.size(), 1u);
        const can_frame& f = frames[0];
        EXPECT_EQ(f.can_id, c.id);
        EXPECT_EQ(f.can_dlc, c.dlc);
        std::array<int, 8> expected{};
        for (std::size_t i = 0; i < c.data.size(); ++i) expected[i] = c.data[i];
        std::array<int, 8> actual{};
        for (int i = 0; i < 8; ++i) actual[i] = f.data[i];
        EXPECT_EQ(actual, expected);
        EXPECT_EQ(f.__pad, 0);
        EXPECT_EQ(f.__res0, 0);
        EXPECT_EQ(f.len8_dlc, 0);
    }
}

TEST_F(FrameBuilders, OutOfRangeArgumentsSendNothing) {
    for (const Refused& r : refusals()) {
        SCOPED_TRACE(r.name);
        const int result = r.call(link);
        EXPECT_TRUE(result == -1 || result == 0) << result;   // void builders report 0 here
        EXPECT_EQ(bus->writes, 0);
    }
    // The int-returning ones say so.
    EXPECT_EQ(link.sendProbeDataBytes(1, 0, "ABCDEFGH", 8), -1);
    EXPECT_EQ(link.sendBoardInfo(1, 0, "ABCDEFGH", 8), -1);
    EXPECT_EQ(link.sendBackplaneBoardInfo(0, "ABCDEFGH", 8), -1);
    EXPECT_EQ(link.sendBootloadNotice(3, 120), -1);
    EXPECT_EQ(link.sendRawFrame(0x001, 9, "ABCDEFGHI"), -1);
    EXPECT_EQ(bus->writes, 0);
}

TEST_F(FrameBuilders, BuildersReturnTheSendResult) {
    bus->writeScript.push_back({-1, EIO});
    testing::internal::CaptureStdout();
    EXPECT_EQ(link.sendHello(1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "bytesSent = -1, errno = 5\n");
    EXPECT_EQ(link.sendHello(1), 0);
}

}  // namespace
