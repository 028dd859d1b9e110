// A channel card scripted by a test: a second endpoint on the test's private
// emulated bus that records every frame the host sends and answers the
// commands a real card answers at once (hello, range, mode, diagnostic
// queries), so that one ChannelModel can be driven frame by frame.  It
// streams only when fed: making one switches the card watch off
// (ChannelModel::setCardWatchFloor).
#pragma once

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "platform/CanTransport.h"

#include <linux/can.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace channeltest {

// Command codes of the host's frames to a card.
enum Command : unsigned {
    kSetMode = 0x00, kSetRange = 0x01, kTrigger = 0x02, kResetPeaks = 0x04, kSendAll = 0x05,
    kSetGain = 0x09, kHello = 0x0A, kDadc = 0x14, kZero = 0x16,
};
constexpr unsigned kClassifierId = 0x149;

float gainOf(const can_frame& f);   // the float of a 0x09 [8/9, BEF] frame

class ScriptedCard {
public:
    ScriptedCard(const std::string& bus, int channel);
    ~ScriptedCard();

    // What the card answers by itself.
    std::atomic<bool> answerHello{true};
    std::atomic<bool> echoRange{true};
    std::atomic<bool> echoMode{true};
    std::atomic<bool> answerQueries{true};
    std::atomic<int> queryDelayMs{0};
    std::atomic<float> queryValue{1.25f};
    std::atomic<float> sampleRate{610.0f};
    std::atomic<int> answeredQueries{0};

    CANinterface& out() { return *sender; }
    int channel() const { return cardChannel; }

    // Frames the host sent to this card (by command code) or to the backplane
    // classifier outputs (kClassifierId).
    std::vector<can_frame> frames(unsigned command) const;
    std::size_t count(unsigned command) const { return frames(command).size(); }
    bool waitForCount(unsigned command, std::size_t n,
                      std::chrono::milliseconds deadline = std::chrono::seconds(5)) const;
    void clear();

    // Probe found, its configuration (class) and the multiplier item that
    // completes the probe data.
    void insertProbe(int probeClass = 3);
    void removeProbe();
    void sendSamples(float value, int n, int status = 0);

private:
    void recordLoop();
    void answer(const can_frame& f);

    int cardChannel;
    unsigned cardNode;
    std::unique_ptr<CANinterface> sender;
    std::unique_ptr<platform::CanTransport> listener;
    mutable std::mutex mutex;
    std::vector<can_frame> recorded;
    std::atomic<bool> stop{false};
    std::thread recorder;
};

// A channel model whose timers a test may shorten and whose skip counter it
// may read.
class TestChannel : public ChannelModel {
public:
    using ChannelModel::ChannelModel;
    Timer& startup() { return startupTimer; }
    Timer& settle() { return settleTimer; }
    Timer& zeroTimeout() { return zeroTimeoutTimer; }
    Timer& rate() { return rateTimer; }
    Timer& saveTimer() { return settingsSaveTimer; }
    Timer& watchTimer() { return cardWatchTimer; }
    int skipping() const { return samplesToSkip; }
};

}  // namespace channeltest
