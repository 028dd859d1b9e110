#include "runtime/Signal.h"
#include "runtime/Timer.h"

#include <semaphore.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <condition_variable>
#include <mutex>

struct Timer::State {
    std::atomic<int> periodMs;
    std::atomic<bool> repeat;
    std::atomic<bool> active{false};
    tvl::Signal<> timeout;
    sem_t semaphore;

    // Ends the thread: set by the destructor, which also cuts a sleep short.
    std::mutex quitLock;
    std::condition_variable quitChanged;
    bool quit = false;

    State(int period, bool rep) : periodMs(period), repeat(rep) { sem_init(&semaphore, 0, 0); }
    ~State() { sem_destroy(&semaphore); }

    // Sleeps one period on the monotonic clock; false when told to quit.
    bool sleepPeriod(std::chrono::nanoseconds length) {
        const auto deadline = std::chrono::steady_clock::now() + length;
        std::unique_lock<std::mutex> lock(quitLock);
        quitChanged.wait_until(lock, deadline, [this] { return quit; });
        return !quit;
    }
    bool quitting() {
        std::lock_guard<std::mutex> lock(quitLock);
        return quit;
    }
};

Timer::Timer() : Timer(500, false) {}

Timer::Timer(int periodMs, bool repeat)
    : state(std::make_shared<State>(periodMs, repeat)), timerThread(&Timer::run, state) {}

Timer::~Timer() {
    stop();
    {
        std::lock_guard<std::mutex> lock(state->quitLock);
        state->quit = true;
    }
    state->quitChanged.notify_all();
    sem_post(&state->semaphore);
    if (timerThread.get_id() == std::this_thread::get_id())
        timerThread.detach();   // deleted by its own handler: the thread ends when the handler returns
    else
        timerThread.join();
}

int Timer::start() {
    state->active = true;
    return sem_post(&state->semaphore);
}

void Timer::stop() { state->active = false; }

void Timer::setPeriod(int periodMs) { state->periodMs = periodMs; }
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
    for (;;) {
        while (sem_wait(&s->semaphore) != 0 && errno == EINTR) {
        }
        if (s->quitting()) return;
        if (!s->sleepPeriod(sleepLength(s->periodMs))) return;
        if (!s->active) continue;
        if (s->repeat)
            sem_post(&s->semaphore);   // the next period follows at once
        else
            s->active = false;
        s->timeout.emit();
    }
}
