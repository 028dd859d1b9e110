// The decode table: which frame raises which signal with which arguments.
#include "can/CANinterface.h"
#include "can/FrameCodec.h"

#include <cstring>

namespace {

using can::Route;

// The payload of one received frame.  Single bytes are unsigned 0..255.
struct Payload {
    const std::uint8_t* d;
    const char* text;   // data[1..7] and a terminating zero

    int u8(int i) const { return d[i]; }
    int be16(int i) const { return static_cast<int>(can::getBE16(d + i)); }
    float bef(int i) const { return can::bitsFloat(can::getBE32(d + i)); }
};

using Decoder = void (*)(CANinterface&, const Payload&);

// An entry applies when the frame's route and code match and data[0] lies in
// subLo..subHi (0..255: any data[0]).
struct Entry {
    Route route;
    std::uint16_t code;
    std::uint8_t subLo;
    std::uint8_t subHi;
    Decoder decode;
};

constexpr unsigned kKeyPressedId = 0x020;

// clang-format off
const Entry kTable[] = {
    // ---- Front-panel controller and power supply to host
    {Route::Fixed, 0x020, 0, 255, [](CANinterface& c, const Payload& p) { c.signalKeyPressed().emit(p.u8(0)); }},
    {Route::Fixed, 0x029, 0, 255, [](CANinterface& c, const Payload& p) { c.signalFrontPanelVersion().emit(p.u8(0), p.u8(2)); }},
    {Route::Fixed, 0x02C, 0, 255, [](CANinterface& c, const Payload& p) { c.signalPowerOnMode().emit(p.u8(0)); }},
    {Route::Fixed, 0x629, 0, 255, [](CANinterface& c, const Payload& p) { c.signalPsuVersion().emit(p.u8(0), p.u8(2)); }},

    // ---- Backplane to host
    {Route::Fixed, 0x220, 0, 255, [](CANinterface& c, const Payload& p) { c.signalBackplaneTemperature().emit(p.bef(0)); }},
    {Route::Fixed, 0x221, 0, 255, [](CANinterface& c, const Payload& p) { c.signalBackplaneCalParameter().emit(p.u8(0), p.bef(1)); }},
    {Route::Fixed, 0x222, 0, 255, [](CANinterface& c, const Payload& p) { c.signalBackplaneBoardInfo().emit(p.u8(0), p.text); }},

    // ---- Channel card to host
    {Route::FromCard, 0x00, 0, 255, [](CANinterface& c, const Payload& p) { c.signalSample().emit(p.bef(0), p.u8(4)); }},
    {Route::FromCard, 0x01, 0, 255, [](CANinterface& c, const Payload& p) { c.signalModeReply().emit(p.u8(0), p.u8(1), p.bef(2)); }},
    {Route::FromCard, 0x02, 0, 2,   [](CANinterface& c, const Payload& p) { c.signalTriggerModeReply().emit(p.u8(0)); }},
    {Route::FromCard, 0x02, 3, 3,   [](CANinterface& c, const Payload& p) { c.signalWaveformStart().emit(p.be16(1)); }},
    {Route::FromCard, 0x02, 4, 4,   [](CANinterface& c, const Payload&) { c.signalWaveformEnd().emit(); }},
    {Route::FromCard, 0x03, 0, 255, [](CANinterface& c, const Payload& p) { c.signalWaveformData().emit(p.bef(0), p.bef(4)); }},
    {Route::FromCard, 0x05, 0, 255, [](CANinterface& c, const Payload& p) { c.signalProbePresence().emit(p.u8(0)); }},
    {Route::FromCard, 0x06, 0, 255, [](CANinterface& c, const Payload&) { c.signalCardReady().emit(); }},
    {Route::FromCard, 0x07, 0, 255, [](CANinterface& c, const Payload& p) { c.signalPeakValley().emit(p.bef(0), p.bef(4)); }},
    {Route::FromCard, 0x08, 0, 255, [](CANinterface& c, const Payload& p) { c.signalRangeReply().emit(p.u8(0)); }},
    {Route::FromCard, 0x09, 0, 255, [](CANinterface& c, const Payload& p) { c.signalDiagModeReply().emit(p.u8(0), p.text); }},
    {Route::FromCard, 0x0A, 0, 255, [](CANinterface& c, const Payload&) { c.signalHelloReply().emit(); }},
    {Route::FromCard, 0x0B, 0, 255, [](CANinterface& c, const Payload& p) { c.signalZeroDone().emit(p.u8(0)); }},
    {Route::FromCard, 0x0C, 0, 255, [](CANinterface& c, const Payload& p) { c.signalProbeData().emit(p.u8(0), p.text); }},
    {Route::FromCard, 0x0D, 0, 255, [](CANinterface& c, const Payload& p) { c.signalCalParameter().emit(p.u8(0), p.bef(1)); }},
    {Route::FromCard, 0x0E, 0, 255, [](CANinterface& c, const Payload& p) { c.signalCalTableElement().emit(p.u8(0), p.u8(1), p.bef(2)); }},
    {Route::FromCard, 0x0F, 0, 255, [](CANinterface& c, const Payload& p) { c.signalCalTableSizes().emit(p.u8(0), p.u8(1), p.u8(2)); }},
    {Route::FromCard, 0x10, 0, 255, [](CANinterface& c, const Payload& p) { c.signalFrequency().emit(p.bef(0)); }},
    {Route::FromCard, 0x11, 0, 255, [](CANinterface& c, const Payload& p) { c.signalCardEvent().emit(p.be16(0)); }},
    {Route::FromCard, 0x12, 0, 255, [](CANinterface& c, const Payload& p) { c.signalZeroingProgress().emit(p.bef(0)); }},
    {Route::FromCard, 0x13, 0, 255, [](CANinterface& c, const Payload& p) { c.signalBoardInfo().emit(p.u8(0), p.text); }},
    {Route::FromCard, 0x14, 0, 0,   [](CANinterface& c, const Payload& p) { c.signalQueryReply().emit(p.bef(1)); }},

    // ---- Host to front-panel controller and backplane (for a board-side listener)
    {Route::Fixed, 0x100, 0, 255, [](CANinterface& c, const Payload& p) { c.signalButtonBacklightRequest().emit(p.u8(0), p.u8(1)); }},
    {Route::Fixed, 0x104, 0, 255, [](CANinterface& c, const Payload& p) { c.signalBootloadNotice().emit(p.be16(0)); }},
    {Route::Fixed, 0x10B, 0, 255, [](CANinterface& c, const Payload& p) { c.signalSetPowerOnModeRequest().emit(p.u8(0)); }},
    {Route::Fixed, 0x10C, 0, 255, [](CANinterface& c, const Payload&) { c.signalHostReady().emit(); }},
    {Route::Fixed, 0x140, 0, 255, [](CANinterface& c, const Payload&) { c.signalTemperatureRequest().emit(); }},
    {Route::Fixed, 0x144, 1, 1,   [](CANinterface& c, const Payload& p) { c.signalCalSetParameterRequest().emit(p.u8(1), p.bef(2)); }},
    {Route::Fixed, 0x148, 0, 255, [](CANinterface& c, const Payload& p) { c.signalBackplaneBoardInfoRequest().emit(p.u8(0), p.text); }},

    // ---- Host to the channel card (for the card simulator)
    {Route::ToCard, 0x00, 0, 255, [](CANinterface& c, const Payload& p) { c.signalSetModeRequest().emit(p.u8(0), p.u8(1)); }},
    {Route::ToCard, 0x01, 0, 255, [](CANinterface& c, const Payload& p) { c.signalSetRangeRequest().emit(p.u8(0)); }},
    {Route::ToCard, 0x02, 0, 2,   [](CANinterface& c, const Payload& p) { c.signalTriggerModeRequest().emit(p.u8(0)); }},
    {Route::ToCard, 0x02, 3, 3,   [](CANinterface& c, const Payload& p) { c.signalWaveformRequest().emit(p.u8(1), p.u8(2), p.be16(3), p.be16(5)); }},
    {Route::ToCard, 0x02, 4, 4,   [](CANinterface& c, const Payload&) { c.signalStopWaitingRequest().emit(); }},
    {Route::ToCard, 0x02, 5, 5,   [](CANinterface& c, const Payload& p) { c.signalTriggerLevelRequest().emit(p.bef(1)); }},
    {Route::ToCard, 0x03, 0, 255, [](CANinterface& c, const Payload& p) { c.signalBoardInfoRequest().emit(p.u8(0), p.text); }},
    {Route::ToCard, 0x04, 0, 255, [](CANinterface& c, const Payload&) { c.signalResetPeaksRequest().emit(); }},
    {Route::ToCard, 0x05, 0, 255, [](CANinterface& c, const Payload&) { c.signalSendAllRequest().emit(); }},
    {Route::ToCard, 0x06, 0, 0,   [](CANinterface& c, const Payload&) { c.signalCalSaveToEepromRequest().emit(); }},
    {Route::ToCard, 0x06, 1, 1,   [](CANinterface& c, const Payload&) { c.signalCalLoadFromEepromRequest().emit(); }},
    {Route::ToCard, 0x07, 1, 1,   [](CANinterface& c, const Payload& p) { c.signalCalSetParameterRequest().emit(p.u8(1), p.bef(2)); }},
    {Route::ToCard, 0x08, 0, 0,   [](CANinterface& c, const Payload& p) { c.signalCalCreateNewTablesRequest().emit(p.u8(1), p.u8(2), p.u8(3)); }},
    {Route::ToCard, 0x08, 2, 2,   [](CANinterface& c, const Payload& p) { c.signalSetCalTableElementRequest().emit(p.u8(1), p.u8(2), p.bef(3)); }},
    {Route::ToCard, 0x0A, 0, 255, [](CANinterface& c, const Payload&) { c.signalHelloRequest().emit(); }},
    {Route::ToCard, 0x0B, 0, 255, [](CANinterface& c, const Payload& p) { c.signalSetDiagModeRequest().emit(p.u8(0)); }},
    // The zero mode in data[1] is not passed on.
    {Route::ToCard, 0x16, 0, 255, [](CANinterface& c, const Payload& p) { c.signalZeroRequest().emit(p.u8(0), 0); }},
};
// clang-format on

const Entry* find(unsigned id, std::uint8_t sub) {
    unsigned code = 0;
    const Route route = can::routeOf(id, code);
    for (const Entry& e : kTable)
        if (e.route == route && e.code == code && sub >= e.subLo && sub <= e.subHi) return &e;
    return nullptr;
}

}  // namespace

void CANinterface::decodeFrame(const can_frame& frame) {
    const unsigned id = frame.can_id & can::kStandardIdMask;
    if (id == kKeyPressedId && !keyEventsEnabled.load()) return;
    const Entry* entry = find(id, frame.data[0]);
    if (!entry) return;
    // The text argument: data[1..7] and a terminating zero.
    char text[8];
    std::memcpy(text, frame.data + 1, 7);
    text[7] = '\0';
    entry->decode(*this, Payload{frame.data, text});
}
