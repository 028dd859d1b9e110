#include "meter/MeterModel.h"

#include "channel/ChannelModel.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace {
std::mutex instanceMutex;
MeterModel* theInstance = nullptr;
constexpr std::chrono::milliseconds kModelDecisionDelay{1500};
}  // namespace

MeterModel* MeterModel::instance() {
    return instance("can0");
}

MeterModel* MeterModel::instance(const char* name) {
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (!theInstance) theInstance = new MeterModel(name ? name : "can0");
    return theInstance;
}

MeterModel::MeterModel(const char* name) : canInterfaceName(name) {
    for (unsigned slot = 1; slot <= kSlotCount; ++slot) {
        channels[slot - 1] = std::make_unique<ChannelModel>(static_cast<int>(slot), canInterfaceName.c_str());
    }
}

MeterModel::~MeterModel() = default;

ChannelModel* MeterModel::getChannel(unsigned slot) const {
    if (slot < 1 || slot > kSlotCount) return nullptr;
    return channels[slot - 1].get();
}

void MeterModel::startChannelLinks() {
    for (auto& channel : channels) channel->startCan();
    std::this_thread::sleep_for(kModelDecisionDelay);
    bool all = true;
    for (auto& channel : channels) all = all && channel->isCardPresent();
    threeChannelModel = all;
}
