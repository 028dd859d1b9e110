// The handler families through the installed command table, on a meter of
// test channels: one row per case where the cases are alike.
#include "ScpiTestSupport.h"

#include "channel/ChannelModel.h"
#include "platform/Platform.h"
#include "ranges/RangeSpec.h"
#include "runtime/NetworkConfiguration.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <fstream>

namespace {

using testsupport::readFile;
using scpitest::ServerTest;
using Replies = std::vector<std::string>;

// Setting commands and the query that reads them back, in order.
struct SetQuery {
    const char* line;
    Replies replies;
};

class HandlersTest : public ServerTest {
public:
    void table(const std::vector<SetQuery>& rows) {
        for (const SetQuery& row : rows) EXPECT_EQ(ask(row.line), row.replies) << row.line;
    }
};

// ---- Status registers and error queue

TEST_F(HandlersTest, EnableRegistersTakeValuesWithinTheirLimitsOnly) {
    table({
        {"*ESE 65535;*ESE?", {"65535"}},
        {"*ESE 65536;*ESE?", {"65535"}},
        {"*ESE -1;*ESE?", {"65535"}},
        {"*ESE 4294967328;*ESE?", {"65535"}},   // 2^32 + 32: never taken for 32
        {"*ESE;*ESE?", {"0"}},                   // no value reads as 0
        {"*SRE 255;*SRE?", {"255"}},
        {"*SRE 256;*SRE?", {"255"}},
        {":STAT:MEAS:ENAB 8;:STAT:MEAS:ENAB?", {"8"}},
        {":STATUS:OPERATION:ENABLE 512;:STAT:OPER:ENAB?", {"512"}},
        {":STAT:QUES:ENAB 1024;:STAT:QUES:ENAB?", {"1024"}},
        {":STAT:QUES:ENAB 65536;:STAT:QUES:ENAB?", {"1024"}},
        {"*ESE 16;:STAT:PRES", {}},
        {":STAT:MEAS:ENAB?;:STAT:OPER:ENAB?;:STAT:QUES:ENAB?;*ESE?;*SRE?", {"0", "0", "0", "16", "255"}},
    });
}

TEST_F(HandlersTest, RegistersReadConditionsAndLatchedEvents) {
    ScpiRegister& measurement = services.status.getMeasurementRegister();
    table({{":STAT:OPER:EVEN?;:STAT:OPER:EVEN?;:STAT:OPER:COND?", {"1", "0", "0"}}});
    measurement.setConditionBit(3);
    table({{":STAT:MEAS:COND?;:STAT:MEAS:EVEN?;:STAT:MEAS:EVEN?", {"8", "8", "8"}}});
    measurement.clearConditionBit(3);
    table({{":STAT:MEAS:COND?;:STAT:MEAS:EVEN?;:STAT:MEAS:EVEN?", {"0", "8", "0"}}});
    services.status.getQuestionableRegister().setConditionBit(9);
    table({{":STAT:QUES:COND?;*STB?", {"512", "0"}},
           {":STAT:QUES:ENAB 512;*STB?;*SRE 8;*STB?", {"8", "72"}}});
}

TEST_F(HandlersTest, ClearStatusEmptiesTheQueueAndClearsEventsButKeepsConditionsAndEnables) {
    testing::internal::CaptureStdout();
    ask("BOGUS;*ESE 32;*SRE 4;:STAT:OPER:ENAB 2");
    services.status.getOperationRegister().setConditionBit(1);
    ask("*CLS");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "unrecognized SCPI cmd: BOGUS\nScpiRegisterManager::ClearAll()\n");
    // The operation condition still holds: it stays and its event goes; the
    // event read leaves the event equal to the condition, as always, so the
    // enabled bit sums into the status byte again.
    table({{"*STB?;*ESR?;:STAT:OPER:COND?;:STAT:OPER:EVEN?;*STB?", {"0", "0", "2", "0", "128"}},
           {":SYST:ERR?;*ESE?;*SRE?;:STAT:OPER:ENAB?", {"0,\"No error\"", "32", "4", "2"}}});
}

// SYST:ERR? is SYST:ERR:NEXT?: the oldest entry, taken out, so a script's
// loop that reads until 0 ends, having seen the entries in order; the
// newest is looked at, and left, with SYST:ERR:NEW?.
TEST_F(HandlersTest, ErrorQueueOverflowsAtTwentyFourAndIsReadOldestFirst) {
    testing::internal::CaptureStdout();
    for (int i = 0; i < 30; ++i) ask("BAD" + std::to_string(i));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(reply(":SYST:ERR:NEW?"), "-350,\"Queue overflow\"");
    EXPECT_EQ(reply(":SYSTEM:ERROR:NEWEST?"), "-350,\"Queue overflow\"") << "the newest stays";
    Replies read;
    for (int i = 0; i < 40; ++i) {
        read.push_back(reply(i % 2 ? ":SYST:ERR?" : ":SYSTEM:ERROR:NEXT?"));
        if (read.back() == "0,\"No error\"") break;
    }
    Replies expected;
    for (int i = 0; i < 24; ++i) expected.push_back("-100,\"Command error; BAD" + std::to_string(i) + "\"");
    expected.push_back("-350,\"Queue overflow\"");
    expected.push_back("0,\"No error\"");
    EXPECT_EQ(read, expected);
    EXPECT_EQ(reply("*STB?"), "0");
    EXPECT_EQ(reply(":SYST:ERR:NEW?"), "0,\"No error\"");
}

// An error reply is SCPI string data whatever the command held: a quote
// inside is doubled, a byte outside printable ASCII is sent as '?'.
TEST_F(HandlersTest, ErrorRepliesAreStringDataWhateverTheCommandHeld) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"say \"hi\"", "-100,\"Command error; say \"\"hi\"\"\""},
        {"\"", "-100,\"Command error; \"\"\""},
        {"X\tY\x1b\x7f\xb5\xff\"", "-100,\"Command error; X?Y????\"\"\""},
    };
    testing::internal::CaptureStdout();
    for (const auto& [received, error] : cases) {
        ask(received);
        EXPECT_EQ(reply(":SYST:ERR?"), error) << received;
    }
    testing::internal::GetCapturedStdout();
}

// ---- Identification and system

TEST_F(HandlersTest, IdentificationAndOptions) {
    EXPECT_EQ(reply("*IDN?"), "TARVEL, 4730 VAZID UVEDURIDER, 1.6.1, FP: unknown, PSU: unknown");
    EXPECT_EQ(reply("*OPT?"), "0,0,0,0,0,0");
    meter.channel(2).insertProbe("HSE-12", "A1234");
    EXPECT_EQ(reply("*OPT?"), "0,0,HSE-12,A1234,0,0");
    EXPECT_EQ(reply(":SYST:VERS?"), "1999.0");
    EXPECT_EQ(reply(":SYST:COMM:LAN:ADDR?"), meter.getNetworkConfiguration()->getIpAddress());
    meter.setThreeChannel(false);
    EXPECT_EQ(reply("*IDN?"), "TARVEL, 4710 VAZID UVEDURIDER, 1.6.1, FP: unknown, PSU: unknown");
    EXPECT_EQ(reply("*OPT?"), "HSE-12,A1234") << "channel 1 is the card in slot 2";
}

TEST_F(HandlersTest, ProfilesOneToTenOnly) {
    const std::string log = sandbox.file("/var/log/standin.log");
    for (const char* line : {"*SAV 0", "*SAV 11", "*SAV", "*RCL X", "*RCL 4294967299"})
        EXPECT_EQ(ask(line), Replies{"Profile number must be between 1 and 10"}) << line;
    EXPECT_EQ(readFile(log).find("profile.sh"), std::string::npos) << "no script ran";
    EXPECT_TRUE(ask("*SAV 3;*RCL 3;*RST").empty());
    const std::string ran = readFile(log);
    EXPECT_NE(ran.find("tvl4700-save-profile.sh 3\n"), std::string::npos) << ran;
    EXPECT_NE(ran.find("tvl4700-restore-profile.sh 3\n"), std::string::npos) << ran;
    EXPECT_NE(ran.find("tvl4700-restore-profile.sh 0\n"), std::string::npos) << ran;
}

TEST_F(HandlersTest, DateAndTimeGoThroughThePlatformClockAndRefuseImpossibleFields) {
    const std::string log = sandbox.file("/var/log/standin.log");
    EXPECT_TRUE(ask(":SYST:DATE 2032,2,29").empty());
    EXPECT_EQ(reply(":SYST:DATE?"), "2032,02,29");
    EXPECT_TRUE(ask(":SYST:TIME 13,45,30").empty());
    EXPECT_EQ(reply(":SYST:DATE?"), "2032,02,29") << "setting the time keeps the date";
    const std::string time = reply(":SYST:TIME?");
    EXPECT_EQ(time.substr(0, 6), "13,45,") << time;
    EXPECT_EQ(time.size(), 8u);
    EXPECT_NE(readFile(log).find("hwclock --systohc"), std::string::npos);

    const std::time_t set = platform::lastRequestedSystemTime();
    struct Case {
        const char* line;
        const char* reply;
    };
    const Case refused[] = {
        {":SYST:DATE", "missing argument"},
        {":SYST:TIME 12,30", "syntax error in argument"},
        {":SYST:TIME 12,30,", "syntax error in argument"},
        {":SYST:DATE 2031,2,29", "argument out of range"},
        {":SYST:DATE 2031,13,1", "argument out of range"},
        {":SYST:DATE 2031,0,1", "argument out of range"},
        {":SYST:DATE 2031,1,32", "argument out of range"},
        {":SYST:DATE 1969,12,31", "argument out of range"},
        {":SYST:DATE 4294969327,1,1", "argument out of range"},   // 2^32 + 2031
        {":SYST:TIME 24,0,0", "argument out of range"},
        {":SYST:TIME 12,60,0", "argument out of range"},
        {":SYST:TIME 12,0,-1", "argument out of range"},
    };
    for (const Case& c : refused) EXPECT_EQ(ask(c.line), Replies{c.reply}) << c.line;
    EXPECT_EQ(platform::lastRequestedSystemTime(), set) << "the clock was not touched";
    EXPECT_EQ(reply(":SYST:DATE?"), "2032,02,29");
}

TEST_F(HandlersTest, RemovingTheDataLogsDeletesOnlyTheirCsvFiles) {
    const std::string dir = sandbox.file("/var/www/datalogs");
    ASSERT_TRUE(platform::makeDirs(dir + "/old.csv"));   // a folder named like a log
    ASSERT_TRUE(platform::makeDirs(dir + "/sub"));
    const char* const files[] = {"a.csv", "b 2.csv", "notes.txt", ".hidden.csv", "c.csv.bak", "sub/d.csv"};
    for (const char* f : files) std::ofstream(dir + "/" + f) << "x\n";
    std::ofstream(sandbox.file("/var/www/keep.csv")) << "x\n";

    testing::internal::CaptureStdout();
    EXPECT_TRUE(ask(":MMEM:DEL:ALL").empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ScpiServer::handleRemoveAllDataLogs()\n");
    auto exists = [&](const std::string& path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    };
    EXPECT_FALSE(exists(dir + "/a.csv"));
    EXPECT_FALSE(exists(dir + "/b 2.csv"));
    for (const char* kept : {"notes.txt", ".hidden.csv", "c.csv.bak", "sub/d.csv", "old.csv"})
        EXPECT_TRUE(exists(dir + "/" + kept)) << kept;
    EXPECT_TRUE(exists(sandbox.file("/var/www/keep.csv")));
}

// ---- Measurement queries

TEST_F(HandlersTest, FluxQueryReportsNoProbeOverRangeAndTheReading) {
    EXPECT_EQ(ask(":MEAS:FLUX?"), Replies{"NPC"});
    EXPECT_EQ(reply(":SYST:ERR?"), "-200,\"Execution error; :MEAS:FLUX? with no probe\"");
    EXPECT_EQ(reply("*ESR?"), "144") << "execution error (16) and power on";

    scpitest::Channel& ch = meter.channel(2);
    ch.insertProbe("P", "S");
    ch.onRangeReply(0);
    ch.setReading(-12.3456f);
    EXPECT_EQ(ch.getReportFormat(), "%02.4f");
    EXPECT_EQ(ask(":MEAS2:FLUX?"), Replies{"-12.3456"});
    ch.setOverRangeRaw(true);
    EXPECT_EQ(ask(":MEASURE2:FLUX?"), Replies{"10000000000"});
    ch.setDiagModeRaw(3);
    ch.setStatus(kChannelNoProbe);
    services.errors->clear();
    EXPECT_TRUE(ask(":MEAS2:FLUX?").empty()) << "a diagnostic mode answers nothing";
    EXPECT_EQ(services.errors->size(), 0u);
    EXPECT_TRUE(ask(":MEAS4:FLUX?;:MEAS0:FLUX?").empty()) << "invalid channels are silent";
    EXPECT_EQ(services.errors->size(), 0u);
}

TEST_F(HandlersTest, FrequencyAndTemperature) {
    scpitest::Channel& ch = meter.channel(1);
    EXPECT_EQ(ask(":MEAS:FREQ?"), Replies{"NPC"});
    EXPECT_TRUE(ask(":MEAS:TEMP?").empty());
    ch.insertProbe("P", "S");
    EXPECT_EQ(ask(":MEAS:FREQ?"), Replies{"NPC"}) << "ready, no reading yet";
    ch.setReading(0.0f);
    services.errors->clear();
    EXPECT_TRUE(ask(":MEAS:FREQ?").empty()) << "DC mode";
    EXPECT_EQ(reply(":SYST:ERR?"), "-200,\"Execution error; :MEAS:FREQ? n/a in DC mode\"");
    ch.onModeReply(1, 0, 610.0f);
    ch.onFrequency(50.0f);
    EXPECT_EQ(ask(":MEAS:FREQ?"), Replies{" 50.0"}) << "hertz with %5.1f";
    EXPECT_TRUE(ask(":UNIT:TIME SEC").empty());
    ch.onFrequency(50.0f);
    EXPECT_EQ(ask(":MEAS:FREQ?;:UNIT:TIME?"), (Replies{"0.02000000", "SEC"}));
    EXPECT_EQ(ask(":MEAS:TEMP?"), Replies{"20.0"});
    EXPECT_EQ(ask(":UNIT:TEMP K;:UNIT:TEMP?;:UNIT:TEMP FAR;:UNIT:TEMP?;:UNIT:TEMP KELVIN"),
              (Replies{"K", "FAR", "syntax error in argument"}));
}

TEST_F(HandlersTest, AllChannelsAndVectorSum) {
    EXPECT_EQ(ask(":MEAS:FLUX:ALL?"), Replies{"NPC"});
    EXPECT_EQ(reply(":SYST:ERR:NEXT?"), "-200,\"Execution error; :MEAS:FLUX:ALL? with no probes\"");
    EXPECT_EQ(reply(":SYST:ERR:NEXT?"), "0,\"No error\"");
    meter.channel(2).insertProbe("P", "S");
    meter.channel(3).insertProbe("P", "S");
    // Probes ready, no readings yet: no placeholder is served.
    EXPECT_EQ(reply(":MEAS:FLUX:ALL?"), "NPC");
    EXPECT_EQ(ask(":MEAS2:FLUX?"), Replies{"NPC"});
    meter.channel(2).setReading(0.0f);
    meter.channel(3).setReading(0.0f);
    // The cards' report format (30 kG range: %05.1f in gauss); no sum while
    // channel 1 has no reading.
    EXPECT_EQ(reply(":MEAS:FLUX:ALL?"), "NPC,000.0,000.0,NPC");
    services.errors->clear();
    EXPECT_EQ(ask(":CALC:VSUM?"), Replies{"NPC"});
    EXPECT_EQ(reply(":SYST:ERR:NEXT?"), "-200,\"Execution error; :CALC:VSUM? with no probe\"");
    meter.channel(1).insertProbe("P", "S");
    meter.channel(1).setReading(0.0f);
    EXPECT_EQ(reply(":MEAS:FLUX:ALL?"), "000.0,000.0,000.0,0.0000") << "then the vector sum's value format";
    const std::string vsum = reply(":CALC:VSUM?");
    EXPECT_EQ(std::count(vsum.begin(), vsum.end(), ','), 3) << vsum;

    meter.setThreeChannel(false);
    services.errors->clear();
    EXPECT_TRUE(ask(":MEAS:FLUX:ALL?;:CALC:VSUM?").empty());
    EXPECT_EQ(reply(":SYST:ERR:NEXT?"), "-200,\"Execution error; :MEAS:FLUX:ALL? n/a for 4710\"");
    EXPECT_EQ(reply(":SYST:ERR:NEXT?"), "-200,\"Execution error; :CALC:VSUM? n/a for 4710\"");
    meter.channel(2).setReading(1.5f);
    EXPECT_EQ(ask(":MEAS:FLUX?;:MEAS2:FLUX?"), Replies{"001.5"}) << "channel 1 is slot 2";
}

// ---- Measurement settings

TEST_F(HandlersTest, HoldEnablesSwitchTheHoldDisplayOnFirst) {
    scpitest::Channel& ch = meter.channel(1);
    ch.insertProbe("P", "S");
    ch.onRangeReply(0);
    table({
        {":CALC:HOLD:MAX:STAT?", {"OFF"}},
        {":CALC:HOLD:MAX:STAT ON;:CALC:HOLD:MAX:STAT?;:CALC:HOLD:MIN:STAT?", {"ON", "OFF"}},
        {":CALC:HOLD:PEAK:STAT 1;:CALC:HOLD:PEAK:STAT?", {"ON"}},
        {":CALC:HOLD:VALL:STAT X;:CALC:HOLD:VALL:STAT?", {"OFF"}},
    });
    EXPECT_TRUE(ch.isHoldActive());
    ch.setHoldActive(false);
    EXPECT_TRUE(ch.isMaxHoldEnabled());
    table({{":CALC:HOLD:MAX:STAT?", {"OFF"}}});   // the display is off
    ch.setHoldsRaw(-1.25f, 2.5f, 3.75f, -5.0f);
    table({{":CALC:HOLD:MIN?;:CALC:HOLD:MAX?;:CALC:HOLD:PEAK?;:CALC:HOLD:VALL?",
            {"-1.2500", "2.5000", "3.7500", "-5.0000"}}});
    ch.setReading(7.0f);
    ask(":CALC:HOLD:MAX:RES;:CALC:HOLD:MIN:RES");
    table({{":CALC:HOLD:MIN?;:CALC:HOLD:MAX?", {"7.0000", "7.0000"}}});
}

TEST_F(HandlersTest, VectorSumHoldsAndRelativeOnChannelFourOnEitherModel) {
    meter.setThreeChannel(false);
    table({
        {":CALC4:HOLD:MAX:STAT ON;:CALC4:HOLD:MAX:STAT?;:CALC4:HOLD:MIN:STAT?", {"ON", "OFF"}},
        {":CALC4:HOLD:PEAK:STAT?;:CALC4:HOLD:PEAK?", {}},   // no peak hold on the vector sum
        {":CALC4:REL:STAT ON;:CALC4:REL:STAT?", {"1"}},
        {":CALC4:REL:STAT OFF;:CALC4:REL:STAT?", {"0"}},
    });
    EXPECT_TRUE(meter.isVectorSumHoldActive());
    EXPECT_TRUE(meter.isVectorSumMaxHoldEnabled());
    ask(":CALC4:REL:OFFS 12.5");
    EXPECT_FLOAT_EQ(meter.getVectorSumRelativeOffset(), 12.5f);
}

TEST_F(HandlersTest, RelativeKeywordsAndOffsetInTheFluxUnit) {
    scpitest::Channel& ch = meter.channel(1);
    ch.insertProbe("P", "S");
    ch.setReading(4.0f);
    table({
        {":CALC:REL:STAT ONCE;:CALC:REL:STAT?", {"1"}},
        {":CALC:REL:STAT ONX;:CALC:REL:STAT?", {"0"}},
        {":CALC:REL:STAT ON;:CALC:REL:STAT?", {"1"}},
        {":CALC:REL:STAT 0;:CALC:REL:STAT?", {"0"}},
    });
    EXPECT_EQ(ch.getRelativeState(), 0);
    ch.setRelativeStateRaw(3);
    table({{":CALC:REL:STAT?", {"1"}}});   // editing counts as on

    EXPECT_TRUE(ask(":UNIT:FLUX TESLA").empty());
    EXPECT_FLOAT_EQ(ch.getRangeSpec()->getUnitScale(), 1e-4f);
    ask(":CALC:REL:OFFS 0.001");
    EXPECT_NEAR(ch.getRelativeOffset(), 10.0f, 1e-3f);
    EXPECT_EQ(ask(":CALC:REL:OFFS?"), Replies{"0.00100"});
}

TEST_F(HandlersTest, FluxUnitKeywordsGoToEverySlot) {
    const struct {
        const char* argument;
        const char* reply;   // the unit query afterwards, or the error reply
    } cases[] = {
        {"GAUSS", "GAUSS"}, {"GAUS", "GAUSS"}, {"GAUSSIAN", "GAUSS"}, {"TESLA", "TESLA"},
        {"OERSTED", "OERSTED"}, {"AM", "AM"}, {"AMP", "syntax error in argument"},
        {"A", "syntax error in argument"}, {"", "syntax error in argument"},
    };
    for (const auto& c : cases) {
        ask(":UNIT:FLUX GAUSS");
        const Replies set = ask(std::string(":UNIT:FLUX ") + c.argument);
        EXPECT_EQ(set.empty() ? reply(":UNIT:FLUX?") : set[0], c.reply) << c.argument;
    }
    ask(":unit:flux tesla");
    for (unsigned slot = 1; slot <= 3; ++slot) EXPECT_EQ(meter.getChannel(slot)->getFluxUnits(), 1);
    table({{":UNIT:ANGL RAD;:UNIT:ANGL?;:UNIT:ANGL DEGREES;:UNIT:ANGL?", {"RAD", "syntax error in argument", "RAD"}}});
}

TEST_F(HandlersTest, ClassifierLimitsStateAndEnable) {
    scpitest::Channel& ch = meter.channel(3);
    ch.insertProbe("P", "S");
    ch.onRangeReply(0);   // 30 G: limits up to 33 G
    table({
        {":CALC3:LIM:UPP 20;:CALC3:LIM:LOW -10;:CALC3:LIM:UPP?;:CALC3:LIM:LOW?", {"20.0000", "-10.0000"}},
        {":CALC3:LIM:UPP 40;:CALC3:LIM:UPP?", {"20.0000"}},     // beyond 1.1 x full scale
        {":CALC3:LIM:LOW 25;:CALC3:LIM:LOW?", {"-10.0000"}},    // above the upper limit
        {":CALC3:LIM:STAT 1;:CALC3:LIM:STAT?;:CALC3:LIM:FAIL?", {"1", "0"}},
    });
    ch.getClassifierController().classify(25.0f);
    table({{":CALC3:LIM:FAIL?", {"1"}}});
    ch.getClassifierController().setMode(kClassifierEditUpper);
    table({{":CALC3:LIM:STAT?;:CALC3:LIM:FAIL?", {"0", "0"}},
           {":CALC3:LIM:STAT 0;:CALC3:LIM:STAT?", {"0"}}});
}

// ---- Range, mode, zeroing and outputs

TEST_F(HandlersTest, RangesAndModesAreSentToTheCard) {
    scpitest::Channel& ch = meter.channel(1);
    ch.insertProbe("P", "S");
    meter.frames(1);
    // Slot 1 (node 3): set mode is command 0x00 (0x160), set range 0x01 (0x161).
    struct Case {
        const char* line;
        Replies frames;
    };
    const Case cases[] = {
        {":SENS:FLUX:AC:RANG 2", {"161#0300000000000000", "161#0200000000000000", "160#0100"}},
        {":SENS:FLUX:RANG 7", {}},
        {":SENS:FLUX:RANG 4294967298", {}},      // 2^32 + 2: never taken for 2
        {":SENS:FLUX:RANG -1", {}},
        {":SENS:FLUX:RANG:AUTO 2", {}},
        {":SENS:FLUX:DC:RANG:AUTO 1", {"160#0000"}},
        {":SENS:FLUX:DC", {"160#0000"}},
        {":SENS:FLUX:AC", {"160#0100"}},
        {":SENS2:FLUX:AC", {}},                  // another slot's card
    };
    for (const Case& c : cases) {
        ask(c.line);
        Replies sent;
        for (const std::string& f : meter.frames(1))
            if (f.compare(0, 3, "160") == 0 || f.compare(0, 3, "161") == 0) sent.push_back(f);
        EXPECT_EQ(sent, c.frames) << c.line;
    }
    ch.onModeReply(1, 0, 610.0f);
    ch.onRangeReply(3);
    ch.setAutorange(true);
    EXPECT_EQ(ask(":SENS:FLUX:RANG?"), Replies{"AC,3,ON"});
    ch.setAutorange(false);
    ch.onModeReply(0, 0, 610.0f);
    ch.onRangeReply(1);
    EXPECT_EQ(ask(":SENS1:FLUX:RANG?"), Replies{"DC,1,OFF"});
}

TEST_F(HandlersTest, ArgumentsOutOfRangeAreAnswered) {
    table({
        {":SENS:FLUX:AC:FILT 6", {"argument out of range"}},
        {":SENS:FLUX:AC:FILT -1", {"argument out of range"}},
        {":SENS:FLUX:AC:FILT 5", {}},
        {":DISP:RATE 4", {"argument out of range"}},
        {":DISP:RATE 3;:DISP:RATE?", {"3"}},
        {":OUTP:CORR:MODE 3", {"argument out of range"}},
        {":OUTP:UNC:MODE 2;:OUTP:UNC:MODE?", {"2"}},
        {":OUTP:CORR:SCAL 10;:OUTP:CORR:SCAL?", {"10.0"}},
        {":OUTP:CORR:SCAL 10.01", {"argument out of range"}},
        {":OUTP:CORR:SCAL -0.1", {"argument out of range"}},
        {":OUTP:CORR:SCAL NAN", {"argument out of range"}},
        {":OUTP:CORR:SCAL INF", {"argument out of range"}},
        {":OUTP:CORR:SCAL?", {"10.0"}},
        {":OUTP:UNC:SCAL 2.56;:OUTP:UNC:SCAL?", {"2.6"}},
        {":OUTP:UNC:SCAL;:OUTP:UNC:SCAL?", {"0.0"}},
        {":OUTP:VSUM:SCAL 2.5;:OUTP:VSUM:SCAL?", {"2.5"}},
        {":OUTP:VSUM:SCAL NAN", {"argument out of range"}},
        {":OUTP:VSUM:MODE 1;:OUTP:VSUM:MODE?", {"1"}},
        {":OUTP:VSUM:MODE 2;:OUTP:VSUM:MODE?", {"1"}},
    });
    EXPECT_EQ(meter.getChannel(1)->getUdacScaling(), 0);
    EXPECT_EQ(meter.getChannel(1)->getFreqRange(), 0) << "the card reports the filter";
    meter.setVectorSumOutputMode(3);
    meter.setDisplayRate(2.5f);
    table({{":OUTP:VSUM:MODE?;:DISP:RATE?", {"0", "2"}}});
}

// A rate set by another interface reads back as the code of the offered rate
// that stands for it, the row the Update Rate menu marks: the cuts lie at
// 0.75, 1.5 and 4.
TEST_F(HandlersTest, DisplayRateQueryNamesTheNearestOfferedRate) {
    const std::pair<float, const char*> cases[] = {
        {0.3f, "0"}, {0.74f, "0"}, {0.75f, "1"}, {0.8f, "1"}, {0.89f, "1"}, {1.49f, "1"},
        {1.5f, "2"}, {3.99f, "2"}, {4.0f, "3"}, {5.9f, "3"},
    };
    for (const auto& c : cases) {
        meter.setDisplayRate(c.first);
        EXPECT_EQ(ask(":DISP:RATE?"), Replies{c.second}) << c.first;
    }
    meter.setDisplayRate(1.0f);
}

TEST_F(HandlersTest, ZeroModeAndZeroing) {
    table({{":CAL:ZERO:HSEN:MODE?", {"1"}},
           {":CAL2:ZERO:HSEN:MODE 2;:CAL2:ZERO:HSEN:MODE?", {"2"}},
           {":CAL2:ZERO:HSEN:MODE 3;:CAL2:ZERO:HSEN:MODE?", {"2"}},
           {":CAL:ZERO:ALL:MODE 0;:CAL3:ZERO:HSEN:MODE?", {"0"}}});
    EXPECT_EQ(meter.getChannel(2)->getZeroMode(), 1);

    EXPECT_EQ(ask(":CAL:ZERO:HSEN:INIT"), Replies{"NPC"});
    EXPECT_EQ(reply(":SYST:ERR?"), "-200,\"Execution error; :CAL#:ZERO:HSEN:INIT with no probe\"");
    meter.channel(1).insertProbe("P", "S");
    meter.frames(1);
    EXPECT_TRUE(ask(":CAL1:ZERO:HSEN:INIT").empty());
    EXPECT_EQ(meter.channel(1).getZeroingState(), kZeroing);
    Replies zero;
    for (const std::string& f : meter.frames(1))
        if (f.compare(0, 3, "176") == 0) zero.push_back(f);
    EXPECT_EQ(zero, Replies{"176#0001"}) << "start zero in zero mode 1";
}

// *OPC? during a zero: answered when the meter stops being busy.
TEST_F(HandlersTest, OperationCompleteFollowsAZero) {
    meter.channel(2).insertProbe("P", "S");
    EXPECT_TRUE(ask(":CAL:ZERO:ALL:INIT;*OPC?").empty());
    EXPECT_TRUE(meter.isBusy());
    meter.channel(2).onZeroDone(0);
    EXPECT_EQ(server->takeReplies(), Replies{"1"});
    EXPECT_EQ(ask("*OPC?"), Replies{"1"});
}

TEST_F(HandlersTest, FrontPanelKeysFollowTheRemoteCommands) {
    std::vector<bool> states;
    server->signalEnableButtons().connect([&](bool on) { states.push_back(on); });
    EXPECT_TRUE(ask(":SYST:REM;:SYST:LOC").empty());
    EXPECT_EQ(states, (std::vector<bool>{false, true}));
}

}  // namespace
