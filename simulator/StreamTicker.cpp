#include "simulator/StreamTicker.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

struct Card {
    int handle;
    std::function<int()> periodUs;
    std::function<void()> tick;
    Clock::time_point due;
    bool ticked = false;
};

struct Ticker {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Card> cards;
    std::thread thread;
    int generation = 0;  // of the thread that is to run
    int nextHandle = 1;

    // Ticks under the mutex, so that remove() waits for a tick under way.
    void run(int mine) {
        pthread_setname_np(pthread_self(), "stream");
        std::unique_lock<std::mutex> lock(mutex);
        while (mine == generation && !cards.empty()) {
            Clock::time_point now = Clock::now();
            Clock::time_point first = cards.front().due;
            for (const Card& c : cards) first = std::min(first, c.due);
            if (first > now) {
                changed.wait_until(lock, first);
                continue;
            }
            for (Card& c : cards) {
                if (c.due > now + std::chrono::microseconds(c.periodUs()) / 4) continue;
                c.tick();
                c.ticked = true;
            }
            const Clock::time_point after = Clock::now();
            for (Card& c : cards) {
                if (!c.ticked) continue;
                c.due = after + std::chrono::microseconds(c.periodUs());
                c.ticked = false;
            }
        }
    }
};

Ticker& ticker() {
    static Ticker* const t = new Ticker;  // never freed: cards may be removed during exit
    return *t;
}

}  // namespace

int StreamTicker::add(std::function<int()> periodUs, std::function<void()> tick) {
    Ticker& t = ticker();
    int handle;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        handle = t.nextHandle++;
        t.cards.push_back(Card{handle, std::move(periodUs), std::move(tick), Clock::now()});
        if (t.cards.size() == 1) {
            const int mine = ++t.generation;
            t.thread = std::thread([&t, mine] { t.run(mine); });
        }
    }
    t.changed.notify_all();
    return handle;
}

void StreamTicker::remove(int handle) {
    Ticker& t = ticker();
    std::thread ending;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = std::find_if(t.cards.begin(), t.cards.end(), [handle](const Card& c) { return c.handle == handle; });
        if (it == t.cards.end()) return;
        t.cards.erase(it);
        if (t.cards.empty()) {
            ++t.generation;  // the thread ends, also if a card is added before it looks
            ending = std::move(t.thread);
        }
    }
    t.changed.notify_all();
    if (ending.joinable()) ending.join();
}

}  // namespace sim
