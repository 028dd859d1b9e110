#include "frontpanel/BacklightTest.h"

#include <utility>

namespace {
constexpr int kFirstKey = 7;
constexpr int kLastKey = 10;
constexpr int kRoundLevels[3] = {1, 2, 0};
constexpr int kStepsAfterRound = 2;   // after the rounds at levels 1 and 2
}  // namespace

BacklightTest::BacklightTest(Send sendFrame, std::chrono::milliseconds stepTime)
    : send(std::move(sendFrame)), step(stepTime) {}

BacklightTest::~BacklightTest() { stop(); }

void BacklightTest::start() {
    std::lock_guard<std::mutex> lock(mutex);
    // A run that has ended only returns from its thread: the join is short.
    for (auto it = runs.begin(); it != runs.end();) {
        if (it->ended) {
            it->thread.join();
            it = runs.erase(it);
        } else {
            ++it;
        }
    }
    runs.emplace_back();
    Run& fresh = runs.back();
    fresh.thread = std::thread(&BacklightTest::run, this, &fresh);
}

void BacklightTest::stop() {
    std::list<Run> going;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        going.swap(runs);
    }
    wake.notify_all();
    for (Run& r : going) r.thread.join();
    std::lock_guard<std::mutex> lock(mutex);
    stopping = false;
}

std::size_t BacklightTest::threadCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return runs.size();
}

std::size_t BacklightTest::runningCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::size_t n = 0;
    for (const Run& r : runs) n += !r.ended;
    return n;
}

void BacklightTest::run(Run* self) {
    bool going = true;
    for (int level : kRoundLevels) {
        for (int key = kFirstKey; going && key <= kLastKey; ++key) {
            send(key, level);
            going = pause(1);
        }
        if (going && level != 0) going = pause(kStepsAfterRound);
        if (!going) break;
    }
    std::lock_guard<std::mutex> lock(mutex);
    self->ended = true;
}

bool BacklightTest::pause(int steps) {
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_for(lock, step * steps, [this] { return stopping; });
}
