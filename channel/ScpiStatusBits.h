// The SCPI status condition bits that the channel model and its classifier
// set and clear (measurement, operation and questionable registers).
#pragma once

namespace scpibits {

void setMeasurementBit(int bit, bool on);
void setOperationBit(int bit, bool on);
void setQuestionableBit(int bit, bool on);

}  // namespace scpibits
