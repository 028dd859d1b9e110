// ScpiRegister: one SCPI status register: a condition word (bit n is 1 while
// condition n holds), an event word that latches every condition bit ever
// set, and an enable word selecting the event bits that count for the
// register's summary, (event AND enable) != 0.
//
//   setConditionBit(3)    condition |= 8; event |= condition
//   clearConditionBit(3)  condition &= ~8; the event keeps bit 3
//   readEvent()           returns the event; afterwards event = condition
//                         (clear-on-read registers: condition = event = 0)
//
// The summary signal is raised when the enabled part of the event word
// changes, and by setEnable / clearEnable always.  Bit numbers 0-31; others
// are ignored.  Words are returned as ints.
//
// Thread-safe.  A register owned by ScpiRegisterManager shares the manager's
// lock, held across an update and the signals it causes, so the status byte
// follows the registers in the order their changes happened.
#pragma once

#include "runtime/Signal.h"
#include <sigc++/sigc++.h>

#include <cstdint>
#include <mutex>

class ScpiRegister {
public:
    ScpiRegister();
    virtual ~ScpiRegister();
    ScpiRegister(const ScpiRegister&) = delete;
    ScpiRegister& operator=(const ScpiRegister&) = delete;

    void setConditionBit(int bit);
    void clearConditionBit(int bit);
    // Stores the event word; raises the summary only when its enabled part changed.
    void setEvent(std::uint32_t value);
    // The event word before the call; see above for what it leaves.
    int readEvent();
    // condition := 0, event := 0; the enable word stays.
    void clear();
    // event := 0; the condition (what holds now) and the enable word stay.
    void clearEvent();

    int getCondition() const;
    int getEnable() const;
    // The event word without reading it (nothing is cleared).
    int getEvent() const;
    void setEnable(std::uint32_t value);
    void clearEnable();
    void setClearOnRead();
    bool isClearOnRead() const;

    tvl::Signal<bool>& signalSummary() { return summary; }
    void emitSummary();

private:
    friend class ScpiRegisterManager;
    // Makes the register use the given lock instead of its own.
    void shareLock(std::recursive_mutex& lock) { guard = &lock; }
    void setEventLocked(std::uint32_t value);

    std::uint32_t condition = 0;
    std::uint32_t event = 0;
    std::uint32_t enable = 0;
    bool clearOnRead = false;
    tvl::Signal<bool> summary;

    std::recursive_mutex ownLock;
    std::recursive_mutex* guard = &ownLock;
};
