// ChannelModel: probe presence and settling, the zero state machine with its
// timers, manual zero, and the card's event codes with the questionable bit.
#include "channel/ChannelModel.h"

#include "can/CANinterface.h"
#include "status/StatusConditions.h"

#include <cmath>

namespace {
constexpr float kZeroDriftLimit = 5.0f;       // degrees Celsius
constexpr float kUnsetAcOffsets = 0.00001f;
constexpr int kFirstAcRmsOffset = 65;
constexpr int kLastAcRmsOffset = 79;

bool marksProbeDataInvalid(int code) {
    return code == 1 || code == 4 || code == 6 || code == 9 || code == 10;
}

void startIfIdle(Timer& timer) {
    // Starting a running timer would begin its period afresh.
    if (!timer.isActive()) timer.start();
}
}  // namespace

// ---- Probe reports --------------------------------------------------------------

void ChannelModel::onProbeChanged(int state) {
    restartSilenceCount();   // a frame from the card
    std::lock_guard<std::mutex> lock(probeStateMutex);
    onCardSpoke(state);
    startupTimer.stop();
    switch (state) {
    case 1:
        channelStatus = kChannelProbeFound;
        channelStatusChanged.emit(channel, kChannelProbeFound);
        break;
    case 2:
        settlePending = true;
        settleTimer.start();
        break;
    case 0:
        // A removal also cancels a settling still pending: the channel must
        // never become ready without a probe.
        settlePending = false;
        settleTimer.stop();
        if (!endZero(kZeroNoProbe)) setZeroingState(kZeroNoProbe);
        rateTimer.stop();
        zeroQuarterHourTimer.stop();
        resetAveraging();
        resetHolds();
        disableRelative();
        channelStatus = kChannelNoProbe;
        updateProbeQuestionableBit();
        channelStatusChanged.emit(channel, kChannelNoProbe);
        break;
    default:
        break;
    }
}

void ChannelModel::onProbeSettled() {
    std::lock_guard<std::mutex> lock(probeStateMutex);
    if (!settlePending.exchange(false)) return;   // removed in the meantime

    const int probeClass = probe.getProbeClass();
    if (probeClass == 0) setRange(3);
    lastZeroMode = 4;
    // A zero still running when the probe settled again (its card restarted)
    // is over.
    if (!endZero(kZeroNeeded)) setZeroingState(kZeroNeeded);

    if (rangeSpecTable->lookup(range, fluxUnits, probeClass)->isValid()) {
        sendGains();
    } else {
        for (int r = 0; r <= 3; ++r) {
            if (rangeSpecTable->lookup(r, fluxUnits, probeClass)->isValid()) {
                setRange(r);
                break;
            }
        }
    }

    resetAveraging();
    skipHalfSecondAndPublish();
    resetHoldsPending = true;
    if (auto l = link()) l->sendResetPeaks(channel, 2);

    receivedSampleCount = 0;
    startIfIdle(rateTimer);
    startIfIdle(zeroQuarterHourTimer);

    disableRelative();
    // No reading yet: what the channel held (the placeholder at start, the
    // last reading before a loss) is not a measurement of this probe.
    measured = false;
    channelStatus = kChannelProbeReady;
    updateProbeQuestionableBit();
    channelStatusChanged.emit(channel, kChannelProbeReady);
}

// ---- Zeroing ----------------------------------------------------------------------

void ChannelModel::setZeroingState(int state) {
    zeroingState = state;
    zeroingStateChanged.emit(channel, state);
}

void ChannelModel::startZero() {
    if (channelStatus != kChannelProbeReady) return;
    std::lock_guard<std::recursive_mutex> zeroLock(zeroMutex);
    // Claim the zero atomically, so that two callers cannot both start one.
    int previous = zeroingState;
    if (previous == kZeroing || !zeroingState.compare_exchange_strong(previous, kZeroing)) return;
    settingsSaveTimer.stop();
    clearManualZero();
    zeroingStateChanged.emit(channel, kZeroing);
    if (auto l = link()) l->sendStartZero(channel, zeroMode);
    zeroTimeoutTimer.start();
}

void ChannelModel::onZeroDone(int) {
    std::lock_guard<std::recursive_mutex> zeroLock(zeroMutex);
    zeroTimeoutTimer.stop();
    restartSilenceCount();   // the stream resumes from here
    setZeroingState(kZeroed);
    zeroTemperature = backplaneTemperature.load();
    lastZeroMode = zeroMode.load();
    checkZeroValidity();
    startIfIdle(settingsSaveTimer);
}

void ChannelModel::onZeroingProgress(float percent) {
    restartSilenceCount();
    zeroingProgress = percent;
    zeroingProgressChanged.emit(channel, percent);
}

void ChannelModel::onZeroTimeout() {
    // A time-out that raced the zero's end finds no zero running.
    std::lock_guard<std::mutex> lock(probeStateMutex);
    endZero(kZeroTimedOut);
}

bool ChannelModel::endZero(int state) {
    std::lock_guard<std::recursive_mutex> zeroLock(zeroMutex);
    int running = kZeroing;
    if (!zeroingState.compare_exchange_strong(running, state)) return false;
    zeroTimeoutTimer.stop();
    zeroingStateChanged.emit(channel, state);
    startIfIdle(settingsSaveTimer);
    return true;
}

void ChannelModel::onZeroDue() {
    std::lock_guard<std::mutex> lock(probeStateMutex);
    zeroReferenceValid = true;
    lastZeroMode = 4;
    setZeroingState(kZeroNeeded);
}

void ChannelModel::setBackplaneTemperature(float celsius) {
    backplaneTemperature = celsius;
    const int state = zeroingState;
    if ((state == kZeroed || state == kZeroTimedOut) && zeroReferenceValid &&
        std::fabs(celsius - zeroTemperature.load()) >= kZeroDriftLimit) {
        lastZeroMode = 4;
        setZeroingState(kZeroNeeded);
    }
}

void ChannelModel::checkZeroValidity() {
    if (lastZeroMode != 1) return;   // only after a DC-only zero
    const int state = zeroingState;
    if (state == kZeroed && mode == 1) {
        float sum = 0.0f;
        for (int i = kFirstAcRmsOffset; i <= kLastAcRmsOffset; ++i) sum += calParameters.get(i);
        if (std::fabs(sum) < kUnsetAcOffsets) setZeroingState(kZeroNeeded);
    } else if (state == kZeroNeeded && mode == 0) {
        setZeroingState(kZeroed);
    }
}

void ChannelModel::setZeroMode(int m) {
    earlySettings.note("zeromode:", m);
    zeroMode = m;
    zeroModeChanged.emit(channel, m);
    markSettingsDirty();
}

// ---- Manual zero ------------------------------------------------------------------

void ChannelModel::clearManualZero() {
    manualZeroState = 0;
    manualZeroOffset = 0.0f;
    manualZeroStateChanged.emit(channel, 0);
}

void ChannelModel::editManualZero() {
    if (channelStatus != kChannelProbeReady) return;
    loadEditor(manualZeroOffset);
    manualZeroState = 2;
    manualZeroStateChanged.emit(channel, 2);
}

void ChannelModel::applyManualZero() {
    bool negative;
    {
        std::lock_guard<std::mutex> lock(editMutex);
        negative = digitEditor.isNegative();
    }
    const int state = (manualZeroOffset != 0.0f || negative) ? 1 : 0;
    manualZeroState = state;
    manualZeroStateChanged.emit(channel, state);
}

// ---- Card events ------------------------------------------------------------------

void ChannelModel::onCardEvent(int code) {
    if (marksProbeDataInvalid(code)) {
        probe.setDataValid(false);
        status::report(status::Condition::ProbeFault, channel, true);
    } else if (code == 2) {
        probeFaultClearable = false;
        status::report(status::Condition::ProbeFault, channel, true);
    }
    error.emit(channel, code);
}

void ChannelModel::updateProbeQuestionableBit() {
    if (probeFaultClearable && (channelStatus != kChannelProbeReady || probe.isDataValid())) {
        status::report(status::Condition::ProbeFault, channel, false);
    }
}
