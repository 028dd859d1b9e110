// How tvl4700 ends: on SIGTERM, SIGINT or SIGHUP, when its event loop ends,
// or when the toolkit meets a fatal error (the X server lost: "X I/O error").
//
// The stop signals are blocked in every thread (main blocks them before any
// other thread exists, and every thread inherits the mask) and taken by a
// thread of their own with sigwait, so no signal handler runs and nothing
// here has to be async-signal-safe.  A stop
//  1. writes every file kept dirty for a save timer (the meter's and the
//     channels' settings, the error queue's file, the counters), each
//     replaced atomically as the timers do; a save of the same file that a
//     timer has begun is waited for first.  A file that cannot be written is
//     named on the console ("settings file bp not written: ...") and the
//     exit status is 1;
//  2. removes the port announcements this process made under run/ports/,
//     and the emulated bus's file when no other program has the bus open;
//  3. ends the process at once (exit_group): no thread is joined and no
//     static object destroyed, so a thread busy elsewhere (a client's
//     request, a script) never holds the stop up.
// A stop that has not ended after kStopDeadline (a file system that hangs)
// ends the process all the same, with status 1; a file not yet replaced
// keeps its old content.  Its message never waits for the output (a full
// pipe on standard error).
#pragma once

#include <chrono>

namespace programstop {

constexpr std::chrono::seconds kStopDeadline{4};

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread.  Called first in
// main, before any other thread is started.
void blockStopSignals();

// Starts the thread that waits for SIGTERM, SIGINT or SIGHUP and then stops
// the program (exit status 0 when every file was written).
void startStopThread();

// Makes the toolkit's fatal errors (the X server lost, no display to open)
// stop the program as above, with exit status 1, after printing the
// toolkit's message on standard error as the toolkit does.
void takeToolkitFatalErrors();

// Writes every file that holds a change not yet written (step 1 above); false
// when one could not be written.  Also for the menu's exits, before they end
// the machine or the program.
bool saveFiles();

// Steps 1-3; status is the process's exit status (1 when a file was not
// written).  A second call (the event loop ending while a signal's stop runs)
// waits for the first one to end the process.
[[noreturn]] void stop(const char* why, int status);

}  // namespace programstop
