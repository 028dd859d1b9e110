// A host-side test peer on a CAN bus: a CANinterface whose endpoint also keeps
// every frame it receives, so tests can check both the decoded signals and
// the frames in the order they came.
#pragma once

#include "can/CANinterface.h"
#include "platform/CanTransport.h"

#include <linux/can.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace simtest {

struct Frame {
    int id = 0;
    int length = 0;
    std::uint8_t data[8] = {};

    float floatAt(int i) const {
        const std::uint32_t bits = std::uint32_t(data[i]) << 24 | std::uint32_t(data[i + 1]) << 16 |
                                   std::uint32_t(data[i + 2]) << 8 | data[i + 3];
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    int be16At(int i) const { return data[i] << 8 | data[i + 1]; }
    std::string text(int from, int n) const { return std::string(reinterpret_cast<const char*>(data + from), n); }
};

// Identifier of card command cmd from the card of channel c to the host.
inline int cardReply(int c, int cmd) { return 0x320 + 0x100 * (c - 1) + cmd; }

class FrameLog {
public:
    void add(const can_frame& f) {
        Frame frame;
        frame.id = static_cast<int>(f.can_id & CAN_SFF_MASK);
        frame.length = f.can_dlc;
        std::memcpy(frame.data, f.data, 8);
        std::lock_guard<std::mutex> lock(mutex);
        frames.push_back(frame);
        lastFirstByte[frame.id] = frame.data[0];
    }
    // Byte 0 of the last frame with the id, kept across clear(); -1 when none came.
    int lastByte0(int id) const {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = lastFirstByte.find(id);
        return it == lastFirstByte.end() ? -1 : it->second;
    }
    // Forgets the frames received so far.
    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        frames.clear();
    }
    std::vector<Frame> all() const {
        std::lock_guard<std::mutex> lock(mutex);
        return frames;
    }
    // Frames with one of the ids, in order.
    std::vector<Frame> withId(std::initializer_list<int> ids) const {
        std::vector<Frame> out;
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& f : frames)
            for (int id : ids)
                if (f.id == id) out.push_back(f);
        return out;
    }
    std::size_t count(int id) const { return withId({id}).size(); }

private:
    mutable std::mutex mutex;
    std::vector<Frame> frames;
    std::map<int, int> lastFirstByte;
};

// Passes everything to the real endpoint and logs each frame read.
class RecordingTransport : public platform::CanTransport {
public:
    RecordingTransport(std::unique_ptr<platform::CanTransport> inner, FrameLog& log)
        : inner(std::move(inner)), log(log) {}
    bool valid() const override { return inner->valid(); }
    ssize_t write(const can_frame& frame) override { return inner->write(frame); }
    ssize_t read(can_frame& frame, int timeoutMs) override {
        const ssize_t n = inner->read(frame, timeoutMs);
        if (n == static_cast<ssize_t>(sizeof(can_frame))) log.add(frame);
        return n;
    }
    int setFilters(const can_filter* filters, std::size_t count) override {
        return inner->setFilters(filters, count);
    }
    void wake() override { inner->wake(); }
    std::uint64_t droppedFrames() const override { return inner->droppedFrames(); }
    const char* backendName() const override { return inner->backendName(); }

private:
    std::unique_ptr<platform::CanTransport> inner;
    FrameLog& log;
};

// The host's end: receives every frame addressed to node 1.  Connect to its
// signals before start(): they are raised on its reader thread.
class BusPeer {
public:
    explicit BusPeer(const std::string& bus)
        : can(std::make_unique<RecordingTransport>(platform::openCanTransport(bus.c_str()), log)) {
        can.setFilter(0x020, 0x0E0);
    }
    void start() { can.startReader(); }

    FrameLog log;      // before can: its endpoint writes here
    CANinterface can;
};

}  // namespace simtest
