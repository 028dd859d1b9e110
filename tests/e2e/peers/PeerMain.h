// The life of a test peer: the backplane and the cards a test asks for on
// the bus given with -can, their probes made ready 2 s after the start, all
// of them running until SIGTERM or SIGINT.
#pragma once

#include "platform/Platform.h"
#include "simulator/BackplaneSim.h"
#include "simulator/ChannelSim.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace peer {

using Cards = std::vector<std::unique_ptr<ChannelSim>>;

// makeCards(interfaceName) makes the cards, their probes present but not
// ready yet (status 1).
template <typename MakeCards>
int run(int argc, char** argv, const char* name, MakeCards makeCards) {
    argc = platform::consumeSandboxOption(argc, argv);
    const char* interfaceName = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-can") == 0) interfaceName = argv[i + 1];
    if (!interfaceName) {
        std::fprintf(stderr, "Usage: %s -can NAME [-sandbox DIR]\n", name);
        return 2;
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    BackplaneSim backplane(interfaceName, 27.0f);
    Cards cards = makeCards(interfaceName);

    timespec ready{2, 0};
    int sig = sigtimedwait(&stopSignals, nullptr, &ready);
    if (sig < 0)
        for (auto& card : cards) card->_setStatus(2);
    while (sig != SIGTERM && sig != SIGINT) {
        sig = sigwaitinfo(&stopSignals, nullptr);
        if (sig < 0 && errno != EINTR) break;
    }
    cards.clear();
    return 0;
}

}  // namespace peer
