// Opening a link by interface name.  Kept apart so that code which only uses
// injected endpoints does not pull in the platform's transports.
#include "can/CANinterface.h"
#include "platform/CanTransport.h"

// The platform refuses a missing or too long name with a message and hands
// back an endpoint that is not open.
CANinterface::CANinterface(const char* interfaceName)
    : CANinterface(platform::openCanTransport(interfaceName)) {}
