#include "meter/MeterModel.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "channel/ErrorHandler.h"
#include "platform/Platform.h"
#include "runtime/FirmwareUpdateModel.h"
#include "runtime/Logger.h"
#include "runtime/NetworkConfiguration.h"
#include "runtime/SaveStatus.h"
#include "status/ScpiErrorQueue.h"
#include "status/StatusConditions.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace {
std::mutex instanceMutex;
MeterModel* theInstance = nullptr;
constexpr std::chrono::milliseconds kModelDecisionDelay{1500};

// Files of the program that cannot be written go into the SCPI error queue
// (made on first use, so a report never depends on who made it first).
void reportStorageErrorsToScpi() {
    SaveStatus::setSink([](const std::string& detail) {
        ScpiErrorQueue::instance()->pushError(ScpiErrorQueue::kMassStorageErrorCode, detail);
    });
}
}  // namespace

MeterModel* MeterModel::instance() {
    return instance("can0");
}

MeterModel* MeterModel::instance(const char* name) {
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (!theInstance) {
        theInstance = new MeterModel(name ? name : "can0");
        theInstance->installDataLogSource();
        reportStorageErrorsToScpi();
    }
    return theInstance;
}

MeterModel* MeterModel::existingInstance() {
    std::lock_guard<std::mutex> lock(instanceMutex);
    return theInstance;
}

MeterModel::MeterModel(const char* name)
    : canInterfaceName(name ? std::string(name).substr(0, 19) : "can0"),
      angleUnitText(kDegreeText),
      angleFormat(kDegreeFormat),
      settingsPath(platform::dataFile("bp")) {
    for (auto& value : backplaneCal) value = 0.0f;
    backplaneCal[0] = 38.0f;
    // Left by a program killed while it wrote them: before anything is written.
    platform::removeStaleTempFiles(settingsPath);
    for (unsigned slot = 1; slot <= kSlotCount; ++slot)
        platform::removeStaleTempFiles(platform::dataFile("ch" + std::to_string(slot)));

    for (unsigned slot = 1; slot <= kSlotCount; ++slot) {
        channels[slot - 1] = std::make_unique<ChannelModel>(static_cast<int>(slot), canInterfaceName.c_str());
        errorHandlers[slot - 1] = std::make_unique<ErrorHandler>(channels[slot - 1].get());
    }
    vectorSumRange = channels[0]->getRangeSpec();

    using Reading = void (MeterModel::*)(int, float, float, float, float, float, int);
    const Reading readingHandlers[kSlotCount] = {&MeterModel::onSlot1Reading, &MeterModel::onSlot2Reading,
                                                 &MeterModel::onSlot3Reading};
    for (unsigned i = 0; i < kSlotCount; ++i)
        channels[i]->signalNewReading().connect(sigc::mem_fun(*this, readingHandlers[i]));
    for (auto& ch : channels) ch->signalCaptureStateChanged().connect(sigc::mem_fun(*this, &MeterModel::onCaptureStateChanged));
    for (auto& ch : channels) ch->signalTriggerLevelChanged().connect(sigc::mem_fun(*this, &MeterModel::onTriggerLevelChanged));
    for (auto& ch : channels) ch->signalWaveformReady().connect(sigc::mem_fun(*this, &MeterModel::onWaveformReady));
    for (auto& ch : channels) ch->signalZeroingStateChanged().connect(sigc::mem_fun(*this, &MeterModel::onZeroingStateChanged));
    for (auto& ch : channels) ch->signalCaptureArmed().connect(sigc::mem_fun(*this, &MeterModel::onCaptureArmed));
    for (auto& ch : channels) ch->signalModeChanged().connect(sigc::mem_fun(*this, &MeterModel::onChannelModeChanged));
    for (auto& ch : channels) ch->signalChannelStatusChanged().connect(sigc::mem_fun(*this, &MeterModel::onChannelStatusChanged));

    statusTimer.signalTimeout().connect(sigc::mem_fun(*this, &MeterModel::onStatusTimer));
    saveTimer.signalTimeout().connect(sigc::mem_fun(*this, &MeterModel::onSaveTimer));
    triggerRateTimer.signalTimeout().connect(sigc::mem_fun(*this, &MeterModel::updateTriggerRate));

    networkConfiguration = new NetworkConfiguration();
    firmwareUpdateModel = new FirmwareUpdateModel();
}

MeterModel::~MeterModel() {
    // Only test models are ever destroyed: stop every thread that could call
    // in before the members go.
    statusTimer.stop();
    saveTimer.stop();
    triggerRateTimer.stop();
    stopCan();
    for (auto& handler : errorHandlers) handler.reset();
    for (auto& ch : channels) ch.reset();
    delete networkConfiguration;
    delete firmwareUpdateModel;
}

ChannelModel* MeterModel::getChannel(unsigned slot) const {
    if (slot < 1 || slot > kSlotCount) return nullptr;
    return channels[slot - 1].get();
}

ErrorHandler* MeterModel::getErrorHandler(unsigned slot) const {
    if (slot < 1 || slot > kSlotCount) return nullptr;
    return errorHandlers[slot - 1].get();
}

void MeterModel::startChannelLinks() {
    startChannelLinksAndDecide(false);
}

void MeterModel::startChannelLinksAndDecide(bool withStatusTimer) {
    for (auto& channel : channels) channel->startCan();
    if (withStatusTimer) statusTimer.start();
    std::this_thread::sleep_for(kModelDecisionDelay);
    bool all = true;
    for (auto& channel : channels) all = all && channel->isCardPresent();
    threeChannelModel = all;
}

void MeterModel::stopCan() {
    statusTimer.stop();
    // Whatever the backplane keeps may be lost by the time the link is up
    // again: its first answer then counts as its return.
    int present = kBackplanePresent;
    if (backplaneState.compare_exchange_strong(present, kBackplaneMissing)) statusTimer.setPeriod(kMissingPollMs);
    for (auto& channel : channels) channel->stopCan();
    std::shared_ptr<CANinterface> old;
    {
        std::lock_guard<std::mutex> lock(linkMutex);
        old.swap(backplaneLink);
    }
    if (!old) return;
    // The reader ends before the link goes; a sender still holding a copy
    // only delays the deletion.
    old->stopReader();
    old.reset();
}

std::shared_ptr<CANinterface> MeterModel::backplane() const {
    std::lock_guard<std::mutex> lock(linkMutex);
    return backplaneLink;
}

// ---- Busy and any-channel-active bits

void MeterModel::onZeroingStateChanged(int, int) {
    bool now = false;
    for (auto& ch : channels)
        if (ch->getChannelStatus() == kChannelProbeReady && ch->getZeroingState() == kZeroing) now = true;
    // Exchange, so that two readers reporting at once emit one change.
    if (busy.exchange(now) == now) return;
    if (now) stopAcquisition();
    status::report(status::Condition::Busy, now);
    busyChanged.emit(now);
}

void MeterModel::updateAnyChannelActive() {
    bool active = false;
    if (threeChannelModel) {
        for (auto& ch : channels)
            if (ch->getChannelStatus() != kChannelNoProbe) active = true;
    } else {
        active = channels[1]->getChannelStatus() != kChannelNoProbe;
    }
    if (anyChannelActive.exchange(active) == active) return;
    status::report(status::Condition::NoChannelActive, !active);
}

// ---- Data logging

void MeterModel::installDataLogSource() {
    FileIoManager* files = FileIoManager::instance();
    files->setDataLogSource(&dataLogBridge);
    files->signalLogFailed().connect(sigc::mem_fun(*this, &MeterModel::onDataLogFailed));
}

void MeterModel::onDataLogFailed(int destination, std::string logName, std::string reason) {
    Logger::instance()->log(1, "MeterModel", "Data log " + logName + " stopped after " +
                                                 std::to_string(getDataLogRowCount()) + " rows: " + reason);
    const std::string::size_type slash = logName.rfind('/');
    const std::string file = slash == std::string::npos ? logName : logName.substr(slash + 1);
    ScpiErrorQueue::instance()->pushError(ScpiErrorQueue::kMassStorageErrorCode,
                                          "data log " + file + " stopped: " + reason);
    dataLogFailed.emit(destination);
}

bool MeterModel::DataLogBridge::readChannel(unsigned slot, DataLogChannel& out) {
    ChannelModel* ch = meter.getChannel(slot);
    if (!ch) return false;
    out.mode = ch->getMode();
    out.fluxUnits = ch->getFluxUnits();
    out.temperatureUnits = ch->getTemperatureUnits();
    out.timeUnits = ch->getTimeUnits();
    out.valueInUnits = ch->getValueInUnits();
    out.reportFormat = ch->getReportFormat();
    out.signalFreq = ch->getSignalFreq();
    out.temperature = ch->getTemperature();
    out.temperatureValid = ch->isTemperatureValid();
    return true;
}

void MeterModel::startDataLogging(int destination) {
    FileIoManager* files = FileIoManager::instance();
    if (files->getLoggingState() != FileIoManager::kOff) return;
    if (threeChannelModel) {
        files->startLogging(destination, channels[0]->getChannelStatus(), channels[1]->getChannelStatus(),
                            channels[2]->getChannelStatus());
    } else {
        files->startLoggingSingleChannel(destination, channels[1]->getChannelStatus());
    }
}

std::string MeterModel::stopDataLogging() {
    return FileIoManager::instance()->stopLogging();
}

void MeterModel::cancelDataLogging() {
    FileIoManager::instance()->discardLog();
}

int MeterModel::getDataLogRowCount() const {
    return FileIoManager::instance()->getRowCount();
}

std::string MeterModel::getDataLogError() const {
    return FileIoManager::instance()->getLogFailure();
}

void MeterModel::writeDataLogRow() {
    FileIoManager* files = FileIoManager::instance();
    if (files->getLoggingState() != FileIoManager::kOff) files->writeRow();
}
