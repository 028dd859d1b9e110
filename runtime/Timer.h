// Timer: a one-shot or repeating period that raises a signal when it runs
// out.  Each timer owns one thread, which sleeps until the pending deadline;
// the timeout signal is raised on the timer's own thread, never on the
// starter's.
//
//   Timer t(100, true);                    // 100 ms, repeating
//   t.signalTimeout().connect(slot);       // runs on t's thread
//   t.start();                             // raises every ~100 ms ...
//   t.stop();                              // ... until stopped
//
// Semantics the callers rely on:
// - There is at most one pending deadline, and a start, a stop or a new
//   period replaces it: start() during a period begins a fresh period from
//   now (a one-shot timer started twice raises once, a period after the
//   second start); stop() cancels the pending period; setPeriod() moves the
//   end of the period in progress to its start plus the new period (at once
//   when that has passed).  So nothing ever raises at a deadline that an
//   earlier start set.
// - A repeating timer's next period begins when its handlers have returned.
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

#include <atomic>
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

    // Makes the timer active and begins a period from now, in place of any
    // pending one.  Returns 0.
    int start();
    // Inactive: the pending period is cancelled; a repeating timer's chain
    // ends.
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
