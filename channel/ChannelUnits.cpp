// Units, diagnostic mode, the card's analog outputs, the waveform view's scale
// and the channel's side of waveform capture (the ring of 12 buffers, filled
// by onWaveformStart and onWaveformData).
#include "channel/ChannelModel.h"

#include "can/CANinterface.h"
#include "channel/SettingRanges.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

namespace {
// The card's DACs as the frame builders number them.
constexpr int kCorrectedDac = 0;
constexpr int kUncorrectedDac = 1;
// Output mode 3: the output is driven to 0 instead of a mode command.
constexpr int kDacModeZero = 3;

const char* const kTemperatureLetters[settingrange::kTemperatureUnitCount] = {"F", "C", "K"};
}  // namespace

// ---- Units and diagnostic mode ----------------------------------------------

void ChannelModel::setFluxUnits(int unit) {
    earlySettings.note("fluxunits:", unit);
    fluxUnits = unit;
    sendGains();
    fluxUnitsChanged.emit(channel, unit);
    markSettingsDirty();
}

void ChannelModel::setTemperatureUnits(int unit) {
    earlySettings.note("tempunits:", unit);
    temperatureUnits = unit;
    if (settingrange::isTemperatureUnit(unit)) {
        std::lock_guard<std::mutex> lock(textMutex);
        copyText(temperatureUnitText, sizeof temperatureUnitText, kTemperatureLetters[unit]);
    }
    temperatureUnitsChanged.emit(channel, unit);
    markSettingsDirty();
}

void ChannelModel::setTimeUnits(int unit) {
    earlySettings.note("timeunits:", unit);
    {
        // The frequency already stored changes to the new unit with it, so
        // nothing shows one unit's value in the other's format until the
        // next report.
        std::lock_guard<std::mutex> lock(textMutex);
        timeUnits = unit;
        storeSignalFreq();
    }
    timeUnitsChanged.emit(channel, unit);
    markSettingsDirty();
}

void ChannelModel::setDiagMode(int modeValue) {
    diagMode = modeValue;
    if (auto l = pausingLink()) l->sendSetDiagMode(channel, static_cast<unsigned>(modeValue));
    diagModeChanged.emit(channel, modeValue);
}

// ---- Analog outputs -------------------------------------------------------------

namespace {
// Modes 0-2 go to the card as a mode command, mode 3 drives the output to 0,
// any other mode sends nothing.
void sendDacMode(CANinterface* l, int channel, int dac, int modeValue) {
    if (!l) return;
    if (modeValue >= 0 && modeValue <= 2)
        l->sendSetDacMode(channel, dac, modeValue);
    else if (modeValue == kDacModeZero)
        l->sendSetDacOutput(channel, dac, 0);
}
}  // namespace

void ChannelModel::setCdacMode(int modeValue) {
    earlySettings.note("cdacmode:", modeValue);
    sendDacMode(link().get(), channel, kCorrectedDac, modeValue);
    cdacMode = modeValue;
    markSettingsDirty();
    cdacModeChanged.emit(channel, modeValue);
}

void ChannelModel::setUdacMode(int modeValue) {
    earlySettings.note("udacmode:", modeValue);
    sendDacMode(link().get(), channel, kUncorrectedDac, modeValue);
    udacMode = modeValue;
    markSettingsDirty();
    udacModeChanged.emit(channel, modeValue);
}

// The builder refuses values above 100 (and negative ones, as unsigned); the
// value is stored and announced all the same.
void ChannelModel::setCdacScaling(int tenthsOfVolt) {
    earlySettings.note("cdacrange:", tenthsOfVolt);
    if (auto l = link()) l->sendSetDacScaling(channel, kCorrectedDac, static_cast<unsigned>(tenthsOfVolt));
    cdacScaling = tenthsOfVolt;
    markSettingsDirty();
    cdacScalingChanged.emit(channel, tenthsOfVolt);
}

void ChannelModel::setUdacScaling(int tenthsOfVolt) {
    earlySettings.note("udacrange:", tenthsOfVolt);
    if (auto l = link()) l->sendSetDacScaling(channel, kUncorrectedDac, static_cast<unsigned>(tenthsOfVolt));
    udacScaling = tenthsOfVolt;
    markSettingsDirty();
    udacScalingChanged.emit(channel, tenthsOfVolt);
}

// ---- Waveform view ------------------------------------------------------------------

void ChannelModel::setWaveformScale(int scale) {
    earlySettings.note("waveformscale:", scale);
    waveformScale = scale;
    waveformScaleChanged.emit(channel, scale);
    markSettingsDirty();
}

std::string ChannelModel::getWaveformScaleText(int scale) const {
    const RangeSpec* spec = rangeSpec;
    if (!spec) return "";
    const float perDivision = waveformDivision(spec->getFullScale() * displayScale, scale);
    const std::string format = spec->getPerDivisionFormat();
    char text[64];
    std::snprintf(text, sizeof text, format.c_str(), static_cast<double>(perDivision));
    return text;
}

std::string ChannelModel::getCurrentWaveformScaleText() const {
    return getWaveformScaleText(waveformScale);
}

// ---- Waveform capture -------------------------------------------------------------------

void ChannelModel::armCapture() {
    int cardMode = 0;
    switch (triggerMode) {
    case 0: case 1: case 2:
        cardMode = triggerMode;
        captureRunning = true;
        break;
    case 3:
        cardMode = 2;
        captureRunning = false;
        break;
    default:
        break;
    }
    if (captureState == 1) {
        captureArmed.emit(channel);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    requestWaveform(cardMode);
}

void ChannelModel::onCaptureRefresh() {
    const int tm = triggerMode;
    const int cardMode = tm == 1 ? 1 : (tm == 2 || tm == 3) ? 2 : 0;
    captureArmed.emit(channel);
    requestWaveform(cardMode);
}

// A capture asked for lengthens the card watch's limit by its record time
// until the record has come or the capture is stopped: a card may pause its
// stream while it records.
void ChannelModel::requestWaveform(int cardMode) {
    const TimebaseSpec* spec = getTimebaseSpec();
    if (!spec) return;
    if (auto l = link()) {
        const double recordUs = static_cast<double>(spec->getPoints()) * spec->getDecimation() *
                                TimebaseSpecTable::samplePeriodUs(freqRange);
        captureRecordMs = static_cast<long long>(std::ceil(recordUs / 1000.0));
        captureRequestPending = true;
        l->sendWaveformRequest(channel, cardMode, triggerSlope, spec->getDecimation(), spec->getPoints());
    }
}

void ChannelModel::stopCapture() {
    captureRunning = false;
    waveformTimer.stop();
    if (auto l = pausingLink()) l->sendStopWaiting(channel);
    captureRequestPending = false;
}

void ChannelModel::onCaptureState(int state) {
    restartSilenceCount();   // a frame from the card
    captureState = state;
    captureStateChanged.emit(channel, state);
}

void ChannelModel::onWaveformEnd() {
    restartSilenceCount();
    captureRequestPending = false;
    const int filled = fillWaveformBuffer;
    readyWaveformBuffer = filled;
    fillWaveformBuffer = (filled + 1) % kWaveformRingSize;
    waveformReady.emit(channel);
    if (captureState == 1 && captureRunning) waveformTimer.start();
}
