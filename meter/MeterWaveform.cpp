// Waveform acquisition over the three channels: one trigger channel, the
// other ready AC channels capturing along with it.  A start runs in two
// phases, each counted off by the cards' capture-state reports: first every
// card is stopped (card trigger mode 0), then the roles go out (mode 2 to
// the followers, mode 1 to the trigger channel) and the trigger channel is
// armed.  A capture is complete when every taking-part channel's record has
// arrived.
#include "meter/MeterModel.h"

#include "channel/ChannelModel.h"
#include "ranges/TimebaseSpec.h"
#include "status/StatusConditions.h"

#include <algorithm>

namespace {

constexpr std::size_t kTriggerHistory = 32;
constexpr int kMinPeriodMs = 60;
constexpr int kMaxPeriodMs = 950;
constexpr double kTargetLoad = 60.0;
constexpr int kRefreshPeriodByFollowers[3] = {60, 140, 180};

// Card trigger modes.
constexpr int kCardStop = 0;
constexpr int kCardTrigger = 1;
constexpr int kCardFollow = 2;

// How wide a frequency range is, for the common range of the waveform mode:
// 3 below 2 below 1 below 0, and 4 and 5 above them all (the first of those
// two met stays).
int width(int freqRange) {
    static const int kWidth[6] = {3, 2, 1, 0, 4, 4};
    return freqRange >= 0 && freqRange < 6 ? kWidth[freqRange] : -1;
}

}  // namespace

bool MeterModel::isReadyAc(unsigned slot) const {
    ChannelModel* ch = getChannel(slot);
    return ch && ch->getChannelStatus() == kChannelProbeReady && ch->getMode() == 1;
}

ChannelModel* MeterModel::getTriggerChannelModel() const {
    return getChannel(static_cast<unsigned>(triggerChannel.load()));
}

const TimebaseSpec* MeterModel::getTriggerChannelTimebaseSpec() const {
    ChannelModel* ch = getTriggerChannelModel();
    return ch ? ch->getTimebaseSpec() : nullptr;
}

// ---- Waveform mode

int MeterModel::commonFreqRange(const bool ready[3], const int freqRange[3]) {
    int choice = 3;
    bool anyReady = false;
    for (int i = 0; i < 3; ++i) {
        if (!ready[i]) continue;
        int b = freqRange[i];
        if (!anyReady || width(b) > width(choice)) {
            if (width(b) >= 0) choice = b;
        }
        anyReady = true;
    }
    return anyReady ? choice : 1;
}

void MeterModel::enterWaveformMode() {
    bool ready[3];
    int freqRange[3];
    for (unsigned i = 0; i < kSlotCount; ++i) {
        ready[i] = channels[i]->getChannelStatus() == kChannelProbeReady;
        freqRange[i] = channels[i]->getFreqRange();
    }
    int choice = commonFreqRange(ready, freqRange);
    for (auto& ch : channels) ch->setFreqRange(choice);
    waveformMode = true;
    checkTriggerChannel();
}

void MeterModel::checkTriggerChannel() {
    if (!waveformMode) return;
    if (isReadyAc(static_cast<unsigned>(triggerChannel.load()))) return;
    for (unsigned slot = 1; slot <= kSlotCount; ++slot) {
        if (isReadyAc(slot)) {
            setTriggerChannel(static_cast<int>(slot));
            return;
        }
    }
}

// ---- Settings

void MeterModel::setTimebase(int index) {
    if (index < 0 || index > 5) return;
    earlySettings.note("timebase:", index);
    timebaseIndex = index;
    for (auto& ch : channels) ch->setTimebase(index);
    timebaseChanged.emit(index);
    markSettingsDirty();
}

void MeterModel::setTriggerMode(int mode) {
    if (mode < 0 || mode > 3) return;
    earlySettings.note("triggermode2:", mode);
    triggerMode = mode;
    for (auto& ch : channels) ch->setTriggerMode(mode);
    triggerModeChanged.emit(mode);
    markSettingsDirty();
}

void MeterModel::setTriggerSlope(int slope) {
    if (slope < 0 || slope > 1) return;
    earlySettings.note("triggerslope:", slope);
    triggerSlope = slope;
    for (auto& ch : channels) ch->setTriggerSlope(slope);
    triggerSlopeChanged.emit(slope);
    markSettingsDirty();
}

void MeterModel::setTriggerChannel(int slot) {
    if (slot < 1 || slot > static_cast<int>(kSlotCount)) return;
    earlySettings.note("triggerchannel:", slot);
    triggerChannel = slot;
    triggerChannelChanged.emit(slot);
    markSettingsDirty();
}

std::string MeterModel::getTimebaseLabel(int index) const {
    const TimebaseSpec* spec = timebaseTable.lookup(channels[1]->getFreqRange(), index);
    return spec ? spec->getLabel() : "";
}

std::string MeterModel::getTimebasePerDivText() const {
    return getTimebaseLabel(timebaseIndex) + "/div";
}

// ---- Acquisition

void MeterModel::setAcquisitionState(int state) {
    if (acquisitionState.exchange(state) == state) return;
    acquisitionStateChanged.emit(state);
}

void MeterModel::startAcquisition() {
    ChannelModel* trigger = getTriggerChannelModel();
    if (acquisitionState != 0 || !trigger || trigger->getChannelStatus() != kChannelProbeReady) return;
    acksOutstanding = threeChannelModel ? 3 : 1;
    capturePhase = 1;
    for (auto& ch : channels) ch->sendTriggerMode(kCardStop);
}

void MeterModel::onCaptureStateChanged(int, int state) {
    int phase = capturePhase;
    if (phase == 1) {
        if (state != kCardStop) return;
        if (acksOutstanding.fetch_sub(1) == 1) assignTriggerRoles();
    } else if (phase == 2) {
        if (acksOutstanding.fetch_sub(1) == 1) {
            capturePhase = 0;
            armTriggerChannel();
        }
    }
}

void MeterModel::assignTriggerRoles() {
    capturePhase = 2;
    unsigned trigger = static_cast<unsigned>(triggerChannel.load());
    std::vector<unsigned> followers;
    for (unsigned slot = 1; slot <= kSlotCount; ++slot)
        if (slot != trigger && isReadyAc(slot)) followers.push_back(slot);
    acksOutstanding = static_cast<int>(followers.size()) + 1;
    ChannelModel* triggerModel = getChannel(trigger);
    if (!triggerModel) return;
    triggerModel->setWaveformTimerPeriod(kRefreshPeriodByFollowers[std::min<std::size_t>(followers.size(), 2)]);
    for (unsigned slot : followers) getChannel(slot)->sendTriggerMode(kCardFollow);
    triggerModel->sendTriggerMode(kCardTrigger);
}

// The state is "waiting" before the request goes out: the card's record may
// come back (and a single capture end the acquisition) before armCapture
// returns.
void MeterModel::armTriggerChannel() {
    ChannelModel* trigger = getTriggerChannelModel();
    if (!trigger) return;
    setAcquisitionState(1);
    trigger->armCapture();
    if (triggerMode == 3) return;
    {
        std::lock_guard<std::mutex> lock(triggerMutex);
        triggerCount = 0;
        triggerHistory.clear();
    }
    if (!triggerRateTimer.isActive()) triggerRateTimer.start();
}

void MeterModel::onCaptureArmed(int) {
    unsigned trigger = static_cast<unsigned>(triggerChannel.load());
    std::vector<unsigned> following;
    for (unsigned slot = 1; slot <= kSlotCount; ++slot)
        if (slot != trigger && channels[slot - 1]->getCaptureState() == kCardFollow) following.push_back(slot);
    recordsOutstanding = 1 + static_cast<int>(following.size());
    for (unsigned slot : following) channels[slot - 1]->armCapture();
}

int MeterModel::pacedPeriod(int periodMs, double load) {
    int step = static_cast<int>((kTargetLoad - load) * 1.5);
    return std::max(kMinPeriodMs, std::min(kMaxPeriodMs, periodMs - step));
}

void MeterModel::onWaveformReady(int slot) {
    if (slot == triggerChannel) {
        if (triggerMode == 3) {
            setAcquisitionState(0);
        } else {
            if (acquisitionState == 1) setAcquisitionState(2);
            std::lock_guard<std::mutex> lock(triggerMutex);
            ++triggerCount;
        }
    }
    if (recordsOutstanding.fetch_sub(1) != 1) return;

    // The capture is complete: every second one tunes the refresh period
    // towards 60 % CPU load.
    if (++completedCaptures % 2 == 0) {
        if (ChannelModel* trigger = getTriggerChannelModel()) {
            int period = trigger->getWaveformTimerPeriod();
            int paced = pacedPeriod(period, cpuMonitor.sample());
            if (paced != period) trigger->setWaveformTimerPeriod(paced);
        }
    }
    waveformReady.emit();
}

void MeterModel::updateTriggerRate() {
    bool waiting = false;
    {
        std::lock_guard<std::mutex> lock(triggerMutex);
        if (acquisitionState == 2 && triggerCount == 0) waiting = true;
        triggerHistory.push_back(static_cast<float>(triggerCount));
        triggerCount = 0;
        while (triggerHistory.size() > kTriggerHistory) triggerHistory.pop_front();
        float sum = 0.0f;
        for (float count : triggerHistory) sum += count;
        triggerRate = sum * 1000.0f / static_cast<float>(triggerHistory.size()) / 250.0f;
    }
    if (waiting) setAcquisitionState(1);
}

void MeterModel::stopAcquisition() {
    triggerRateTimer.stop();
    for (auto& ch : channels) ch->stopCapture();
    setAcquisitionState(0);
    triggerRate = 0.0f;
}

void MeterModel::onTriggerLevelChanged(int slot, bool, float level) {
    if (slot != triggerChannel) return;
    for (unsigned s = 1; s <= kSlotCount; ++s)
        if (static_cast<int>(s) != slot) channels[s - 1]->setTriggerLevel(level);
}

void MeterModel::onChannelModeChanged(int, int, int) {
    checkTriggerChannel();
}

void MeterModel::onChannelStatusChanged(int slot, int probeStatus) {
    updateAnyChannelActive();
    checkTriggerChannel();
    if (slot < 1 || slot > static_cast<int>(kSlotCount)) return;
    status::report(status::Condition::ProbeReady, slot, probeStatus == kChannelProbeReady);
}
