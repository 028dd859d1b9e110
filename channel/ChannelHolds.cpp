// Holds, relative offset, trigger level and the value-editing keys.
//
// The relative offset, the manual zero offset and the trigger level share the
// channel's digit editor.  The editor holds the value in display units with
// the range's decimals; applying it divides by the display scale.  The edited
// target is, in this order: the relative offset (relative state 3), the manual
// zero offset (manual-zero state 2), the trigger level (editingTriggerLevel).
#include "channel/ChannelModel.h"

#include "can/CANinterface.h"
#include "runtime/Speaker.h"

#include <cmath>

namespace {
constexpr int kResetPeak = 0;
constexpr int kResetValley = 1;
constexpr int kResetPeakAndValley = 2;
constexpr float kLimitFactor = 1.1f;
}  // namespace

// ---- Holds ------------------------------------------------------------------

void ChannelModel::setHoldActive(bool on) {
    earlySettings.note("holdactive:", on);
    holdActive = on;
    emitHolds();
    markSettingsDirty();
}

void ChannelModel::setMinHoldEnabled(bool on) {
    earlySettings.note("minhold:", on);
    minHoldEnabled = on;
    emitHolds();
    markSettingsDirty();
}

void ChannelModel::setMaxHoldEnabled(bool on) {
    earlySettings.note("maxhold:", on);
    maxHoldEnabled = on;
    emitHolds();
    markSettingsDirty();
}

void ChannelModel::setPeakHoldEnabled(bool on) {
    earlySettings.note("peakhold:", on);
    peakHoldEnabled = on;
    emitHolds();
    markSettingsDirty();
}

void ChannelModel::setValleyHoldEnabled(bool on) {
    earlySettings.note("valleyhold:", on);
    valleyHoldEnabled = on;
    emitHolds();
    markSettingsDirty();
}

void ChannelModel::toggleHoldActive() { setHoldActive(!holdActive); }
void ChannelModel::toggleMinHold() { setMinHoldEnabled(!minHoldEnabled); }
void ChannelModel::toggleMaxHold() { setMaxHoldEnabled(!maxHoldEnabled); }
void ChannelModel::togglePeakHold() { setPeakHoldEnabled(!peakHoldEnabled); }
void ChannelModel::toggleValleyHold() { setValleyHoldEnabled(!valleyHoldEnabled); }

void ChannelModel::resetHolds() {
    const float now = value;
    minHoldValue = now;
    maxHoldValue = now;
    if (auto l = link()) l->sendResetPeaks(channel, kResetPeakAndValley);
    emitHolds();
}

void ChannelModel::resetMinHold() {
    minHoldValue = value.load();
    emitHolds();
}

void ChannelModel::resetMaxHold() {
    maxHoldValue = value.load();
    emitHolds();
}

void ChannelModel::resetPeakHold() {
    if (auto l = link()) l->sendResetPeaks(channel, kResetPeak);
    emitHolds();
}

void ChannelModel::resetValleyHold() {
    if (auto l = link()) l->sendResetPeaks(channel, kResetValley);
    emitHolds();
}

void ChannelModel::onPeakValley(float peak, float valley) {
    restartSilenceCount();   // a frame from the card
    if (peak == peakHoldValue && valley == valleyHoldValue) return;
    peakHoldValue = peak;
    valleyHoldValue = valley;
    emitHolds();
}

// ---- Relative offset ----------------------------------------------------------

void ChannelModel::setAutoRelative() {
    if (channelStatus != kChannelProbeReady) return;
    const int state = relativeState;
    if (state == 0)
        relativeOffset = value.load();
    else if (state == 2 || state == 3)
        relativeOffset = relativeOffset + value;   // the reading has the old offset in it
    relativeState = 1;
    relativeStateChanged.emit(channel, 1);
}

void ChannelModel::setManualRelative() {
    if (channelStatus != kChannelProbeReady) return;
    relativeState = 2;
    relativeStateChanged.emit(channel, 2);
}

void ChannelModel::disableRelative() {
    relativeState = 0;
    relativeStateChanged.emit(channel, 0);
}

void ChannelModel::toggleRelative() {
    if (relativeState != 0)
        disableRelative();
    else
        setAutoRelative();
}

void ChannelModel::editRelativeOffset() {
    if (channelStatus != kChannelProbeReady) return;
    loadEditor(relativeOffset);
    relativeState = 3;
    relativeStateChanged.emit(channel, 3);
}

void ChannelModel::setRelativeOffset(float gauss) {
    if (!std::isfinite(gauss) || std::fabs(gauss) > editLimit()) return;
    relativeOffset = gauss;
    if (relativeState == 3) {
        std::lock_guard<std::mutex> lock(editMutex);
        digitEditor.setValue(gauss * displayScale);
    }
    relativeStateChanged.emit(channel, relativeState);
}

// ---- Trigger level --------------------------------------------------------------

void ChannelModel::editTriggerLevel(bool start) {
    if (start && channelStatus == kChannelProbeReady) {
        loadEditor(triggerLevel);
        editingTriggerLevel = true;
    } else {
        editingTriggerLevel = false;
    }
    triggerLevelChanged.emit(channel, editingTriggerLevel, triggerLevel);
}

void ChannelModel::updateTriggerLevel(float gauss, bool editing) {
    if (!std::isfinite(gauss)) return;
    earlySettings.noteFloat("triggerlevel:", gauss);
    triggerLevel = gauss;
    triggerLevelChanged.emit(channel, editing, gauss);
    markSettingsDirty();
    if (auto l = link()) l->sendTriggerLevel(channel, gauss);
}

void ChannelModel::setTriggerLevel(float gauss) { updateTriggerLevel(gauss, false); }

// ---- Editing keys -------------------------------------------------------------------

float ChannelModel::editLimit() const {
    const RangeSpec* spec = rangeSpec;
    return spec ? kLimitFactor * spec->getFullScale() : 0.0f;
}

void ChannelModel::loadEditor(float gauss) {
    const RangeSpec* spec = rangeSpec;
    std::lock_guard<std::mutex> lock(editMutex);
    digitEditor.setDecimals(spec ? spec->getDecimals() : 0);
    digitEditor.setValue(gauss * displayScale);
    digitEditor.setSelectedDigit(0);
}

ChannelModel::EditTarget ChannelModel::editTarget() const {
    if (relativeState == 3) return EditTarget::kRelative;
    if (manualZeroState == 2) return EditTarget::kManualZero;
    if (editingTriggerLevel) return EditTarget::kTriggerLevel;
    return EditTarget::kNone;
}

void ChannelModel::applyEdit(EditTarget target, float gauss) {
    switch (target) {
    case EditTarget::kRelative:
        relativeOffset = gauss;
        relativeStateChanged.emit(channel, relativeState);
        break;
    case EditTarget::kManualZero:
        manualZeroOffset = gauss;
        manualZeroStateChanged.emit(channel, manualZeroState);
        break;
    case EditTarget::kTriggerLevel:
        updateTriggerLevel(gauss, true);
        break;
    case EditTarget::kNone:
        break;
    }
}

void ChannelModel::emitEditTarget(EditTarget target) {
    switch (target) {
    case EditTarget::kRelative:
        relativeStateChanged.emit(channel, relativeState);
        break;
    case EditTarget::kManualZero:
        manualZeroStateChanged.emit(channel, manualZeroState);
        break;
    case EditTarget::kTriggerLevel:
        triggerLevelChanged.emit(channel, editingTriggerLevel, triggerLevel);
        break;
    case EditTarget::kNone:
        break;
    }
}

// Steps the selected digit.  An increment is limited for the relative and
// manual-zero targets only; a decrement for every target (and also when
// nothing is edited).  A step past the limit is undone with a beep.
void ChannelModel::editStep(bool increment) {
    EditTarget target;
    float gauss;
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(editMutex);
        if (increment)
            digitEditor.incrementDigit();
        else
            digitEditor.decrementDigit();
        target = editTarget();
        const float shown = digitEditor.getValue();
        const float scale = displayScale;
        gauss = shown / scale;
        const bool limited = !increment || target == EditTarget::kRelative ||
                             target == EditTarget::kManualZero;
        const RangeSpec* spec = rangeSpec;
        const float fullScale = spec ? spec->getFullScale() : 0.0f;
        if (limited && digitEditor.isBeyond(static_cast<double>(kLimitFactor) * fullScale * scale)) {
            if (increment)
                digitEditor.decrementDigit();
            else
                digitEditor.incrementDigit();
            refused = true;
        }
    }
    if (refused) {
        Speaker::instance()->beep();
        return;
    }
    applyEdit(target, gauss);
}

void ChannelModel::editIncrementDigit() { editStep(true); }
void ChannelModel::editDecrementDigit() { editStep(false); }

void ChannelModel::editToggleSign() {
    float gauss;
    {
        std::lock_guard<std::mutex> lock(editMutex);
        digitEditor.toggleSign();
        gauss = digitEditor.getValue() / displayScale;
    }
    applyEdit(editTarget(), gauss);
}

void ChannelModel::editReset() {
    {
        std::lock_guard<std::mutex> lock(editMutex);
        digitEditor.setValue(0.0f);
    }
    applyEdit(editTarget(), 0.0f);
}

void ChannelModel::editDigitLeft() {
    {
        std::lock_guard<std::mutex> lock(editMutex);
        digitEditor.setSelectedDigit(digitEditor.getSelectedDigit() + 1);
    }
    emitEditTarget(editTarget());
}

void ChannelModel::editDigitRight() {
    {
        std::lock_guard<std::mutex> lock(editMutex);
        digitEditor.setSelectedDigit(digitEditor.getSelectedDigit() - 1);
    }
    emitEditTarget(editTarget());
}

bool ChannelModel::isEditValueNegative() const {
    std::lock_guard<std::mutex> lock(editMutex);
    return digitEditor.isNegative();
}

int ChannelModel::getEditSelectedDigit() const {
    std::lock_guard<std::mutex> lock(editMutex);
    return digitEditor.getSelectedDigit();
}
