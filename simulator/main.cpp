// mendra: simulates the three channel-processor cards and the backplane on
// the CAN bus, so that tvl4700 runs without that hardware.
//
//   mendra [-can NAME] [-sandbox DIR] [-socketcan]
//
// Runs until SIGTERM or SIGINT, then stops every node and exits with 0; ends
// with 1 when the emulated bus cannot be opened.
#include "console/Console.h"
#include "platform/CanTransport.h"
#include "platform/Platform.h"
#include "simulator/BackplaneSim.h"
#include "simulator/ChannelSim.h"
#include "simulator/StopSignals.h"

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kNameBuffer = platform::kMaxInterfaceName + 1;

struct CardSetup {
    int channel;
    double unused;
    double noiseLevel;   // percent of full scale
};

constexpr CardSetup kCards[] = {
    {1, 1000.0, 40.0},
    {2, -518.0, 10.0},
    {3, 124.0, 80.0},
};

}  // namespace

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);

    char interfaceName[kNameBuffer] = "can0";
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "-can") != 0) continue;
        if (i + 1 >= argc) break;
        const char* name = argv[++i];
        // A name that no bus can have is refused before any node starts.
        const std::string problem = platform::canInterfaceNameProblem(name);
        if (!problem.empty()) {
            console::printError("mendra: %s\n", problem.c_str());
            return 2;
        }
        std::strcpy(interfaceName, name);
    }

    // A bus that cannot be had ends the program before it runs without one.
    std::unique_ptr<platform::CanTransport> busHold;
    if (!platform::holdEmulatedBus(interfaceName, busHold)) {
        console::printError("mendra: cannot open CAN interface %s\n", interfaceName);
        return 1;
    }

    // Every thread started from here on inherits the mask, so the stop
    // signals reach only the wait below.
    const sigset_t stopSignals = sim::blockStopSignals();

    BackplaneSim backplane(interfaceName, 27.0f);
    console::say("Using CAN ", interfaceName);

    std::unique_ptr<ChannelSim> cards[3];
    for (int i = 0; i < 3; ++i)
        cards[i] = std::make_unique<ChannelSim>(kCards[i].channel, interfaceName, kCards[i].unused,
                                                kCards[i].noiseLevel);
    for (auto& card : cards) {
        card->_setChannelId(card->getChannel());
        card->_setProbeType(3);
        card->_setStatus(1);
    }

    // The probes become ready after two 5 s periods.
    bool stop = false;
    for (int period = 1; !stop; ++period) {
        stop = sim::waitForStop(stopSignals, 5);
        if (!stop && period == 2)
            for (auto& card : cards) card->_setStatus(2);
    }

    for (auto& card : cards) card.reset();
    return 0;
}
