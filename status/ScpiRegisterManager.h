// ScpiRegisterManager: the SCPI status model.  Four registers (standard
// event, measurement, operation, questionable), the 8-bit status byte and the
// service-request enable.
//
//   status byte bit  value  meaning
//   0                1      measurement register summary
//   2                4      the SCPI error queue is not empty
//   3                8      questionable register summary
//   5                32     standard event register summary
//   6                64     master summary: (status byte AND SRQ enable) != 0
//   7                128    operation register summary
//
// At creation the standard event register is clear-on-read and holds the
// power-on bit 7 (condition and event), and the operation register's event
// word holds bit 0 with its condition 0.
//
// Every change of the status byte is announced with signalStatusByteChanged
// (the whole byte), on the caller's thread: setStatusBit / clearStatusBit and
// the summaries always, setSrqEnable only when the byte changed.
//
// Locking: one re-entrant lock guards the manager and its four registers and
// is held across an update and the signals it causes, so the last status byte
// delivered to a slot is always the current one.  Lock order: the error
// queue's lock before this one, this one before any lock a status-byte slot
// takes (a transport's port lock); a transport must therefore read the status
// byte before it takes its port lock, never while holding it.
#pragma once

#include "runtime/Signal.h"
#include "status/ScpiRegister.h"

#include <sigc++/sigc++.h>

#include <mutex>

class ScpiRegisterManager {
public:
    // The singleton, created on first use; never null, never freed.
    static ScpiRegisterManager* instance();

    // A status model in its power-on state (tests make their own).
    ScpiRegisterManager();
    virtual ~ScpiRegisterManager();
    ScpiRegisterManager(const ScpiRegisterManager&) = delete;
    ScpiRegisterManager& operator=(const ScpiRegisterManager&) = delete;

    ScpiRegister& getStandardEventRegister() { return standardEvent; }
    ScpiRegister& getMeasurementRegister() { return measurement; }
    ScpiRegister& getOperationRegister() { return operation; }
    ScpiRegister& getQuestionableRegister() { return questionable; }

    int getStatusByte() const;
    int getSrqEnable() const;

    // Bit 0-7 of the status byte; then the master summary and the signal.
    void setStatusBit(int bit);
    void clearStatusBit(int bit);
    void setSrqEnable(int value);
    void updateMasterSummary();

    tvl::Signal<int>& signalStatusByteChanged() { return statusByteChanged; }

    // Prints "ScpiRegisterManager::ClearAll()" and clears the four registers'
    // condition and event words; enables, SRQ enable and status bit 2 stay.
    void ClearAll();

    void onStandardEventSummary(bool on);
    void onMeasurementSummary(bool on);
    void onOperationSummary(bool on);
    void onQuestionableSummary(bool on);

private:
    void changeStatusBit(int bit, bool on);

    mutable std::recursive_mutex lock;   // declared first: the registers share it
    ScpiRegister standardEvent;
    ScpiRegister measurement;
    ScpiRegister operation;
    ScpiRegister questionable;
    int statusByte = 0;
    int srqEnable = 0;
    tvl::Signal<int> statusByteChanged;
};
