// The web interface's actions: polls of a channel and of the meter, settings
// of one channel or of every slot, holds, relative offsets, zeroing, the
// model and versions, a channel's range list and the data logs.
//
// A missing member reads as 0, false, 0.0 or "".  Every member an action
// reads is read (JsonConnection::getInt ...) before the action changes
// anything, so a member of the wrong JSON type (JsonConnection::BadRequest)
// changes nothing; the request is answered {"success":false}.  Settings are checked against the same ranges as the
// SCPI commands' (channel/SettingRanges.h); a value outside is answered with
// {"success":false}.
#include "json/JsonConnection.h"

#include "channel/ChannelModel.h"
#include "channel/SettingRanges.h"
#include "json/JsonText.h"
#include "meter/MeterModel.h"
#include "ranges/RangeSpec.h"
#include "runtime/FileIoManager.h"

#include "Version.h"

#include <cmath>

using jsontext::formatValue;
using jsontext::microAsU;
using jsontext::text;

namespace {

using ChannelFlag = void (ChannelModel::*)(bool);
using MeterFlag = void (MeterModel::*)(bool);

struct ChannelHold {
    const char* which;
    ChannelFlag set;
};
const ChannelHold kChannelHolds[] = {
    {"overall", &ChannelModel::setHoldActive},      {"max", &ChannelModel::setMaxHoldEnabled},
    {"min", &ChannelModel::setMinHoldEnabled},      {"peak", &ChannelModel::setPeakHoldEnabled},
    {"valley", &ChannelModel::setValleyHoldEnabled},
};

struct MeterHold {
    const char* which;
    MeterFlag set;
};
const MeterHold kMeterHolds[] = {
    {"overall", &MeterModel::setVectorSumHoldActive},
    {"max", &MeterModel::setVectorSumMaxHoldEnabled},
    {"min", &MeterModel::setVectorSumMinHoldEnabled},
};

// The hold setter named by which, or null.
template <class Hold, std::size_t N>
decltype(Hold::set) findHold(const Hold (&holds)[N], const std::string& which) {
    for (const Hold& h : holds)
        if (which == h.which) return h.set;
    return nullptr;
}

// Sets a unit on the channel models of slots 1, 2 and 3; false (nothing set)
// for a unit that isValid refuses.
bool setOnEverySlot(MeterModel& meter, int unit, bool (*isValid)(long long), void (ChannelModel::*set)(int)) {
    if (!isValid(unit)) return false;
    for (unsigned slot = 1; slot <= MeterModel::kSlotCount; ++slot)
        if (ChannelModel* ch = meter.getChannel(slot)) (ch->*set)(unit);
    return true;
}

float displayScaleOf(const RangeSpec* spec) {
    const float scale = spec ? spec->getDisplayScale() : 1.0f;
    return scale != 0.0f ? scale : 1.0f;
}

const char* modelNumber(const MeterModel& meter) { return meter.isThreeChannelModel() ? "4730" : "4710"; }

// The text of fluxReading and whether it is a reading.
std::string fluxReading(const ChannelModel& ch, bool& valid) {
    valid = false;
    if (ch.getZeroingState() == kZeroing) return "Zeroing...";
    if (!ch.isCardPresent()) return "No card present";
    const int status = ch.getChannelStatus();
    if (status == kChannelNoProbe) return "No probe connected";
    // A ready probe that has given no reading yet is still getting ready.
    if (status == kChannelProbeFound || !ch.isReadingValid()) return "Configuring probe";
    const double value = ch.getDisplayValue();
    if (ch.isOverRange()) {
        if (ch.getMode() != 0) return "Overrange";
        return value > 0 ? "+Overrange" : "-Overrange";
    }
    valid = true;
    return formatValue(ch.getValueFormat(), value) + microAsU(ch.getUnitName());
}

}  // namespace

// ---- Building blocks

ChannelModel* JsonConnection::requestChannel(const Json::Value& request) {
    const int channel = getInt(request, "channel");
    ChannelModel* ch = isValidChannel(channel) ? meter.getChannel(static_cast<unsigned>(channel)) : nullptr;
    if (!ch) sendSuccess(false);
    return ch;
}

template <class Fn>
void JsonConnection::channelAction(const Json::Value& request, Fn fn) {
    if (ChannelModel* ch = requestChannel(request)) sendSuccess(fn(*ch));
}

Json::Value JsonConnection::channelObject(const ChannelModel& ch) {
    Json::Value o(Json::objectValue);
    bool valid = false;
    o["fluxReading"] = text(fluxReading(ch, valid));
    o["valid"] = valid;
    o["autorange"] = ch.isAutorange();
    o["range"] = ch.getRange();
    o["mode"] = ch.getMode();
    o["freqRange"] = ch.getFreqRange();

    const std::string format = ch.getValueFormat();
    const bool holdActive = ch.isHoldActive();
    o["holdActive"] = holdActive;
    if (holdActive) {
        struct Hold {
            const char* enabled;
            const char* value;
            bool on;
            float display;
        };
        const Hold holds[] = {
            {"maxHoldEnabled", "maxHoldValue", ch.isMaxHoldEnabled(), ch.getDisplayMaxHoldValue()},
            {"minHoldEnabled", "minHoldValue", ch.isMinHoldEnabled(), ch.getDisplayMinHoldValue()},
            {"peakHoldEnabled", "peakHoldValue", ch.isPeakHoldEnabled(), ch.getDisplayPeakHoldValue()},
            {"valleyHoldEnabled", "valleyHoldValue", ch.isValleyHoldEnabled(), ch.getDisplayValleyHoldValue()},
        };
        for (const Hold& h : holds) {
            o[h.enabled] = h.on;
            if (h.on) o[h.value] = text(formatValue(format, h.display));
        }
    }

    const int zeroingState = ch.getZeroingState();
    o["zeroMode"] = ch.getZeroMode();
    o["zeroingState"] = zeroingState;
    if (zeroingState == kZeroing) o["zeroingProgress"] = static_cast<double>(ch.getZeroingProgress()) / 100.0;

    const bool relative = ch.getRelativeState() != 0;
    o["relativeMode"] = relative;
    if (relative) o["relativeOffset"] = text(formatValue(format, ch.getDisplayRelativeOffset()));

    o["probeState"] = ch.getChannelStatus();
    o["fluxUnits"] = ch.getFluxUnits();
    if (ch.getMode() == 1) {
        const ChannelModel::SignalFreqText signal = ch.getSignalFreqText();
        o["signalFreq"] = text(formatValue(signal.format, signal.value) + " " + signal.unit);
    }
    if (ch.isTemperatureValid()) {
        o["probeTemp"] = text(formatValue("%3.1f", ch.getTemperature()));
        o["tempUnits"] = text(ch.getTemperatureUnitText());
    }
    static const char* const kAxes[] = {"SINGLE", "X", "Y", "Z"};
    const int axis = ch.getProbeAxis();
    if (axis >= 0 && axis <= 3) o["probeAxis"] = kAxes[axis];
    o["clipped"] = ch.isClipped();
    return o;
}

Json::Value JsonConnection::meterObject(const MeterModel& meter, bool vsum) {
    Json::Value o(Json::objectValue);
    const ChannelModel* slot2 = meter.getChannel(2);
    o["flux"] = slot2->getFluxUnits();
    o["angle"] = meter.getAngleUnits();
    o["time"] = slot2->getTimeUnits();
    o["temp"] = slot2->getTemperatureUnits();
    o["displayRate"] = static_cast<double>(slot2->getDisplayRate());
    o["vsum"] = vsum;
    if (!vsum) return o;

    const std::string format = meter.getVectorSumValueFormat();
    o["angleUnits"] = meter.getAngleUnits();
    if (const ChannelModel* missing = meter.channelWithoutReading()) {
        // No sum while a channel has no reading: its text stands for the
        // sum (as pollChannel's fluxReading), and there are no angles.
        bool valid = false;
        o["vsumValue"] = text(fluxReading(*missing, valid));
        o["xAngle"] = o["yAngle"] = o["zAngle"] = "";
    } else {
        o["vsumValue"] = text(formatValue(format, meter.getVectorSumDisplayValue()) + meter.getVectorSumUnitName());
        const std::string angleFormat = meter.getAngleFormat();
        o["xAngle"] = text(formatValue(angleFormat, meter.getVectorSumAngleX()));
        o["yAngle"] = text(formatValue(angleFormat, meter.getVectorSumAngleY()));
        o["zAngle"] = text(formatValue(angleFormat, meter.getVectorSumAngleZ()));
    }

    const bool holdActive = meter.isVectorSumHoldActive();
    o["holdActive"] = holdActive;
    if (holdActive) {
        const bool maxOn = meter.isVectorSumMaxHoldEnabled();
        o["maxHoldEnabled"] = maxOn;
        if (maxOn) o["maxHoldValue"] = text(formatValue(format, meter.getVectorSumMaxHoldDisplayValue()));
        const bool minOn = meter.isVectorSumMinHoldEnabled();
        o["minHoldEnabled"] = minOn;
        if (minOn) o["minHoldValue"] = text(formatValue(format, meter.getVectorSumMinHoldDisplayValue()));
    }
    const bool relative = meter.getVectorSumRelativeState() != 0;
    o["relativeMode"] = relative;
    if (relative) o["relativeOffset"] = text(formatValue(format, meter.getVectorSumRelativeOffsetDisplayValue()));
    return o;
}

// ---- Channel settings

void JsonConnection::handleSetRange(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        // A range no probe has is refused, as SCPI refuses it; whether one
        // of them suits the reading, the channel model decides.
        const int range = getInt(request, "range");
        if (!settingrange::isRange(range)) return false;
        ch.setRange(range);
        return true;
    });
}

void JsonConnection::handleSetAutorange(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        ch.setAutorange(getBool(request, "autorange"));
        return true;
    });
}

void JsonConnection::handleSetMode(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        const int mode = getInt(request, "mode");
        if (!settingrange::isMode(mode)) return false;
        ch.setMode(mode);
        return true;
    });
}

void JsonConnection::handleSetFreqRange(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        const int range = getInt(request, "range");
        if (!settingrange::isFreqRange(range)) return false;
        ch.setFreqRange(range);
        return true;
    });
}

void JsonConnection::handleSetZeroMode(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        const int mode = getInt(request, "mode");
        if (!settingrange::isZeroMode(mode)) return false;
        ch.setZeroMode(mode);
        return true;
    });
}

void JsonConnection::handleDoZero(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        if (ch.getChannelStatus() != kChannelProbeReady) return false;
        ch.startZero();
        return true;
    });
}

void JsonConnection::handleSetAutoRelative(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        ch.setAutoRelative();
        return true;
    });
}

void JsonConnection::handleSetManualRelative(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        const float offset = getFloat(request, "offset");
        ch.setRelativeOffset(offset / displayScaleOf(ch.getRangeSpec()));   // display units to gauss
        ch.setManualRelative();
        return true;
    });
}

void JsonConnection::handleDisableRelative(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        ch.disableRelative();
        return true;
    });
}

void JsonConnection::handleSetHoldState(const Json::Value& request) {
    channelAction(request, [&](ChannelModel& ch) {
        const std::string which = getString(request, "which");
        if (which == "reset") {
            ch.resetHolds();
            return true;
        }
        const ChannelFlag set = findHold(kChannelHolds, which);
        if (!set) return false;
        (ch.*set)(getBool(request, "enabled"));
        return true;
    });
}

// ---- Settings of every slot and of the meter

void JsonConnection::handleSetFluxUnits(const Json::Value& request) {
    sendSuccess(
        setOnEverySlot(meter, getInt(request, "units"), settingrange::isFluxUnit, &ChannelModel::setFluxUnits));
}

void JsonConnection::handleSetTimeUnits(const Json::Value& request) {
    sendSuccess(
        setOnEverySlot(meter, getInt(request, "units"), settingrange::isTimeUnit, &ChannelModel::setTimeUnits));
}

void JsonConnection::handleSetTempUnits(const Json::Value& request) {
    sendSuccess(setOnEverySlot(meter, getInt(request, "units"), settingrange::isTemperatureUnit,
                               &ChannelModel::setTemperatureUnits));
}

void JsonConnection::handleSetAngleUnits(const Json::Value& request) {
    const int units = getInt(request, "units");
    if (!settingrange::isAngleUnit(units)) return sendSuccess(false);
    meter.setAngleUnits(units);
    sendSuccess(true);
}

void JsonConnection::handleSetUpdateRate(const Json::Value& request) {
    const float rate = getFloat(request, "rate");
    if (!settingrange::isDisplayRate(rate)) return sendSuccess(false);
    // Taken as the offered rate that stands for it: the instrument runs at a
    // rate that its menu and SCPI name as it is.
    meter.setDisplayRate(settingrange::kDisplayRates[settingrange::displayRateIndex(rate)]);
    sendSuccess(true);
}

void JsonConnection::handleSetVsumHoldState(const Json::Value& request) {
    const std::string which = getString(request, "which");
    if (which == "reset") {
        meter.resetVectorSumHolds();
        return sendSuccess(true);
    }
    const MeterFlag set = findHold(kMeterHolds, which);
    if (!set) return sendSuccess(false);
    (meter.*set)(getBool(request, "enabled"));
    sendSuccess(true);
}

void JsonConnection::handleSetVsumAutoRelative(const Json::Value&) {
    meter.setVectorSumAutoRelative();
    sendSuccess(true);
}

void JsonConnection::handleSetVsumManualRelative(const Json::Value& request) {
    const float offset = getFloat(request, "offset");
    meter.setVectorSumRelativeOffset(offset / displayScaleOf(meter.getVectorSumRangeSpec()));
    meter.setVectorSumManualRelative();
    sendSuccess(true);
}

void JsonConnection::handleDisableVsumRelative(const Json::Value&) {
    meter.disableVectorSumRelative();
    sendSuccess(true);
}

// ---- Queries

void JsonConnection::handlePollChannel(const Json::Value& request) {
    if (ChannelModel* ch = requestChannel(request)) sendReply(channelObject(*ch));
}

void JsonConnection::handlePollMeter(const Json::Value& request) {
    sendReply(meterObject(meter, getBool(request, "vsum")));
}

void JsonConnection::handleGetModelNumber(const Json::Value&) {
    Json::Value reply(Json::objectValue);
    reply["model"] = modelNumber(meter);
    sendReply(reply);
}

void JsonConnection::handleGetSystemInfo(const Json::Value&) {
    Json::Value reply(Json::objectValue);
    reply["model"] = modelNumber(meter);
    reply["firmwareVersion"] = tvl::kSoftwareVersion;
    reply["fpFirmwareVersion"] = text(meter.getFrontPanelFirmwareVersion());
    reply["psuFirmwareVersion"] = text(meter.getPsuFirmwareVersion());
    sendReply(reply);
}

void JsonConnection::handleGetRangeList(const Json::Value& request) {
    ChannelModel* ch = requestChannel(request);
    if (!ch) return;
    Json::Value list(Json::arrayValue);
    const std::vector<std::string> names = ch->getRangeNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "invalid") continue;
        Json::Value entry(Json::objectValue);
        entry["name"] = text(microAsU(names[i]));
        entry["value"] = static_cast<int>(i);
        list.append(entry);
    }
    sendReply(list);
}

// ---- Data logs (the internal folder, /var/www/datalogs)

void JsonConnection::handleStartDataLogging(const Json::Value&) {
    try {
        meter.startDataLogging(FileIoManager::kInternal);
    } catch (const std::exception&) {   // no probe, folder or file failures
        return sendSuccess(false);
    }
    sendSuccess(true);
}

// A log that a write failure stopped before this request answers
// success false with the reason; its file holds the rows written.  With no
// log to stop (none started, or its start failed) the answer is false.
void JsonConnection::handleStopDataLogging(const Json::Value&) {
    const std::string name = meter.stopDataLogging();
    if (name.empty()) return sendSuccess(false);
    const std::string error = meter.getDataLogError();
    Json::Value reply(Json::objectValue);
    reply["success"] = error.empty();
    reply["filename"] = text(name);
    if (!error.empty()) reply["error"] = text(error);
    sendReply(reply);
}

void JsonConnection::handleCancelDataLogging(const Json::Value&) {
    meter.cancelDataLogging();
    sendSuccess(true);
}

// The running log's file is kept (the others named are deleted): the answer
// is then false.
void JsonConnection::handleDeleteDataLogFiles(const Json::Value& request) {
    const Json::Value& names = request["filenames"];
    bool keptRunningLog = false;
    if (names.isArray()) {
        // Plain file names of the folder only: the file manager refuses "/",
        // "..", zero bytes and empty names.
        for (const Json::Value& name : names) {
            if (!name.isString()) continue;
            bool kept = false;
            FileIoManager::instance()->deleteInternalLog(FileIoManager::kInternal, name.asString(), &kept);
            keptRunningLog = keptRunningLog || kept;
        }
    }
    sendSuccess(!keptRunningLog);
}

// The rows in the file; after a log stopped on a write failure, also why.
void JsonConnection::handleGetDataLogRowCount(const Json::Value&) {
    Json::Value reply(Json::objectValue);
    reply["rows"] = meter.getDataLogRowCount();
    const std::string error = meter.getDataLogError();
    if (!error.empty()) reply["error"] = text(error);
    sendReply(reply);
}
