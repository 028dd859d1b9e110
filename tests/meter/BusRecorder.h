// A second endpoint on a test bus that keeps every frame it sees, for
// checking what a model sent.
#pragma once

#include "platform/CanTransport.h"
#include "support/TestSupport.h"

#include <atomic>
#include <functional>
#include <iomanip>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace metertest {

struct Frame {
    int id;
    std::vector<int> data;
    bool operator==(const Frame& o) const { return id == o.id && data == o.data; }
};

inline std::ostream& operator<<(std::ostream& os, const Frame& f) {
    os << std::hex << std::setfill('0') << std::setw(3) << f.id << "#";
    for (int b : f.data) os << std::setw(2) << b;
    return os << std::dec;
}

class BusRecorder {
public:
    // keep: which identifiers to record (all when empty).
    explicit BusRecorder(const std::string& bus, std::function<bool(int)> keep = nullptr)
        : transport(platform::openCanTransport(bus.c_str())), keep(std::move(keep)) {
        reader = std::thread([this] {
            while (!stopping) {
                can_frame f{};
                if (transport->read(f, 50) != static_cast<ssize_t>(sizeof f)) continue;
                Frame frame{static_cast<int>(f.can_id & 0x7FF), {}};
                if (this->keep && !this->keep(frame.id)) continue;
                for (int i = 0; i < f.can_dlc && i < 8; ++i) frame.data.push_back(f.data[i]);
                std::lock_guard<std::mutex> lock(mutex);
                frames.push_back(frame);
            }
        });
    }
    ~BusRecorder() {
        stopping = true;
        transport->wake();
        reader.join();
    }
    // The first n frames (waiting for them as take does) and forgets all:
    // for a sequence that later frames may follow on a busy machine.
    std::vector<Frame> takeFirst(std::size_t n) {
        std::vector<Frame> out = take(n);
        if (out.size() > n) out.resize(n);
        return out;
    }
    std::vector<Frame> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return frames;
    }
    // Waits until n frames are in (or a short quiet period when n is 0, to
    // show that nothing came), then hands them out and forgets them.
    std::vector<Frame> take(std::size_t n) {
        if (n == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        } else {
            testsupport::waitUntil([&] { return snapshot().size() >= n; }, std::chrono::seconds(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Frame> out;
        out.swap(frames);
        return out;
    }
private:
    std::unique_ptr<platform::CanTransport> transport;
    std::function<bool(int)> keep;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::vector<Frame> frames;
    std::thread reader;
};

}  // namespace metertest
