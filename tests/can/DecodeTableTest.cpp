// The decode table: every received identifier into its signal and arguments.
#include "support/FakeTransport.h"
#include "can/CANinterface.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::FakeBus;
using testsupport::FakeTransport;
using testsupport::makeFrame;

std::string show(int v) { return std::to_string(v); }
std::string show(float v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", static_cast<double>(v));
    return b;
}
std::string show(const char* s) { return std::string("\"") + s + "\""; }

// A handler that logs "Name(arg,arg)" for each emission.
template <class... A>
auto recorder(std::vector<std::string>& log, const char* name) {
    return [&log, name](A... a) {
        std::string line = std::string(name) + "(";
        bool first = true;
        ((line += (first ? "" : ",") + show(a), first = false), ...);
        log.push_back(line + ")");
    };
}

#define REC(sig, ...) link.signal##sig().connect(recorder<__VA_ARGS__>(log, #sig))
#define REC0(sig) link.signal##sig().connect(recorder<>(log, #sig))

void connectAll(CANinterface& link, std::vector<std::string>& log) {
    REC0(HelloReply);
    REC(KeyPressed, int);
    REC(Sample, float, int);
    REC(WaveformStart, int);
    REC(WaveformData, float, float);
    REC0(WaveformEnd);
    REC(RangeReply, int);
    REC(ModeReply, int, int, float);
    REC(PeakValley, float, float);
    REC(ProbePresence, int);
    REC(DiagModeReply, int, const char*);
    REC(ZeroDone, int);
    REC(ZeroingProgress, float);
    REC(BackplaneTemperature, float);
    REC(BackplaneCalParameter, int, float);
    REC(ProbeData, int, const char*);
    REC(CalParameter, int, float);
    REC(CalTableSizes, int, int, int);
    REC(CalTableElement, int, int, float);
    REC(Frequency, float);
    REC(BoardInfo, int, const char*);
    REC(BackplaneBoardInfo, int, const char*);
    REC(QueryReply, float);
    REC(CardEvent, int);
    REC(FrontPanelVersion, int, int);
    REC(PsuVersion, int, int);
    REC(TriggerModeReply, int);
    REC(PowerOnMode, int);
    REC0(CardReady);
    REC(BootloadNotice, int);
    REC(ButtonBacklightRequest, int, int);
    REC(SetPowerOnModeRequest, int);
    REC0(HostReady);
    REC0(HelloRequest);
    REC(SetRangeRequest, int);
    REC0(ResetPeaksRequest);
    REC0(SendAllRequest);
    REC(SetModeRequest, int, int);
    REC(SetDiagModeRequest, int);
    REC(ZeroRequest, int, int);
    REC0(CalSaveToEepromRequest);
    REC0(CalLoadFromEepromRequest);
    REC(CalSetParameterRequest, int, float);
    REC(CalCreateNewTablesRequest, int, int, int);
    REC(SetCalTableElementRequest, int, int, float);
    REC(BoardInfoRequest, int, const char*);
    REC(BackplaneBoardInfoRequest, int, const char*);
    REC(TriggerModeRequest, int);
    REC(TriggerLevelRequest, float);
    REC(WaveformRequest, int, int, int, int);
    REC0(StopWaitingRequest);
    REC0(TemperatureRequest);
}

struct DecodeCase {
    can_frame frame;
    const char* expected;   // "" when nothing may be raised
};

const std::vector<DecodeCase>& decodeCases() {
    static const std::vector<DecodeCase> table = {
        // Front-panel controller and power supply to host
        {makeFrame(0x020, {31}), "KeyPressed(31)"},
        {makeFrame(0x029, {2, 9, 5}), "FrontPanelVersion(2,5)"},
        {makeFrame(0x02C, {1}), "PowerOnMode(1)"},
        {makeFrame(0x629, {3, 7, 4}), "PsuVersion(3,4)"},
        // Backplane to host
        {makeFrame(0x220, {0x41, 0xC8, 0, 0}), "BackplaneTemperature(25)"},
        {makeFrame(0x221, {200, 0x3F, 0x80, 0, 0}), "BackplaneCalParameter(200,1)"},
        {makeFrame(0x222, {6, '0', '1', '/', '2', '0', '2', '6'}), "BackplaneBoardInfo(6,\"01/2026\")"},
        // Channel card to host, all three cards
        {makeFrame(0x320, {0x3F, 0x80, 0, 0, 0x81}), "Sample(1,129)"},
        {makeFrame(0x420, {0xC0, 0x20, 0, 0, 0}), "Sample(-2.5,0)"},
        {makeFrame(0x520, {0x41, 0x20, 0, 0, 2}), "Sample(10,2)"},
        {makeFrame(0x321, {1, 2, 0x42, 0xC8, 0, 0}), "ModeReply(1,2,100)"},
        {makeFrame(0x322, {0}), "TriggerModeReply(0)"},
        {makeFrame(0x422, {2}), "TriggerModeReply(2)"},
        {makeFrame(0x322, {3, 0x01, 0x00}), "WaveformStart(256)"},
        {makeFrame(0x322, {3, 0xFF, 0xFF}), "WaveformStart(65535)"},
        {makeFrame(0x322, {4}), "WaveformEnd()"},
        {makeFrame(0x322, {5}), ""},
        {makeFrame(0x322, {7}), ""},
        {makeFrame(0x322, {255}), ""},
        {makeFrame(0x323, {0x3F, 0x80, 0, 0, 0xBF, 0x80, 0, 0}), "WaveformData(1,-1)"},
        {makeFrame(0x324, {1, 2, 3}), ""},
        {makeFrame(0x325, {2}), "ProbePresence(2)"},
        {makeFrame(0x326, {}), "CardReady()"},
        {makeFrame(0x327, {0x40, 0, 0, 0, 0x3F, 0, 0, 0}), "PeakValley(2,0.5)"},
        {makeFrame(0x328, {3}), "RangeReply(3)"},
        {makeFrame(0x329, {7, 'V', 'r', 'm', 's', 0, 0, 0}), "DiagModeReply(7,\"Vrms\")"},
        {makeFrame(0x329, {7, 'A', 'B', 'C', 'D', 'E', 'F', 'G'}), "DiagModeReply(7,\"ABCDEFG\")"},
        {makeFrame(0x32A, {}), "HelloReply()"},
        {makeFrame(0x32B, {1}), "ZeroDone(1)"},
        {makeFrame(0x32C, {4, 'a', 'b', 'c', 'd', 'e', 'f', 'g'}), "ProbeData(4,\"abcdefg\")"},
        {makeFrame(0x32D, {5, 0x3F, 0x80, 0, 0}), "CalParameter(5,1)"},
        {makeFrame(0x32E, {2, 3, 0x3F, 0x80, 0, 0}), "CalTableElement(2,3,1)"},
        {makeFrame(0x32F, {4, 5, 6}), "CalTableSizes(4,5,6)"},
        {makeFrame(0x330, {0x3F, 0x80, 0, 0}), "Frequency(1)"},
        {makeFrame(0x331, {0x80, 0x01}), "CardEvent(32769)"},
        {makeFrame(0x332, {0x42, 0xC8, 0, 0}), "ZeroingProgress(100)"},
        {makeFrame(0x333, {1, 'T', 'V', 'L', '4', '7', '0', '0'}), "BoardInfo(1,\"TVL4700\")"},
        {makeFrame(0x334, {0, 0x41, 0x20, 0x00, 0x00}), "QueryReply(10)"},
        {makeFrame(0x334, {1, 0x41, 0x20, 0x00, 0x00}), ""},
        {makeFrame(0x335, {1}), ""},
        {makeFrame(0x33F, {1}), ""},
        // Host to front-panel controller and backplane
        {makeFrame(0x100, {5, 200}), "ButtonBacklightRequest(5,200)"},
        {makeFrame(0x104, {0, 120}), "BootloadNotice(120)"},
        {makeFrame(0x10B, {1}), "SetPowerOnModeRequest(1)"},
        {makeFrame(0x10C, {}), "HostReady()"},
        {makeFrame(0x140, {}), "TemperatureRequest()"},
        {makeFrame(0x144, {1, 7, 0x3F, 0x80, 0, 0}), "CalSetParameterRequest(7,1)"},
        {makeFrame(0x144, {0, 7, 0x3F, 0x80, 0, 0}), ""},
        {makeFrame(0x148, {2, 'A', 'B', 'C', 'D', 'E', 'F', 'G'}), "BackplaneBoardInfoRequest(2,\"ABCDEFG\")"},
        // Host to the channel card
        {makeFrame(0x160, {2, 3}), "SetModeRequest(2,3)"},
        {makeFrame(0x181, {3}), "SetRangeRequest(3)"},
        {makeFrame(0x1A2, {1}), "TriggerModeRequest(1)"},
        {makeFrame(0x162, {3, 1, 0, 0x01, 0x02, 0x01, 0xF4}), "WaveformRequest(1,0,258,500)"},
        {makeFrame(0x162, {4}), "StopWaitingRequest()"},
        {makeFrame(0x162, {5, 0xC0, 0x20, 0, 0}), "TriggerLevelRequest(-2.5)"},
        {makeFrame(0x162, {6}), ""},
        {makeFrame(0x163, {4, 'S', 'N', '1', '2', '3', '4', '5'}), "BoardInfoRequest(4,\"SN12345\")"},
        {makeFrame(0x164, {2}), "ResetPeaksRequest()"},
        {makeFrame(0x165, {}), "SendAllRequest()"},
        {makeFrame(0x166, {0}), "CalSaveToEepromRequest()"},
        {makeFrame(0x166, {1}), "CalLoadFromEepromRequest()"},
        {makeFrame(0x166, {2}), ""},
        {makeFrame(0x166, {3}), ""},
        {makeFrame(0x167, {1, 92, 0x3F, 0, 0, 0}), "CalSetParameterRequest(92,0.5)"},
        {makeFrame(0x167, {0, 92, 0x3F, 0, 0, 0}), ""},
        {makeFrame(0x168, {0, 10, 20, 30}), "CalCreateNewTablesRequest(10,20,30)"},
        {makeFrame(0x168, {2, 5, 19, 0x41, 0x20, 0, 0}), "SetCalTableElementRequest(5,19,10)"},
        {makeFrame(0x168, {1, 5, 19}), ""},
        {makeFrame(0x169, {8, 0x3F, 0x80, 0, 0}), ""},
        {makeFrame(0x16A, {}), "HelloRequest()"},
        {makeFrame(0x18A, {}), "HelloRequest()"},
        {makeFrame(0x1AA, {}), "HelloRequest()"},
        {makeFrame(0x16B, {7}), "SetDiagModeRequest(7)"},
        {makeFrame(0x16C, {1}), ""},
        {makeFrame(0x175, {1, 1}), ""},
        {makeFrame(0x176, {0, 3}), "ZeroRequest(0,0)"},
        {makeFrame(0x176, {2}), "ZeroRequest(2,0)"},
        {makeFrame(0x177, {1, 2, 3, 4}), ""},
        // Identifiers without an entry
        {makeFrame(0x001, {0x12, 0x34}), ""},
        {makeFrame(0x1C4, {0, 120}), ""},
        {makeFrame(0x109, {}), ""},
        {makeFrame(0x1C9, {}), ""},
        {makeFrame(0x141, {1}), ""},
        {makeFrame(0x142, {1, 2}), ""},
        {makeFrame(0x143, {0}), ""},
        {makeFrame(0x145, {0, 0, 1}), ""},
        {makeFrame(0x146, {1, 2, 3, 4}), ""},
        {makeFrame(0x147, {1, 1}), ""},
        {makeFrame(0x149, {1, 1, 1}), ""},
        {makeFrame(0x000, {1}), ""},
        {makeFrame(0x021, {1}), ""},
        {makeFrame(0x620, {1}), ""},
        {makeFrame(0x7FF, {1}), ""},
        // Bits above 0x7FF are ignored
        {makeFrame(CAN_EFF_FLAG | 0x1F800320, {0x3F, 0x80, 0, 0, 7}), "Sample(1,7)"},
        {makeFrame(0x00000B2A, {}), "HelloReply()"},
        // The DLC is not examined: a short frame is read at every position
        {makeFrame(0x321, {1, 2, 0x42, 0xC8, 0, 0}, 1), "ModeReply(1,2,100)"},
        {makeFrame(0x327, {0x40, 0, 0, 0, 0x3F, 0, 0, 0}, 0), "PeakValley(2,0.5)"},
    };
    return table;
}

class DecodeTable : public ::testing::Test {
protected:
    std::shared_ptr<FakeBus> bus = std::make_shared<FakeBus>();
    CANinterface link{std::make_unique<FakeTransport>(bus)};
    std::vector<std::string> log;
};

TEST_F(DecodeTable, EveryIdentifierRaisesItsSignalWithItsArguments) {
    connectAll(link, log);
    for (const DecodeCase& c : decodeCases()) {
        SCOPED_TRACE(c.expected);
        SCOPED_TRACE(std::to_string(c.frame.can_id));
        log.clear();
        link.decodeFrame(c.frame);
        if (*c.expected)
            EXPECT_EQ(log, std::vector<std::string>{c.expected});
        else
            EXPECT_TRUE(log.empty()) << log.front();
    }
}

TEST_F(DecodeTable, TheCasesCoverAllFiftyTwoSignals) {
    std::set<std::string> names;
    for (const DecodeCase& c : decodeCases()) {
        std::string e = c.expected;
        if (!e.empty()) names.insert(e.substr(0, e.find('(')));
    }
    EXPECT_EQ(names.size(), 52u);
}

TEST_F(DecodeTable, TextArgumentIsAZeroTerminatedCopyOfSevenBytes) {
    std::string seen;
    bool terminated = false;
    link.signalProbeData().connect([&](int, const char* text) {
        seen.assign(text, 7);
        terminated = text[7] == '\0';
    });
    link.decodeFrame(makeFrame(0x32C, {3, 'a', 0, 'c', 0, 0, 0, 'g'}));
    EXPECT_EQ(seen, std::string("a\0c\0\0\0g", 7));
    EXPECT_TRUE(terminated);
}

TEST_F(DecodeTable, KeyFramesAreDroppedWhileKeyEventsAreDisabled) {
    connectAll(link, log);
    link.setKeyEventsEnabled(false);
    link.decodeFrame(makeFrame(0x020, {5}));
    link.decodeFrame(makeFrame(0x32A, {}));   // other frames go on
    EXPECT_EQ(log, std::vector<std::string>{"HelloReply()"});
    link.setKeyEventsEnabled(true);
    link.decodeFrame(makeFrame(0x020, {6}));
    EXPECT_EQ(log, (std::vector<std::string>{"HelloReply()", "KeyPressed(6)"}));
}

}  // namespace
