// Measurement settings commands: the four holds, relative mode and offset,
// the classifier limits, and the flux, temperature, time and angle units.
// Channel 4 addresses the vector sum where a table row says so (maximum and
// minimum holds, relative).  Values go out in the selected flux unit with
// the report format of the present range, and come in the same way.
#include "scpi/ScpiServer.h"

#include "channel/ChannelModel.h"
#include "channel/SettingRanges.h"
#include "meter/MeterModel.h"
#include "ranges/RangeSpec.h"
#include "scpi/ScpiArguments.h"

namespace {

constexpr int kVectorSumChannel = 4;
const char* const kSyntaxError = "syntax error in argument";

// What a hold is made of, on a channel and (maximum and minimum only) on the
// vector sum.
struct HoldOps {
    float (ChannelModel::*value)() const;
    bool (ChannelModel::*enabled)() const;
    void (ChannelModel::*setEnabled)(bool);
    void (ChannelModel::*reset)();
    float (MeterModel::*sumValue)() const;
    bool (MeterModel::*sumEnabled)() const;
    void (MeterModel::*sumSetEnabled)(bool);
    void (MeterModel::*sumReset)();
};

const HoldOps kHoldOps[] = {
    {&ChannelModel::getMinHoldValue, &ChannelModel::isMinHoldEnabled, &ChannelModel::setMinHoldEnabled,
     &ChannelModel::resetMinHold, &MeterModel::getVectorSumMinHoldDisplayValue,
     &MeterModel::isVectorSumMinHoldEnabled, &MeterModel::setVectorSumMinHoldEnabled,
     &MeterModel::resetVectorSumMinHold},
    {&ChannelModel::getMaxHoldValue, &ChannelModel::isMaxHoldEnabled, &ChannelModel::setMaxHoldEnabled,
     &ChannelModel::resetMaxHold, &MeterModel::getVectorSumMaxHoldDisplayValue,
     &MeterModel::isVectorSumMaxHoldEnabled, &MeterModel::setVectorSumMaxHoldEnabled,
     &MeterModel::resetVectorSumMaxHold},
    {&ChannelModel::getPeakHoldValue, &ChannelModel::isPeakHoldEnabled, &ChannelModel::setPeakHoldEnabled,
     &ChannelModel::resetPeakHold, nullptr, nullptr, nullptr, nullptr},
    {&ChannelModel::getValleyHoldValue, &ChannelModel::isValleyHoldEnabled, &ChannelModel::setValleyHoldEnabled,
     &ChannelModel::resetValleyHold, nullptr, nullptr, nullptr, nullptr},
};

// A unit keyword: the whole argument, or its first `prefix` characters.
struct Keyword {
    const char* text;
    std::size_t prefix;   // 0: the whole argument
    int code;
};

int lookupKeyword(const std::string& argument, std::initializer_list<Keyword> keywords) {
    for (const Keyword& k : keywords) {
        if (k.prefix == 0 ? argument == k.text
                          : argument.size() >= k.prefix && argument.compare(0, k.prefix, k.text) == 0)
            return k.code;
    }
    return -1;
}

// The units' names in the replies, by unit.
const char* const kFluxUnitNames[settingrange::kFluxUnitCount] = {"GAUSS", "TESLA", "OERSTED", "AM"};
const char* const kTemperatureUnitNames[settingrange::kTemperatureUnitCount] = {"FAR", "CEL", "K"};
const char* const kTimeUnitNames[settingrange::kTimeUnitCount] = {"HZ", "SEC"};

float unitScale(const RangeSpec* range) { return range ? range->getUnitScale() : 1.0f; }
float unitScale(const ChannelModel& model) { return unitScale(model.getRangeSpec()); }

}  // namespace

const std::vector<ScpiServer::HandlerEntry>& ScpiServer::settingsHandlers() {
    static const std::vector<HandlerEntry> table = {
        SCPI_HANDLER(handleSetUnitsAngle),        SCPI_HANDLER(handleGetUnitsAngle),
        SCPI_HANDLER(handleSetUnitsTemperature),  SCPI_HANDLER(handleGetUnitsTemperature),
        SCPI_HANDLER(handleSetUnitsFlux),         SCPI_HANDLER(handleGetUnitsFlux),
        SCPI_HANDLER(handleSetUnitsTime),         SCPI_HANDLER(handleGetUnitsTime),
        SCPI_HANDLER(handleSetClassifierLower),   SCPI_HANDLER(handleGetClassifierLower),
        SCPI_HANDLER(handleSetClassifierUpper),   SCPI_HANDLER(handleGetClassifierUpper),
        SCPI_HANDLER(handleSetClassifierEnable),  SCPI_HANDLER(handleGetClassifierEnable),
        SCPI_HANDLER(handleGetClassifierState),   SCPI_HANDLER(handleSetRelativeOffset),
        SCPI_HANDLER(handleGetRelativeOffset),    SCPI_HANDLER(handleSetRelativeState),
        SCPI_HANDLER(handleGetRelativeState),
        SCPI_HOLDS(SCPI_ENTRY_FOUR)
    };
    return table;
}

// ---- Holds

void ScpiServer::queryHoldValue(int channel, Hold hold) {
    const HoldOps& ops = kHoldOps[static_cast<int>(hold)];
    if (channel == kVectorSumChannel && ops.sumValue) {
        replyFormatted(meter->getVectorSumReportFormat(),
                       (meter->*ops.sumValue)() * unitScale(meter->getVectorSumRangeSpec()));
    } else if (ChannelModel* model = validChannel(channel)) {
        replyFormatted(model->getReportFormat(), (model->*ops.value)() * unitScale(*model));
    }
}

void ScpiServer::queryHoldEnable(int channel, Hold hold) {
    const HoldOps& ops = kHoldOps[static_cast<int>(hold)];
    if (channel == kVectorSumChannel && ops.sumEnabled) {
        write(meter->isVectorSumHoldActive() && (meter->*ops.sumEnabled)() ? "ON" : "OFF");
    } else if (ChannelModel* model = validChannel(channel)) {
        write(model->isHoldActive() && (model->*ops.enabled)() ? "ON" : "OFF");
    }
}

void ScpiServer::setHoldEnable(int channel, Hold hold, const std::string& command) {
    const std::string argument = scpiarg::argumentWord(command);
    const bool on = argument == "OFF" ? false : argument == "ON" ? true : scpiarg::textInteger(argument) != 0;
    const HoldOps& ops = kHoldOps[static_cast<int>(hold)];
    if (channel == kVectorSumChannel && ops.sumSetEnabled) {
        if (on && !meter->isVectorSumHoldActive()) meter->setVectorSumHoldActive(true);
        (meter->*ops.sumSetEnabled)(on);
    } else if (ChannelModel* model = validChannel(channel)) {
        if (on && !model->isHoldActive()) model->setHoldActive(true);
        (model->*ops.setEnabled)(on);
    }
}

void ScpiServer::resetHold(int channel, Hold hold) {
    const HoldOps& ops = kHoldOps[static_cast<int>(hold)];
    if (channel == kVectorSumChannel && ops.sumReset)
        (meter->*ops.sumReset)();
    else if (ChannelModel* model = validChannel(channel))
        (model->*ops.reset)();
}

#define SCPI_DEFINE_HOLD(valueQuery, enableQuery, enableSetter, reset, which)                          \
    void ScpiServer::valueQuery(int channel, const std::string&) { queryHoldValue(channel, Hold::which); }   \
    void ScpiServer::enableQuery(int channel, const std::string&) { queryHoldEnable(channel, Hold::which); } \
    void ScpiServer::enableSetter(int channel, const std::string& command) {                                \
        setHoldEnable(channel, Hold::which, command);                                                       \
    }                                                                                                       \
    void ScpiServer::reset(int channel, const std::string&) { resetHold(channel, Hold::which); }
SCPI_HOLDS(SCPI_DEFINE_HOLD)

// ---- Relative

void ScpiServer::handleGetRelativeState(int channel, const std::string&) {
    if (channel == kVectorSumChannel)
        write(meter->getVectorSumRelativeState() != 0 ? "1" : "0");
    else if (ChannelModel* model = validChannel(channel))
        write(model->getRelativeState() != 0 ? "1" : "0");
}

void ScpiServer::handleGetRelativeOffset(int channel, const std::string&) {
    if (channel == kVectorSumChannel)
        replyFormatted(meter->getVectorSumReportFormat(),
                       meter->getVectorSumRelativeOffset() * unitScale(meter->getVectorSumRangeSpec()));
    else if (ChannelModel* model = validChannel(channel))
        replyFormatted(model->getReportFormat(), model->getRelativeOffset() * unitScale(*model));
}

void ScpiServer::handleSetRelativeState(int channel, const std::string& command) {
    const std::string argument = scpiarg::argumentWord(command);
    enum { kOff, kCapture, kStored } state =
        argument.compare(0, 3, "ONC") == 0                         ? kCapture
        : argument == "ON" || scpiarg::textInteger(argument) != 0 ? kStored
                                                                  : kOff;
    if (channel == kVectorSumChannel) {
        if (state == kCapture) meter->setVectorSumAutoRelative();
        else if (state == kStored) meter->setVectorSumManualRelative();
        else meter->disableVectorSumRelative();
    } else if (ChannelModel* model = validChannel(channel)) {
        if (state == kCapture) model->setAutoRelative();
        else if (state == kStored) model->setManualRelative();
        else model->disableRelative();
    }
}

void ScpiServer::handleSetRelativeOffset(int channel, const std::string& command) {
    const float value = scpiarg::streamFloat(command);
    if (channel == kVectorSumChannel)
        meter->setVectorSumRelativeOffset(value / unitScale(meter->getVectorSumRangeSpec()));
    else if (ChannelModel* model = validChannel(channel))
        model->setRelativeOffset(value / unitScale(*model));
}

// ---- Classifier

void ScpiServer::handleGetClassifierEnable(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel))
        write(model->getClassifierController().getMode() == kClassifierOn ? "1" : "0");
}

void ScpiServer::handleGetClassifierState(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel)) {
        const ClassifierController& c = model->getClassifierController();
        write(c.getMode() == kClassifierOn && c.getState() != kClassPass ? "1" : "0");
    }
}

void ScpiServer::handleGetClassifierUpper(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel))
        replyFormatted(model->getReportFormat(),
                       model->getClassifierController().getUpperThreshold() * unitScale(*model));
}

void ScpiServer::handleGetClassifierLower(int channel, const std::string&) {
    if (ChannelModel* model = validChannel(channel))
        replyFormatted(model->getReportFormat(),
                       model->getClassifierController().getLowerThreshold() * unitScale(*model));
}

void ScpiServer::handleSetClassifierEnable(int channel, const std::string& command) {
    if (ChannelModel* model = validChannel(channel))
        model->getClassifierController().setMode(scpiarg::streamInteger(command) != 0 ? kClassifierOn
                                                                                      : kClassifierOff);
}

void ScpiServer::handleSetClassifierUpper(int channel, const std::string& command) {
    if (ChannelModel* model = validChannel(channel))
        model->getClassifierController().setUpperThreshold(scpiarg::streamFloat(command) / unitScale(*model));
}

void ScpiServer::handleSetClassifierLower(int channel, const std::string& command) {
    if (ChannelModel* model = validChannel(channel))
        model->getClassifierController().setLowerThreshold(scpiarg::streamFloat(command) / unitScale(*model));
}

// ---- Units: set on every card slot, read from slot 2 (a card on both models)

void ScpiServer::handleSetUnitsFlux(int, const std::string& command) {
    const int code = lookupKeyword(scpiarg::argumentWord(command),
                                   {{"GAUS", 4, 0}, {"TESL", 4, 1}, {"AM", 0, 3}, {"OERS", 4, 2}});
    if (code < 0) return write(kSyntaxError);
    for (unsigned slot = 1; slot <= MeterModel::kSlotCount; ++slot) meter->getChannel(slot)->setFluxUnits(code);
}

void ScpiServer::handleSetUnitsTemperature(int, const std::string& command) {
    const int code = lookupKeyword(scpiarg::argumentWord(command),
                                   {{"C", 0, 1}, {"CEL", 0, 1}, {"F", 0, 0}, {"FAR", 0, 0}, {"K", 0, 2}});
    if (code < 0) return write(kSyntaxError);
    for (unsigned slot = 1; slot <= MeterModel::kSlotCount; ++slot)
        meter->getChannel(slot)->setTemperatureUnits(code);
}

void ScpiServer::handleSetUnitsTime(int, const std::string& command) {
    const int code = lookupKeyword(scpiarg::argumentWord(command), {{"SEC", 0, 1}, {"HZ", 0, 0}});
    if (code < 0) return write(kSyntaxError);
    for (unsigned slot = 1; slot <= MeterModel::kSlotCount; ++slot) meter->getChannel(slot)->setTimeUnits(code);
}

void ScpiServer::handleSetUnitsAngle(int, const std::string& command) {
    const int code = lookupKeyword(scpiarg::argumentWord(command), {{"DEG", 0, 0}, {"RAD", 0, 1}});
    if (code < 0) return write(kSyntaxError);
    meter->setAngleUnits(code);
}

void ScpiServer::handleGetUnitsFlux(int, const std::string&) {
    const int unit = meter->getChannel(2)->getFluxUnits();
    if (settingrange::isFluxUnit(unit)) write(kFluxUnitNames[unit]);
}

void ScpiServer::handleGetUnitsTemperature(int, const std::string&) {
    const int unit = meter->getChannel(2)->getTemperatureUnits();
    if (settingrange::isTemperatureUnit(unit)) write(kTemperatureUnitNames[unit]);
}

void ScpiServer::handleGetUnitsTime(int, const std::string&) {
    const int unit = meter->getChannel(2)->getTimeUnits();
    if (settingrange::isTimeUnit(unit)) write(kTimeUnitNames[unit]);
}

void ScpiServer::handleGetUnitsAngle(int, const std::string&) { write(meter->getAngleUnits() == 0 ? "DEG" : "RAD"); }
