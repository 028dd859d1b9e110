// A meter model of the test's own (the program's singleton can be made only
// once per process), with its protected state within reach.
#pragma once

#include "meter/MeterModel.h"

#include <string>

namespace metertest {

class TestMeter : public MeterModel {
public:
    explicit TestMeter(const std::string& bus) : MeterModel(bus.c_str()) {}
    using MeterModel::threeChannelModel;
    using MeterModel::triggerCount;
    using MeterModel::triggerMutex;
    using MeterModel::vectorSumRange;
    using MeterModel::vectorSumMutex;
    using MeterModel::vectorSumValue;
    using MeterModel::magnitude;
    using MeterModel::recordsOutstanding;
    using MeterModel::acksOutstanding;
    using MeterModel::capturePhase;
    using MeterModel::triggerRateTimer;
    using MeterModel::statusTimer;
    using MeterModel::statusAskMutex;
    using MeterModel::statusAnswersDue;
};

// Backplane, front-panel and power-supply frames (destination nodes 2, 0, 6
// from the host).
inline bool toNodes026(int id) {
    int source = id >> 8, destination = (id >> 5) & 7;
    return source == 1 && (destination == 0 || destination == 2 || destination == 6);
}

}  // namespace metertest
