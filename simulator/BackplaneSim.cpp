#include "simulator/BackplaneSim.h"

#include "can/CANinterface.h"
#include "simulator/Console.h"

#include <cstring>

namespace {

constexpr float kDefaultCalParameters[BackplaneSim::kCalParameterCount] = {
    37.0f, 0.0f, 0.0f, 19660.0f, -19660.0f, 30340.0f, -30340.0f,
    0.0f, 0.0f, 19660.0f, -19660.0f, 30340.0f, -30340.0f, 0.0f};

void setText(char (&s)[15], const char* text) {
    std::memset(s, 0, sizeof s);
    std::memcpy(s, text, strnlen(text, sizeof s));
}

}  // namespace

BackplaneSim::BackplaneSim(const char* interfaceName, float temperature_)
    : temperature(temperature_), link(new CANinterface(interfaceName)) {
    _setDefaults();
    link->setFilter(0x040, 0x0E0);
    link->signalTemperatureRequest().connect(sigc::mem_fun(*this, &BackplaneSim::_handleTempRequest));
    link->signalCalSetParameterRequest().connect(sigc::mem_fun(*this, &BackplaneSim::_handleCalSetParameter));
    link->signalBackplaneBoardInfoRequest().connect(sigc::mem_fun(*this, &BackplaneSim::_handleBoardInfo));
    link->startReader();
    sim::say("BackplaneSim starting up");
}

BackplaneSim::~BackplaneSim() {
    // Joins the reader; a handler still running may yet send on the link.
    delete link;
}

void BackplaneSim::_setDefaults() {
    setText(model, "DEMO");
    setText(rev, "111");
    setText(serial, "1111");
    setText(calDate, "01-01-1111");
    calParameters.assign(std::begin(kDefaultCalParameters), std::end(kDefaultCalParameters));
}

void BackplaneSim::_sendBoardInfoString(int k) {
    char* strings[] = {model, rev, serial, calDate};
    link->sendBackplaneBoardInfo(2 * k, strings[k], 7);
    link->sendBackplaneBoardInfo(2 * k + 1, strings[k] + 7, 7);
}

void BackplaneSim::_sendAllCalParameters() {
    sim::say("BackplaneSim::_sendAllCalParameters()");
    for (int index = 0; index < kCalParameterCount; ++index)
        link->sendBackplaneCalParameter(index, calParameters[index]);
    for (int k = 0; k < 4; ++k) _sendBoardInfoString(k);
}

void BackplaneSim::_handleTempRequest() {
    _sendAllCalParameters();
    sim::say("BackplaneSim::_handleTempRequest()");
    link->sendBackplaneTemperature(temperature);
}

void BackplaneSim::_handleCalSetParameter(int index, float value) {
    if (index < 0 || index >= kCalParameterCount) return;
    calParameters[index] = value;
    link->sendBackplaneCalParameter(index, value);
}

void BackplaneSim::_handleBoardInfo(int slot, const char* text) {
    // The model cannot be changed from the bus: its second half only echoes it.
    if (slot == 0 || slot < 0 || slot > 7) return;
    if (slot == 1) {
        _sendBoardInfoString(0);
        return;
    }
    char (*strings[])[15] = {&model, &rev, &serial, &calDate};
    char* s = *strings[slot / 2];
    if (slot % 2 == 0) {
        std::memset(s, 0, 15);
        std::memcpy(s, text, 7);
        return;
    }
    std::memcpy(s + 7, text, 7);
    _sendBoardInfoString(slot / 2);
}
