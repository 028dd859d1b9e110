// field-cards-peer: the backplane and the three channel cards as mendra has
// them, but each card in a steady field (slot 1 at 20 %, slot 2 at 40 %,
// slot 3 at 60 % of its range's full scale), so that its waveform captures
// are sines of three heights and a trigger level of 0 is crossed.  The
// probes are ready 2 s after the start.  A test peer for the waveform view.
//
//   field-cards-peer -can NAME [-sandbox DIR]      (until SIGTERM or SIGINT)
#include "platform/Platform.h"
#include "simulator/BackplaneSim.h"
#include "simulator/ChannelSim.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);
    const char* interfaceName = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-can") == 0) interfaceName = argv[i + 1];
    if (!interfaceName) {
        std::fprintf(stderr, "Usage: field-cards-peer -can NAME [-sandbox DIR]\n");
        return 2;
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    BackplaneSim backplane(interfaceName, 27.0f);
    std::unique_ptr<ChannelSim> cards[3];
    for (int slot = 1; slot <= 3; ++slot) {
        auto& card = cards[slot - 1];
        card = std::make_unique<ChannelSim>(slot, interfaceName, 0.0, 1.0);
        card->setFieldLevel(20.0 * slot);
        card->_setChannelId(slot);
        card->_setProbeType(3);
        card->_setStatus(1);
    }

    timespec ready{2, 0};
    int sig = sigtimedwait(&stopSignals, nullptr, &ready);
    if (sig < 0)
        for (auto& card : cards) card->_setStatus(2);
    while (sig != SIGTERM && sig != SIGINT) {
        sig = sigwaitinfo(&stopSignals, nullptr);
        if (sig < 0 && errno != EINTR) break;
    }
    for (auto& card : cards) card.reset();
    return 0;
}
