// Every frame this system sends, one description per message and one filler.
#include "can/CANinterface.h"
#include "can/FrameCodec.h"

#include <cstring>

namespace {

using can::Route;

// Payload layout, one letter per field in data order:
//   b  next argument, low byte        w  next argument, BE16
//   l  next argument, BE32 (integers, and floats as their bit pattern)
//   0..9  that constant byte          t  the text bytes (last field)
struct Message {
    Route route;
    std::uint16_t code;   // identifier (Fixed) or card command
    std::uint8_t dlc;     // kDlcFromText: the fields before the text plus its length
    const char* layout;
};

constexpr std::uint8_t kDlcFromText = 0xFF;
constexpr int kMaxText = 7;

// ---- Host to front-panel controller (node 0) and power supply (node 6)
constexpr Message kButtonBacklight{Route::Fixed, 0x100, 8, "bb"};
constexpr Message kButtonBacklightLevel{Route::Fixed, 0x101, 8, "b"};
constexpr Message kLcdBacklightLevel{Route::Fixed, 0x103, 8, "b"};
constexpr Message kBootloadNoticeFrontPanel{Route::Fixed, 0x104, 2, "w"};
constexpr Message kBootloadNoticePsu{Route::Fixed, 0x1C4, 2, "w"};
constexpr Message kFrontPanelVersionRequest{Route::Fixed, 0x109, 0, ""};
constexpr Message kSetPowerOnMode{Route::Fixed, 0x10B, 1, "b"};
constexpr Message kHostReady{Route::Fixed, 0x10C, 0, ""};
constexpr Message kPsuVersionRequest{Route::Fixed, 0x1C9, 0, ""};

// ---- Host to backplane (node 2)
constexpr Message kTemperatureRequest{Route::Fixed, 0x140, 0, ""};
constexpr Message kSetSineWaveDacMode{Route::Fixed, 0x141, 1, "b"};
constexpr Message kSetSineWaveDacOutput{Route::Fixed, 0x142, 2, "w"};
constexpr Message kBackplaneEepromWrite{Route::Fixed, 0x143, 1, "0"};
constexpr Message kBackplaneEepromLoad{Route::Fixed, 0x143, 1, "1"};
constexpr Message kBackplaneRecalDefaults{Route::Fixed, 0x143, 1, "2"};
constexpr Message kBackplaneFactoryDefaults{Route::Fixed, 0x143, 1, "3"};
constexpr Message kSetBackplaneCalParameter{Route::Fixed, 0x144, 6, "1bl"};
constexpr Message kSetBackplaneDacMode{Route::Fixed, 0x145, 3, "b0b"};     // sub-code 0/3
constexpr Message kSetBackplaneDacScaling{Route::Fixed, 0x145, 3, "bw"};   // sub-code 1/4
constexpr Message kSetBackplaneDacOutput{Route::Fixed, 0x145, 3, "bw"};    // sub-code 2/5
constexpr Message kVectorSumOutput{Route::Fixed, 0x146, 8, "ll"};
constexpr Message kSetBackplaneDacRange{Route::Fixed, 0x147, 2, "bb"};
constexpr Message kSetBackplaneBoardInfo{Route::Fixed, 0x148, 8, "bt"};
constexpr Message kClassifierOutput{Route::Fixed, 0x149, 3, "bbb"};

// ---- Host to the channel card
constexpr Message kSetMode{Route::ToCard, 0x00, 2, "bb"};
constexpr Message kSetRange{Route::ToCard, 0x01, 8, "b"};
constexpr Message kTriggerMode{Route::ToCard, 0x02, 1, "b"};
constexpr Message kWaveformRequest{Route::ToCard, 0x02, 7, "3bbww"};
constexpr Message kStopWaiting{Route::ToCard, 0x02, 1, "4"};
constexpr Message kTriggerLevel{Route::ToCard, 0x02, 5, "5l"};
constexpr Message kSetBoardInfo{Route::ToCard, 0x03, 8, "bt"};
constexpr Message kResetPeaks{Route::ToCard, 0x04, 1, "b"};
constexpr Message kSendAllRequest{Route::ToCard, 0x05, 0, ""};
constexpr Message kCalSaveToEeprom{Route::ToCard, 0x06, 1, "0"};
constexpr Message kCalLoadFromEeprom{Route::ToCard, 0x06, 1, "1"};
constexpr Message kCalRecalDefaults{Route::ToCard, 0x06, 1, "2"};
constexpr Message kCalFactoryDefaults{Route::ToCard, 0x06, 1, "3"};
constexpr Message kCalSetParameter{Route::ToCard, 0x07, 6, "1bl"};
constexpr Message kCalCreateNewTables{Route::ToCard, 0x08, 4, "0bbb"};
constexpr Message kSetCalTableElement{Route::ToCard, 0x08, 7, "2bbl"};
constexpr Message kSetDacMode{Route::ToCard, 0x09, 3, "b0b"};     // sub-code 0/3/6
constexpr Message kSetDacScaling{Route::ToCard, 0x09, 3, "bw"};   // sub-code 1/4
constexpr Message kSetDacOutput{Route::ToCard, 0x09, 3, "bw"};    // sub-code 2/5/7
constexpr Message kSetGain{Route::ToCard, 0x09, 5, "bl"};         // sub-code 8/9
constexpr Message kHello{Route::ToCard, 0x0A, 0, ""};
constexpr Message kSetDiagMode{Route::ToCard, 0x0B, 8, "b"};
constexpr Message kSetMuxFampInput{Route::ToCard, 0x0C, 8, "b"};
constexpr Message kSetMuxSampInput{Route::ToCard, 0x0D, 8, "b"};
constexpr Message kSetMuxTampInput{Route::ToCard, 0x0E, 8, "b"};
constexpr Message kSetMuxHpfValue{Route::ToCard, 0x0F, 8, "b"};
constexpr Message kSetMuxMadcInput{Route::ToCard, 0x10, 8, "b"};
constexpr Message kSetMuxDcrefValue{Route::ToCard, 0x11, 8, "b"};
constexpr Message kSetMuxControlCurrentMode{Route::ToCard, 0x12, 8, "b"};
constexpr Message kSetMuxHallCurrent{Route::ToCard, 0x13, 8, "b"};
constexpr Message kSetMuxDadcInput{Route::ToCard, 0x14, 2, "0b"};
constexpr Message kSetDadcMode{Route::ToCard, 0x14, 2, "1b"};
constexpr Message kReadDadcCounts{Route::ToCard, 0x14, 2, "20"};
constexpr Message kReadDadcVolts{Route::ToCard, 0x14, 2, "21"};
constexpr Message kSetOutputSwitch{Route::ToCard, 0x15, 2, "bb"};
constexpr Message kStartZero{Route::ToCard, 0x16, 2, "0b"};
constexpr Message kCurrentRecal{Route::ToCard, 0x16, 1, "2"};
constexpr Message kDiagOption{Route::ToCard, 0x17, 8, "wwww"};

// ---- Replies of the channel card
constexpr Message kSample{Route::FromCard, 0x00, 5, "lb"};
constexpr Message kModeReply{Route::FromCard, 0x01, 6, "bbl"};
constexpr Message kTriggerModeReply{Route::FromCard, 0x02, 1, "b"};
constexpr Message kWaveformStart{Route::FromCard, 0x02, 3, "3w"};
constexpr Message kWaveformEnd{Route::FromCard, 0x02, 1, "4"};
constexpr Message kWaveformData{Route::FromCard, 0x03, 8, "ll"};
constexpr Message kProbePresence{Route::FromCard, 0x05, 8, "b"};
constexpr Message kCardReady{Route::FromCard, 0x06, 0, ""};
constexpr Message kPeakValley{Route::FromCard, 0x07, 8, "ll"};
constexpr Message kRangeReply{Route::FromCard, 0x08, 8, "b"};
constexpr Message kDiagModeReply{Route::FromCard, 0x09, 8, "bt"};
constexpr Message kHelloReply{Route::FromCard, 0x0A, 0, ""};
constexpr Message kZeroDone{Route::FromCard, 0x0B, 8, "b"};
constexpr Message kProbeDataIndexed{Route::FromCard, 0x0C, 6, "bbl"};
constexpr Message kProbeDataValue{Route::FromCard, 0x0C, 5, "bl"};
constexpr Message kProbeDataBytes{Route::FromCard, 0x0C, kDlcFromText, "bt"};
constexpr Message kCalParameter{Route::FromCard, 0x0D, 5, "bl"};
constexpr Message kCalTableElement{Route::FromCard, 0x0E, 6, "bbl"};
constexpr Message kCalTableSizes{Route::FromCard, 0x0F, 3, "bbb"};
constexpr Message kFrequency{Route::FromCard, 0x10, 4, "l"};
constexpr Message kCardEvent{Route::FromCard, 0x11, 2, "w"};
constexpr Message kZeroingProgress{Route::FromCard, 0x12, 8, "l"};
constexpr Message kBoardInfo{Route::FromCard, 0x13, 8, "bt"};

// ---- Front-panel controller side
constexpr Message kKeyPressed{Route::Fixed, 0x020, 8, "b"};
constexpr Message kPowerOnMode{Route::Fixed, 0x02C, 1, "b"};

// ---- Replies of the backplane
constexpr Message kBackplaneTemperature{Route::Fixed, 0x220, 4, "l"};
constexpr Message kBackplaneCalParameter{Route::Fixed, 0x221, 5, "bl"};
constexpr Message kBackplaneBoardInfo{Route::Fixed, 0x222, 8, "bt"};

// Arguments travel to the filler as 32-bit patterns.
inline std::uint32_t word(int v) { return static_cast<std::uint32_t>(v); }
inline std::uint32_t word(unsigned v) { return v; }
inline std::uint32_t word(float v) { return can::floatBits(v); }

struct Text {
    const char* bytes = nullptr;
    int length = 0;
};

// Fills a zeroed frame from its description and sends it.
int transmit(CANinterface& link, const Message& m, int channel, const std::uint32_t* args,
             Text text = {}) {
    can_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.can_id = can::identifier(m.route, m.code, channel);
    std::uint8_t* d = frame.data;
    int pos = 0;
    for (const char* f = m.layout; *f; ++f) {
        switch (*f) {
        case 'b': d[pos++] = static_cast<std::uint8_t>(*args++); break;
        case 'w': can::putBE16(d + pos, *args++); pos += 2; break;
        case 'l': can::putBE32(d + pos, *args++); pos += 4; break;
        case 't':
            if (text.length > 0) std::memcpy(d + pos, text.bytes, static_cast<std::size_t>(text.length));
            pos += text.length;
            break;
        default: d[pos++] = static_cast<std::uint8_t>(*f - '0'); break;
        }
    }
    frame.can_dlc = m.dlc == kDlcFromText ? static_cast<std::uint8_t>(pos) : m.dlc;
    return link.sendFrame(&frame);
}

template <class... A>
int send(CANinterface& link, const Message& m, int channel, A... a) {
    const std::uint32_t args[sizeof...(A) + 1] = {word(a)...};
    return transmit(link, m, channel, args);
}

// A text half: n (0..7) bytes after a leading byte; anything else sends nothing.
int sendText(CANinterface& link, const Message& m, int channel, int lead, const char* text, int n) {
    if (n < 0 || n > kMaxText || (n > 0 && text == nullptr)) return -1;
    const std::uint32_t args[] = {word(lead)};
    return transmit(link, m, channel, args, Text{text, n});
}

constexpr int kNoChannel = 0;

}  // namespace

// ---- Host to front-panel controller and power supply
int CANinterface::sendButtonBacklight(int button, int level) {
    return send(*this, kButtonBacklight, kNoChannel, button, level);
}
int CANinterface::sendButtonBacklightLevel(int level) {
    return send(*this, kButtonBacklightLevel, kNoChannel, level);
}
int CANinterface::sendLcdBacklightLevel(int level) {
    return send(*this, kLcdBacklightLevel, kNoChannel, level);
}
int CANinterface::sendBootloadNotice(int node, int value) {
    if (node == 0) return send(*this, kBootloadNoticeFrontPanel, kNoChannel, value);
    if (node == 6) return send(*this, kBootloadNoticePsu, kNoChannel, value);
    return -1;
}
int CANinterface::sendFrontPanelVersionRequest() {
    return send(*this, kFrontPanelVersionRequest, kNoChannel);
}
int CANinterface::sendSetPowerOnMode(int mode) { return send(*this, kSetPowerOnMode, kNoChannel, mode); }
int CANinterface::sendHostReady() { return send(*this, kHostReady, kNoChannel); }
int CANinterface::sendPsuVersionRequest() { return send(*this, kPsuVersionRequest, kNoChannel); }

// ---- Host to backplane
int CANinterface::sendTemperatureRequest() { return send(*this, kTemperatureRequest, kNoChannel); }
void CANinterface::sendSetSineWaveDacMode(unsigned mode) {
    if (mode > 1) return;
    send(*this, kSetSineWaveDacMode, kNoChannel, mode);
}
int CANinterface::sendSetSineWaveDacOutput(int value) {
    // Clamped before the 16 bits are taken, so -32768 never goes out.
    const int clamped = value < -32767 ? -32767 : value > 32767 ? 32767 : value;
    return send(*this, kSetSineWaveDacOutput, kNoChannel, clamped);
}
int CANinterface::sendBackplaneEepromWrite() { return send(*this, kBackplaneEepromWrite, kNoChannel); }
int CANinterface::sendBackplaneEepromLoad() { return send(*this, kBackplaneEepromLoad, kNoChannel); }
int CANinterface::sendBackplaneRecalDefaults() {
    return send(*this, kBackplaneRecalDefaults, kNoChannel);
}
int CANinterface::sendBackplaneFactoryDefaults() {
    return send(*this, kBackplaneFactoryDefaults, kNoChannel);
}
int CANinterface::sendSetBackplaneCalParameter(int index, float value) {
    return send(*this, kSetBackplaneCalParameter, kNoChannel, index, value);
}
// Backplane DAC 4 is the auxiliary output, any other the vector-sum output.
int CANinterface::sendSetBackplaneDacMode(int dac, int mode) {
    return send(*this, kSetBackplaneDacMode, kNoChannel, dac == 4 ? 3 : 0, mode);
}
void CANinterface::sendSetBackplaneDacScaling(int dac, unsigned value) {
    if (value > 100) return;
    send(*this, kSetBackplaneDacScaling, kNoChannel, dac == 4 ? 4 : 1, value);
}
int CANinterface::sendSetBackplaneDacOutput(int dac, int value) {
    return send(*this, kSetBackplaneDacOutput, kNoChannel, dac == 4 ? 5 : 2, value);
}
int CANinterface::sendVectorSumOutput(int word, float magnitude) {
    return send(*this, kVectorSumOutput, kNoChannel, word, magnitude);
}
void CANinterface::sendSetBackplaneDacRange(unsigned dac, unsigned range) {
    if (dac > 1 || range > 1) return;
    send(*this, kSetBackplaneDacRange, kNoChannel, dac, range);
}
void CANinterface::sendSetBackplaneBoardInfo(int slot, const char* text, int n) {
    sendText(*this, kSetBackplaneBoardInfo, kNoChannel, slot, text, n);
}
int CANinterface::sendClassifierOutput(int channel, int line, int level) {
    return send(*this, kClassifierOutput, kNoChannel, channel, line, level);
}

// ---- Host to the channel card
int CANinterface::sendSetMode(int c, int mode, int freqRange) {
    return send(*this, kSetMode, c, mode, freqRange);
}
int CANinterface::sendSetRange(int c, int range) { return send(*this, kSetRange, c, range); }
int CANinterface::sendTriggerMode(int c, int mode) { return send(*this, kTriggerMode, c, mode); }
int CANinterface::sendWaveformRequest(int c, int mode, int slope, int decimation, int points) {
    return send(*this, kWaveformRequest, c, mode, slope, decimation, points);
}
int CANinterface::sendStopWaiting(int c) { return send(*this, kStopWaiting, c); }
int CANinterface::sendTriggerLevel(int c, float level) { return send(*this, kTriggerLevel, c, level); }
void CANinterface::sendSetBoardInfo(int c, int slot, const char* text, int n) {
    sendText(*this, kSetBoardInfo, c, slot, text, n);
}
int CANinterface::sendResetPeaks(int c, int which) { return send(*this, kResetPeaks, c, which); }
int CANinterface::sendSendAllRequest(int c) { return send(*this, kSendAllRequest, c); }
int CANinterface::sendCalSaveToEeprom(int c) { return send(*this, kCalSaveToEeprom, c); }
int CANinterface::sendCalLoadFromEeprom(int c) { return send(*this, kCalLoadFromEeprom, c); }
int CANinterface::sendCalRecalDefaults(int c) { return send(*this, kCalRecalDefaults, c); }
int CANinterface::sendCalFactoryDefaults(int c) { return send(*this, kCalFactoryDefaults, c); }
int CANinterface::sendCalSetParameter(int c, int index, float value) {
    return send(*this, kCalSetParameter, c, index, value);
}
int CANinterface::sendCalCreateNewTables(int c, int a, int b, int c3) {
    return send(*this, kCalCreateNewTables, c, a, b, c3);
}
int CANinterface::sendSetCalTableElement(int c, int table, int index, float value) {
    return send(*this, kSetCalTableElement, c, table, index, value);
}
// Card DACs: 1 uncorrected, 3 multiplying, any other value the corrected DAC.
int CANinterface::sendSetDacMode(int c, int dac, int mode) {
    return send(*this, kSetDacMode, c, dac == 1 ? 3 : dac == 3 ? 6 : 0, mode);
}
void CANinterface::sendSetDacScaling(int c, int dac, unsigned value) {
    if (value > 100) return;
    send(*this, kSetDacScaling, c, dac == 1 ? 4 : 1, value);
}
int CANinterface::sendSetDacOutput(int c, int dac, int value) {
    return send(*this, kSetDacOutput, c, dac == 1 ? 5 : dac == 3 ? 7 : 2, value);
}
void CANinterface::sendSetGain(int c, int which, float gain) {
    if (which != 0 && which != 1) return;
    send(*this, kSetGain, c, which == 0 ? 8 : 9, gain);
}
int CANinterface::sendHello(int c) { return send(*this, kHello, c); }
void CANinterface::sendSetDiagMode(int c, unsigned mode) {
    if (mode >= 256) return;
    send(*this, kSetDiagMode, c, mode);
}

namespace {
void sendMux(CANinterface& link, const Message& m, int c, unsigned v, unsigned max) {
    if (v > max) return;
    send(link, m, c, v);
}
}  // namespace

void CANinterface::sendSetMuxFampInput(int c, unsigned v) { sendMux(*this, kSetMuxFampInput, c, v, 1); }
void CANinterface::sendSetMuxSampInput(int c, unsigned v) { sendMux(*this, kSetMuxSampInput, c, v, 3); }
void CANinterface::sendSetMuxTampInput(int c, unsigned v) { sendMux(*this, kSetMuxTampInput, c, v, 2); }
void CANinterface::sendSetMuxHpfValue(int c, unsigned v) { sendMux(*this, kSetMuxHpfValue, c, v, 1); }
void CANinterface::sendSetMuxMadcInput(int c, unsigned v) { sendMux(*this, kSetMuxMadcInput, c, v, 7); }
void CANinterface::sendSetMuxDcrefValue(int c, unsigned v) { sendMux(*this, kSetMuxDcrefValue, c, v, 1); }
void CANinterface::sendSetMuxControlCurrentMode(int c, unsigned v) {
    sendMux(*this, kSetMuxControlCurrentMode, c, v, 1);
}
void CANinterface::sendSetMuxHallCurrent(int c, unsigned v) { sendMux(*this, kSetMuxHallCurrent, c, v, 1); }
void CANinterface::sendSetMuxDadcInput(int c, unsigned input) {
    sendMux(*this, kSetMuxDadcInput, c, input, 3);
}
int CANinterface::sendSetDadcMode(int c, int mode) { return send(*this, kSetDadcMode, c, mode); }
int CANinterface::sendReadDadcCounts(int c) { return send(*this, kReadDadcCounts, c); }
int CANinterface::sendReadDadcVolts(int c) { return send(*this, kReadDadcVolts, c); }
void CANinterface::sendSetOutputSwitch(int c, unsigned sw, unsigned v) {
    if (sw > 3 || v > 1) return;
    send(*this, kSetOutputSwitch, c, sw, v);
}
int CANinterface::sendStartZero(int c, int zeroMode) { return send(*this, kStartZero, c, zeroMode); }
int CANinterface::sendCurrentRecal(int c) { return send(*this, kCurrentRecal, c); }
int CANinterface::sendDiagOption(int c, int code, int a, int b, int d) {
    return send(*this, kDiagOption, c, code, a, b, d);
}

// ---- Replies of the channel card
int CANinterface::sendSample(int c, float value, int status) { return send(*this, kSample, c, value, status); }
int CANinterface::sendModeReply(int c, int mode, int freqRange, float rate) {
    return send(*this, kModeReply, c, mode, freqRange, rate);
}
int CANinterface::sendTriggerModeReply(int c, int mode) {
    return send(*this, kTriggerModeReply, c, mode == 1 || mode == 2 ? mode : 0);
}
int CANinterface::sendWaveformStart(int c, int count) { return send(*this, kWaveformStart, c, count); }
int CANinterface::sendWaveformEnd(int c) { return send(*this, kWaveformEnd, c); }
int CANinterface::sendWaveformData(int c, float a, float b) { return send(*this, kWaveformData, c, a, b); }
int CANinterface::sendProbePresence(int c, int state) { return send(*this, kProbePresence, c, state); }
int CANinterface::sendCardReady(int c) { return send(*this, kCardReady, c); }
int CANinterface::sendPeakValley(int c, float peak, float valley) {
    return send(*this, kPeakValley, c, peak, valley);
}
int CANinterface::sendRangeReply(int c, int range) { return send(*this, kRangeReply, c, range); }
int CANinterface::sendDiagModeReply(int c, int value, const char* unit) {
    constexpr std::size_t kMaxUnit = 6;
    const int n = unit ? static_cast<int>(strnlen(unit, kMaxUnit)) : 0;
    return sendText(*this, kDiagModeReply, c, value, unit, n);
}
int CANinterface::sendHelloReply(int c) { return send(*this, kHelloReply, c); }
int CANinterface::sendZeroDone(int c, int result) { return send(*this, kZeroDone, c, result); }
int CANinterface::sendProbeDataIndexed(int c, int kind, int index, int value) {
    return send(*this, kProbeDataIndexed, c, kind, index, value);
}
int CANinterface::sendProbeDataValue(int c, int kind, int value) {
    return send(*this, kProbeDataValue, c, kind, value);
}
int CANinterface::sendProbeDataBytes(int c, int kind, const char* bytes, int n) {
    return sendText(*this, kProbeDataBytes, c, kind, bytes, n);
}
int CANinterface::sendCalParameter(int c, int index, float value) {
    return send(*this, kCalParameter, c, index, value);
}
int CANinterface::sendCalTableElement(int c, int table, int index, float value) {
    return send(*this, kCalTableElement, c, table, index, value);
}
int CANinterface::sendCalTableSizes(int c, int a, int b, int c3) {
    return send(*this, kCalTableSizes, c, a, b, c3);
}
int CANinterface::sendFrequency(int c, float hz) { return send(*this, kFrequency, c, hz); }
int CANinterface::sendCardEvent(int c, int code) { return send(*this, kCardEvent, c, code); }
int CANinterface::sendZeroingProgress(int c, float percent) {
    return send(*this, kZeroingProgress, c, percent);
}
int CANinterface::sendBoardInfo(int c, int slot, const char* text, int n) {
    return sendText(*this, kBoardInfo, c, slot, text, n);
}

// ---- Front-panel controller side
int CANinterface::sendKeyPressed(int key) { return send(*this, kKeyPressed, kNoChannel, key); }
int CANinterface::sendPowerOnMode(int mode) { return send(*this, kPowerOnMode, kNoChannel, mode); }

// ---- Replies of the backplane
int CANinterface::sendBackplaneTemperature(float value) {
    return send(*this, kBackplaneTemperature, kNoChannel, value);
}
int CANinterface::sendBackplaneCalParameter(int index, float value) {
    return send(*this, kBackplaneCalParameter, kNoChannel, index, value);
}
int CANinterface::sendBackplaneBoardInfo(int slot, const char* text, int n) {
    return sendText(*this, kBackplaneBoardInfo, kNoChannel, slot, text, n);
}
