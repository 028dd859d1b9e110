// A stop request shared by a node's threads: their sleeps end as soon as the
// node shuts down.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace sim {

class StopFlag {
public:
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopped = true;
        }
        cv.notify_all();
    }

    bool isStopped() {
        std::lock_guard<std::mutex> lock(mutex);
        return stopped;
    }

    // Sleeps the period; returns false at once when the node is stopping.
    bool sleepFor(std::chrono::microseconds period) {
        std::unique_lock<std::mutex> lock(mutex);
        return !cv.wait_for(lock, period, [this] { return stopped; });
    }

private:
    std::mutex mutex;
    std::condition_variable cv;
    bool stopped = false;
};

}  // namespace sim
