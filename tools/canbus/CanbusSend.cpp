// canbus-send <interface> <can_id>#{data}: sends one frame.
#include "can/CANinterface.h"
#include "platform/CanTransport.h"
#include "platform/Platform.h"
#include "tools/canbus/FrameText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

void usage() {
    std::fprintf(stderr,
                 "Usage: canbus-send [-sandbox DIR] [-socketcan] <interface> <can_id>#{data}\n"
                 "  <can_id>: 3 hex digits (standard frame) or 8 (extended frame)\n"
                 "  {data}:   0..8 bytes as hex pairs, optionally separated by '.'\n"
                 "            or R for a remote request\n"
                 "  -socketcan: the kernel's SocketCAN interface, not the emulated bus\n"
                 "Examples: canbus-send vcan0 16A#   canbus-send vcan0 320#3F80000000\n");
}

}  // namespace

int main(int argc, char** argv) {
    argc = platform::consumeSandboxOption(argc, argv);
    if (argc != 3) {
        usage();
        return 1;
    }
    can_frame frame;
    if (!canbus::parseFrame(argv[2], frame)) {
        std::fprintf(stderr, "Wrong CAN frame format: %s\n", argv[2]);
        usage();
        return 1;
    }
    auto bus = platform::openCanTransport(argv[1]);
    if (!bus->valid()) return 1;
    // Through the CAN layer's send path, so a busy bus is retried with its
    // back-off instead of failing at once.
    CANinterface can(std::move(bus));
    const int result = can.sendFrame(&frame);
    if (result == 0) return 0;
    // A positive result: the bus stayed full through every try.  Other
    // failures were reported by the CAN layer.
    if (result > 0) std::fprintf(stderr, "write: %s\n", std::strerror(ENOBUFS));
    return 1;
}
