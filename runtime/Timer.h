// Timer: a one-shot or repeating period that raises a signal when it runs
// out.  Each timer owns one thread and a counting semaphore: every post of
// the semaphore releases the thread for one period; the timeout signal is
// raised on the timer's own thread, never on the starter's.
//
//   Timer t(100, true);                    // 100 ms, repeating
//   t.signalTimeout().connect(slot);       // runs on t's thread
//   t.start();                             // raises every ~100 ms ...
//   t.stop();                              // ... until stopped
//
// Semantics the callers rely on:
// - start() during a period does not restart it: the pending period ends at
//   its planned time; each extra start adds one more period behind it, which
//   raises only if the timer is still active when it ends.
// - stop() silences the period in progress without cutting it short.
// - setPeriod() applies from the next period that begins.
// - A period of 0 raises at once after each start (repeating: continuously).
// - The period is slept on the monotonic clock, so setting the instrument's
//   clock does not stretch or shorten it; periods up to an hour and more are
//   slept in full.
//
// A timer may be destroyed at any time, also from one of its own handlers:
// the destructor stops it and ends its thread (a sleep in progress is cut
// short and raises nothing).
#pragma once

#include "runtime/Signal.h"
#include <sigc++/sigc++.h>

#include <chrono>
#include <memory>
#include <thread>

class Timer {
public:
    Timer();                           // 500 ms, one-shot
    Timer(int periodMs, bool repeat);
    virtual ~Timer();

    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Makes the timer active and releases one period.  Returns 0, or -1 when
    // the semaphore could not be posted.
    int start();
    // Inactive: the period in progress ends without raising; a repeating
    // timer's chain ends there.
    void stop();

    void setPeriod(int periodMs);
    int getPeriod() const;
    void setRepeat(bool repeat);
    bool isRepeat() const;
    bool isActive() const;

    tvl::Signal<>& signalTimeout();

    // Length of one period as slept by the timer thread: a negative period
    // counts as 0.  Computed in 64 bits, so no period overflows.
    static std::chrono::nanoseconds sleepLength(int periodMs);

private:
    struct State;
    static void run(std::shared_ptr<State> state);

    // Shared with the thread, so that a timer deleted by one of its own
    // handlers leaves the thread something valid to finish on.
    std::shared_ptr<State> state;
    std::thread timerThread;
};
