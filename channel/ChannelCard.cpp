// ChannelModel: commands to the channel card, the synchronous diagnostic
// queries and the replies that belong to them.  A command changes nothing in
// the model; the card reports the new state and the reply handler stores it.
#include "channel/ChannelModel.h"

#include "can/CANinterface.h"

#include <chrono>
#include <cstring>

namespace {
// DAC numbers of card command 0x09.
constexpr int kCorrectedDac = 0;
constexpr int kUncorrectedDac = 1;
constexpr int kMultiplyingDac = 3;
// Switch numbers of card command 0x15.
constexpr unsigned kSwitchMdacRange = 0;
constexpr unsigned kSwitchUdacInput = 1;
constexpr unsigned kSwitchCdacRange = 2;
constexpr unsigned kSwitchUdacRange = 3;

constexpr std::chrono::seconds kQueryTimeout{1};
}  // namespace

// ---- Measurement set-up ---------------------------------------------------------

// One set-mode frame carries both the mode and the frequency range.  The
// value a command does not change is the one asked for last while the card
// has not had time to report it, else the card's own: so a mode command
// right after a frequency command (or the other way round) does not undo it.
void ChannelModel::requestModeAndFreqRange(int newMode, int newFreqRange) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(modeRequestMutex);
        const bool pending = now < modeRequestDeadline;
        if (newMode < 0) newMode = pending ? requestedMode : mode.load();
        if (newFreqRange < 0) newFreqRange = pending ? requestedFreqRange : freqRange.load();
        requestedMode = newMode;
        requestedFreqRange = newFreqRange;
        modeRequestDeadline = now + kModeRequestWindow;
    }
    if (auto l = pausingLink()) l->sendSetMode(channel, newMode, newFreqRange);
}

void ChannelModel::setFreqRange(int frequencyRange) {
    earlySettings.note("freqrange:", frequencyRange);
    if (autoFreq) setAutoFreq(false);
    skipHalfSecond();
    requestModeAndFreqRange(-1, frequencyRange);
}

void ChannelModel::setMode(int newMode) {
    earlySettings.note("mode:", newMode);
    skipQuarterSecond();
    requestModeAndFreqRange(newMode, -1);
}

void ChannelModel::toggleMode() {
    const int m = mode;
    if (m == 0) setMode(1);
    else if (m == 1) setMode(0);
}

void ChannelModel::setAutorange(bool on) {
    earlySettings.note("autorange:", on);
    autorange = on;
    publishRange();
    if (!on) sendRange(range);
    markSettingsDirty();
}

void ChannelModel::sendGains() {
    const int probeClass = probe.getProbeClass();
    const RangeSpec* spec = rangeSpecTable->lookup(range, fluxUnits, probeClass);
    rangeSpec = spec;
    displayScale = spec->getDisplayScale();
    const float gain = probeClass == 0 ? 3.0f : spec->getFullScale();
    if (auto l = link()) {
        l->sendSetGain(channel, 0, gain);
        l->sendSetGain(channel, 1, gain);
    }
    if (diagMode > 0) displayScale = 1.0f;
}

void ChannelModel::sendTriggerMode(int triggerModeValue) {
    if (auto l = link()) l->sendTriggerMode(channel, triggerModeValue);
}

void ChannelModel::requestAllData() {
    if (auto l = pausingLink()) l->sendSendAllRequest(channel);
}

// ---- Calibration and card memory ----------------------------------------------

void ChannelModel::createNewCalTables(int a, int b, int c) {
    if (auto l = pausingLink()) l->sendCalCreateNewTables(channel, a, b, c);
}

void ChannelModel::setCalParameter(int index, float v) {
    if (auto l = pausingLink()) l->sendCalSetParameter(channel, index, v);
}

float ChannelModel::getCalParameter(int index) const {
    return calParameters.get(index);
}

void ChannelModel::loadCardEeprom() {
    if (auto l = pausingLink()) l->sendCalLoadFromEeprom(channel);
}

void ChannelModel::writeCardEeprom() {
    if (auto l = pausingLink()) l->sendCalSaveToEeprom(channel);
}

void ChannelModel::restoreCardFactoryDefaults() {
    if (auto l = pausingLink()) l->sendCalFactoryDefaults(channel);
}

void ChannelModel::restoreCardRecalDefaults() {
    if (auto l = pausingLink()) l->sendCalRecalDefaults(channel);
}

void ChannelModel::sendBoardText(int firstSlot, const char* text) {
    char buffer[15] = {};
    if (text) std::strncpy(buffer, text, 14);
    if (auto l = link()) {
        l->sendSetBoardInfo(channel, firstSlot, buffer, 7);
        l->sendSetBoardInfo(channel, firstSlot + 1, buffer + 7, 7);
    }
}

void ChannelModel::setBoardModel(const char* text) { sendBoardText(0, text); }
void ChannelModel::setBoardRev(const char* text) { sendBoardText(2, text); }
void ChannelModel::setBoardSerial(const char* text) { sendBoardText(4, text); }
void ChannelModel::setBoardCalDate(const char* text) { sendBoardText(6, text); }

int ChannelModel::startCurrentRecal() {
    const int status = channelStatus;
    if (status != kChannelProbeReady || zeroingState == kZeroing) return status;
    if (auto l = pausingLink()) l->sendCurrentRecal(channel);
    return status;
}

// ---- Analog outputs -------------------------------------------------------------

void ChannelModel::setCdacOutput(int v) {
    if (auto l = link()) l->sendSetDacOutput(channel, kCorrectedDac, v);
}

void ChannelModel::setUdacOutput(int v) {
    if (auto l = link()) l->sendSetDacOutput(channel, kUncorrectedDac, v);
}

void ChannelModel::setMdacOutput(int v) {
    if (auto l = link()) l->sendSetDacOutput(channel, kMultiplyingDac, v);
}

void ChannelModel::setMdacMode(int m) {
    if (auto l = link()) {
        if (m == 0 || m == 1) l->sendSetDacMode(channel, kMultiplyingDac, m);
        else if (m == 3) l->sendSetDacOutput(channel, kMultiplyingDac, 0);
    }
    mdacMode = m;
    markSettingsDirty();
}

// ---- Diagnostics ------------------------------------------------------------------

void ChannelModel::setDadcMode(int m) {
    if (auto l = pausingLink()) l->sendSetDadcMode(channel, m);
}
void ChannelModel::setMuxDadcInput(int input) {
    if (auto l = link()) l->sendSetMuxDadcInput(channel, static_cast<unsigned>(input));
}
void ChannelModel::setMuxHallCurrent(int v) {
    if (auto l = link()) l->sendSetMuxHallCurrent(channel, static_cast<unsigned>(v));
}
void ChannelModel::setMuxControlCurrentMode(int v) {
    if (auto l = link()) l->sendSetMuxControlCurrentMode(channel, static_cast<unsigned>(v));
}
void ChannelModel::setMuxDcrefValue(int v) {
    if (auto l = link()) l->sendSetMuxDcrefValue(channel, static_cast<unsigned>(v));
}
void ChannelModel::setMuxMadcInput(int input) {
    if (auto l = link()) l->sendSetMuxMadcInput(channel, static_cast<unsigned>(input));
}
void ChannelModel::setMuxHpfValue(int v) {
    if (auto l = link()) l->sendSetMuxHpfValue(channel, static_cast<unsigned>(v));
}
void ChannelModel::setMuxTampInput(int input) {
    if (auto l = link()) l->sendSetMuxTampInput(channel, static_cast<unsigned>(input));
}
void ChannelModel::setMuxSampInput(int input) {
    if (auto l = link()) l->sendSetMuxSampInput(channel, static_cast<unsigned>(input));
}
void ChannelModel::setMuxFampInput(int input) {
    if (auto l = link()) l->sendSetMuxFampInput(channel, static_cast<unsigned>(input));
}
void ChannelModel::setMuxMdacRange(int v) {
    if (auto l = link()) l->sendSetOutputSwitch(channel, kSwitchMdacRange, static_cast<unsigned>(v));
}
void ChannelModel::setMuxUdacInput(int v) {
    if (auto l = link()) l->sendSetOutputSwitch(channel, kSwitchUdacInput, static_cast<unsigned>(v));
}
void ChannelModel::setMuxCdacRange(int v) {
    if (auto l = link()) l->sendSetOutputSwitch(channel, kSwitchCdacRange, static_cast<unsigned>(v));
}
void ChannelModel::setMuxUdacRange(int v) {
    if (auto l = link()) l->sendSetOutputSwitch(channel, kSwitchUdacRange, static_cast<unsigned>(v));
}
void ChannelModel::setDiagOption(int option, int a, int b, int c) {
    if (auto l = pausingLink()) l->sendDiagOption(channel, option, a, b, c);
}
void ChannelModel::setClassifierLine0(int level) { classifier.setLine0(level); }
void ChannelModel::setClassifierLine1(int level) { classifier.setLine1(level); }

// ---- Synchronous queries ----------------------------------------------------------

float ChannelModel::runQuery(bool volts) {
    // One query at a time per channel: replies carry no tag, so a second
    // caller could otherwise take the first one's answer.
    std::lock_guard<std::mutex> serial(queryMutex);
    auto l = link();
    if (!l) return kQueryTimeoutResult;
    {
        std::lock_guard<std::mutex> lock(replyMutex);
        replyWanted = true;
        replyArrived = false;
    }
    if (volts) l->sendReadDadcVolts(channel);
    else l->sendReadDadcCounts(channel);

    // The deadline is on the monotonic clock: setting the instrument's clock
    // must neither cut the wait short nor stretch it.
    const auto deadline = std::chrono::steady_clock::now() + kQueryTimeout;
    std::unique_lock<std::mutex> lock(replyMutex);
    const bool answered = replyCondition.wait_until(lock, deadline, [this] { return replyArrived; });
    replyWanted = false;
    replyArrived = false;
    return answered ? replyValue : kQueryTimeoutResult;
}

float ChannelModel::getDadcReadingVolts() { return runQuery(true); }
float ChannelModel::getDadcReadingCounts() { return runQuery(false); }

void ChannelModel::onQueryReply(float v) {
    restartSilenceCount();   // a frame from the card
    std::lock_guard<std::mutex> lock(replyMutex);
    // A reply nobody waits for (its query gave up) is dropped, so that the
    // next query never returns a stale value.
    if (!replyWanted || replyArrived) return;
    replyValue = v;
    replyArrived = true;
    replyCondition.notify_all();
}

// ---- Replies --------------------------------------------------------------------

void ChannelModel::onBoardInfo(int slot, const char* text) {
    restartSilenceCount();   // a frame from the card
    char* targets[4] = {boardModel, boardRevision, boardSerial, boardCalDate};
    std::lock_guard<std::mutex> lock(textMutex);
    boardTextHalves.accept(slot, text, targets);
}

void ChannelModel::onDiagModeReply(int decimals, const char* unit) {
    restartSilenceCount();   // a frame from the card
    {
        std::lock_guard<std::mutex> lock(textMutex);
        std::memset(diagUnitText, 0, sizeof diagUnitText);
        if (unit) std::memcpy(diagUnitText, unit, strnlen(unit, 6));
    }
    diagDecimals = decimals;
    sendGains();
}

// ---- Values derived from the current range ------------------------------------

float ChannelModel::getValueInUnits() const {
    return static_cast<float>(value * rangeSpec.load()->getUnitScale());
}

float ChannelModel::getDisplayResolution() const {
    return rangeSpec.load()->getResolution() * displayScale;
}
