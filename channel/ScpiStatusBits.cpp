#include "channel/ScpiStatusBits.h"

#include "scpi/ScpiRegister.h"
#include "scpi/ScpiRegisterManager.h"

namespace {
void apply(ScpiRegister& reg, int bit, bool on) {
    if (on) reg.setConditionBit(bit);
    else reg.clearConditionBit(bit);
}
}  // namespace

namespace scpibits {

void setMeasurementBit(int bit, bool on) {
    apply(ScpiRegisterManager::instance()->getMeasurementRegister(), bit, on);
}

void setOperationBit(int bit, bool on) {
    apply(ScpiRegisterManager::instance()->getOperationRegister(), bit, on);
}

void setQuestionableBit(int bit, bool on) {
    apply(ScpiRegisterManager::instance()->getQuestionableRegister(), bit, on);
}

}  // namespace scpibits
