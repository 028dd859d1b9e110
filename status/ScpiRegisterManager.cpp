#include "status/ScpiRegisterManager.h"

#include "console/Console.h"

namespace {

constexpr int kMeasurementBit = 0;
constexpr int kQuestionableBit = 3;
constexpr int kStandardEventBit = 5;
constexpr int kMasterSummaryBit = 6;
constexpr int kOperationBit = 7;

constexpr int kPowerOnBit = 7;   // standard event register

}  // namespace

using Lock = std::lock_guard<std::recursive_mutex>;

ScpiRegisterManager* ScpiRegisterManager::instance() {
    static ScpiRegisterManager* const manager = new ScpiRegisterManager;   // never freed
    return manager;
}

ScpiRegisterManager::ScpiRegisterManager() {
    Lock guard(lock);
    for (ScpiRegister* r : {&standardEvent, &measurement, &operation, &questionable}) r->shareLock(lock);
    standardEvent.signalSummary().connect(sigc::mem_fun(*this, &ScpiRegisterManager::onStandardEventSummary));
    standardEvent.setClearOnRead();
    measurement.signalSummary().connect(sigc::mem_fun(*this, &ScpiRegisterManager::onMeasurementSummary));
    operation.signalSummary().connect(sigc::mem_fun(*this, &ScpiRegisterManager::onOperationSummary));
    questionable.signalSummary().connect(sigc::mem_fun(*this, &ScpiRegisterManager::onQuestionableSummary));
    standardEvent.setConditionBit(kPowerOnBit);
    operation.setConditionBit(0);
    operation.clearConditionBit(0);
}

ScpiRegisterManager::~ScpiRegisterManager() = default;

int ScpiRegisterManager::getStatusByte() const {
    Lock guard(lock);
    return statusByte;
}

int ScpiRegisterManager::getSrqEnable() const {
    Lock guard(lock);
    return srqEnable;
}

void ScpiRegisterManager::setStatusBit(int bit) { changeStatusBit(bit, true); }
void ScpiRegisterManager::clearStatusBit(int bit) { changeStatusBit(bit, false); }

void ScpiRegisterManager::changeStatusBit(int bit, bool on) {
    if (bit < 0 || bit > 7) return;
    Lock guard(lock);
    if (on)
        statusByte |= 1 << bit;
    else
        statusByte &= ~(1 << bit);
    updateMasterSummary();
    statusByteChanged.emit(statusByte);
}

void ScpiRegisterManager::setSrqEnable(int value) {
    Lock guard(lock);
    const int before = statusByte;
    srqEnable = value;
    updateMasterSummary();
    if (statusByte != before) statusByteChanged.emit(statusByte);
}

void ScpiRegisterManager::updateMasterSummary() {
    Lock guard(lock);
    if ((statusByte & srqEnable & 0xFF) != 0)
        statusByte |= 1 << kMasterSummaryBit;
    else
        statusByte &= ~(1 << kMasterSummaryBit);
}

void ScpiRegisterManager::ClearAll() {
    console::say("ScpiRegisterManager::ClearAll()");
    Lock guard(lock);
    // The standard event register's condition is a latch of events (it is
    // cleared by reading, too).  The other three hold what is true now
    // (probe ready, zeroing, no channel active ...), set only when it
    // changes: clearing them would report a ready probe as not ready until
    // it changed again.  Their events go, as *CLS asks.
    standardEvent.clear();
    measurement.clearEvent();
    operation.clearEvent();
    questionable.clearEvent();
}

void ScpiRegisterManager::onStandardEventSummary(bool on) { changeStatusBit(kStandardEventBit, on); }
void ScpiRegisterManager::onMeasurementSummary(bool on) { changeStatusBit(kMeasurementBit, on); }
void ScpiRegisterManager::onOperationSummary(bool on) { changeStatusBit(kOperationBit, on); }
void ScpiRegisterManager::onQuestionableSummary(bool on) { changeStatusBit(kQuestionableBit, on); }
