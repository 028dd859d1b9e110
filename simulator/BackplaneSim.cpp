#include "simulator/BackplaneSim.h"

#include "can/CANinterface.h"
#include "console/Console.h"

#include <iterator>

namespace {

constexpr float kDefaultCalParameters[BackplaneSim::kCalParameterCount] = {
    37.0f, 0.0f, 0.0f, 19660.0f, -19660.0f, 30340.0f, -30340.0f,
    0.0f, 0.0f, 19660.0f, -19660.0f, 30340.0f, -30340.0f, 0.0f};

}  // namespace

BackplaneSim::BackplaneSim(const char* interfaceName, float temperature_)
    : temperature(temperature_), link(new CANinterface(interfaceName)) {
    _setDefaults();
    link->setFilter(0x040, 0x0E0);
    link->signalTemperatureRequest().connect(sigc::mem_fun(*this, &BackplaneSim::_handleTempRequest));
    link->signalCalSetParameterRequest().connect(sigc::mem_fun(*this, &BackplaneSim::_handleCalSetParameter));
    link->signalBackplaneBoardInfoRequest().connect(sigc::mem_fun(*this, &BackplaneSim::_handleBoardInfo));
    link->startReader();
    console::say("BackplaneSim starting up");
    // A backplane that has just started reports its status unasked: the
    // host learns from it that what it had set here is gone.
    _sendStatus();
}

BackplaneSim::~BackplaneSim() {
    // Joins the reader; a handler still running may yet send on the link.
    delete link;
}

void BackplaneSim::_setDefaults() {
    board.set(0, "DEMO");
    board.set(1, "111");
    board.set(2, "1111");
    board.set(3, "01-01-1111");
    calParameters.assign(std::begin(kDefaultCalParameters), std::end(kDefaultCalParameters));
}

void BackplaneSim::_sendBoardInfoString(int k) {
    for (int slot = 2 * k; slot <= 2 * k + 1; ++slot)
        link->sendBackplaneBoardInfo(slot, board.half(slot), sim::BoardInfo::kHalf);
}

void BackplaneSim::_sendAllCalParameters() {
    console::say("BackplaneSim::_sendAllCalParameters()");
    for (int index = 0; index < kCalParameterCount; ++index)
        link->sendBackplaneCalParameter(index, calParameters[index]);
    for (int k = 0; k < 4; ++k) _sendBoardInfoString(k);
}

void BackplaneSim::_handleTempRequest() {
    _sendAllCalParameters();
    console::say("BackplaneSim::_handleTempRequest()");
    link->sendBackplaneTemperature(temperature);
}

void BackplaneSim::_sendStatus() {
    _sendAllCalParameters();
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
    if (board.store(slot, text)) _sendBoardInfoString(slot / 2);
}
