// The calibration-constant, board-identity, factory and diagnostic,
// correction-table and report, and multiplexer/DAC families through the
// installed command table, on a meter of test channels whose card and
// backplane links record every frame: one row per case, the replies and the
// frames that reached the cards and the backplane.
#include "ScpiTestSupport.h"

#include "channel/ChannelModel.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

using scpitest::Channel;
using scpitest::ServerTest;
using Lines = std::vector<std::string>;

// The big-endian bits of a float as the frames carry them: "3AC49BA6".
std::string floatHex(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char text[9];
    std::snprintf(text, sizeof text, "%08X", bits);
    return text;
}

// Frame ids: a card in slot n gets 0x140 + 0x20 n + command.
std::string card(unsigned slot, int command, const std::string& data) {
    char id[8];
    std::snprintf(id, sizeof id, "%03X#", 0x140 + 0x20 * slot + command);
    return id + data;
}

// One command line: its replies, and the frames each card slot (1-3) and
// the backplane (slot 0) received.
struct Row {
    const char* line;
    Lines replies;
    unsigned slot;   // 0: the backplane
    Lines frames;
};

class FamiliesTest : public ServerTest {
protected:
    void rows(const std::vector<Row>& table) {
        for (const Row& row : table) {
            for (unsigned s = 1; s <= 3; ++s) meter.frames(s);
            meter.backplaneFrames();
            EXPECT_EQ(ask(row.line), row.replies) << row.line;
            for (unsigned s = 0; s <= 3; ++s) {
                const Lines sent = s == 0 ? meter.backplaneFrames() : meter.frames(s);
                EXPECT_EQ(sent, s == row.slot ? row.frames : Lines{}) << row.line << " (slot " << s << ")";
            }
        }
    }
};

// ---- Calibration constants

TEST_F(FamiliesTest, ChannelConstantsAnswerTheCopyAndSendTheNewValue) {
    meter.channel(3).onCalParameter(40, -12.6f);
    meter.channel(3).onCalParameter(82, 0.0123456789f);
    rows({
        {":DIAG1:DAT:CAL:GAIN:PROB:RLOW?", {"4000.038086"}, 0, {}},
        {":DIAGNOSTIC2:DATA:CALIBRATION:GAIN:PROBE:RMED?", {"400.038116"}, 0, {}},
        {":DIAG3:DAT:CAL:MADC:OFFS?", {"-13"}, 0, {}},
        {":DIAG3:DAT:CAL:CURR:AC?", {"0.0123456791"}, 0, {}},
        {":DIAG3:DAT:CAL:TRAN:XLOW?", {"0.000000"}, 0, {}},
        {":diag2:dat:cal:gain:prob:rlow 1.5E-3", {}, 2, {card(2, 0x07, "0100" + floatHex(0.0015f))}},
        {":DIAG1:DAT:CAL:CDAC:FSN:HIGH -2.5", {}, 1, {card(1, 0x07, "0117" + floatHex(-2.5f))}},
        {":DIAG1:DAT:CAL:CURR:DC ABC", {}, 1, {card(1, 0x07, "0153" + floatHex(0.0f))}},
        {":DIAG1:DAT:CAL:FREQ", {}, 1, {card(1, 0x07, "0119" + floatHex(0.0f))}},
        // NaN and the infinities never reach the card's calibration.
        {":DIAG1:DAT:CAL:GAIN:PROB:RLOW NAN", {"argument out of range"}, 0, {}},
        {":DIAG1:DAT:CAL:GAIN:PROB:RLOW -INF", {"argument out of range"}, 0, {}},
        {":DIAG1:DAT:CAL:CURR:DC 1E400", {"argument out of range"}, 0, {}},
        // A bad channel: no reply, nothing sent.
        {":DIAG5:DAT:CAL:GAIN:PROB:RLOW?", {}, 0, {}},
        {":DIAG0:DAT:CAL:GAIN:PROB:RLOW 2", {}, 0, {}},
    });
    // The configuration dump's lines set the same entries (also its
    // "dinsstage" and "dinstage" spellings).
    rows({
        {":diag1:dat:cal:gain:dinsstage:rlow 200.5", {}, 1, {card(1, 0x07, "0105" + floatHex(200.5f))}},
        {":diag1:dat:cal:gain:dinstage:rhigh 2.5", {}, 1, {card(1, 0x07, "0107" + floatHex(2.5f))}},
        {":diag1:dat:cal:gain:prob:rxhigh 4.5", {}, 1, {card(1, 0x07, "0103" + floatHex(4.5f))}},
        {":diag1:dat:cal:thermistor:resistance 10000.0", {}, 1, {card(1, 0x07, "0109" + floatHex(10000.0f))}},
        {":diag1:dat:cal:transductance:low 0.1", {}, 1, {card(1, 0x07, "011B" + floatHex(0.1f))}},
    });
    EXPECT_EQ(services.errors->size(), 0u);
}

TEST_F(FamiliesTest, BackplaneConstantsWhateverTheChannel) {
    rows({
        {":DIAG4:DAT:CAL:SYNC?", {"38"}, 0, {}},
        {":DIAG3:BACK:DAT:CAL:SYNC?", {"38"}, 0, {}},
        {":DIAG4:DAT:CAL:TEMP?", {"0.0"}, 0, {}},
        {":DIAG4:DAT:CAL:VDAC:ZERO:LOW 123.9", {}, 0, {"144#0101" + floatHex(123.0f)}},
        {":DIAG:BACK:DAT:CAL:ADAC:FSN:HIGH -7", {}, 0, {"144#010C" + floatHex(-7.0f)}},
        {":DIAG4:DAT:CAL:TEMP 23.9", {}, 0, {"144#010D" + floatHex(23.9f)}},
        {":DIAG4:DAT:CAL:SYNC 511", {}, 0, {"144#0100" + floatHex(511.0f)}},
        {":DIAG4:DAT:CAL:SYNC 512", {"argument out of range"}, 0, {}},
        {":DIAG4:DAT:CAL:SYNC -1", {"argument out of range"}, 0, {}},
        {":DIAG4:DAT:CAL:SYNC 4294967296", {"argument out of range"}, 0, {}},
        {":DIAG4:DAT:CAL:TEMP NAN", {"argument out of range"}, 0, {}},
        {":DIAG:BACK:DAT:CAL:TEMP -INF", {"argument out of range"}, 0, {}},
    });
    meter.setThreeChannel(false);
    rows({{":DIAG4:DAT:CAL:SYNC?", {"38"}, 0, {}}});
}

TEST_F(FamiliesTest, SingleChannelModelReachesSlotTwoOnly) {
    meter.setThreeChannel(false);
    rows({
        {":DIAG1:DAT:CAL:GAIN:PROB:RLOW 2", {}, 2, {card(2, 0x07, "0100" + floatHex(2.0f))}},
        {":DIAG2:DAT:CAL:GAIN:PROB:RLOW 2", {}, 0, {}},
        {":DIAG2:DAT:CAL:GAIN:PROB:RLOW?", {}, 0, {}},
        {":DIAG2:ID:MOD?", {}, 0, {}},
        {":DIAG2:MUX:MADC 1", {}, 0, {}},
        {":DIAG1:MUX:MADC 1", {}, 2, {card(2, 0x10, "0100000000000000")}},
        {":DIAG:VDAC:RANG 1", {}, 0, {"147#0001"}},
    });
}

// A card that answers the diagnostic ADC's reads: volts 2.5, counts 812,
// each after a short delay, from a thread of its own as a reader would.
class AnsweringTransport : public platform::CanTransport {
public:
    explicit AnsweringTransport(ChannelModel& model) : model(model) {}
    ~AnsweringTransport() override {
        for (auto& t : answers) t.join();
    }
    bool valid() const override { return true; }
    ssize_t write(const can_frame& frame) override {
        if ((frame.can_id & 0x1F) == 0x14 && frame.data[0] == 2) {
            const float value = frame.data[1] == 1 ? 2.5f : 812.0f;
            answers.emplace_back([this, value] {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                model.onQueryReply(value);
            });
        }
        return sizeof frame;
    }
    ssize_t read(can_frame&, int) override { return 0; }
    int setFilters(const can_filter*, std::size_t) override { return 0; }
    void wake() override {}
    std::uint64_t droppedFrames() const override { return 0; }
    const char* backendName() const override { return "answering"; }

private:
    ChannelModel& model;
    std::vector<std::thread> answers;
};

TEST_F(FamiliesTest, DiagnosticAdcReadsOfTwoServersNeverSwapReplies) {
    EXPECT_EQ(ask(":DIAG2:DADC:VOLT?"), Lines{"99999.00000"});   // the card does not answer
    meter.channel(1).attachTransport(std::make_unique<AnsweringTransport>(meter.channel(1)));
    ScpiServerMemory other(services.forServer(meter));
    std::atomic<int> wrong{0};
    std::thread counts([&] {
        for (int i = 0; i < 30; ++i)
            if (other.command(":DIAG1:DADC:COUN?") != Lines{"812"}) ++wrong;
    });
    for (int i = 0; i < 30; ++i) EXPECT_EQ(ask(":DIAG1:DADC:VOLT?"), Lines{"2.50000"});
    counts.join();
    EXPECT_EQ(wrong, 0);
}

// ---- Board identity

TEST_F(FamiliesTest, BoardTextsAreReadFromTheCopyAndSentInTwoHalves) {
    meter.channel(2).setBoardTexts("M2", "R2", "S2", "D2");
    rows({
        {":DIAG1:ID:SER?", {"0000"}, 0, {}},
        {":DIAG2:ID:MOD?;:DIAG2:ID:REV?;:DIAG2:ID:SER?;:DIAG2:ID:CALD?", {"M2", "R2", "S2", "D2"}, 0, {}},
        {":DIAG4:ID:CALD?", {"01-01-1970"}, 0, {}},
        {":DIAG2:BACK:ID:MOD?", {"unknown"}, 0, {}},
        {":DIAG3:ID:SER abcdefghijklmnop", {}, 3, {card(3, 0x03, "0441424344454647"), card(3, 0x03, "0548494A4B4C4D4E")}},
        {":DIAG1:ID:REV b", {}, 1, {card(1, 0x03, "0242000000000000"), card(1, 0x03, "0300000000000000")}},
        {":DIAG1:ID:MOD ABC DEF", {}, 1, {card(1, 0x03, "0041424300000000"), card(1, 0x03, "0100000000000000")}},
        {":DIAG1:ID:CALD", {}, 1, {card(1, 0x03, "0600000000000000"), card(1, 0x03, "0700000000000000")}},
        {":DIAG4:ID:MOD demo", {}, 0, {"148#0044454D4F000000", "148#0100000000000000"}},
        {":DIAG5:ID:MOD X", {}, 0, {}},
    });
}

// ---- Multiplexers and DACs

TEST_F(FamiliesTest, MultiplexersAndDacsCheckTheirArgumentBeforeTheFrame) {
    rows({
        {":DIAG1:MUX:MADC 7", {}, 1, {card(1, 0x10, "0700000000000000")}},
        {":DIAG1:MUX:MADC 8", {}, 0, {}},
        {":DIAG1:MUX:MADC -1", {}, 0, {}},
        {":DIAG1:MUX:MADC 4294967297", {}, 0, {}},   // 2^32 + 1: never taken for 1
        {":DIAG2:MUX:FAMP 1", {}, 2, {card(2, 0x0C, "0100000000000000")}},
        {":DIAG2:MUX:SAMP 3", {}, 2, {card(2, 0x0D, "0300000000000000")}},
        {":DIAG2:MUX:TAMP 2", {}, 2, {card(2, 0x0E, "0200000000000000")}},
        {":DIAG2:MUX:TAMP 3", {}, 0, {}},
        {":DIAG2:MUX:HPF 1", {}, 2, {card(2, 0x0F, "0100000000000000")}},
        {":DIAG2:MUX:DCREF 1", {}, 2, {card(2, 0x11, "0100000000000000")}},
        {":DIAG2:MUX:CCUR 1", {}, 2, {card(2, 0x12, "0100000000000000")}},
        {":DIAG2:MUX:HCUR 1", {}, 2, {card(2, 0x13, "0100000000000000")}},
        {":DIAG2:MUX:DADC 3", {}, 2, {card(2, 0x14, "0003")}},
        {":DIAG2:MUX:DADC 4", {}, 0, {}},
        {":DIAG3:MUX:UDAC:INP 1", {}, 3, {card(3, 0x15, "0101")}},
        {":DIAG3:MUX:UDAC:GAIN 1", {}, 3, {card(3, 0x15, "0001")}},
        {":DIAG3:MDAC:RANG 1", {}, 3, {card(3, 0x15, "0001")}},
        {":DIAG3:CDAC:RANG 1", {}, 3, {card(3, 0x15, "0201")}},
        {":DIAG3:UDAC:RANG 0", {}, 3, {card(3, 0x15, "0300")}},
        {":DIAG3:UDAC:RANG 2", {}, 0, {}},
        {":DIAG1:MDAC:OUTP 4095", {}, 1, {card(1, 0x09, "070FFF")}},
        {":DIAG1:MDAC:OUTP 4096", {"argument out of range"}, 0, {}},
        {":DIAG1:MDAC:OUTP -1", {"argument out of range"}, 0, {}},
        {":DIAG1:UDAC:OUTP -32767", {}, 1, {card(1, 0x09, "058001")}},
        {":DIAG1:UDAC:OUTP -32768", {"argument out of range"}, 0, {}},
        {":DIAG1:CDAC:OUTP 12.7", {}, 1, {card(1, 0x09, "02000C")}},
        {":DIAG1:CDAC:OUTP 0x10", {}, 1, {card(1, 0x09, "020000")}},
        {":DIAG1:CDAC:OUTP", {}, 1, {card(1, 0x09, "020000")}},
        {":DIAG1:MDAC:MODE 1", {}, 1, {card(1, 0x09, "060001")}},
        {":DIAG1:MDAC:MODE 2", {}, 1, {card(1, 0x09, "070000")}},
        {":DIAG1:MDAC:MODE 3", {"argument out of range"}, 0, {}},
        {":DIAG1:UDAC:MODE 3", {}, 1, {card(1, 0x09, "050000")}},
        {":DIAG1:CDAC:MODE 2", {}, 1, {card(1, 0x09, "000002")}},
        {":DIAG1:CDAC:MODE 4", {"argument out of range"}, 0, {}},
        {":DIAG1:DADC:MODE 256", {}, 1, {card(1, 0x14, "0100")}},
        {":DIAG1:DADC:MODE -1", {}, 1, {card(1, 0x14, "01FF")}},
        {":DIAG4:MUX:MADC 1", {}, 0, {}},   // the backplane has no multiplexers
    });
    EXPECT_EQ(meter.channel(1).getMdacMode(), 3);
    EXPECT_EQ(meter.channel(1).getUdacMode(), 3);
    EXPECT_EQ(meter.channel(1).getCdacMode(), 2);
}

TEST_F(FamiliesTest, BackplaneDacsWhateverTheChannel) {
    rows({
        {":DIAG:VDAC:MODE 1", {}, 0, {"145#000001"}},
        {":DIAG4:VDAC:MODE 2", {}, 0, {"145#020000"}},
        {":DIAG4:VDAC:MODE 3", {"argument out of range"}, 0, {}},
        {":DIAG4:ADAC:MODE 1", {}, 0, {"145#030001"}},
        {":DIAG2:ADAC:MODE 0", {}, 0, {"145#030000"}},
        {":DIAG:VDAC:OUTP -32767", {}, 0, {"145#028001"}},
        {":DIAG:ADAC:OUTP 32767", {}, 0, {"145#057FFF"}},
        {":DIAG:ADAC:OUTP 32768", {"argument out of range"}, 0, {}},
        {":DIAG:VDAC:RANG 1", {}, 0, {"147#0001"}},
        {":DIAG:ADAC:RANG 1", {}, 0, {"147#0101"}},
        {":DIAG:VDAC:RANG 2", {}, 0, {}},
        {":DIAG4:SDAC:MODE 1", {}, 0, {"141#01"}},
        {":DIAG4:SDAC:MODE 2", {"argument out of range"}, 0, {}},
        {":DIAG4:SDAC:OUTP -300", {}, 0, {"142#FED4"}},
    });
    EXPECT_EQ(meter.getVectorSumOutputMode(), 3);
    EXPECT_EQ(meter.getAuxOutputMode(), 0);
}

// ---- Factory and diagnostics

TEST_F(FamiliesTest, DiagnosticCommandsAndTheirArgumentErrors) {
    Channel& ch1 = meter.channel(1);
    rows({
        {":DIAG1:OPT 6", {}, 1, {card(1, 0x17, "0006000000000000")}},
        {":DIAG1:OPT 10,1,65535,-1", {}, 1, {card(1, 0x17, "000A0001FFFFFFFF")}},
        {":DIAG1:OPT", {"missing argument"}, 0, {}},
        {":DIAG1:OPT 6,70000", {"argument out of range"}, 0, {}},
        {":DIAG2:CLAS 1", {"missing argument"}, 0, {}},
        {":DIAG2:CLAS", {"missing argument"}, 0, {}},
        {":DIAG1:DAT:CAL:NEW 10,20", {"syntax error in argument"}, 0, {}},
        {":DIAG1:DAT:CAL:NEW 10,,20", {}, 1, {card(1, 0x08, "000A0014")}},
        {":DIAG1:DAT:CAL:NEW 10,256,20", {"argument out of range"}, 0, {}},
        {":DIAG1:MODE 255", {}, 1, {card(1, 0x0B, "FF00000000000000")}},
        {":DIAG1:MODE 256", {}, 0, {}},
        {":DIAG1:MODE -1", {}, 0, {}},
        {":DIAG1:MODE 4294967297", {}, 0, {}},
        {":DIAG1:EEPR:LOAD", {}, 1, {card(1, 0x06, "01")}},
        {":DIAG1:EEPR:WRIT", {}, 1, {card(1, 0x06, "00")}},
        {":DIAG1:DEF:REC", {}, 1, {card(1, 0x06, "02")}},
        {":DIAG1:DEF:FACT", {}, 1, {card(1, 0x06, "03")}},
        {":DIAG4:DEF:REC", {}, 0, {"143#02"}},
        {":DIAG4:DEF:FACT", {}, 0, {"143#03"}},
        {":DIAG1:CURR:REC", {}, 0, {}},   // no probe: nothing
        {":DIAG1:ZERO:STAT?", {"4"}, 0, {}},
        {":DIAG4:TEMP?", {"0.0"}, 0, {}},
        {":DIAG1:AVER 9999999999", {"argument out of range"}, 0, {}},
        {":DIAG6:OPT 6", {}, 0, {}},
    });
    EXPECT_EQ(ch1.getDiagMode(), 255);
    // Option 7: the channel reads its settings file again (and sends what
    // it holds); no option frame goes to the card.
    meter.frames(1);
    EXPECT_EQ(ask(":DIAG1:OPT 7,1,2,3"), Lines{});
    for (const std::string& frame : meter.frames(1)) EXPECT_NE(frame.substr(0, 4), "177#") << frame;
    ask(":DIAG1:AVER 12");
    EXPECT_EQ(ch1.getSamplesPerAverage(), 12);
    // The backplane memory: its frame, then option 10 to every card.
    EXPECT_EQ(ask(":DIAG4:EEPR:WRIT"), Lines{});
    EXPECT_EQ(meter.backplaneFrames(), Lines{"143#00"});
    for (unsigned s = 1; s <= 3; ++s) EXPECT_EQ(meter.frames(s), Lines{card(s, 0x17, "000A000000000000")});
}

TEST_F(FamiliesTest, RawDcReplyKeepsTheCardsDecimalsWithinReason) {
    Channel& ch = meter.channel(2);
    ch.setReading(1.2345f);   // shown as 0.0012345 kG on the range a channel starts on
    ch.onDiagModeReply(3, "V");
    EXPECT_EQ(ask(":DIAG2:DAT:RAW:DC?"), Lines{"0.001 V"});
    ch.onDiagModeReply(0, "CTrms");
    EXPECT_EQ(ask(":DIAG2:DAT:RAW:DC?"), Lines{"0 CTrms"});
    // Decimals a card should never send: at most 9, never negative.
    ch.onDiagModeReply(200, "V");
    EXPECT_EQ(ask(":DIAG2:DAT:RAW:DC?"), Lines{"0.001234500 V"});
    ch.onDiagModeReply(-5, "V");
    EXPECT_EQ(ask(":DIAG2:DAT:RAW:DC?"), Lines{"0 V"});
}

// ---- Streaming

TEST_F(FamiliesTest, StreamingWithoutAProbeAnswersNpcAndQueuesTheError) {
    EXPECT_EQ(ask(":MEAS2:FLUX:STR? 5"), Lines{"NPC"});
    EXPECT_EQ(nextError(), "-200,\"Execution error; :MEAS#:FLUX:STR? with no probe\"");
    EXPECT_EQ(ask("*ESR?"), Lines{"144"});   // power-on bit 7 and execution error bit 4
}

TEST_F(FamiliesTest, StreamingSendsEveryReadingUntilItsTimeIsUp) {
    Channel& ch = meter.channel(3);
    ch.insertProbe("HP-1", "S1");
    ch.setReading(12.5f);
    server->start();
    // A repeated command restarts the stream; it never doubles it.
    // (The reader takes a line only when it has done the one before: the
    // *CLS after each command shows that the command has been handled.)
    server->feed(":MEAS3:FLUX:STR? 30\n:MEAS3:FLUX:STR? 30\n*CLS\n");
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->linesRead() == 3; }));
    for (int i = 0; i < 3; ++i) ch.signalNewReading().emit(3, 0, 0, 0, 0, 0, 0);
    ASSERT_TRUE(server->waitForReplies(3));
    EXPECT_EQ(server->takeReplies(), Lines(3, "012.5"));   // the 30 kG range's %05.1f
    // Another channel's readings are not streamed; a new command ends it.
    meter.channel(1).signalNewReading().emit(1, 0, 0, 0, 0, 0, 0);
    server->feed(":MEAS3:FLUX:STR? 0\n*CLS\n");
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->linesRead() == 5; }));
    ch.signalNewReading().emit(3, 0, 0, 0, 0, 0, 0);
    EXPECT_FALSE(server->waitForReplies(1, std::chrono::milliseconds(300)));
    // Two seconds: a reading after them is not sent.
    server->feed(":MEAS3:FLUX:STR? 2\n*CLS\n");
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->linesRead() == 7; }));
    ch.signalNewReading().emit(3, 0, 0, 0, 0, 0, 0);
    ASSERT_TRUE(server->waitForReplies(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    ch.signalNewReading().emit(3, 0, 0, 0, 0, 0, 0);
    EXPECT_FALSE(server->waitForReplies(2, std::chrono::milliseconds(300)));
}

// Readings streamed while a report is answered never fall between its lines.
TEST_F(FamiliesTest, StreamedLinesNeverSplitAReport) {
    Channel& ch = meter.channel(1);
    ch.insertProbe("HP-1", "S1");
    ch.setReading(7.0f);
    EXPECT_EQ(ask(":MEAS1:FLUX:STR? 60"), Lines{});
    const Lines report = ch.probeDataReport();
    ASSERT_GT(report.size(), 5u);
    std::atomic<bool> done{false};
    std::thread readings([&] {
        while (!done) ch.signalNewReading().emit(1, 0, 0, 0, 0, 0, 0);
    });
    Lines all;
    for (int i = 0; i < 20; ++i) {
        Lines got = server->command(":DIAG1:REP:PROB?");
        all.insert(all.end(), got.begin(), got.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        got = server->takeReplies();
        all.insert(all.end(), got.begin(), got.end());
    }
    done = true;
    readings.join();
    ask(":MEAS1:FLUX:STR? 0");
    int reports = 0;
    // Each report begins with an empty line and its title ("Channel 1 General Probe Data").
    for (std::size_t i = 1; i < all.size(); ++i) {
        if (all[i] != report[1]) continue;
        ASSERT_LE(i - 1 + report.size(), all.size());
        EXPECT_EQ(Lines(all.begin() + i - 1, all.begin() + i - 1 + report.size()), report);
        ++reports;
    }
    EXPECT_EQ(reports, 20);
}

// ---- Correction tables and probe offsets

TEST_F(FamiliesTest, TableElementsByGroupWithTheirArgumentErrors) {
    Channel& ch = meter.channel(1);
    ch.onCalTableSizes(10, 10, 12);
    ch.onCalTableElement(0, 0, 1.5f);
    ch.onCalTableElement(2, 3, -0.25f);
    ch.onCalTableElement(12, 14, 3.0f);
    ch.onCalTableElement(13, 11, 2.0f);
    rows({
        {":DIAG1:DAT:CAL:DCL? 4,0", {"1.500000"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL? 1,3", {"-0.250000"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL? 5,0", {"invalid range"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL? -1,0", {"invalid range"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL? 4", {"syntax error in argument"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL?", {"missing argument"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL? 4,99", {"0.000000"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL? 4,4294967296", {"0.000000"}, 0, {}},
        {":DIAG1:DAT:CAL:FCOR? 7,14", {"3.000000"}, 0, {}},
        {":DIAG1:DAT:CAL:FCOR? 8,0", {"invalid range"}, 0, {}},
        {":DIAG1:DAT:CAL:RMSL? 4,11", {"2.000000"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL 4,9,1.25", {}, 1, {card(1, 0x08, "020009" + floatHex(1.25f))}},
        {":DIAG1:DAT:CAL:DCL 0,10,1", {"index out of range"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL 5,0,1", {"invalid range"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL 4,0", {"syntax error in argument"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL", {"missing argument"}, 0, {}},
        {":DIAG1:DAT:CAL:FCOR 8,0,1", {"invalid table"}, 0, {}},
        {":DIAG1:DAT:CAL:FCOR 0,2,0.5", {}, 1, {card(1, 0x08, "020502" + floatHex(0.5f))}},
        {":DIAG1:DAT:CAL:FCOR 4,14,0.5", {}, 1, {card(1, 0x08, "02090E" + floatHex(0.5f))}},
        {":DIAG1:DAT:CAL:RMSL 0,-1,1", {"index out of range"}, 0, {}},
        {":DIAG1:DAT:CAL:RMSL 0,4294967296,1", {"index out of range"}, 0, {}},
        {":DIAG1:DAT:CAL:RMSL 3,1,2", {}, 1, {card(1, 0x08, "021101" + floatHex(2.0f))}},
        {":DIAG1:DAT:CAL:RMSL 3,1,NAN", {"argument out of range"}, 0, {}},
        {":DIAG1:DAT:CAL:DCL 4,9,-INF", {"argument out of range"}, 0, {}},
        {":DIAG4:DAT:CAL:DCL? 4,0", {}, 0, {}},
    });
}

TEST_F(FamiliesTest, ProbeOffsetsByRowAndColumn) {
    meter.channel(2).onCalParameter(44, 17.0f);
    meter.channel(2).onCalParameter(80, 0.5f);
    rows({
        {":DIAG2:DAT:CAL:POFF? 4,3", {"17"}, 0, {}},
        {":DIAG2:DAT:CAL:ROFF? 3,3", {"0.5000"}, 0, {}},
        {":DIAG2:DAT:CAL:POFF? 5,0", {}, 0, {}},
        {":DIAG2:DAT:CAL:POFF? 0,4", {}, 0, {}},
        {":DIAG2:DAT:CAL:POFF? 0", {"syntax error in argument"}, 0, {}},
        {":DIAG2:DAT:CAL:POFF?", {"missing argument"}, 0, {}},
        {":DIAG2:DAT:CAL:POFF 0,0,12.7", {}, 2, {card(2, 0x07, "012D" + floatHex(12.0f))}},
        {":DIAG2:DAT:CAL:ROFF 4,0,12.7", {}, 2, {card(2, 0x07, "013D" + floatHex(12.7f))}},
        {":DIAG2:DAT:CAL:ROFF 4294967296,0,1", {}, 0, {}},
        {":DIAG2:DAT:CAL:ROFF 4,0", {"syntax error in argument"}, 0, {}},
        {":DIAG2:DAT:CAL:ROFF 4,0,NAN", {"argument out of range"}, 0, {}},
    });
}

// ---- Reports

TEST_F(FamiliesTest, ReportsAreTheModelsLinesInOrder) {
    Channel& ch = meter.channel(3);
    ch.insertProbe("HP-1", "S1");
    ch.onCalTableSizes(3, 3, 3);
    ch.setBoardTexts("M3", "R3", "S3", "D3");
    struct Case {
        const char* line;
        Lines expected;
    } cases[] = {
        {":DIAG3:REP:DUMP?", ch.configurationDump()},
        {":DIAG3:REP:TABL?", ch.parameterTableReport()},
        {":DIAG3:REP:PROB?", ch.probeDataReport()},
        {":DIAG3:REP:PROB:DCL?", ch.probeDcLinearityReport()},
        {":DIAG3:REP:PROB:ACFR?", ch.probeAcCorrectionReport()},
        {":DIAG4:REP?", meter.backplaneInfoReport()},
        {":DIAG:BACK:REP?", meter.backplaneInfoReport()},
    };
    for (const Case& c : cases) {
        ASSERT_GT(c.expected.size(), 3u) << c.line;
        EXPECT_EQ(ask(c.line), c.expected) << c.line;
    }
    EXPECT_EQ(ask(":DIAG5:REP:DUMP?"), Lines{});

    // The memory dump: option 6 to the card, a second for its frames, then the lines.
    meter.frames(3);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(":DIAG3:REP:PROB:MEM?"), ch.probeMemoryDump());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(meter.frames(3), Lines{card(3, 0x17, "0006000000000000")});
}

TEST_F(FamiliesTest, BootloadReportAnswersOneWordPerLine) {
    EXPECT_EQ(ask(":DIAG:BOOT?"), Lines{});
    std::ofstream(platform::dataFile("bootload.log")) << "1510\n1498\n1502\n";
    EXPECT_EQ(ask(":DIAG:BOOT?"), (Lines{"1510", "1498", "1502"}));
}

}  // namespace
