// The life of a test peer: the backplane and the cards a test asks for on
// the bus given with -can, their probes made ready 2 s after the start, all
// of them running until SIGTERM or SIGINT.
#pragma once

#include "console/Console.h"
#include "platform/Platform.h"
#include "simulator/BackplaneSim.h"
#include "simulator/ChannelSim.h"
#include "simulator/StopSignals.h"

#include <cstring>
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
        console::printError("Usage: %s -can NAME [-sandbox DIR]\n", name);
        return 2;
    }

    const sigset_t stopSignals = sim::blockStopSignals();

    BackplaneSim backplane(interfaceName, 27.0f);
    Cards cards = makeCards(interfaceName);
    // Said once the cards are on the bus: the tests start tvl4700 then.
    console::say("Using CAN ", interfaceName);

    if (!sim::waitForStop(stopSignals, 2)) {
        for (auto& card : cards) card->_setStatus(2);
        sim::waitForStop(stopSignals);
    }
    cards.clear();
    return 0;
}

}  // namespace peer
