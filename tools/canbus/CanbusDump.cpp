// canbus-dump [-n COUNT] <interface>[,<id>:<mask>...]: prints the frames seen
// on the bus, one line each.  Frames it lost because it fell behind (stopped
// with Ctrl-Z, a slow terminal) are reported before the next frame:
//   DROPCOUNT: dropped 84464 CAN frames on 'can0' socket (total drops 84464)
#include "platform/CanTransport.h"
#include "platform/Platform.h"
#include "tools/canbus/FrameText.h"

#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

void usage() {
    std::fprintf(stderr,
                 "Usage: canbus-dump [-sandbox DIR] [-socketcan] [-n COUNT] <interface>[,filter]...\n"
                 "  filter <id>:<mask>  receive when (frame id & mask) == (id & mask)\n"
                 "         <id>~<mask>  receive when they differ\n"
                 "  -n COUNT            end after COUNT frames\n"
                 "  -socketcan          the kernel's SocketCAN interface, not the emulated bus\n"
                 "Example: canbus-dump vcan0,320:7FF\n");
}

}  // namespace

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);
    long count = 0;
    std::string spec;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
            char* end;
            count = std::strtol(argv[++i], &end, 10);
            if (*end || count <= 0) {
                usage();
                return 1;
            }
        } else if (argv[i][0] == '-' || !spec.empty()) {
            usage();
            return 1;
        } else {
            spec = argv[i];
        }
    }
    std::string name;
    std::vector<can_filter> filters;
    if (spec.empty() || !canbus::parseInterfaceArgument(spec, name, filters)) {
        usage();
        return 1;
    }
    auto bus = platform::openCanTransport(name.c_str());
    if (!bus->valid()) return 1;
    if (bus->setFilters(filters.data(), filters.size()) != 0) {
        std::perror("setsockopt");
        return 1;
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    long seen = 0;
    std::uint64_t dropsReported = 0;
    while (!stopRequested && (count == 0 || seen < count)) {
        can_frame frame;
        ssize_t n = bus->read(frame, 200);
        if (n < 0) {
            std::perror("read");
            return 1;
        }
        const std::uint64_t drops = bus->droppedFrames();
        if (drops != dropsReported) {
            const unsigned long long lost = drops - dropsReported;
            std::printf("DROPCOUNT: dropped %llu CAN frame%s on '%s' socket (total drops %llu)\n", lost,
                        lost > 1 ? "s" : "", name.c_str(), static_cast<unsigned long long>(drops));
            dropsReported = drops;
        }
        if (n < static_cast<ssize_t>(sizeof frame)) continue;   // nothing, or a short frame
        std::printf("%s\n", canbus::formatFrame(name, frame).c_str());
        std::fflush(stdout);
        ++seen;
    }
    return 0;
}
