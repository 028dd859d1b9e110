// How mendra and the test peers end: SIGTERM or SIGINT, taken by a wait in
// the main thread rather than by a handler.
#pragma once

#include <signal.h>

namespace sim {

// Blocks SIGTERM and SIGINT in the calling thread; every thread started from
// it afterwards inherits the mask, so the stop signals reach only
// waitForStop.  Returns the set to wait on.
sigset_t blockStopSignals();

// Waits up to `seconds` (without end when negative) for SIGTERM or SIGINT;
// true when one came.
bool waitForStop(const sigset_t& stopSignals, int seconds = -1);

}  // namespace sim
