#include "status/StatusConditions.h"

#include "status/ScpiRegister.h"
#include "status/ScpiRegisterManager.h"

namespace status {

namespace {

enum class Register { Measurement, Operation, Questionable };

// One row: where a condition shows.  A meter-wide condition has the same
// bit for every channel.
struct ConditionBit {
    Condition condition;
    Register reg;
    int bitByChannel[3];
};

constexpr ConditionBit kTable[] = {
    {Condition::OverRange, Register::Measurement, {0, 10, 13}},
    {Condition::ClassifierLow, Register::Measurement, {1, 11, 14}},
    {Condition::ClassifierHigh, Register::Measurement, {2, 12, 15}},
    {Condition::ProbeReady, Register::Measurement, {3, 4, 5}},
    {Condition::ProbeReady, Register::Operation, {4, 5, 6}},
    {Condition::RangeChange, Register::Operation, {1, 2, 3}},
    {Condition::ProbeFault, Register::Questionable, {8, 9, 10}},
    {Condition::Busy, Register::Operation, {9, 9, 9}},
    {Condition::NoChannelActive, Register::Operation, {10, 10, 10}},
};

ScpiRegister& registerOf(Register reg) {
    ScpiRegisterManager* manager = ScpiRegisterManager::instance();
    switch (reg) {
    case Register::Measurement: return manager->getMeasurementRegister();
    case Register::Operation: return manager->getOperationRegister();
    case Register::Questionable: break;
    }
    return manager->getQuestionableRegister();
}

}  // namespace

void report(Condition condition, int channel, bool on) {
    if (channel < 1 || channel > 3) return;
    for (const ConditionBit& row : kTable) {
        if (row.condition != condition) continue;
        ScpiRegister& reg = registerOf(row.reg);
        const int bit = row.bitByChannel[channel - 1];
        if (on) reg.setConditionBit(bit);
        else reg.clearConditionBit(bit);
    }
}

void report(Condition condition, bool on) { report(condition, 1, on); }

}  // namespace status
