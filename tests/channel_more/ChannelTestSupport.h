// Fixtures of the channel-model tests: a channel whose card link is a fake
// endpoint that records every frame the model sends, and access to the
// state a test needs to set up (probe ready, the present reading ...).
#pragma once

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "platform/CanTransport.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace chtest {

// Frames as "<id>#<hex data>", the bus tools' notation: "169#0841F00000".
inline std::string frameText(const can_frame& f) {
    char buf[40];
    int n = std::snprintf(buf, sizeof buf, "%03X#", f.can_id & CAN_SFF_MASK);
    for (int i = 0; i < f.can_dlc && i < 8; ++i) n += std::snprintf(buf + n, sizeof buf - n, "%02X", f.data[i]);
    return buf;
}

// What the fake endpoint saw written.
class FrameLog {
public:
    void add(const can_frame& f) {
        std::lock_guard<std::mutex> lock(mutex);
        frames.push_back(frameText(f));
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        out.swap(frames);
        return out;
    }
private:
    std::mutex mutex;
    std::vector<std::string> frames;
};

class FakeTransport : public platform::CanTransport {
public:
    explicit FakeTransport(std::shared_ptr<FrameLog> log) : log(std::move(log)) {}
    bool valid() const override { return true; }
    ssize_t write(const can_frame& frame) override {
        log->add(frame);
        return sizeof(can_frame);
    }
    ssize_t read(can_frame&, int) override { return 0; }
    int setFilters(const can_filter*, std::size_t) override { return 0; }
    void wake() override {}
    std::uint64_t droppedFrames() const override { return 0; }
    const char* backendName() const override { return "fake"; }
private:
    std::shared_ptr<FrameLog> log;
};

// A channel model with test access to its protected state.
class TestChannel : public ChannelModel {
public:
    explicit TestChannel(int channelNumber = 1) : ChannelModel(channelNumber, "unused") {}

    // Gives the model a link whose frames land in the returned log.
    std::shared_ptr<FrameLog> attachFakeLink() {
        auto log = std::make_shared<FrameLog>();
        auto l = std::make_shared<CANinterface>(std::unique_ptr<platform::CanTransport>(new FakeTransport(log)));
        std::lock_guard<std::mutex> lock(linkMutex);
        canInterface = l;
        return log;
    }

    void setStatus(int status) { channelStatus = status; }
    void setReading(float gauss) { value = gauss; }
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
