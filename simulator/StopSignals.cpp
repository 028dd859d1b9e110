#include "simulator/StopSignals.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace sim {

sigset_t blockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

bool waitForStop(const sigset_t& stopSignals, int seconds) {
    timespec timeout{seconds, 0};
    while (true) {
        const int sig = sigtimedwait(&stopSignals, nullptr, seconds < 0 ? nullptr : &timeout);
        if (sig == SIGTERM || sig == SIGINT) return true;
        if (sig < 0 && errno == EINTR) continue;
        return false;
    }
}

}  // namespace sim
