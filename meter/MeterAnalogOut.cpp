// The backplane's two analog outputs: the vector-sum output (VDAC, dac 0)
// and the auxiliary output (ADAC, dac 4 in the DAC commands, 1 in the range
// command).  Modes: 0 off, 3 direct DAC value, 4 on; other modes are stored
// and signalled but send nothing.  Full scale in tenths of a volt, 0-100 on
// the bus; larger values are stored and signalled but not sent.
#include "meter/MeterModel.h"

#include "can/CANinterface.h"

namespace {

constexpr int kVectorSumDac = 0;
constexpr int kAuxDac = 4;

// The frame of an output mode: DAC mode 0 or 1, or a DAC value of 0.
void sendOutputMode(CANinterface& bp, int dac, int mode) {
    switch (mode) {
    case 0: bp.sendSetBackplaneDacMode(dac, 0); break;
    case 4: bp.sendSetBackplaneDacMode(dac, 1); break;
    case 3: bp.sendSetBackplaneDacOutput(dac, 0); break;
    default: break;
    }
}

}  // namespace

void MeterModel::setVectorSumOutputMode(int mode) {
    earlySettings.note("vdacmode:", mode);
    if (auto bp = backplane()) sendOutputMode(*bp, kVectorSumDac, mode);
    vectorSumOutputMode = mode;
    markSettingsDirty();
    vectorSumOutputModeChanged.emit(mode);
}

void MeterModel::setAuxOutputMode(int mode) {
    earlySettings.note("adacmode:", mode);
    if (auto bp = backplane()) sendOutputMode(*bp, kAuxDac, mode);
    auxOutputMode = mode;
    markSettingsDirty();
    auxOutputModeChanged.emit(mode);
}

void MeterModel::setVectorSumOutputScaling(int tenths) {
    earlySettings.note("vdacrange:", tenths);
    if (auto bp = backplane()) bp->sendSetBackplaneDacScaling(kVectorSumDac, static_cast<unsigned>(tenths));
    vectorSumOutputScaling = tenths;
    markSettingsDirty();
    vectorSumOutputScalingChanged.emit(tenths);
}

void MeterModel::setAuxOutputScaling(int tenths) {
    earlySettings.note("adacrange:", tenths);
    if (auto bp = backplane()) bp->sendSetBackplaneDacScaling(kAuxDac, static_cast<unsigned>(tenths));
    auxOutputScaling = tenths;
    markSettingsDirty();
    auxOutputScalingChanged.emit(tenths);
}

// Both outputs as the model holds them, to a backplane that came back.
void MeterModel::resendOutputs() {
    auto bp = backplane();
    if (!bp) return;
    sendOutputMode(*bp, kVectorSumDac, vectorSumOutputMode);
    bp->sendSetBackplaneDacScaling(kVectorSumDac, static_cast<unsigned>(vectorSumOutputScaling.load()));
    sendOutputMode(*bp, kAuxDac, auxOutputMode);
    bp->sendSetBackplaneDacScaling(kAuxDac, static_cast<unsigned>(auxOutputScaling.load()));
}

void MeterModel::setVectorSumDacRange(int range) {
    if (range != 0 && range != 1) return;
    if (auto bp = backplane()) bp->sendSetBackplaneDacRange(0, static_cast<unsigned>(range));
}

void MeterModel::setAuxDacRange(int range) {
    if (range != 0 && range != 1) return;
    if (auto bp = backplane()) bp->sendSetBackplaneDacRange(1, static_cast<unsigned>(range));
}

void MeterModel::setVectorSumDacOutput(int value) {
    if (auto bp = backplane()) bp->sendSetBackplaneDacOutput(kVectorSumDac, value);
}

void MeterModel::setAuxDacOutput(int value) {
    if (auto bp = backplane()) bp->sendSetBackplaneDacOutput(kAuxDac, value);
}
