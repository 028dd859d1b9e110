// Where the program's TCP servers listen.  The instrument listens on every
// address at its fixed ports.  The PC build listens on the loopback address
// only, and its ports can be set per sandbox, so that several instruments run
// side by side (one sandbox each) and tests never need a fixed port.
//
// PC build: the optional sandbox file "ports.conf" holds lines
//   scpi: 5024
//   json: 6001
// A port of 0 lets the system pick a free one; the server then announces the
// port it got in the sandbox file "run/ports/scpi" (or ".../json"), one line.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class Service { Scpi, Json };

// The port the service listens on: 5024 (SCPI) and 6001 (JSON) unless the
// PC build's sandbox says otherwise.
int tcpPort(Service service);

// The IPv4 address servers bind to, in host byte order: INADDR_ANY on the
// instrument, INADDR_LOOPBACK in the PC build.
std::uint32_t listenAddress();

// Records the port a server has bound (PC build: the sandbox file named
// above, written atomically).  Nothing in the instrument build.
void announcePort(Service service, int port);
// Removes the announcements this process made (the program's stop).
void withdrawAnnouncedPorts();

// The sandbox file that announcePort writes for the service ("" in the
// instrument build); for tests and scripts.
std::string announcedPortFile(Service service);

}  // namespace platform
