// The emulated CAN bus: one shared-memory file per bus name under the run
// folder (resolve(path::kRunDir) + "/canbus/" + name), mapped by every
// endpoint of every process that opens that name.
//
// The file holds a header and a ring of frame slots.  A writer appends under
// a process-shared robust mutex (a writer that dies holding it leaves it to
// the next one, which finds EOWNERDEAD and carries on), so frames are totally
// ordered.  Each endpoint keeps its own read position in its own process:
// the ring needs nothing from an endpoint, so a crashed process leaves it
// intact.  A reader that falls more than a ring behind is moved forward and
// counts the frames it lost.  Readers sleep on futex words: each endpoint
// has an entry in a wake table in the header (64 of them) with its
// filters, so a writer wakes only the sleeping readers that want the frame;
// the entry of a process that died is taken over by the next endpoint that
// opens.  Endpoints beyond the table sleep on a bus-wide word that every
// write bumps.  The bus's bandwidth is a token bucket in the header: a write
// that finds it empty fails with ENOBUFS.
//
// Limits: no arbitration, no error frames; the ring holds 65,536 frames
// (eight seconds of a saturated 1 Mbit/s bus).
#pragma once

#include "platform/CanTransport.h"

#include <memory>
#include <string>

namespace platform {

// Default bandwidth: a 1 Mbit/s bus carries about 8,000 frames/s.
constexpr double kEmulatedBusFramesPerSecond = 8000.0;
constexpr double kEmulatedBusBurstFrames = 512.0;

// An endpoint on the emulated bus (openCanTransport picks it when the
// kernel has no SocketCAN or no such interface).
std::unique_ptr<CanTransport> openEmulatedCanTransport(const char* interfaceName);

// Sets the bandwidth of the named bus in the current sandbox (framesPerSecond
// 0: unlimited).  For benchmarks and tests; the setting lasts until the bus
// file is made anew.  Returns false when the bus cannot be opened.
bool setEmulatedBusBandwidth(const std::string& interfaceName, double framesPerSecond, double burstFrames);

namespace testhooks {
// Takes the bus's writer lock through the endpoint and keeps it (for a test
// that kills the holder).  Returns false on a non-emulated endpoint.
bool holdEmulatedBusLock(CanTransport& endpoint);
// The endpoint's entry in the bus's wake table, -1 when it has none.
int emulatedWakeEntry(CanTransport& endpoint);
}  // namespace testhooks

}  // namespace platform
