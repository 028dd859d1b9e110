// Diagnostic multiplexers and DACs: a card's multiplexers and output
// switches, its three DACs and its diagnostic ADC's mode, and the
// backplane's vector-sum, auxiliary and sine-wave DACs.  One integer
// argument each (read in a wide type, checked before it is narrowed), one
// frame to the board, no reply but "argument out of range" where the row
// says so:
//
//   :DIAG1:MUX:MADC 7      card 1 command 0x10 [7, 0 x 7]
//   :DIAG1:MUX:MADC 8      nothing sent, nothing answered
//   :DIAG1:MDAC:OUTP 4096  "argument out of range"
//   :DIAG:VDAC:MODE 1      backplane 0x145 [0, 0, 1]; vector-sum output mode 4
//   :DIAG1:DADC:MODE -1    card 1 command 0x14 [1, 255] (the low 8 bits)
#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "scpi/ScpiArguments.h"

#include <climits>

namespace {

// Argument 0, 1, 2 as the models' mode values.
const int kMultiplyingDacModes[] = {0, 1, 3};
const int kBackplaneDacModes[] = {0, 4, 3};

int modeValue(const int* modes, int argument) { return modes ? modes[argument] : argument; }

}  // namespace

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::dacHandlers() {
    static const std::vector<HandlerEntry> table = {
        SCPI_CARD_SETTINGS(SCPI_ENTRY_FIRST)
        SCPI_BACKPLANE_SETTINGS(SCPI_ENTRY_FIRST)
        SCPI_HANDLER(handleSetDadcMode),
    };
    return table;
}

bool ScpiServer::integerInRange(const std::string& command, long long low, long long high, bool reply, int& value) {
    const long long argument = scpiarg::textInteger(scpiarg::argumentWord(command));
    if (!scpiarg::inRange(argument, low, high)) {
        if (reply) write("argument out of range");
        return false;
    }
    value = static_cast<int>(argument);
    return true;
}

#define SCPI_DEFINE_CARD_SETTING(handler, low, high, reply, operation, modes) \
    void ScpiServer::handler(int channel, const std::string& command) {     \
        ChannelModel* model = validChannel(channel);                        \
        int value;                                                          \
        if (model && integerInRange(command, low, high, reply, value))      \
            model->operation(modeValue(modes, value));                      \
    }
SCPI_CARD_SETTINGS(SCPI_DEFINE_CARD_SETTING)

#define SCPI_DEFINE_BACKPLANE_SETTING(handler, low, high, reply, operation, modes) \
    void ScpiServer::handler(int, const std::string& command) {                  \
        int value;                                                               \
        if (integerInRange(command, low, high, reply, value)) meter->operation(modeValue(modes, value)); \
    }
SCPI_BACKPLANE_SETTINGS(SCPI_DEFINE_BACKPLANE_SETTING)

// Any integer: its low 8 bits are the mode (256 sends 0, -1 sends 255).
void ScpiServer::handleSetDadcMode(int channel, const std::string& command) {
    if (ChannelModel* model = validChannel(channel))
        model->setDadcMode(static_cast<int>(scpiarg::textInteger(scpiarg::argumentWord(command)) & 0xFF));
}
