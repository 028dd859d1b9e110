// Calibration constants: the 34 entries of a channel's calibration parameter
// table that have commands, the card's diagnostic ADC read synchronously, and
// the backplane's 14 constants.  Getters answer the models' copies at once;
// setters send the new value to the board, whose report then updates the
// copy (a getter right after a setter may answer the old value).
//
//   :DIAG1:DAT:CAL:GAIN:PROB:RLOW?        4000.038086   (6 decimals)
//   :DIAG1:DAT:CAL:GAIN:PROB:RLOW 1.5E-3  card command 0x07 [1, 0, float]
//   :DIAG4:DAT:CAL:VDAC:ZERO:LOW 123.9    backplane 0x144 [1, 1, 123.0]
//   :DIAG4:DAT:CAL:SYNC 512               "argument out of range"
//   :DIAG2:DADC:VOLT?                     the card's reading, 99999.00000
//                                         when it does not answer within 1 s
#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "scpi/ScpiArguments.h"

#include <cmath>

namespace {

constexpr long long kMaxPulseOffset = 511;

}  // namespace

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::calibrationHandlers() {
    static const std::vector<HandlerEntry> table = {
        SCPI_CHANNEL_CONSTANTS(SCPI_ENTRY_PAIR)
        SCPI_BACKPLANE_CONSTANTS(SCPI_ENTRY_PAIR)
        SCPI_HANDLER(handleGetDadcReadingVolts),
        SCPI_HANDLER(handleGetDadcReadingCounts),
    };
    return table;
}

void ScpiServer::getChannelConstant(int channel, int index, int decimals) {
    if (ChannelModel* model = validChannel(channel)) sendFixed(model->getCalParameter(index), decimals);
}

#define SCPI_DEFINE_CHANNEL_CONSTANT(getter, setter, index, decimals)                                 \
    void ScpiServer::getter(int channel, const std::string&) { getChannelConstant(channel, index, decimals); } \
    void ScpiServer::setter(int channel, const std::string& command) {                                \
        if (isValidChannel(channel)) setChannelParameter(channel, index, command);                    \
    }
SCPI_CHANNEL_CONSTANTS(SCPI_DEFINE_CHANNEL_CONSTANT)

// The channel number is not looked at: there is one backplane.
void ScpiServer::setBackplaneConstant(int index, ConstantArgument kind, const std::string& command) {
    const std::string word = scpiarg::argumentWord(command);
    float value;
    if (kind == ConstantArgument::Real) {
        value = scpiarg::textFloat(word);
        if (!std::isfinite(value)) return write("argument out of range");
    } else {
        const long long number = scpiarg::textInteger(word);
        if (kind == ConstantArgument::PulseOffset && !scpiarg::inRange(number, 0, kMaxPulseOffset))
            return write("argument out of range");
        value = static_cast<float>(number);
    }
    meter->setBackplaneCalParameter(index, value);
}

#define SCPI_DEFINE_BACKPLANE_CONSTANT(getter, setter, index, decimals, kind)                           \
    void ScpiServer::getter(int, const std::string&) { sendFixed(meter->getBackplaneCalParameter(index), decimals); } \
    void ScpiServer::setter(int, const std::string& command) {                                          \
        setBackplaneConstant(index, ConstantArgument::kind, command);                                   \
    }
SCPI_BACKPLANE_CONSTANTS(SCPI_DEFINE_BACKPLANE_CONSTANT)

// The reads wait up to 1 s for the card; the channel model lets one read at
// a time wait for its card, so two servers never take each other's answer.
void ScpiServer::handleGetDadcReadingVolts(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel)) sendFixed(model->getDadcReadingVolts(), 5);
}

void ScpiServer::handleGetDadcReadingCounts(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel)) sendFixed(model->getDadcReadingCounts(), 0);
}
