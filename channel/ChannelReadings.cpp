// ChannelModel: the reading pipeline (skip, decimate, average, over-range,
// offsets, classifier, holds), autorange and the range commands, and the
// card's mode and frequency reports.
//
// onSample runs for every sample frame of the card (up to a few thousand a
// second): it takes no lock and allocates nothing; the RangeSpec is looked up
// only when the range, unit or probe changes (sendGains) and kept as a pointer.
#include "channel/ChannelModel.h"

#include "can/CANinterface.h"
#include "status/StatusConditions.h"

#include <cmath>
#include <cstring>

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kOverRangeFactor = 1.1f;
// A frequency report that is not a number stands for no signal.
float finiteHz(float hz) { return std::isfinite(hz) ? hz : 0.0f; }
}  // namespace

// ---- Sample handler -----------------------------------------------------------

void ChannelModel::onSample(float sample, int status) {
    receivedSampleCount.fetch_add(1, kRelaxed);
    restartSilenceCount();

    const int skip = samplesToSkip.load(kRelaxed);
    if (skip > 0) {
        samplesToSkip.store(skip - 1, kRelaxed);
        if (skip == 1 && publishRangeAfterSkip.exchange(false)) publishRange();
        return;
    }

    // Keep one sample in `decimation`; the counter wraps instead of growing,
    // and a decimation below 1 counts as 1 (no modulo, no division by 0).
    statusAccumulator.store(statusAccumulator.load(kRelaxed) | status, kRelaxed);
    const int keepEvery = decimation.load(kRelaxed);
    const int counter = decimationCounter.load(kRelaxed) + 1;
    if (counter < keepEvery) {
        decimationCounter.store(counter, kRelaxed);
        return;
    }
    decimationCounter.store(0, kRelaxed);

    const double sum = averageSum.load(kRelaxed) + sample;
    const int count = averageCount.load(kRelaxed) + 1;
    if (count < samplesPerAverage.load(kRelaxed)) {
        averageSum.store(sum, kRelaxed);
        averageCount.store(count, kRelaxed);
        return;
    }
    const float reading = static_cast<float>(sum / count);
    displayedReadingCount.fetch_add(1, kRelaxed);
    resetAveraging();

    if (diagMode.load(kRelaxed) != 0) {
        value = reading;
        markMeasured();
        emitNewReading();
        return;
    }

    applyAutorange(std::fabs(reading));

    const RangeSpec* spec = rangeSpec.load();
    const float v = applyOffsets(reading);
    const bool over = std::fabs(v) > spec->getOverRangeLimit();
    if (over != overRange.load()) {
        overRange = over;
        overRangeChanged.emit(channel, over);
        status::report(status::Condition::OverRange, channel, over);
    }
    readingStatus = statusAccumulator.exchange(0);

    if (over) {
        // The last in-range reading stays, flagged: the channel reads over
        // range, which is what was measured.
        markMeasured();
        emitNewReading();
        return;
    }

    value = v;
    markMeasured();
    classifier.classify(v);

    bool holdsMoved = false;
    if (minHoldValue.load(kRelaxed) > v) {
        minHoldValue = v;
        holdsMoved = true;
    }
    if (v > maxHoldValue.load(kRelaxed)) {
        maxHoldValue = v;
        holdsMoved = true;
    }
    if (holdsMoved) emitHolds();
    emitNewReading();

    if (resetHoldsPending.exchange(false)) resetHolds();
}

// The first reading after the probe became ready makes the channel's reading
// valid; it is announced with the channel's status, so that every view
// leaves the "probe getting ready" state.  Otherwise one relaxed load per
// reading; the announcement takes probeStateMutex, as every status change
// does, so that it never follows a loss of the card that came before it.
void ChannelModel::markMeasured() {
    if (measured.load(kRelaxed)) return;
    std::lock_guard<std::mutex> lock(probeStateMutex);
    if (measured || channelStatus != kChannelProbeReady) return;
    measured = true;
    channelStatusChanged.emit(channel, kChannelProbeReady);
}

void ChannelModel::emitNewReading() {
    const float scale = displayScale;
    newReading.emit(channel, value * scale, minHoldValue * scale, maxHoldValue * scale,
                    peakHoldValue * scale, valleyHoldValue * scale, readingStatus);
}

void ChannelModel::emitHolds() {
    holdsChanged.emit(channel, holdActive, minHoldEnabled, maxHoldEnabled, peakHoldEnabled,
                      valleyHoldEnabled);
}

// ---- Autorange and range commands ---------------------------------------------

void ChannelModel::applyAutorange(float magnitude) {
    if (!autorange) return;
    const RangeSpec* spec = rangeSpec.load();
    const int r = range;
    if (magnitude > spec->getUpRangeThreshold()) {
        if (r >= 0 && r < 3) sendRange(r + 1);
    } else if (magnitude < spec->getDownRangeThreshold()) {
        if (r > 0 && r <= 3 && rangeFits(r - 1)) sendRange(r - 1);
    }
}

bool ChannelModel::rangeFits(int r) const {
    const RangeSpec* spec = rangeSpecTable->lookup(r, fluxUnits, probe.getProbeClass());
    if (!spec->isValid()) return false;
    const float limit = kOverRangeFactor * spec->getFullScale();
    if (relativeState != 0 && std::fabs(relativeOffset.load()) > limit) return false;
    return std::fabs(getRmsOffset(r)) <= limit;
}

void ChannelModel::sendRange(int r) {
    status::report(status::Condition::RangeChange, channel, true);
    if (auto l = pausingLink()) l->sendSetRange(channel, r);
}

void ChannelModel::publishRange() {
    sendGains();
    rangeChanged.emit(channel, range);
}

void ChannelModel::setRange(int r) {
    if (r < 0 || r > 3) return;
    if (autorange) setAutorange(false);
    if (rangeFits(r)) {
        earlySettings.note("range:", r);
        sendRange(r);
        return;
    }
    rangeChanged.emit(channel, range);
    error.emit(channel, 11);
}

void ChannelModel::stepRangeUp(int r) {
    if (r < 0 || r > 3) return;
    for (int next = r + 1; next <= 3; ++next) {
        if (rangeFits(next)) {
            setRange(next);
            return;
        }
    }
    setAutorange(true);
}

void ChannelModel::cycleRange() {
    if (probe.getProbeClass() == 0) return;
    if (autorange) setAutorange(false);
    else stepRangeUp(range);
}

// ---- Card reports ---------------------------------------------------------------

void ChannelModel::onRangeReply(int r) {
    restartSilenceCount();   // a frame from the card
    if (r < 0 || r > 3) return;
    if (r != range) {
        skipHalfSecondAndPublish();
        resetHoldsPending = true;
    }
    range = r;
    markSettingsDirty();
    status::report(status::Condition::RangeChange, channel, false);
    publishRange();
    if (relativeState == 3) {
        loadEditor(relativeOffset);   // the new range's decimals and scale
        relativeStateChanged.emit(channel, relativeState);
    }
    classifier.onRangeReport();
}

void ChannelModel::onModeReply(int m, int f, float rate) {
    restartSilenceCount();   // a frame from the card
    if (m != mode) disableRelative();
    mode = m;
    if (f != freqRange) {
        freqRange = f;
        const double skip = static_cast<double>(rate) * 0.5;
        samplesToSkip = (std::isfinite(skip) && skip >= 1.0 && skip < 1.0e7) ? static_cast<int>(skip) : 0;
    }
    // A rate that is not a positive number is not the card's rate: keep the
    // last good one, so the averaging never divides by it.
    if (std::isfinite(rate) && rate > 0.0f) cardSampleRate = rate;
    updateSamplesPerAverage();
    modeChanged.emit(channel, m, f);
    markSettingsDirty();
    classifier.onModeReport();
    checkZeroValidity();
}

void ChannelModel::onFrequency(float hz) {
    restartSilenceCount();   // a frame from the card
    std::lock_guard<std::mutex> lock(textMutex);
    reportedFreq = hz;
    storeSignalFreq();
}

float ChannelModel::getSignalFreqHz() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return finiteHz(reportedFreq);
}

// The value and the texts that show it change together, under textMutex, and
// so does the time unit (setTimeUnits): a reader never sees a value with the
// other unit's format, and a report racing a change of unit is stored in the
// unit that wins.
void ChannelModel::storeSignalFreq() {
    const float hz = reportedFreq;
    float stored, shown;
    const char* unit;
    const char* format;
    switch (timeUnits.load()) {
    case 0:
        stored = finiteHz(hz);
        if (stored > 1200.0f) {
            unit = "kHz";
            format = "%2.3f";
            shown = stored / 1000.0f;
        } else {
            unit = "Hz";
            format = "%4.1f";
            shown = stored;
        }
        break;
    case 1: {
        // No signal (0 Hz or less, or not a number) shows as a period of 0,
        // never as an infinite or negative one.
        const double period = (std::isfinite(hz) && hz > 0.0f) ? 1.0 / hz : 0.0;
        stored = (period < 3.0e38) ? static_cast<float>(period) : 0.0f;
        if (stored < 0.001f) {
            unit = "usec";
            format = "%4.1f";
            shown = stored * 1000000.0f;
        } else {
            unit = "msec";
            format = "%3.2f";
            shown = stored * 1000.0f;
        }
        break;
    }
    default:
        return;
    }
    copyText(signalFreqUnitText, sizeof signalFreqUnitText, unit);
    copyText(signalFreqFormat, sizeof signalFreqFormat, format);
    signalFreqShown = shown;
    signalFreq = stored;
}

// ---- Range texts ------------------------------------------------------------------

std::vector<std::string> ChannelModel::getRangeNames() const {
    return rangeSpecTable->getRangeNames(fluxUnits, probe.getProbeClass());
}

std::string ChannelModel::getRangeName(int r) const {
    if (r < 0 || r > 3) return "N/A";
    const RangeSpec* spec = rangeSpecTable->lookup(r, fluxUnits, probe.getProbeClass());
    return spec->isValid() ? spec->getRangeName() : "N/A";
}

std::string ChannelModel::getCurrentRangeName() const { return rangeSpec.load()->getRangeName(); }
std::string ChannelModel::getUnitName() const { return rangeSpec.load()->getUnitName(); }
std::string ChannelModel::getValueFormat() const { return rangeSpec.load()->getValueFormat(); }
std::string ChannelModel::getReportFormat() const { return rangeSpec.load()->getReportFormat(); }
