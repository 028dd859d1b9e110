// The host's copy of the card's calibration: the 93 parameters (atomics of
// their own) and the 20 correction tables, which the CAN reader resizes and
// fills while SCPI, JSON and GUI threads read them.  Every access to the
// tables takes calTableMutex and checks its index against the table's length
// at that moment; reports work on copies (copyCalibration).
#include "channel/ChannelModel.h"

#include "can/CANinterface.h"

#include <algorithm>

namespace {
// The table groups as the card numbers them.
constexpr int kDcFirst = 0, kDcLast = 4;
constexpr int kFullScaleFirst = 5, kFullScaleLast = 8;
constexpr int kLowEndFirst = 9, kLowEndLast = 12;
constexpr int kRmsFirst = 13, kRmsLast = 17;
constexpr int kExtraFirst = 18, kExtraLast = 19;
constexpr int kLowEndLength = 15;
// Lengths from the card are taken within 0..kMaxTableLength.
constexpr int kMaxTableLength = 65535;
// The table-element command carries table and index in one byte each.
constexpr int kMaxWritableIndex = 255;

std::size_t clampLength(int length) {
    return static_cast<std::size_t>(std::min(std::max(length, 0), kMaxTableLength));
}

bool within(int t, int first, int last) { return t >= first && t <= last; }
}  // namespace

// A card sending its calibration may pause its stream: it is busy, not silent.
void ChannelModel::onCalParameter(int index, float value) {
    restartSilenceCount();
    calParameters.set(index, value);   // drops indices outside 0-92
}

void ChannelModel::onCalTableSizes(int dcLength, int fullScaleLength, int rmsLength) {
    restartSilenceCount();
    resizeDcLinearityTables(dcLength);
    resizeFrequencyCorrectionTables(fullScaleLength);
    resizeRmsLinearityTables(rmsLength);
}

void ChannelModel::resizeDcLinearityTables(int length) {
    std::lock_guard<std::mutex> lock(calTableMutex);
    for (int t = kDcFirst; t <= kDcLast; ++t) calTables[t].resize(clampLength(length), 0.0f);
}

void ChannelModel::resizeFrequencyCorrectionTables(int length) {
    std::lock_guard<std::mutex> lock(calTableMutex);
    for (int t = kFullScaleFirst; t <= kFullScaleLast; ++t) calTables[t].resize(clampLength(length), 0.0f);
    for (int t = kLowEndFirst; t <= kLowEndLast; ++t) calTables[t].resize(kLowEndLength, 0.0f);
    for (int t = kExtraFirst; t <= kExtraLast; ++t) calTables[t].resize(kLowEndLength, 0.0f);
}

void ChannelModel::resizeRmsLinearityTables(int length) {
    std::lock_guard<std::mutex> lock(calTableMutex);
    for (int t = kRmsFirst; t <= kRmsLast; ++t) calTables[t].resize(clampLength(length), 0.0f);
}

void ChannelModel::onCalTableElement(int table, unsigned index, float value) {
    restartSilenceCount();
    std::lock_guard<std::mutex> lock(calTableMutex);
    if (table < 0 || table >= kCalTableCount) return;
    // Every table is resized with its group (the low-end and further tables
    // to their fixed 15 entries), so its own length is its group's bound.
    std::vector<float>& t = calTables[table];
    if (index < t.size()) t[index] = value;
}

float ChannelModel::getCalTableElement(int table, int index) const {
    std::lock_guard<std::mutex> lock(calTableMutex);
    if (table < 0 || table >= kCalTableCount || index < 0) return 0.0f;
    const std::vector<float>& t = calTables[table];
    return static_cast<std::size_t>(index) < t.size() ? t[index] : 0.0f;
}

int ChannelModel::setCalTableElement(int table, int index, float value) {
    if (table < 0 || table >= kCalTableCount || index < 0 || index > kMaxWritableIndex) return -1;
    {
        std::lock_guard<std::mutex> lock(calTableMutex);
        if (within(table, kDcFirst, kDcLast) &&
            static_cast<std::size_t>(index) >= calTables[kDcFirst].size())
            return -1;
        if (within(table, kFullScaleFirst, kFullScaleLast) &&
            static_cast<std::size_t>(index) >= calTables[kFullScaleFirst].size())
            return -1;
    }
    if (auto l = pausingLink()) l->sendSetCalTableElement(channel, table, index, value);
    return 0;
}

void ChannelModel::copyCalibration(std::vector<float>& parameters, CalTables& tables) const {
    parameters.resize(CalParameterTable::kSize);
    for (int i = 0; i < CalParameterTable::kSize; ++i) parameters[i] = calParameters.get(i);
    std::lock_guard<std::mutex> lock(calTableMutex);
    tables = calTables;
}
