// Opening a link by interface name.  Kept apart so that code which only uses
// injected endpoints does not pull in the platform's transports.
#include "can/CANinterface.h"
#include "can/FrameCodec.h"
#include "platform/CanTransport.h"

#include <cstdio>
#include <cstring>

namespace {

std::unique_ptr<platform::CanTransport> openEndpoint(const char* interfaceName) {
    if (interfaceName == nullptr) {
        std::fprintf(stderr, "CANinterface: no interface name\n");
        return can::closedEndpoint();
    }
    if (strnlen(interfaceName, platform::kMaxInterfaceName + 1) > platform::kMaxInterfaceName) {
        std::fprintf(stderr, "CANinterface: interface name \"%.*s...\" is longer than %zu characters\n",
                     static_cast<int>(platform::kMaxInterfaceName), interfaceName,
                     platform::kMaxInterfaceName);
        return can::closedEndpoint();
    }
    return platform::openCanTransport(interfaceName);
}

}  // namespace

CANinterface::CANinterface(const char* interfaceName) : CANinterface(openEndpoint(interfaceName)) {}
