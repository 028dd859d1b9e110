// Fixtures of the channel-model tests: a channel whose card link is a fake
// endpoint that records every frame the model sends, and access to the
// state a test needs to set up (probe ready, the present reading ...).
#pragma once

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "support/FakeTransport.h"

#include <memory>
#include <mutex>
#include <string>

namespace chtest {

// A channel model with test access to its protected state.
class TestChannel : public ChannelModel {
public:
    explicit TestChannel(int channelNumber = 1) : ChannelModel(channelNumber, "unused") {}

    // Gives the model a link on a fake endpoint; the frames it sends land
    // in the returned bus (FakeBus::take).
    std::shared_ptr<testsupport::FakeBus> attachFakeLink() {
        auto bus = std::make_shared<testsupport::FakeBus>();
        auto l = std::make_shared<CANinterface>(std::make_unique<testsupport::FakeTransport>(bus));
        std::lock_guard<std::mutex> lock(linkMutex);
        canInterface = l;
        return bus;
    }

    void setStatus(int status) { channelStatus = status; }
    // A reading made: the channel's reading is valid while the probe is ready.
    void setReading(float gauss) {
        value = gauss;
        measured = true;
    }
    void setRelativeStateRaw(int state) { relativeState = state; }
    void setRelativeOffsetRaw(float gauss) { relativeOffset = gauss; }
    void setManualZeroRaw(int state, float gauss) {
        manualZeroState = state;
        manualZeroOffset = gauss;
    }
    void setCaptureStateRaw(int state) { captureState = state; }
    void setBoardTexts(const char* model, const char* rev, const char* serial, const char* date) {
        std::lock_guard<std::mutex> lock(textMutex);
        copyText(boardModel, sizeof boardModel, model);
        copyText(boardRevision, sizeof boardRevision, rev);
        copyText(boardSerial, sizeof boardSerial, serial);
        copyText(boardCalDate, sizeof boardCalDate, date);
    }
    int fillBuffer() const { return fillWaveformBuffer; }
    int readyBuffer() const { return readyWaveformBuffer; }
    bool isCaptureRunning() const { return captureRunning; }
    bool isSaveTimerActive() const { return settingsSaveTimer.isActive(); }
    void stopSaveTimer() { settingsSaveTimer.stop(); }
    std::string fileContents() const { return settingsFileContents(); }
};

}  // namespace chtest
