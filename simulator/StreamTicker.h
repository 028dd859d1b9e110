// One thread ticks the streaming of every simulated card of the process.
// Each card's next tick comes its period after the end of its previous one
// (the sleep comes on top of the work, as on the cards), and a card whose
// tick is due within a quarter of its period is ticked together with the
// one that is due now.  Cards at the same rate so fall into step and cost
// one wake-up per period between them, and the frames of a tick one wake-up
// of each reader on the emulated bus, instead of one per card or frame.
#pragma once

#include <functional>

namespace sim {

class StreamTicker {
public:
    // Adds a card: periodUs gives its current tick period, tick does one
    // tick's work (on the ticker's thread, named "stream").  The first tick
    // comes at once.  Returns a handle for remove().
    static int add(std::function<int()> periodUs, std::function<void()> tick);
    // Removes a card; once this returns, its tick never runs again.  The
    // thread ends with the last card.
    static void remove(int handle);
};

}  // namespace sim
