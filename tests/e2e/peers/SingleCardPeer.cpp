// single-card-peer: the backplane and one channel card, in slot 2, as a
// single-channel instrument has them (a single-axis probe, ready 2 s after
// the start).  A test peer for tvl4700's single-channel screen.
//
//   single-card-peer -can NAME [-sandbox DIR]      (until SIGTERM or SIGINT)
#include "platform/Platform.h"
#include "simulator/BackplaneSim.h"
#include "simulator/ChannelSim.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);
    const char* interfaceName = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-can") == 0) interfaceName = argv[i + 1];
    if (!interfaceName) {
        std::fprintf(stderr, "Usage: single-card-peer -can NAME [-sandbox DIR]\n");
        return 2;
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    BackplaneSim backplane(interfaceName, 27.0f);
    ChannelSim card(2, interfaceName, 0.0, 10.0);
    card._setChannelId(0);   // single-axis probe
    card._setProbeType(3);
    card._setStatus(1);

    timespec ready{2, 0};
    int sig = sigtimedwait(&stopSignals, nullptr, &ready);
    if (sig < 0) card._setStatus(2);
    while (sig != SIGTERM && sig != SIGINT) {
        sig = sigwaitinfo(&stopSignals, nullptr);
        if (sig < 0 && errno != EINTR) break;
    }
    return 0;
}
