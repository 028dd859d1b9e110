// The emulated CAN bus: one shared-memory file per bus name under the run
// folder (resolve(path::kRunDir) + "/canbus/" + name + ".bus"), mapped once by
// every process that opens an endpoint of that name.
//
// No lock that another process can hold is on the send path, so a process
// stopped (SIGSTOP, a debugger) or killed at any point never holds up the
// others:
//  - Each sending process has a ring of its own in the file (taken at its
//    first send, given back when its last endpoint on the bus closes).  Its
//    place is held by a lock on the file that the kernel drops when the
//    process dies, so the place of a process that died, or that names a pid
//    of a program without the bus open, is free for the next sender.  Only
//    that process writes the ring, its threads one after the other under a
//    mutex of the process.  A frame is published by advancing the ring's
//    head after the slot is written, so a sender stopped or killed mid-write
//    has published nothing.
//  - Frames carry a bus-wide sequence number (an atomic counter); readers
//    merge the rings in that order, so the frames of one sender arrive in
//    the order sent and causes come before their effects.
//  - The bandwidth is a token bucket kept as one atomic word (the bucket's
//    theoretical arrival time); a send that finds it empty fails with ENOBUFS.
// Each endpoint keeps its own read positions in its own process.  A reader
// that falls more than a ring behind a sender is moved forward and counts
// the frames it lost.  Readers sleep on futex words: each endpoint has an
// entry in a wake table in the header (64 of them) with its filters and a
// bit in a mask of sleepers, so a sender wakes, once, only the sleeping
// readers that want the frame (or, in a wake batch, the frames); the entry
// of a process that died is taken over by the next endpoint that opens.
// Endpoints beyond the table sleep on a bus-wide word.
//
// The header holds a version and a check value over the file's layout.  A
// file that fails the check (or comes from an earlier boot) is made anew, by
// renaming a new file over it, once no endpoint has it open (each endpoint
// holds a shared lock on it); a mapped file is never truncated.  All of a
// new file's space is reserved before it is put in place, so a full file
// system refuses the open with a message and never kills a process that
// touches a page later (SIGBUS).  Each process that opens the bus puts right
// the live words that a crashed or misbehaving program left wrong: sender
// places no one holds, bandwidth words beyond their bounds.  The last
// program to close a bus (its last endpoint, or its stop) removes the file,
// under the file's lock: the shared lock is made exclusive, which only the
// last holder gets.
//
// Limits: no arbitration, no error frames; 8 sending processes per bus at a
// time; each ring holds 65,536 frames (eight seconds of a saturated 1 Mbit/s
// bus).  A bus file is 16 MB (8 rings of 65,536 32-byte slots and a 16 kB
// header).
#pragma once

#include "platform/CanTransport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Default bandwidth: a 1 Mbit/s bus carries about 8,000 frames/s.
constexpr double kEmulatedBusFramesPerSecond = 8000.0;
constexpr double kEmulatedBusBurstFrames = 512.0;

// An endpoint on the emulated bus (openCanTransport picks it unless SocketCAN
// was chosen).
std::unique_ptr<CanTransport> openEmulatedCanTransport(const char* interfaceName);

// While one lasts, the frames the calling thread sends on the emulated bus
// are published at once but the sleeping readers that want them are woken
// when it ends, once for all of them, not once per frame.  For a thread that
// sends several frames in one go (the simulator's stream tick): a reader
// then wakes once per go.  May be nested; only the outermost one wakes.
// A send that the bus refuses for its bandwidth (ENOBUFS) wakes at once the
// readers of what the batch sent so far, so that none waits while the sender
// backs off.
class EmulatedBusWakeBatch {
public:
    EmulatedBusWakeBatch();
    ~EmulatedBusWakeBatch();
    EmulatedBusWakeBatch(const EmulatedBusWakeBatch&) = delete;
    EmulatedBusWakeBatch& operator=(const EmulatedBusWakeBatch&) = delete;
};

// Sets the bandwidth of the named bus in the current sandbox (framesPerSecond
// 0: unlimited).  For benchmarks and tests; the setting lasts until the bus
// file is made anew.  Returns false when the bus cannot be opened.
bool setEmulatedBusBandwidth(const std::string& interfaceName, double framesPerSecond, double burstFrames);

// For a program about to end without closing its endpoints: removes the
// files of the buses this process has open that no other program has open
// (as closing the last endpoint does).  The endpoints keep working until the
// process ends.
void removeEmulatedBusFilesIfLast();

// The bus file of an interface name in the current sandbox.
std::string emulatedBusFile(const std::string& interfaceName);

namespace testhooks {
// Called by every send of this process on the emulated bus after the slot is
// taken and before the frame is published (nullptr: none).  For tests that
// stop or kill a sender mid-write.
void setEmulatedBusMidWriteHook(void (*hook)());
// Wake-up calls made by this process's sends on the emulated bus.
unsigned long emulatedBusWakeCalls();
// Whether the endpoint's reader sleeps, marked in the wake table.
bool emulatedReaderAsleep(CanTransport& endpoint);
// The endpoint's entry in the bus's wake table, -1 when it has none.
int emulatedWakeEntry(CanTransport& endpoint);
// Sets every counter of the named bus (sequence numbers, ring heads, the
// bucket, endpoint ids) to a value a few steps below 2^64, as a damaged file
// would hold them.  Returns false when the bus cannot be opened.
bool setEmulatedBusCountersNearWrap(const std::string& interfaceName);
// The bus files this process makes from now on fail to reserve their space
// with this error number (0: they reserve it as usual).
void failEmulatedBusReservation(int error);
// The size of a bus file, all of it reserved when the file is made.
std::size_t emulatedBusFileSize();
// Writes the bandwidth words of the named bus unchecked, as a program that
// crashed or misbehaved could leave them: the interval and tolerance (ns)
// and the bucket's arrival time, arrivalAheadNs from now.  Returns false
// when the bus cannot be opened.
bool setEmulatedBusBandwidthWords(const std::string& interfaceName, std::int64_t intervalNs,
                                  std::int64_t toleranceNs, std::int64_t arrivalAheadNs);
// Writes pid as the owner of every sender place of the named bus, without
// their locks, as programs that died could leave them.  Returns false when
// the bus cannot be opened.
bool setEmulatedBusPlaceOwners(const std::string& interfaceName, std::int32_t pid);
// The owner of each sender place of the named bus (0: free); empty when the
// bus cannot be opened.
std::vector<std::int32_t> emulatedBusPlaceOwners(const std::string& interfaceName);
}  // namespace testhooks

}  // namespace platform
