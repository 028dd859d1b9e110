// single-card-peer: the backplane and one channel card, in slot 2, as a
// single-channel instrument has them (a single-axis probe, ready 2 s after
// the start).  A test peer for tvl4700's single-channel screen.
//
//   single-card-peer -can NAME [-sandbox DIR]      (until SIGTERM or SIGINT)
#include "PeerMain.h"

int main(int argc, char** argv) {
    return peer::run(argc, argv, "single-card-peer", [](const char* interfaceName) {
        peer::Cards cards;
        cards.push_back(std::make_unique<ChannelSim>(2, interfaceName, 0.0, 10.0));
        cards[0]->_setChannelId(0);   // single-axis probe
        cards[0]->_setProbeType(3);
        cards[0]->_setStatus(1);
        return cards;
    });
}
