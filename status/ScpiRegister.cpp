#include "status/ScpiRegister.h"

namespace {
bool validBit(int bit) { return bit >= 0 && bit < 32; }
}  // namespace

using Lock = std::lock_guard<std::recursive_mutex>;

ScpiRegister::ScpiRegister() = default;
ScpiRegister::~ScpiRegister() = default;

void ScpiRegister::setConditionBit(int bit) {
    if (!validBit(bit)) return;
    Lock lock(*guard);
    condition |= 1u << bit;
    setEventLocked(condition | event);
}

void ScpiRegister::clearConditionBit(int bit) {
    if (!validBit(bit)) return;
    Lock lock(*guard);
    condition &= ~(1u << bit);
}

void ScpiRegister::setEvent(std::uint32_t value) {
    Lock lock(*guard);
    setEventLocked(value);
}

void ScpiRegister::setEventLocked(std::uint32_t value) {
    const bool changed = ((event ^ value) & enable) != 0;
    event = value;
    if (changed) emitSummary();
}

int ScpiRegister::readEvent() {
    Lock lock(*guard);
    const std::uint32_t old = event;
    if (clearOnRead) condition = 0;
    setEventLocked(condition);
    return static_cast<int>(old);
}

void ScpiRegister::clear() {
    Lock lock(*guard);
    condition = 0;
    setEventLocked(0);
}

void ScpiRegister::clearEvent() {
    Lock lock(*guard);
    setEventLocked(0);
}

int ScpiRegister::getCondition() const {
    Lock lock(*guard);
    return static_cast<int>(condition);
}

int ScpiRegister::getEnable() const {
    Lock lock(*guard);
    return static_cast<int>(enable);
}

int ScpiRegister::getEvent() const {
    Lock lock(*guard);
    return static_cast<int>(event);
}

void ScpiRegister::setEnable(std::uint32_t value) {
    Lock lock(*guard);
    enable = value;
    emitSummary();
}

void ScpiRegister::clearEnable() { setEnable(0); }

void ScpiRegister::setClearOnRead() {
    Lock lock(*guard);
    clearOnRead = true;
}

bool ScpiRegister::isClearOnRead() const {
    Lock lock(*guard);
    return clearOnRead;
}

void ScpiRegister::emitSummary() {
    Lock lock(*guard);
    summary.emit((event & enable) != 0);
}
