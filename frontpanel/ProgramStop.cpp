#include "frontpanel/ProgramStop.h"

#include "console/Console.h"
#include "meter/MeterModel.h"
#include "platform/EmulatedBus.h"
#include "platform/Network.h"
#include "runtime/Logger.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

namespace programstop {

namespace {

constexpr const char* kSource = "tvl4700";

std::atomic<bool> stopping{false};

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

// Ends the process at once, as the signal's default action did: no atexit
// handler, no static destructor, and no sanitizer's end-of-process checks,
// which would count the threads that are by design never joined (the
// servers' threads live until the process ends).
[[noreturn]] void exitNow(int status) {
    for (;;) syscall(SYS_exit_group, status);
}

[[noreturn]] void endProcess(int status) {
    // The console's lines are queued for their writer thread: out with them
    // (as far as the output takes them within its bound) before the end.
    console::flush();
    std::fflush(nullptr);
    exitNow(status);
}

// Ends the process when the stop takes longer than its deadline.  Neither
// the logger nor the standard streams: the stop may be stuck in them (an
// output nobody reads).
void startDeadline() {
    try {
        std::thread([] {
            std::this_thread::sleep_for(kStopDeadline);
            static const char message[] = "tvl4700: the stop did not end in time: ending now\n";
            ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
            (void)ignored;
            exitNow(1);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the stop goes on without its deadline.
    }
}

void waitForStopSignal() {
    const sigset_t set = stopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
        // Interrupted: wait again.
    }
    stop(signal == SIGTERM ? "SIGTERM" : "SIGINT", 0);
}

}  // namespace

void blockStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void startStopThread() { std::thread(waitForStopSignal).detach(); }

void saveFiles() {
    if (MeterModel* meter = MeterModel::existingInstance()) meter->saveDirtyFiles();
}

void stop(const char* why, int status) {
    if (stopping.exchange(true)) {
        // The first stop ends the process.
        for (;;) pause();
    }
    startDeadline();
    Logger::instance()->log(1, kSource, std::string("Stopping (") + why + ")");
    saveFiles();
    platform::withdrawAnnouncedPorts();
    platform::removeEmulatedBusFilesIfLast();
    Logger::instance()->log(1, kSource, "Stopped");
    endProcess(status);
}

}  // namespace programstop
