// The vector sum of the three channels: magnitude, direction angles, holds,
// relative offset (automatic, remote or entered digit by digit), angle
// units and the display rate passed to the channels.
#include "meter/MeterModel.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "channel/SettingRanges.h"
#include "ranges/RangeSpec.h"
#include "runtime/Speaker.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kEntryLimit = 1.1f;
}  // namespace

const char* const MeterModel::kDegreeText = "\xB0";
const char* const MeterModel::kDegreeFormat = "%3.2f";
const char* const MeterModel::kRadianText = "rad";
const char* const MeterModel::kRadianFormat = "%1.3f";

namespace {

// Angle between the vector and one axis, in degrees.  The quotient is
// clamped: rounding can push |component| / magnitude a hair past 1.
float axisAngle(double component, double magnitude) {
    double q = std::max(-1.0, std::min(1.0, component / magnitude));
    return static_cast<float>(std::acos(q) * 180.0 / kPi);
}

}  // namespace

// ---- Which reading starts a computation

void MeterModel::onSlot1Reading(int, float, float, float, float, float, int) { onReading(1); }
void MeterModel::onSlot2Reading(int, float, float, float, float, float, int) { onReading(2); }
void MeterModel::onSlot3Reading(int, float, float, float, float, float, int) { onReading(3); }

void MeterModel::onReading(unsigned slot) {
    bool ready1 = channels[0]->isReadingValid();
    bool ready2 = channels[1]->isReadingValid();
    bool starts = (slot == 1 && ready1) || (slot == 2 && !ready1) || (slot == 3 && !ready1 && !ready2);
    if (!starts) return;
    // Slots 2 and 3 can both start one when no probe is ready: one
    // computation and its log row at a time.
    std::lock_guard<std::mutex> lock(computeMutex);
    computeVectorSum();
    writeDataLogRow();
}

int MeterModel::vectorSumRangeSlot(const VectorSumInput in[3]) {
    int chosen = -1;
    for (int i = 0; i < 3; ++i) {
        if (!in[i].ready) continue;
        if (chosen < 0 || in[i].range > in[chosen].range) chosen = i;
    }
    return chosen < 0 ? 0 : chosen;
}

void MeterModel::vectorSumComponents(const VectorSumInput in[3], double component[3]) {
    int axisSlot[3] = {-1, -1, -1};
    bool fixed = false;
    for (int i = 0; i < 3 && !fixed; ++i) {
        int code = in[i].axisCode;
        if (code == 0) {
            fixed = true;
        } else if (code >= 1 && code <= 3) {
            axisSlot[code - 1] = i;
        }
    }
    if (fixed) axisSlot[0] = 0, axisSlot[1] = 1, axisSlot[2] = 2;
    for (int a = 0; a < 3; ++a) {
        int s = axisSlot[a];
        component[a] = s >= 0 && in[s].ready ? in[s].value : 0.0;
    }
}

void MeterModel::vectorSumAngles(const double component[3], float magnitude, float angles[3]) {
    for (int a = 0; a < 3; ++a) angles[a] = magnitude != 0.0f ? axisAngle(component[a], magnitude) : 0.0f;
}

void MeterModel::computeVectorSum() {
    // Each channel's reading is read once: the channel reader threads keep
    // replacing it, and the snapshot must show the very readings the
    // magnitude was computed from.
    VectorSumInput in[3];
    std::array<float, 3> snapshot;
    for (unsigned i = 0; i < kSlotCount; ++i) {
        const ChannelModel& ch = *channels[i];
        const float reading = ch.getValue();
        in[i] = {ch.isReadingValid(), ch.getRange(), ch.getProbeAxis(),
                 static_cast<double>(reading)};
        // As ChannelModel::getValueInUnits, on this reading.
        const RangeSpec* spec = ch.getRangeSpec();
        snapshot[i] = spec ? reading * spec->getUnitScale() : reading;
    }
    // 1. The range of the highest ready range.
    const RangeSpec* range = channels[vectorSumRangeSlot(in)]->getRangeSpec();
    vectorSumRange = range;

    // 2. The components along the axes.
    double component[3];
    vectorSumComponents(in, component);

    float mag = static_cast<float>(
        std::sqrt(component[0] * component[0] + component[1] * component[1] + component[2] * component[2]));
    std::array<float, 3> newAngles;
    vectorSumAngles(component, mag, newAngles.data());
    float value = relativeState != 0 ? mag - relativeOffset : mag;
    float unitScale = range ? range->getUnitScale() : 1.0f;

    // 3-9. One consistent snapshot for the readers.
    {
        std::lock_guard<std::mutex> lock(vectorSumMutex);
        magnitude = mag;
        vectorSumValue = value;
        channelSnapshot = snapshot;
        magnitudeInUnits = mag * unitScale;
        valueUnitScale = unitScale;
        angles = newAngles;
    }

    // 10. Tell the views.
    vectorSumUpdated.emit(value, newAngles[0], newAngles[1], newAngles[2]);

    // 11. The vector-sum output follows the value.
    if (auto bp = backplane()) {
        float fullScale = range ? range->getFullScale() : 0.0f;
        int mode = vectorSumOutputMode;
        if (mode == 0) {
            bp->sendVectorSumOutput(0, fullScale);
        } else if (mode == 4) {
            std::int32_t word;
            std::memcpy(&word, &value, sizeof word);
            bp->sendVectorSumOutput(word, fullScale);
        }
    }

    // 12. Holds follow the value whatever the flags say.
    bool changed = false;
    if (minHoldValue > value) {
        minHoldValue = value;
        changed = true;
    }
    if (value > maxHoldValue) {
        maxHoldValue = value;
        changed = true;
    }
    if (changed) emitVectorSumHoldsChanged();
}

// ---- Readers

const ChannelModel* MeterModel::channelWithoutReading() const {
    for (const auto& ch : channels)
        if (!ch->isReadingValid()) return ch.get();
    return nullptr;
}

float MeterModel::getVectorSumValue() const {
    std::lock_guard<std::mutex> lock(vectorSumMutex);
    return vectorSumValue;
}

std::vector<float> MeterModel::getFluxSnapshot() const {
    std::lock_guard<std::mutex> lock(vectorSumMutex);
    return {channelSnapshot[0], channelSnapshot[1], channelSnapshot[2], magnitudeInUnits};
}

std::vector<float> MeterModel::getVectorSumAndAngles() const {
    float unitScale;
    float value;
    std::array<float, 3> a;
    {
        std::lock_guard<std::mutex> lock(vectorSumMutex);
        value = vectorSumValue;
        unitScale = valueUnitScale;
        a = angles;
    }
    int units = angleUnits;
    std::vector<float> out{value * unitScale};
    for (float degrees : a) {
        if (units == 0) out.push_back(degrees);
        else if (units == 1) out.push_back(static_cast<float>(kPi * degrees / 180.0));
        else out.push_back(std::numeric_limits<float>::quiet_NaN());
    }
    return out;
}

float MeterModel::getVectorSumAngleX() const { return getVectorSumAndAngles()[1]; }
float MeterModel::getVectorSumAngleY() const { return getVectorSumAndAngles()[2]; }
float MeterModel::getVectorSumAngleZ() const { return getVectorSumAndAngles()[3]; }

namespace {
float displayScaleOf(const RangeSpec* range) { return range ? range->getDisplayScale() : 1.0f; }
}  // namespace

float MeterModel::getVectorSumDisplayValue() const {
    return getVectorSumValue() * displayScaleOf(vectorSumRange);
}

float MeterModel::getVectorSumMinHoldDisplayValue() const {
    return minHoldValue * displayScaleOf(vectorSumRange);
}

float MeterModel::getVectorSumMaxHoldDisplayValue() const {
    return maxHoldValue * displayScaleOf(vectorSumRange);
}

float MeterModel::getVectorSumRelativeOffsetDisplayValue() const {
    if (relativeState == 0) return 0.0f;
    return relativeOffset * displayScaleOf(vectorSumRange);
}

std::string MeterModel::getVectorSumUnitName() const {
    const RangeSpec* range = vectorSumRange;
    return range ? range->getUnitName() : std::string();
}

std::string MeterModel::getVectorSumValueFormat() const {
    const RangeSpec* range = vectorSumRange;
    return range ? range->getValueFormat() : std::string("%f");
}

std::string MeterModel::getVectorSumReportFormat() const {
    const RangeSpec* range = vectorSumRange;
    return range ? range->getReportFormat() : std::string("%f");
}

bool MeterModel::isEditValueNegative() const {
    std::lock_guard<std::mutex> lock(editMutex);
    return offsetEntry.isNegative();
}

int MeterModel::getEditSelectedDigit() const {
    std::lock_guard<std::mutex> lock(editMutex);
    return offsetEntry.getSelectedDigit();
}

// ---- Holds

void MeterModel::emitVectorSumHoldsChanged() {
    vectorSumHoldsChanged.emit(holdActive, minHoldEnabled, maxHoldEnabled);
}

void MeterModel::setVectorSumHoldActive(bool on) {
    earlySettings.note("holdactive:", on);
    markSettingsDirty();
    holdActive = on;
    emitVectorSumHoldsChanged();
}

void MeterModel::setVectorSumMinHoldEnabled(bool on) {
    earlySettings.note("minhold:", on);
    markSettingsDirty();
    minHoldEnabled = on;
    emitVectorSumHoldsChanged();
}

void MeterModel::setVectorSumMaxHoldEnabled(bool on) {
    earlySettings.note("maxhold:", on);
    markSettingsDirty();
    maxHoldEnabled = on;
    emitVectorSumHoldsChanged();
}

void MeterModel::toggleVectorSumHoldActive() { setVectorSumHoldActive(!holdActive); }

void MeterModel::toggleVectorSumMinHold() {
    setVectorSumMinHoldEnabled(!minHoldEnabled);
    if (minHoldEnabled) minHoldValue = getVectorSumValue();
}

void MeterModel::toggleVectorSumMaxHold() {
    setVectorSumMaxHoldEnabled(!maxHoldEnabled);
    if (maxHoldEnabled) maxHoldValue = getVectorSumValue();
}

void MeterModel::resetVectorSumMinHold() { minHoldValue = getVectorSumValue(); }
void MeterModel::resetVectorSumMaxHold() { maxHoldValue = getVectorSumValue(); }

void MeterModel::resetVectorSumHolds() {
    resetVectorSumMinHold();
    resetVectorSumMaxHold();
}

// ---- Relative offset

void MeterModel::disableVectorSumRelative() {
    relativeState = 0;
    vectorSumRelativeChanged.emit(0);
}

void MeterModel::setVectorSumAutoRelative() {
    int state = relativeState;
    float value;
    float present;
    {
        std::lock_guard<std::mutex> lock(vectorSumMutex);
        value = vectorSumValue;
        present = magnitude;
    }
    if (state == 0) {
        // The present magnitude: the value may still carry the offset of a
        // relative state switched off since the last computation.
        relativeOffset = present;
    } else if (state == 2 || state == 3) {
        relativeOffset = relativeOffset + value;
    }
    relativeState = 1;
    vectorSumRelativeChanged.emit(1);
}

void MeterModel::setVectorSumManualRelative() {
    relativeState = 2;
    vectorSumRelativeChanged.emit(2);
}

void MeterModel::setVectorSumRelativeOffset(float gauss) {
    if (!std::isfinite(gauss)) return;
    relativeOffset = gauss;
}

void MeterModel::editVectorSumRelativeOffset() {
    const RangeSpec* range = vectorSumRange;
    {
        std::lock_guard<std::mutex> lock(editMutex);
        if (range) offsetEntry.setDecimals(range->getDecimals());
        offsetEntry.setValue(relativeOffset * displayScaleOf(range));
    }
    relativeState = 3;
    vectorSumRelativeChanged.emit(3);
}

namespace {
// Steps the entry, or undoes the step when the offset would leave the limit.
bool stepEntry(DigitsDisplaySpec& entry, bool up, const RangeSpec* range, float& gauss) {
    float scale = displayScaleOf(range);
    float fullScale = range ? range->getFullScale() : 0.0f;
    if (up) entry.incrementDigit();
    else entry.decrementDigit();
    float shown = entry.getValue();
    float v = shown / scale;
    if (entry.isBeyond(static_cast<double>(kEntryLimit) * fullScale * scale)) {
        if (up) entry.decrementDigit();
        else entry.incrementDigit();
        return false;
    }
    gauss = v;
    return true;
}
}  // namespace

void MeterModel::editStepDigit(bool up) {
    float gauss = 0.0f;
    bool ok;
    {
        std::lock_guard<std::mutex> lock(editMutex);
        ok = stepEntry(offsetEntry, up, vectorSumRange, gauss);
    }
    if (!ok) {
        Speaker::instance()->beep();
        return;
    }
    relativeOffset = gauss;
    vectorSumRelativeChanged.emit(relativeState);
}

void MeterModel::editIncrementDigit() { editStepDigit(true); }
void MeterModel::editDecrementDigit() { editStepDigit(false); }

void MeterModel::editDigitLeft() {
    {
        std::lock_guard<std::mutex> lock(editMutex);
        offsetEntry.setSelectedDigit(offsetEntry.getSelectedDigit() + 1);
    }
    vectorSumRelativeChanged.emit(relativeState);
}

void MeterModel::editDigitRight() {
    {
        std::lock_guard<std::mutex> lock(editMutex);
        offsetEntry.setSelectedDigit(offsetEntry.getSelectedDigit() - 1);
    }
    vectorSumRelativeChanged.emit(relativeState);
}

void MeterModel::editToggleSign() {
    float gauss;
    {
        std::lock_guard<std::mutex> lock(editMutex);
        offsetEntry.toggleSign();
        gauss = offsetEntry.getValue() / displayScaleOf(vectorSumRange);
    }
    relativeOffset = gauss;
    vectorSumRelativeChanged.emit(relativeState);
}

void MeterModel::editReset() {
    {
        std::lock_guard<std::mutex> lock(editMutex);
        offsetEntry.setValue(0.0f);
    }
    relativeOffset = 0.0f;
    vectorSumRelativeChanged.emit(relativeState);
}

// ---- Units and rate

void MeterModel::setAngleUnits(int units) {
    earlySettings.note("angleunits:", units);
    angleUnits = units;
    if (units == 0) {
        angleUnitText = kDegreeText;
        angleFormat = kDegreeFormat;
    } else if (units == 1) {
        angleUnitText = kRadianText;
        angleFormat = kRadianFormat;
    }
    angleUnitsChanged.emit(units);
    markSettingsDirty();
}

void MeterModel::setDisplayRate(float rate) {
    if (!settingrange::isDisplayRate(rate)) return;
    for (auto& ch : channels) ch->setDisplayRate(rate);
    displayRateChanged.emit(rate);
}

float MeterModel::getDisplayRate() const {
    return channels[1]->getDisplayRate();
}
