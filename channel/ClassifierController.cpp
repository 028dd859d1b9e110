// ClassifierController: pass / high / low against two thresholds, the two
// backplane output lines and the SCPI measurement bits of one channel.
#include "channel/ClassifierController.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "runtime/Speaker.h"
#include "status/StatusConditions.h"

#include <cmath>

namespace {

constexpr float kLimitFactor = 1.1f;

}  // namespace

ClassifierController::ClassifierController(int channelNumber, ChannelModel* owner)
    : channel(channelNumber), model(owner) {}

ClassifierController::~ClassifierController() = default;

void ClassifierController::setCanInterface(std::shared_ptr<CANinterface> l) {
    std::lock_guard<std::mutex> lock(mutex);
    link = std::move(l);
}

// ---- Accessors ------------------------------------------------------------------

int ClassifierController::getMode() const {
    std::lock_guard<std::mutex> lock(mutex);
    return mode;
}

int ClassifierController::getState() const {
    std::lock_guard<std::mutex> lock(mutex);
    return state;
}

float ClassifierController::getUpperThreshold() const {
    std::lock_guard<std::mutex> lock(mutex);
    return upperThreshold;
}

float ClassifierController::getLowerThreshold() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lowerThreshold;
}

float ClassifierController::getDisplayUpperThreshold() const {
    const float scale = currentLimits().displayScale;
    return getUpperThreshold() * scale;
}

float ClassifierController::getDisplayLowerThreshold() const {
    const float scale = currentLimits().displayScale;
    return getLowerThreshold() * scale;
}

bool ClassifierController::isEditValueNegative() const {
    std::lock_guard<std::mutex> lock(mutex);
    return editor.isNegative();
}

int ClassifierController::getEditSelectedDigit() const {
    std::lock_guard<std::mutex> lock(mutex);
    return editor.getSelectedDigit();
}

ClassifierController::Limits ClassifierController::currentLimits() const {
    const RangeSpec* spec = model ? model->getRangeSpec() : nullptr;
    if (!spec) return {0.0f, 1.0f, 0};
    float scale = spec->getDisplayScale();
    if (!(scale != 0.0f) || !std::isfinite(scale)) scale = 1.0f;
    return {spec->getFullScale(), scale, spec->getDecimals()};
}

// ---- Classification and outputs ---------------------------------------------------

void ClassifierController::sendLine(int line, int level) {
    if (link) link->sendClassifierOutput(channel, line, level & 0xFF);
}

void ClassifierController::setBits(bool high, bool low) {
    status::report(status::Condition::ClassifierHigh, channel, high);
    status::report(status::Condition::ClassifierLow, channel, low);
}

void ClassifierController::sendLines(int forState) {
    sendLine(0, forState == kClassLow ? 1 : 0);
    sendLine(1, forState == kClassHigh ? 1 : 0);
}

bool ClassifierController::applyState(int newState) {
    if (newState == state) return false;
    sendLines(newState);
    setBits(newState == kClassHigh, newState == kClassLow);
    state = newState;
    return true;
}

void ClassifierController::resendLines() {
    std::lock_guard<std::mutex> lock(mutex);
    sendLines(state);
}

void ClassifierController::emitChanged() {
    int m, s;
    {
        std::lock_guard<std::mutex> lock(mutex);
        m = mode;
        s = state;
    }
    changed.emit(channel, m, s);
}

void ClassifierController::classify(float reading) {
    bool moved;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (mode == kClassifierOff) return;
        int next = kClassPass;
        if (reading > upperThreshold) next = kClassHigh;
        else if (reading < lowerThreshold) next = kClassLow;
        moved = applyState(next);
    }
    if (moved) emitChanged();
}

void ClassifierController::setState(int newState) {
    bool moved;
    {
        std::lock_guard<std::mutex> lock(mutex);
        moved = applyState(newState);
    }
    if (moved) emitChanged();
}

void ClassifierController::setMode(int newMode) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        mode = newMode;
    }
    emitChanged();
    if (newMode != kClassifierOn) setState(kClassPass);
}

void ClassifierController::setLine0(int level) {
    std::lock_guard<std::mutex> lock(mutex);
    sendLine(0, level);
}

void ClassifierController::setLine1(int level) {
    std::lock_guard<std::mutex> lock(mutex);
    sendLine(1, level);
}

// ---- Thresholds ---------------------------------------------------------------------

void ClassifierController::setUpperThreshold(float gauss) {
    if (!std::isfinite(gauss)) return;
    const Limits limits = currentLimits();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (std::fabs(gauss) > kLimitFactor * limits.fullScale) return;
        if (gauss < lowerThreshold) return;
        upperThreshold = gauss;
        if (mode == kClassifierEditUpper) editor.setValue(gauss * limits.displayScale);
    }
    emitChanged();
    settingsChanged.emit(channel);
}

void ClassifierController::setLowerThreshold(float gauss) {
    if (!std::isfinite(gauss)) return;
    const Limits limits = currentLimits();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (std::fabs(gauss) > kLimitFactor * limits.fullScale) return;
        if (gauss > upperThreshold) return;
        lowerThreshold = gauss;
        if (mode == kClassifierEditLower) editor.setValue(gauss * limits.displayScale);
    }
    emitChanged();
    settingsChanged.emit(channel);
}

// ---- Front-panel entry --------------------------------------------------------------

void ClassifierController::editUpperThreshold() {
    if (!model || model->getChannelStatus() != kChannelProbeReady) return;
    const Limits limits = currentLimits();
    {
        std::lock_guard<std::mutex> lock(mutex);
        editor.setDecimals(limits.decimals);
        editor.setValue(upperThreshold * limits.displayScale);
        savedMode = mode;
    }
    setMode(kClassifierEditUpper);
}

void ClassifierController::editLowerThreshold() {
    if (!model || model->getChannelStatus() != kChannelProbeReady) return;
    const Limits limits = currentLimits();
    {
        std::lock_guard<std::mutex> lock(mutex);
        editor.setDecimals(limits.decimals);
        editor.setValue(lowerThreshold * limits.displayScale);
        savedMode = mode;
    }
    setMode(kClassifierEditLower);
}

void ClassifierController::endEdit() {
    int back;
    {
        std::lock_guard<std::mutex> lock(mutex);
        back = savedMode;
    }
    setMode(back);
}

void ClassifierController::editDigitLeft() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        editor.setSelectedDigit(editor.getSelectedDigit() + 1);
    }
    emitChanged();
}

void ClassifierController::editDigitRight() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        editor.setSelectedDigit(editor.getSelectedDigit() - 1);
    }
    emitChanged();
}

void ClassifierController::selectEditDigit(int index) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        editor.setSelectedDigit(index);
    }
    emitChanged();
}

void ClassifierController::editStep(bool increment) {
    const Limits limits = currentLimits();
    bool beyondFullScale = false;
    bool crossed = false;
    bool stored = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto step = [this](bool up) { up ? editor.incrementDigit() : editor.decrementDigit(); };
        step(increment);
        const float v = editor.getValue() / limits.displayScale;
        if (editor.isBeyond(static_cast<double>(kLimitFactor) * limits.fullScale * limits.displayScale)) {
            step(!increment);
            beyondFullScale = true;
        } else if (mode == kClassifierEditLower) {
            if (v <= upperThreshold) {
                lowerThreshold = v;
                stored = true;
            } else {
                step(!increment);
                crossed = true;
            }
        } else if (mode == kClassifierEditUpper) {
            if (v >= lowerThreshold) {
                upperThreshold = v;
                stored = true;
            } else {
                step(!increment);
                crossed = true;
            }
        }
    }
    if (beyondFullScale || crossed) Speaker::instance()->beep();
    if (beyondFullScale) return;   // undone at the limit: nothing is announced
    emitChanged();
    if (stored) settingsChanged.emit(channel);
}

void ClassifierController::editIncrementDigit() { editStep(true); }
void ClassifierController::editDecrementDigit() { editStep(false); }

void ClassifierController::editToggleSign() {
    if (model && model->getMode() == 1) return;
    const Limits limits = currentLimits();
    bool beep = false;
    bool stored = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        editor.toggleSign();
        const float v = editor.getValue() / limits.displayScale;
        if (mode == kClassifierEditLower) {
            if (v <= upperThreshold) {
                lowerThreshold = v;
                stored = true;
            } else {
                editor.toggleSign();
                beep = true;
            }
        } else if (mode == kClassifierEditUpper) {
            if (v >= lowerThreshold) {
                upperThreshold = v;
                stored = true;
            } else {
                editor.toggleSign();
                beep = true;
            }
        }
    }
    if (beep) Speaker::instance()->beep();
    emitChanged();
    if (stored) settingsChanged.emit(channel);
}

void ClassifierController::editReset() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        editor.setValue(0.0f);
        upperThreshold = 0.0f;
        lowerThreshold = 0.0f;
    }
    emitChanged();
    settingsChanged.emit(channel);
}

// ---- Card reports -------------------------------------------------------------------

void ClassifierController::reloadEditor(const Limits& limits, bool resetDigit) {
    editor.setDecimals(limits.decimals);
    editor.setValue((mode == kClassifierEditLower ? lowerThreshold : upperThreshold) * limits.displayScale);
    if (resetDigit) editor.setSelectedDigit(0);
}

void ClassifierController::onRangeReport() {
    const Limits limits = currentLimits();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (mode != kClassifierEditLower && mode != kClassifierEditUpper) return;
        reloadEditor(limits, true);
    }
    emitChanged();
}

void ClassifierController::onModeReport() {
    if (getMode() == kClassifierOn) setMode(kClassifierOff);
    if (model && model->getMode() == 1) {
        bool moved = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (lowerThreshold < 0.0f) {
                lowerThreshold = 0.0f;
                moved = true;
            }
            if (upperThreshold < 0.0f) {
                upperThreshold = 0.0f;
                moved = true;
            }
        }
        if (moved) settingsChanged.emit(channel);
    }
    onRangeReport();
}
