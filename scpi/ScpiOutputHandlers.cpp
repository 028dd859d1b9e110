// Range, mode, zeroing and output commands: DC/AC, fixed and automatic
// range, the range query, input filter, display rate, zero and zero mode, the
// corrected, uncorrected and vector-sum analog outputs, the front-panel keys.
//
// Zero modes: the commands say 0, 1, 2 for the model's three in the order
// of settingrange::kZeroModes.  Display rates: the commands say 0-3 for the
// four of settingrange::kDisplayRates.  Output full scales: the commands say
// volts (0-10), the models hold tenths.
#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "channel/SettingRanges.h"
#include "meter/MeterModel.h"
#include "scpi/ScpiArguments.h"

#include <string>

namespace {

const char* const kOutOfRange = "argument out of range";

long long integerArgument(const std::string& command) {
    return scpiarg::textInteger(scpiarg::argumentWord(command));
}

// A full scale in volts as tenths of a volt; -1 when out of range.
int outputScalingArgument(const std::string& command) {
    return settingrange::fullScaleTenths(scpiarg::textFloat(scpiarg::argumentWord(command)));
}

}  // namespace

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::outputHandlers() {
    static const std::vector<HandlerEntry> table = {
        SCPI_HANDLER(handleDisableButtons),
        SCPI_HANDLER(handleEnableButtons),
        SCPI_HANDLER(handleSetModeDc),
        SCPI_HANDLER(handleSetModeAc),
        SCPI_RANGE_SETTINGS(SCPI_ENTRY_FIRST)
        SCPI_HANDLER(handleQueryRange),
        SCPI_HANDLER(handleSetInputFilter),
        SCPI_HANDLER(handleSetDisplayRate),
        SCPI_HANDLER(handleGetDisplayRate),
        SCPI_HANDLER(handleZeroSingleChannel),
        SCPI_HANDLER(handleSetZeroModeSingleChannel),
        SCPI_HANDLER(handleGetZeroModeSingleChannel),
        SCPI_HANDLER(handleZeroAllChannels),
        SCPI_HANDLER(handleSetZeroModeAllChannels),
        SCPI_CARD_OUTPUTS(SCPI_ENTRY_FOUR)
        SCPI_HANDLER(handleSetVectorSumOutputMode),
        SCPI_HANDLER(handleGetVectorSumOutputMode),
        SCPI_HANDLER(handleSetVectorSumOutputScaling),
        SCPI_HANDLER(handleGetVectorSumOutputScaling),
    };
    return table;
}

// ---- Mode and range

void ScpiServer::handleSetModeDc(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel)) model->setMode(settingrange::kModeDc);
}

void ScpiServer::handleSetModeAc(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel)) model->setMode(settingrange::kModeAc);
}

// Fixed range or autorange 0/1, then (a mode given) the mode; a value out of
// range ends the command silently.
void ScpiServer::setRangeAndMode(int channel, const std::string& command, bool automatic, int mode) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    const long long value = integerArgument(command);
    if (automatic ? !scpiarg::inRange(value, 0, 1) : !settingrange::isRange(value)) return;
    if (automatic)
        model->setAutorange(value == 1);
    else
        model->setRange(static_cast<int>(value));
    if (mode >= 0) model->setMode(mode);
}

#define SCPI_DEFINE_RANGE_SETTING(handler, automatic, mode)            \
    void ScpiServer::handler(int channel, const std::string& command) { \
        setRangeAndMode(channel, command, automatic, mode);             \
    }
SCPI_RANGE_SETTINGS(SCPI_DEFINE_RANGE_SETTING)

void ScpiServer::handleQueryRange(int channel, const std::string&) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    const int range = model->getRange();
    write(std::string(model->getMode() == settingrange::kModeDc ? "DC," : "AC,") +
          std::to_string(settingrange::isRange(range) ? range : 0) +
          "," + (model->isAutorange() ? "ON" : "OFF"));
}

void ScpiServer::handleSetInputFilter(int channel, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    const long long value = integerArgument(command);
    if (!settingrange::isFreqRange(value)) return write(kOutOfRange);
    model->setFreqRange(static_cast<int>(value));
}

void ScpiServer::handleSetDisplayRate(int, const std::string& command) {
    const long long code = integerArgument(command);
    if (!scpiarg::inRange(code, 0, settingrange::kDisplayRateCount - 1)) return write(kOutOfRange);
    meter->setDisplayRate(settingrange::kDisplayRates[code]);
}

void ScpiServer::handleGetDisplayRate(int, const std::string&) {
    write(std::to_string(settingrange::displayRateIndex(meter->getDisplayRate())));
}

// ---- Zeroing

void ScpiServer::handleZeroSingleChannel(int channel, const std::string&) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    if (model->getChannelStatus() == kChannelProbeReady) {
        model->startZero();
        return;
    }
    reportNoProbe(":CAL#:ZERO:HSEN:INIT with no probe");
    write("NPC");
}

void ScpiServer::handleZeroAllChannels(int, const std::string&) {
    for (int channel = 1; channel <= 3; ++channel)
        if (ChannelModel* model = getChannelModel(channel)) model->startZero();
}

void ScpiServer::setZeroMode(int channel, const std::string& command, bool allChannels) {
    const long long value = integerArgument(command);
    if (!scpiarg::inRange(value, 0, settingrange::kZeroModeCount - 1)) return;
    const int mode = settingrange::kZeroModes[value];
    if (!allChannels) {
        if (ChannelModel* model = validChannel(channel)) model->setZeroMode(mode);
        return;
    }
    for (int ch = 1; ch <= 3; ++ch)
        if (ChannelModel* model = getChannelModel(ch)) model->setZeroMode(mode);
}

void ScpiServer::handleSetZeroModeSingleChannel(int ch, const std::string& cmd) { setZeroMode(ch, cmd, false); }
void ScpiServer::handleSetZeroModeAllChannels(int ch, const std::string& cmd) { setZeroMode(ch, cmd, true); }

void ScpiServer::handleGetZeroModeSingleChannel(int channel, const std::string&) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    for (int code = 0; code < settingrange::kZeroModeCount; ++code)
        if (settingrange::kZeroModes[code] == model->getZeroMode()) return replyInt(code);
}

// ---- Analog outputs

void ScpiServer::setOutputMode(int channel, Output output, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    const long long mode = integerArgument(command);
    if (!settingrange::isOutputMode(mode)) return write(kOutOfRange);
    if (output == Output::Corrected)
        model->setCdacMode(static_cast<int>(mode));
    else
        model->setUdacMode(static_cast<int>(mode));
}

void ScpiServer::setOutputScaling(int channel, Output output, const std::string& command) {
    ChannelModel* model = validChannel(channel);
    if (!model) return;
    const int tenths = outputScalingArgument(command);
    if (tenths < 0) return write(kOutOfRange);
    if (output == Output::Corrected)
        model->setCdacScaling(tenths);
    else
        model->setUdacScaling(tenths);
}

void ScpiServer::getOutputScaling(int channel, Output output) {
    if (ChannelModel* model = validChannel(channel))
        sendFixed((output == Output::Corrected ? model->getCdacScaling() : model->getUdacScaling()) / 10.0f, 1);
}

void ScpiServer::getOutputMode(int channel, Output output) {
    if (ChannelModel* model = validChannel(channel))
        replyInt(output == Output::Corrected ? model->getCdacMode() : model->getUdacMode());
}

#define SCPI_DEFINE_CARD_OUTPUT(modeSetter, modeQuery, scalingSetter, scalingQuery, output)              \
    void ScpiServer::modeSetter(int channel, const std::string& command) {                              \
        setOutputMode(channel, Output::output, command);                                                \
    }                                                                                                   \
    void ScpiServer::modeQuery(int channel, const std::string&) { getOutputMode(channel, Output::output); } \
    void ScpiServer::scalingSetter(int channel, const std::string& command) {                           \
        setOutputScaling(channel, Output::output, command);                                             \
    }                                                                                                   \
    void ScpiServer::scalingQuery(int channel, const std::string&) {                                    \
        getOutputScaling(channel, Output::output);                                                      \
    }
SCPI_CARD_OUTPUTS(SCPI_DEFINE_CARD_OUTPUT)

void ScpiServer::handleSetVectorSumOutputMode(int, const std::string& command) {
    const long long value = integerArgument(command);
    if (value == 0 || value == 1)
        meter->setVectorSumOutputMode(value == 1 ? settingrange::kVectorSumOutputOn
                                                 : settingrange::kVectorSumOutputOff);
}

void ScpiServer::handleGetVectorSumOutputMode(int, const std::string&) {
    replyInt(meter->getVectorSumOutputMode() == settingrange::kVectorSumOutputOn ? 1 : 0);
}

void ScpiServer::handleSetVectorSumOutputScaling(int, const std::string& command) {
    const int tenths = outputScalingArgument(command);
    if (tenths < 0) return write(kOutOfRange);
    meter->setVectorSumOutputScaling(tenths);
}

void ScpiServer::handleGetVectorSumOutputScaling(int, const std::string&) {
    replyFormatted("%02.1f", meter->getVectorSumOutputScaling() / 10.0);
}

// ---- Front-panel keys

void ScpiServer::handleEnableButtons(int, const std::string&) { enableButtons.emit(true); }
void ScpiServer::handleDisableButtons(int, const std::string&) { enableButtons.emit(false); }
