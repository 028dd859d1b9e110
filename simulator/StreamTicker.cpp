#include "simulator/StreamTicker.h"

#include "platform/EmulatedBus.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
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

// Sleeps until the deadline (CLOCK_MONOTONIC, as steady_clock) or until the
// word no longer holds seen: one system call, where a condition variable's
// timed wait makes two.
void sleepUntil(std::atomic<std::uint32_t>& word, std::uint32_t seen, Clock::time_point deadline) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    struct timespec at;
    at.tv_sec = ns / 1000000000;
    at.tv_nsec = ns % 1000000000;
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_BITSET_PRIVATE, seen, &at, nullptr,
            FUTEX_BITSET_MATCH_ANY);
}

struct Ticker {
    std::mutex mutex;
    std::atomic<std::uint32_t> changed{0};  // bumped by add and remove
    std::vector<Card> cards;
    std::thread thread;
    int generation = 0;  // of the thread that is to run
    int nextHandle = 1;

    // Ticks under the mutex, so that remove() waits for a tick under way.
    void run(int mine) {
        pthread_setname_np(pthread_self(), "stream");
        // Wake at the tick's time, not up to the default 50 us later: the
        // cards' rate is their period plus the tick's work, not plus slack.
        prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
        std::unique_lock<std::mutex> lock(mutex);
        while (mine == generation && !cards.empty()) {
            Clock::time_point now = Clock::now();
            Clock::time_point first = cards.front().due;
            for (const Card& c : cards) first = std::min(first, c.due);
            if (first > now) {
                const std::uint32_t seen = changed.load();
                lock.unlock();
                sleepUntil(changed, seen, first);
                lock.lock();
                continue;
            }
            {
                // The readers wake once for the frames of every card ticked now.
                platform::EmulatedBusWakeBatch batch;
                for (Card& c : cards) {
                    if (c.due > now + std::chrono::microseconds(c.periodUs()) / 4) continue;
                    c.tick();
                    c.ticked = true;
                }
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

void wake(Ticker& t) {
    t.changed.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&t.changed), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
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
    wake(t);
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
    wake(t);
    if (ending.joinable()) ending.join();
}

}  // namespace sim
