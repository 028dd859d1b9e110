#include "frontpanel/ProgramStop.h"

#include "console/Console.h"
#include "meter/MeterModel.h"
#include "platform/EmulatedBus.h"
#include "platform/Network.h"
#include "runtime/Logger.h"
#include "runtime/SaveStatus.h"

#include <FL/Fl.H>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

namespace programstop {

namespace {

constexpr const char* kSource = "tvl4700";
// How long the deadline's message may take before the process ends without it.
constexpr std::chrono::milliseconds kMessageBound{200};

std::atomic<bool> stopping{false};

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

const char* signalName(int signal) {
    switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    default: return "SIGHUP";
    }
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

// Writes text to standard error without waiting for a reader: what a full
// pipe or a stopped terminal does not take at once is dropped.  A pipe or a
// terminal gets a non-blocking description of its own (the flags of the one
// shared with other programs stay as they are), a socket MSG_DONTWAIT; a
// file never waits for a reader.
void writeWithoutWaiting(const char* text, std::size_t size) {
    struct stat st {};
    if (fstat(STDERR_FILENO, &st) != 0) return;
    ssize_t ignored = 0;
    if (S_ISSOCK(st.st_mode)) {
        ignored = ::send(STDERR_FILENO, text, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    } else if (S_ISREG(st.st_mode)) {
        ignored = ::write(STDERR_FILENO, text, size);
    } else {
        const int fd = ::open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return;
        ignored = ::write(fd, text, size);
        ::close(fd);
    }
    (void)ignored;
}

// Ends the process when the stop takes longer than its deadline.  Neither
// the logger nor the standard streams: the stop may be stuck in them (an
// output nobody reads).  The message is written by a thread of its own, so
// that not even a file system that hangs under standard error holds the end.
void startDeadline() {
    try {
        std::thread([] {
            std::this_thread::sleep_for(kStopDeadline);
            static std::atomic<bool> said{false};
            try {
                std::thread([] {
                    static const char message[] = "tvl4700: the stop did not end in time: ending now\n";
                    writeWithoutWaiting(message, sizeof message - 1);
                    said = true;
                }).detach();
                const auto end = std::chrono::steady_clock::now() + kMessageBound;
                while (!said && std::chrono::steady_clock::now() < end)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            } catch (const std::system_error&) {
                // No thread for the message: the process ends without it.
            }
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
    stop(signalName(signal), 0);
}

// The toolkit's fatal error handler: it must not return.
[[noreturn]] void toolkitFatal(const char* format, ...) {
    char message[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    console::printError("%s\n", message);
    stop(message, 1);
}

}  // namespace

void blockStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void startStopThread() { std::thread(waitForStopSignal).detach(); }

void takeToolkitFatalErrors() { Fl::fatal = toolkitFatal; }

bool saveFiles() {
    MeterModel* meter = MeterModel::existingInstance();
    return !meter || meter->saveDirtyFiles();
}

void stop(const char* why, int status) {
    if (stopping.exchange(true)) {
        // The first stop ends the process.
        for (;;) pause();
    }
    startDeadline();
    Logger::instance()->log(1, kSource, std::string("Stopping (") + why + ")");
    SaveStatus::beginLastSaves();
    const bool saved = saveFiles();
    platform::withdrawAnnouncedPorts();
    platform::removeEmulatedBusFilesIfLast();
    Logger::instance()->log(1, kSource, saved ? "Stopped" : "Stopped with a file not written");
    endProcess(saved ? status : 1);
}

}  // namespace programstop
