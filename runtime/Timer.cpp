#include "runtime/Signal.h"
#include "runtime/Timer.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

using Clock = std::chrono::steady_clock;

struct Timer::State {
    std::atomic<int> periodMs;
    std::atomic<bool> repeat;
    std::atomic<bool> active{false};
    tvl::Signal<> timeout;

    // The pending deadline and everything that replaces it.  Never held while
    // the timeout is raised.
    std::mutex lock;
    std::condition_variable changed;
    bool armed = false;            // a deadline is pending
    Clock::time_point periodStart;
    Clock::time_point deadline;
    unsigned long long generation = 0;   // bumped by every start, stop and new period
    bool quit = false;             // set by the destructor

    State(int period, bool rep) : periodMs(period), repeat(rep) {}

    // A period begins now (lock held).
    void arm(Clock::time_point now) {
        armed = true;
        periodStart = now;
        deadline = now + sleepLength(periodMs);
        ++generation;
    }
};

Timer::Timer() : Timer(500, false) {}

Timer::Timer(int periodMs, bool repeat)
    : state(std::make_shared<State>(periodMs, repeat)), timerThread(&Timer::run, state) {}

Timer::~Timer() {
    {
        std::lock_guard<std::mutex> lock(state->lock);
        state->active = false;
        state->armed = false;
        state->quit = true;
        ++state->generation;
    }
    state->changed.notify_all();
    if (timerThread.get_id() == std::this_thread::get_id())
        timerThread.detach();   // deleted by its own handler: the thread ends when the handler returns
    else
        timerThread.join();
}

// start, stop and setPeriod hold their own reference to the state: a
// handler may delete this timer as soon as the new deadline is in force.
int Timer::start() {
    const std::shared_ptr<State> s = state;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        s->active = true;
        s->arm(Clock::now());
    }
    s->changed.notify_all();
    return 0;
}

void Timer::stop() {
    const std::shared_ptr<State> s = state;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        s->active = false;
        s->armed = false;
        ++s->generation;
    }
    s->changed.notify_all();
}

void Timer::setPeriod(int periodMs) {
    const std::shared_ptr<State> s = state;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        if (s->periodMs.exchange(periodMs) == periodMs || !s->armed) return;
        // The period in progress now ends its new length after it began.
        s->deadline = s->periodStart + sleepLength(periodMs);
        ++s->generation;
    }
    s->changed.notify_all();
}

int Timer::getPeriod() const { return state->periodMs; }
void Timer::setRepeat(bool repeat) { state->repeat = repeat; }
bool Timer::isRepeat() const { return state->repeat; }
bool Timer::isActive() const { return state->active; }

tvl::Signal<>& Timer::signalTimeout() { return state->timeout; }

std::chrono::nanoseconds Timer::sleepLength(int periodMs) {
    if (periodMs <= 0) return std::chrono::nanoseconds(0);
    return std::chrono::milliseconds(static_cast<std::int64_t>(periodMs));
}

void Timer::run(std::shared_ptr<State> s) {
    std::unique_lock<std::mutex> lock(s->lock);
    for (;;) {
        s->changed.wait(lock, [&s] { return s->quit || s->armed; });
        if (s->quit) return;
        const unsigned long long generation = s->generation;
        // Any start, stop or new period during the sleep ends it: the loop
        // then waits for the deadline in force.
        if (s->changed.wait_until(lock, s->deadline, [&s, generation] { return s->generation != generation; }))
            continue;
        if (s->repeat) {
            s->armed = false;   // the next period begins once the handlers have run
        } else {
            s->armed = false;
            s->active = false;
        }
        lock.unlock();
        s->timeout.emit();
        lock.lock();
        // A repeating timer that no handler stopped, started or changed
        // sleeps its next period from here.
        if (s->generation == generation && s->repeat && s->active && !s->quit) s->arm(Clock::now());
    }
}
