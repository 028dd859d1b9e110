// How tvl4700 ends: on SIGTERM or SIGINT, or when its event loop ends.
//
// The stop signals are blocked in every thread (main blocks them before any
// other thread exists, and every thread inherits the mask) and taken by a
// thread of their own with sigwait, so no signal handler runs and nothing
// here has to be async-signal-safe.  A stop
//  1. writes every file kept dirty for a save timer (the meter's and the
//     channels' settings, the error queue's file, the counters), each
//     replaced atomically as the timers do;
//  2. removes the port announcements this process made under run/ports/,
//     and the emulated bus's file when no other program has the bus open;
//  3. ends the process at once (exit_group): no thread is joined and no
//     static object destroyed, so a thread busy elsewhere (a client's
//     request, a script) never holds the stop up.
// A stop that has not ended after kStopDeadline (a file system that hangs)
// ends the process all the same; a file not yet replaced keeps its old
// content.
#pragma once

#include <chrono>

namespace programstop {

constexpr std::chrono::seconds kStopDeadline{4};

// Blocks SIGTERM and SIGINT in the calling thread.  Called first in main,
// before any other thread is started.
void blockStopSignals();

// Starts the thread that waits for SIGTERM or SIGINT and then stops the
// program (exit status 0).
void startStopThread();

// Writes every file that holds a change not yet written (step 1 above).
// Also for the menu's exits, before they end the machine or the program.
void saveFiles();

// Steps 1-3; status is the process's exit status.  A second call (the
// event loop ending while a signal's stop runs) waits for the first one to
// end the process.
[[noreturn]] void stop(const char* why, int status);

}  // namespace programstop
