// field-cards-peer: the backplane and the three channel cards as mendra has
// them, but each card in a steady field (slot 1 at 20 %, slot 2 at 40 %,
// slot 3 at 60 % of its range's full scale), so that its waveform captures
// are sines of three heights and a trigger level of 0 is crossed.  The
// probes are ready 2 s after the start.  A test peer for the waveform view.
//
//   field-cards-peer -can NAME [-sandbox DIR]      (until SIGTERM or SIGINT)
#include "PeerMain.h"

int main(int argc, char** argv) {
    return peer::run(argc, argv, "field-cards-peer", [](const char* interfaceName) {
        peer::Cards cards;
        for (int slot = 1; slot <= 3; ++slot) {
            auto card = std::make_unique<ChannelSim>(slot, interfaceName, 0.0, 1.0);
            card->setFieldLevel(20.0 * slot);
            card->_setChannelId(slot);
            card->_setProbeType(3);
            card->_setStatus(1);
            cards.push_back(std::move(card));
        }
        return cards;
    });
}
