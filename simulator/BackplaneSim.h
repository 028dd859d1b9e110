// BackplaneSim: the simulated backplane board (CAN node 2).  Its reader thread
// answers the host's status request with the 14 calibration constants, the
// four board-information strings and the temperature, stores calibration
// constants and board information, and echoes what it stored.  When it
// starts it sends the same status unasked, as a backplane that has just been
// powered or reset does.
#pragma once

#include "simulator/BoardInfo.h"

#include <memory>
#include <vector>

class CANinterface;

class BackplaneSim {
public:
    static constexpr int kCalParameterCount = 14;

    BackplaneSim(const char* interfaceName, float temperature);
    // Stops the reader thread and closes the link.
    virtual ~BackplaneSim();

    BackplaneSim(const BackplaneSim&) = delete;
    BackplaneSim& operator=(const BackplaneSim&) = delete;

private:
    void _setDefaults();
    void _sendAllCalParameters();
    void _sendBoardInfoString(int k);
    void _handleTempRequest();
    // The answer to a status request, sent unasked once at start.
    void _sendStatus();
    void _handleCalSetParameter(int index, float value);
    void _handleBoardInfo(int slot, const char* text);

    float temperature;
    CANinterface* const link;   // owned; deleted last, which joins its reader
    sim::BoardInfo board;   // model, revision, serial number, calibration date
    std::vector<float> calParameters;
};
