// The tables of the handler families whose handlers differ only in data:
// status registers, holds, range settings, analog outputs, calibration
// constants, board identity, calibration memory, correction tables and probe
// offsets, channel reports, multiplexers and DACs.  Each is
// an X-macro list, expanded in ScpiServer.h into the handlers' declarations
// and in the family's source file into their definitions and registry
// entries, so a handler is named, declared, defined and registered from one
// row.
#pragma once

// The measurement, operation and questionable status registers: the event
// register's query (which clears it), the enable register's setter and
// query, the condition register's query.
// X(event query, enable setter, enable query, condition query,
//   register: Measurement, Operation, Questionable)
#define SCPI_STATUS_REGISTERS(X)                                                                   \
    X(handleQueryMeasurementEventRegister, handleSetMeasurementEnableRegister,                     \
      handleQueryMeasurementEnableRegister, handleQueryMeasurementConditionRegister, Measurement)  \
    X(handleQueryOperationEventRegister, handleSetOperationEnableRegister,                         \
      handleQueryOperationEnableRegister, handleQueryOperationConditionRegister, Operation)        \
    X(handleQueryQuestionableEventRegister, handleSetQuestionableEnableRegister,                   \
      handleQueryQuestionableEnableRegister, handleQueryQuestionableConditionRegister, Questionable)

// The four holds of a channel (maximum and minimum also of the vector sum):
// the held value's query, the hold's on/off query and setter, its reset.
// X(value query, enable query, enable setter, reset, hold: Min, Max, Peak, Valley)
#define SCPI_HOLDS(X)                                                                            \
    X(handleGetMinHoldValue, handleGetMinHoldEnable, handleSetMinHoldEnable,                     \
      handleResetMinHoldValue, Min)                                                              \
    X(handleGetMaxHoldValue, handleGetMaxHoldEnable, handleSetMaxHoldEnable,                     \
      handleResetMaxHoldValue, Max)                                                              \
    X(handleGetPeakHoldValue, handleGetPeakHoldEnable, handleSetPeakHoldEnable,                  \
      handleResetPeakHoldValue, Peak)                                                            \
    X(handleGetValleyHoldValue, handleGetValleyHoldEnable, handleSetValleyHoldEnable,            \
      handleResetValleyHoldValue, Valley)

// Fixed range and autorange, alone or with the mode.
// X(handler, automatic, mode: -1 left as it is, or settingrange::kModeDc, kModeAc)
#define SCPI_RANGE_SETTINGS(X)                                   \
    X(handleSetRangeFixed, false, -1)                            \
    X(handleSetDcRangeFixed, false, settingrange::kModeDc)       \
    X(handleSetAcRangeFixed, false, settingrange::kModeAc)       \
    X(handleSetRangeAuto, true, -1)                              \
    X(handleSetDcRangeAuto, true, settingrange::kModeDc)         \
    X(handleSetAcRangeAuto, true, settingrange::kModeAc)

// A card's corrected and uncorrected analog outputs: mode and full scale.
// X(mode setter, mode query, full-scale setter, full-scale query,
//   output: Corrected, Uncorrected)
#define SCPI_CARD_OUTPUTS(X)                                                                     \
    X(handleSetCorrectedOutputMode, handleGetCorrectedOutputMode,                                \
      handleSetCorrectedOutputScaling, handleGetCorrectedOutputScaling, Corrected)               \
    X(handleSetUncorrectedOutputMode, handleGetUncorrectedOutputMode,                            \
      handleSetUncorrectedOutputScaling, handleGetUncorrectedOutputScaling, Uncorrected)

// Entries of a channel's calibration parameter table.
// X(getter, setter, parameter index, decimals of the getter's reply)
#define SCPI_CHANNEL_CONSTANTS(X)                                                \
    X(handleGetProbe30Gain, handleSetProbe30Gain, 0, 6)                          \
    X(handleGetProbe300Gain, handleSetProbe300Gain, 1, 6)                        \
    X(handleGetProbe3kGain, handleSetProbe3kGain, 2, 6)                          \
    X(handleGetProbe30kGain, handleSetProbe30kGain, 3, 6)                        \
    X(handleGetDirectInputMadcGain, handleSetDirectInputMadcGain, 4, 6)          \
    X(handleGetDirectInputStage2Range1Gain, handleSetDirectInputStage2Range1Gain, 5, 6) \
    X(handleGetDirectInputStage2Range2Gain, handleSetDirectInputStage2Range2Gain, 6, 6) \
    X(handleGetDirectInputStage2Range3Gain, handleSetDirectInputStage2Range3Gain, 7, 6) \
    X(handleGetThermistorVoltage, handleSetThermistorVoltage, 8, 6)              \
    X(handleGetThermistorResistance, handleSetThermistorResistance, 9, 6)        \
    X(handleGetMdacFsPos3v, handleSetMdacFsPos3v, 10, 6)                         \
    X(handleGetMdacFsPos10v, handleSetMdacFsPos10v, 11, 6)                       \
    X(handleGetUdacZero3v, handleSetUdacZero3v, 12, 6)                           \
    X(handleGetUdacZero10v, handleSetUdacZero10v, 13, 6)                         \
    X(handleGetUdacFsPos3v, handleSetUdacFsPos3v, 14, 6)                         \
    X(handleGetUdacFsNeg3v, handleSetUdacFsNeg3v, 15, 6)                         \
    X(handleGetUdacFsPos10v, handleSetUdacFsPos10v, 16, 6)                       \
    X(handleGetUdacFsNeg10v, handleSetUdacFsNeg10v, 17, 6)                       \
    X(handleGetCdacZero3v, handleSetCdacZero3v, 18, 6)                           \
    X(handleGetCdacZero10v, handleSetCdacZero10v, 19, 6)                         \
    X(handleGetCdacFsPos3v, handleSetCdacFsPos3v, 20, 6)                         \
    X(handleGetCdacFsNeg3v, handleSetCdacFsNeg3v, 21, 6)                         \
    X(handleGetCdacFsPos10v, handleSetCdacFsPos10v, 22, 6)                       \
    X(handleGetCdacFsNeg10v, handleSetCdacFsNeg10v, 23, 6)                       \
    X(handleGetDadcGainCorrection, handleSetDadcGainCorrection, 24, 6)           \
    X(handleGetFreqMeasCorrection, handleSetFreqMeasCorrection, 25, 6)           \
    X(handleGetTransductance00063, handleSetTransductance00063, 26, 6)           \
    X(handleGetTransductance00630, handleSetTransductance00630, 27, 6)           \
    X(handleGetTransductance01000, handleSetTransductance01000, 28, 6)           \
    X(handleGetTransductance10000, handleSetTransductance10000, 29, 6)           \
    X(handleGetMadcOffset, handleSetMadcOffset, 40, 0)                           \
    X(handleGetCurrentCalOffset, handleSetCurrentCalOffset, 81, 0)               \
    X(handleDiagGetProbeCurrentAcMode, handleDiagSetProbeCurrentAcMode, 82, 10)  \
    X(handleDiagGetProbeCurrentDcMode, handleDiagSetProbeCurrentDcMode, 83, 10)

// The backplane's calibration constants.
// X(getter, setter, constant index, decimals, how the setter reads its
// argument: Real, Integer, or PulseOffset (an integer 0-511))
#define SCPI_BACKPLANE_CONSTANTS(X)                                              \
    X(handleDiagGetSyncDemodOffset, handleDiagSetSyncDemodOffset, 0, 0, PulseOffset) \
    X(handleGetVdacZero3v, handleSetVdacZero3v, 1, 0, Integer)                   \
    X(handleGetVdacZero10v, handleSetVdacZero10v, 2, 0, Integer)                 \
    X(handleGetVdacFsPos3v, handleSetVdacFsPos3v, 3, 0, Integer)                 \
    X(handleGetVdacFsNeg3v, handleSetVdacFsNeg3v, 4, 0, Integer)                 \
    X(handleGetVdacFsPos10v, handleSetVdacFsPos10v, 5, 0, Integer)               \
    X(handleGetVdacFsNeg10v, handleSetVdacFsNeg10v, 6, 0, Integer)               \
    X(handleGetAdacZero3v, handleSetAdacZero3v, 7, 0, Integer)                   \
    X(handleGetAdacZero10v, handleSetAdacZero10v, 8, 0, Integer)                 \
    X(handleGetAdacFsPos3v, handleSetAdacFsPos3v, 9, 0, Integer)                 \
    X(handleGetAdacFsNeg3v, handleSetAdacFsNeg3v, 10, 0, Integer)                \
    X(handleGetAdacFsPos10v, handleSetAdacFsPos10v, 11, 0, Integer)              \
    X(handleGetAdacFsNeg10v, handleSetAdacFsNeg10v, 12, 0, Integer)              \
    X(handleGetBpCalTemp, handleSetBpCalTemp, 13, 1, Real)

// The four identity texts of a card and of the backplane.
// X(card getter, card setter, backplane getter, backplane setter,
//   ChannelModel getter, ChannelModel setter, MeterModel getter, MeterModel setter)
#define SCPI_BOARD_TEXTS(X)                                                                   \
    X(handleGetBoardModel, handleSetBoardModel, handleBpGetBoardModel, handleBpSetBoardModel, \
      getBoardModel, setBoardModel, getBackplaneModel, setBackplaneModel)                     \
    X(handleGetBoardRev, handleSetBoardRev, handleBpGetBoardRev, handleBpSetBoardRev,         \
      getBoardRev, setBoardRev, getBackplaneRev, setBackplaneRev)                             \
    X(handleGetBoardSerial, handleSetBoardSerial, handleBpGetBoardSerial, handleBpSetBoardSerial, \
      getBoardSerial, setBoardSerial, getBackplaneSerial, setBackplaneSerial)                 \
    X(handleGetBoardCalDate, handleSetBoardCalDate, handleBpGetBoardCalDate, handleBpSetBoardCalDate, \
      getBoardCalDate, setBoardCalDate, getBackplaneCalDate, setBackplaneCalDate)

// Calibration memory and defaults, no argument, no reply.
// X(handler, ChannelModel operation) and X(handler, MeterModel operation)
#define SCPI_CARD_MEMORY(X)                                     \
    X(handleAnalogCardEepromLoad, loadCardEeprom)               \
    X(handleAnalogCardEepromWrite, writeCardEeprom)             \
    X(handleAnalogCardRecalDefaults, restoreCardRecalDefaults)  \
    X(handleAnalogCardFactoryDefaults, restoreCardFactoryDefaults)
#define SCPI_BACKPLANE_MEMORY(X)                                    \
    X(handleBackplaneEepromLoad, loadBackplaneEeprom)               \
    X(handleBackplaneEepromWrite, writeBackplaneEeprom)             \
    X(handleBackplaneRecalDefaults, restoreBackplaneRecalDefaults)  \
    X(handleBackplaneFactoryDefaults, restoreBackplaneFactoryDefaults)

// Elements of the correction tables, by group.
// X(getter, setter, group: DcLinearity, FrequencyCorrection, RmsLinearity)
#define SCPI_CORRECTION_TABLES(X)                                  \
    X(handleGetDcLin, handleSetDcLin, DcLinearity)                 \
    X(handleGetFreqCorr, handleSetFreqCorr, FrequencyCorrection)   \
    X(handleGetRmsLin, handleSetRmsLin, RmsLinearity)

// Probe offsets in the calibration parameter table, by row and column.
// X(getter, setter, index map, decimals, value read as an integer)
#define SCPI_PROBE_OFFSETS(X)                                                    \
    X(handleGetProbeOffset, handleSetProbeOffset, probeOffsetIndex, 0, true)     \
    X(handleGetProbeRmsOffset, handleSetProbeRmsOffset, probeRmsOffsetIndex, 4, false)

// Channel reports answered line by line.  X(handler, ChannelModel report)
#define SCPI_CHANNEL_REPORTS(X)                                  \
    X(handleDumpCalTable, configurationDump)                     \
    X(handlePrintCalTable, parameterTableReport)                 \
    X(handleProbeReportGeneral, probeDataReport)                 \
    X(handleProbeReportDCLinearity, probeDcLinearityReport)      \
    X(handleProbeReportACFrequency, probeAcCorrectionReport)

// A card's multiplexers, switches and DACs: one integer argument, checked
// against [low, high]; outside it the handler answers "argument out of
// range" (reply true) or nothing.  modes: null, or the table that turns the
// argument into the model's mode value.
// X(handler, low, high, reply, ChannelModel operation, modes)
#define SCPI_CARD_SETTINGS(X)                                                          \
    X(handleSetMuxUdacInput, 0, 1, false, setMuxUdacInput, nullptr)                    \
    X(handleSetMuxUdacGain, 0, 1, false, setMuxMdacRange, nullptr)                     \
    X(handleSetMultiplyingDacRange, 0, 1, false, setMuxMdacRange, nullptr)             \
    X(handleSetCorrectedDacRange, 0, 1, false, setMuxCdacRange, nullptr)               \
    X(handleSetUncorrectedDacRange, 0, 1, false, setMuxUdacRange, nullptr)             \
    X(handleSetMuxDadcInput, 0, 3, false, setMuxDadcInput, nullptr)                    \
    X(handleSetMuxHallCurrent, 0, 1, false, setMuxHallCurrent, nullptr)                \
    X(handleSetMuxControlCurrentMode, 0, 1, false, setMuxControlCurrentMode, nullptr)  \
    X(handleSetMuxDcrefValue, 0, 1, false, setMuxDcrefValue, nullptr)                  \
    X(handleSetMuxMadcInput, 0, 7, false, setMuxMadcInput, nullptr)                    \
    X(handleSetMuxHpfValue, 0, 1, false, setMuxHpfValue, nullptr)                      \
    X(handleSetMuxTampInput, 0, 2, false, setMuxTampInput, nullptr)                    \
    X(handleSetMuxSampInput, 0, 3, false, setMuxSampInput, nullptr)                    \
    X(handleSetMuxFampInput, 0, 1, false, setMuxFampInput, nullptr)                    \
    X(handleSetMultiplyingDacOutput, 0, 4095, true, setMdacOutput, nullptr)            \
    X(handleSetUncorrectedDacOutput, -32767, 32767, true, setUdacOutput, nullptr)      \
    X(handleSetCorrectedDacOutput, -32767, 32767, true, setCdacOutput, nullptr)        \
    X(handleSetMultiplyingDacMode, 0, 2, true, setMdacMode, kMultiplyingDacModes)      \
    X(handleSetUncorrectedDacMode, 0, 3, true, setUdacMode, nullptr)                   \
    X(handleSetCorrectedDacMode, 0, 3, true, setCdacMode, nullptr)

// The backplane's DACs: as the card's, whatever channel the command carried.
// X(handler, low, high, reply, MeterModel operation, modes)
#define SCPI_BACKPLANE_SETTINGS(X)                                                             \
    X(handleSetVectorSumDacRange, 0, 1, false, setVectorSumDacRange, nullptr)                  \
    X(handleSetAuxiliaryDacRange, 0, 1, false, setAuxDacRange, nullptr)                        \
    X(handleSetVectorSumDacOutput, -32767, 32767, true, setVectorSumDacOutput, nullptr)        \
    X(handleSetAuxiliaryDacOutput, -32767, 32767, true, setAuxDacOutput, nullptr)              \
    X(handleSetVectorSumDacMode, 0, 2, true, setVectorSumOutputMode, kBackplaneDacModes)       \
    X(handleSetAuxiliaryDacMode, 0, 2, true, setAuxOutputMode, kBackplaneDacModes)             \
    X(handleSetSineWaveDacOutput, -32767, 32767, true, setSineWaveDacOutput, nullptr)          \
    X(handleSetSineWaveDacMode, 0, 1, true, setSineWaveDacMode, nullptr)

// Declarations and registry entries of the rows above.
#define SCPI_DECLARE_HANDLER(name) void name(int channel, const std::string& command);
#define SCPI_DECLARE_FIRST(a, ...) SCPI_DECLARE_HANDLER(a)
#define SCPI_DECLARE_PAIR(a, b, ...) SCPI_DECLARE_HANDLER(a) SCPI_DECLARE_HANDLER(b)
#define SCPI_DECLARE_FOUR(a, b, c, d, ...) \
    SCPI_DECLARE_HANDLER(a) SCPI_DECLARE_HANDLER(b) SCPI_DECLARE_HANDLER(c) SCPI_DECLARE_HANDLER(d)
#define SCPI_HANDLER(name) {#name, &ScpiServer::name}
#define SCPI_ENTRY_FIRST(a, ...) SCPI_HANDLER(a),
#define SCPI_ENTRY_PAIR(a, b, ...) SCPI_HANDLER(a), SCPI_HANDLER(b),
#define SCPI_ENTRY_FOUR(a, b, c, d, ...) SCPI_HANDLER(a), SCPI_HANDLER(b), SCPI_HANDLER(c), SCPI_HANDLER(d),
