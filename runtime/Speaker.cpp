#include "runtime/Speaker.h"

#include "platform/Platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

struct Pattern {
    int tones;
    unsigned durationMs;
    unsigned count;     // timer divisor, 1193180 / frequency in Hz
    unsigned pauseMs;   // after each tone, counted from its start
};

constexpr Pattern kBeep{2, 50, 1193, 100};
constexpr Pattern kLongTone{1, 1000, 2651, 500};
constexpr Pattern kTripleBeep{3, 100, 1403, 200};
constexpr Pattern kShortBeep{1, 100, 1403, 200};

void play(const Pattern& p) {
    const std::string device = platform::resolve(platform::path::kConsoleTty);
    const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    for (int i = 0; i < p.tones; ++i) {
        platform::consoleTone(fd, Speaker::toneArgument(p.durationMs, p.count));   // result ignored
        std::this_thread::sleep_for(std::chrono::milliseconds(p.pauseMs));
    }
    close(fd);
}

}  // namespace

Speaker* Speaker::instance() {
    static Speaker* const speaker = new Speaker;   // thread-safe first use; never freed
    return speaker;
}

unsigned long Speaker::toneArgument(unsigned durationMs, unsigned count) {
    return (static_cast<unsigned long>(durationMs) << 16) | count;
}

void Speaker::beep() { play(kBeep); }
void Speaker::longTone() { play(kLongTone); }
void Speaker::tripleBeep() { play(kTripleBeep); }
void Speaker::shortBeep() { play(kShortBeep); }
