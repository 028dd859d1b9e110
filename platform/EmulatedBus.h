// The emulated CAN bus: one shared-memory file per bus name under the run
// folder (resolve(path::kRunDir) + "/canbus/" + name), mapped by every
// endpoint of every process that opens that name.
//
// The file holds a header and a ring of frame slots.  A writer appends under
// a process-shared robust mutex (a writer that dies holding it leaves it to
// the next one, which finds EOWNERDEAD and carries on), so frames are totally
// ordered.  Each endpoint keeps its own read position in its own process:
// nothing of an endpoint lives in the file, so an endpoint of a crashed
// process needs no clean-up.  A reader that falls more than a ring behind is
// moved forward and counts the frames it lost.  Readers sleep on a futex word
// in the header; writers wake them.  The bus's bandwidth is a token bucket in
// the header: a write that finds it empty fails with ENOBUFS.
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
}  // namespace testhooks

}  // namespace platform
