// An in-memory CAN endpoint for a CANinterface under test: records what is
// written, can be scripted to fail writes, and hands out queued reads.
#pragma once

#include "platform/CanTransport.h"

#include <linux/can.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// A frame as "<id>#<hex data>", the bus tools' notation: "169#0841F00000".
inline std::string frameText(const can_frame& f) {
    char buf[40];
    int n = std::snprintf(buf, sizeof buf, "%03X#", f.can_id & CAN_SFF_MASK);
    for (int i = 0; i < f.can_dlc && i < 8; ++i) n += std::snprintf(buf + n, sizeof buf - n, "%02X", f.data[i]);
    return buf;
}

struct ReadItem {
    ssize_t result;   // sizeof(can_frame), a short count, or -1
    int error;        // errno for -1
    can_frame frame;
};

// Shared between the test and the endpoint that CANinterface owns.
struct FakeBus {
    std::mutex m;
    std::condition_variable cv;
    bool valid = true;
    std::vector<can_frame> written;
    std::deque<std::pair<ssize_t, int>> writeScript;   // result, errno; then success
    int writes = 0;                                    // every write() call
    std::deque<ReadItem> reads;
    bool woken = false;
    int wakes = 0;
    int readCalls = 0;
    std::vector<can_filter> filters;
    int setFilterCalls = 0;
    std::uint64_t dropped = 0;

    void pushRead(const can_frame& f) { push(ReadItem{static_cast<ssize_t>(sizeof f), 0, f}); }
    void push(const ReadItem& r) {
        std::lock_guard<std::mutex> lock(m);
        reads.push_back(r);
        cv.notify_all();
    }
    std::vector<can_frame> frames() {
        std::lock_guard<std::mutex> lock(m);
        return written;
    }
    // The frames written since the last call, as text (frameText).
    std::vector<std::string> take() {
        std::vector<can_frame> taken;
        {
            std::lock_guard<std::mutex> lock(m);
            taken.swap(written);
        }
        std::vector<std::string> out;
        for (const can_frame& f : taken) out.push_back(frameText(f));
        return out;
    }
};

class FakeTransport : public platform::CanTransport {
public:
    explicit FakeTransport(std::shared_ptr<FakeBus> bus) : bus(std::move(bus)) {}

    bool valid() const override { return bus->valid; }

    ssize_t write(const can_frame& frame) override {
        std::lock_guard<std::mutex> lock(bus->m);
        ++bus->writes;
        if (!bus->writeScript.empty()) {
            auto [result, error] = bus->writeScript.front();
            bus->writeScript.pop_front();
            if (result < 0) errno = error;
            return result;
        }
        bus->written.push_back(frame);
        return static_cast<ssize_t>(sizeof frame);
    }

    ssize_t read(can_frame& frame, int timeoutMs) override {
        std::unique_lock<std::mutex> lock(bus->m);
        ++bus->readCalls;
        bus->cv.notify_all();
        bus->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return bus->woken || !bus->reads.empty(); });
        if (bus->woken) {
            bus->woken = false;
            return 0;
        }
        if (bus->reads.empty()) return 0;
        ReadItem item = bus->reads.front();
        bus->reads.pop_front();
        if (item.result < 0) {
            errno = item.error;
            return -1;
        }
        frame = item.frame;
        return item.result;
    }

    int setFilters(const can_filter* f, std::size_t count) override {
        std::lock_guard<std::mutex> lock(bus->m);
        ++bus->setFilterCalls;
        bus->filters.assign(f, f + count);
        return 0;
    }

    void wake() override {
        std::lock_guard<std::mutex> lock(bus->m);
        bus->woken = true;
        ++bus->wakes;
        bus->cv.notify_all();
    }

    std::uint64_t droppedFrames() const override { return bus->dropped; }
    const char* backendName() const override { return "fake"; }

private:
    std::shared_ptr<FakeBus> bus;
};

inline can_frame makeFrame(canid_t id, std::initializer_list<int> bytes, int dlc = -1) {
    can_frame f;
    std::memset(&f, 0, sizeof f);
    f.can_id = id;
    int i = 0;
    for (int b : bytes) f.data[i++] = static_cast<std::uint8_t>(b);
    f.can_dlc = static_cast<std::uint8_t>(dlc < 0 ? i : dlc);
    return f;
}

}  // namespace testsupport
