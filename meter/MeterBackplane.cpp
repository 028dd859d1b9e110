// The backplane link: the backplane (node 2), the front-panel controller
// (node 0) and the power supply (node 6), their reports and the commands the
// meter model sends them.
#include "meter/MeterModel.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "channel/ClassifierController.h"
#include "console/Console.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {
constexpr int kHostFilterId = 0x020;   // destination node 1, any source
constexpr int kHostFilterMask = 0x0E0;
constexpr std::chrono::milliseconds kEepromPause{500};
constexpr int kEepromDoneOption = 10;
// A status answer comes within milliseconds; a temperature report later than
// this after the last status request was sent unasked.
constexpr std::chrono::milliseconds kStatusAnswerWindow{1000};

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool isLevel(int level) { return level >= 1 && level <= 8; }

std::string versionText(int major, int minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}
}  // namespace

void MeterModel::startBackplane() {
    auto link = std::make_shared<CANinterface>(canInterfaceName.c_str());
    link->setFilter(kHostFilterId, kHostFilterMask);
    link->signalBackplaneTemperature().connect(sigc::mem_fun(*this, &MeterModel::onBackplaneTemperature));
    link->signalBackplaneCalParameter().connect(sigc::mem_fun(*this, &MeterModel::onBackplaneCalParameter));
    link->signalBackplaneBoardInfo().connect(sigc::mem_fun(*this, &MeterModel::onBackplaneBoardInfo));
    link->signalFrontPanelVersion().connect(sigc::mem_fun(*this, &MeterModel::onFrontPanelVersion));
    link->signalPowerOnMode().connect(sigc::mem_fun(*this, &MeterModel::onPowerOnMode));
    link->signalPsuVersion().connect(sigc::mem_fun(*this, &MeterModel::onPsuVersion));
    link->startReader();
    std::shared_ptr<CANinterface> old;
    {
        std::lock_guard<std::mutex> lock(linkMutex);
        old.swap(backplaneLink);
        backplaneLink = link;
    }
    if (old) old->stopReader();
    old.reset();

    startChannelLinksAndDecide(true);
    if (auto bp = backplane()) askBackplaneStatus(*bp);
}

void MeterModel::askBackplaneStatus(CANinterface& bp) {
    statusRequestOpen = true;
    {
        std::lock_guard<std::mutex> lock(statusAskMutex);
        statusAskedNs = nowNs();
        ++statusAnswersDue;
    }
    bp.sendTemperatureRequest();
}

bool MeterModel::takeStatusAnswer() {
    std::lock_guard<std::mutex> lock(statusAskMutex);
    const bool recent =
        statusAnswersDue > 0 && std::chrono::nanoseconds(nowNs() - statusAskedNs) <= kStatusAnswerWindow;
    if (!recent) {
        statusAnswersDue = 0;
        return false;
    }
    --statusAnswersDue;
    return true;
}

// ---- Reports (backplane link's reader thread)

void MeterModel::onBackplaneTemperature(float celsius) {
    // The temperature ends the answer to a status request; one that no
    // recent request explains was sent by a backplane that has just started.
    const bool answer = takeStatusAnswer();
    const int before = backplaneState;
    onBackplaneReport();
    backplaneTemperature = celsius;
    for (auto& ch : channels) ch->setBackplaneTemperature(celsius);
    // A missing backplane that reports is handled by onBackplaneReport; one
    // heard before the settings were read gets them from the start-up step.
    const bool restarted = !answer && before != kBackplaneMissing &&
                           (before == kBackplanePresent || settingsLoaded);
    if (restarted) {
        console::say("Backplane restarted");
        resendBackplaneState();
    }
}

void MeterModel::onBackplaneCalParameter(int index, float value) {
    onBackplaneReport();
    if (index < 0 || index >= kBackplaneCalCount) return;
    backplaneCal[index] = value;
}

void MeterModel::onBackplaneBoardInfo(int slot, const char* chars) {
    onBackplaneReport();
    char* texts[4] = {backplaneModel, backplaneRevision, backplaneSerial, backplaneCalDate};
    bool demo = false;
    {
        std::lock_guard<std::mutex> lock(textMutex);
        if (boardTextHalves.accept(slot, chars, texts) && slot == 1)
            demo = std::memcmp(backplaneModel, "DEMO\0", 5) == 0;
    }
    if (demo) enterDemoMode();
}

void MeterModel::enterDemoMode() {
    demoMode = true;
    for (auto& ch : channels) ch->setDemoMode(true);
}

void MeterModel::onFrontPanelVersion(int major, int minor) {
    std::lock_guard<std::mutex> lock(textMutex);
    frontPanelVersion = versionText(major, minor);
}

void MeterModel::onPsuVersion(int major, int minor) {
    std::lock_guard<std::mutex> lock(textMutex);
    psuVersion = versionText(major, minor);
}

void MeterModel::onPowerOnMode(int flag) {
    powerOnMode = flag != 0 ? 1 : 0;
    powerOnModeReceived.emit();
}

void MeterModel::onStatusTimer() {
    auto bp = backplane();
    if (!bp) return;
    // The last request went unanswered for a whole period: the backplane is
    // missing, and is asked more often until it answers.
    if (statusRequestOpen.exchange(true)) {
        int present = kBackplanePresent;
        if (backplaneState.compare_exchange_strong(present, kBackplaneMissing)) {
            console::say("Backplane silent");
            statusTimer.setPeriod(kMissingPollMs);
        }
    }
    askBackplaneStatus(*bp);
    if (backplaneState == kBackplaneMissing) return;
    if (getFrontPanelFirmwareVersion() == "unknown") bp->sendFrontPanelVersionRequest();
    if (getPsuFirmwareVersion() == "unknown") bp->sendPsuVersionRequest();
}

void MeterModel::onBackplaneReport() {
    statusRequestOpen = false;
    if (backplaneState.exchange(kBackplanePresent) == kBackplaneMissing) onBackplaneBack();
}

// The backplane answers again (it restarted, or the link was down while the
// channel processors were loaded): what it reports is asked for, what it
// keeps is sent again.
void MeterModel::onBackplaneBack() {
    console::say("Backplane back");
    statusTimer.setPeriod(kStatusPeriodMs);
    auto bp = backplane();
    if (!bp) return;
    askBackplaneStatus(*bp);
    resendBackplaneState();
}

// What the backplane and the front panel keep and lose when they restart.
void MeterModel::resendBackplaneState() {
    auto bp = backplane();
    if (!bp) return;
    const int lcd = lcdLevel, button = buttonLevel;
    if (isLevel(lcd)) bp->sendLcdBacklightLevel(lcd);
    if (isLevel(button)) bp->sendButtonBacklightLevel(button);
    resendOutputs();
    for (auto& ch : channels) ch->getClassifierController().resendLines();
    backplaneReturned.emit();
}

// ---- Texts

std::string MeterModel::getBackplaneModel() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return backplaneModel;
}

std::string MeterModel::getBackplaneRev() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return backplaneRevision;
}

std::string MeterModel::getBackplaneSerial() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return backplaneSerial;
}

std::string MeterModel::getBackplaneCalDate() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return backplaneCalDate;
}

std::string MeterModel::getFrontPanelFirmwareVersion() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return frontPanelVersion;
}

std::string MeterModel::getPsuFirmwareVersion() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return psuVersion;
}

float MeterModel::getBackplaneCalParameter(int index) const {
    if (index < 0 || index >= kBackplaneCalCount) return 0.0f;
    return backplaneCal[index];
}

// ---- Commands

void MeterModel::setLcdLevel(int level) {
    if (!isLevel(level)) return;
    earlySettings.note("lcdlevel:", level);
    lcdLevel = level;
    markSettingsDirty();
    if (auto bp = backplane()) bp->sendLcdBacklightLevel(level);
}

void MeterModel::setButtonLevel(int level) {
    if (!isLevel(level)) return;
    earlySettings.note("buttonlevel:", level);
    buttonLevel = level;
    markSettingsDirty();
    if (auto bp = backplane()) bp->sendButtonBacklightLevel(level);
}

void MeterModel::setPowerOnMode(int mode) {
    if (auto bp = backplane()) bp->sendSetPowerOnMode(mode);
}

void MeterModel::sendHostReady() {
    if (auto bp = backplane()) bp->sendHostReady();
}

void MeterModel::afterBackplaneEeprom() {
    std::this_thread::sleep_for(kEepromPause);
    for (auto& ch : channels) ch->setDiagOption(kEepromDoneOption, 0, 0, 0);
}

void MeterModel::loadBackplaneEeprom() {
    if (auto bp = backplane()) bp->sendBackplaneEepromLoad();
    afterBackplaneEeprom();
}

void MeterModel::writeBackplaneEeprom() {
    if (auto bp = backplane()) bp->sendBackplaneEepromWrite();
    afterBackplaneEeprom();
}

void MeterModel::restoreBackplaneRecalDefaults() {
    if (auto bp = backplane()) bp->sendBackplaneRecalDefaults();
}

void MeterModel::restoreBackplaneFactoryDefaults() {
    if (auto bp = backplane()) bp->sendBackplaneFactoryDefaults();
}

void MeterModel::setBackplaneCalParameter(int index, float value) {
    if (auto bp = backplane()) bp->sendSetBackplaneCalParameter(index, value);
}

void MeterModel::setSineWaveDacOutput(int value) {
    value = std::max(-32767, std::min(32767, value));
    if (auto bp = backplane()) bp->sendSetSineWaveDacOutput(value);
}

void MeterModel::setSineWaveDacMode(int mode) {
    if (mode != 0 && mode != 1) return;
    if (auto bp = backplane()) bp->sendSetSineWaveDacMode(static_cast<unsigned>(mode));
}

void MeterModel::sendBoardText(int firstSlot, const char* text) {
    char buffer[15] = {};
    if (text) std::strncpy(buffer, text, 14);
    auto bp = backplane();
    if (!bp) return;
    bp->sendSetBackplaneBoardInfo(firstSlot, buffer, 7);
    bp->sendSetBackplaneBoardInfo(firstSlot + 1, buffer + 7, 7);
}

void MeterModel::setBackplaneModel(const char* text) { sendBoardText(0, text); }
void MeterModel::setBackplaneRev(const char* text) { sendBoardText(2, text); }
void MeterModel::setBackplaneSerial(const char* text) { sendBoardText(4, text); }
void MeterModel::setBackplaneCalDate(const char* text) { sendBoardText(6, text); }
