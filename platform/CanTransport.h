// A CAN endpoint below CANinterface.  Two backends: the kernel's SocketCAN
// and an emulated bus shared through memory by every process that opens the
// same interface name under the same sandbox.  The instrument build always
// uses SocketCAN; the PC build uses the emulated bus, whatever interfaces
// the machine has, unless a person chose SocketCAN (setCanBackend, the
// -socketcan option of every program).
//
// Emulated bus contract (same as a SocketCAN raw socket without loopback of
// its own frames):
//  - every frame written by one endpoint reaches every other open endpoint on
//    the same bus, in this and in other processes, and never the writer
//    itself; the frames of one writer arrive in the order written;
//  - filters: a frame passes when (id & mask) == (filter id & mask) for any
//    filter; an empty list passes everything; setFilters replaces the list;
//  - a reader that falls far behind loses its oldest frames (counted in
//    droppedFrames()); writers and other readers are never held up, also not
//    by a process that is stopped or killed in the middle of a write;
//  - the bus has a bandwidth: writing faster than it carries frames makes
//    write() fail with ENOBUFS, as a full SocketCAN transmit queue does.
#pragma once

#include <linux/can.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class CanTransport {
public:
    virtual ~CanTransport() = default;

    // False when the endpoint could not be opened; then write() and read()
    // fail with EBADF.
    virtual bool valid() const = 0;

    // Writes one frame.  Returns sizeof(can_frame) when written, otherwise -1
    // with errno set (ENOBUFS: transmit path full, try again later).
    virtual ssize_t write(const can_frame& frame) = 0;

    // Waits at most timeoutMs for a frame that passes the filters.  Returns
    // sizeof(can_frame) with the frame, 0 on time-out or after wake(), -1 with
    // errno on failure, or a smaller count when the kernel handed over a short
    // frame (which is then unusable).
    virtual ssize_t read(can_frame& frame, int timeoutMs) = 0;

    // Replaces the receive filter list (count 0: receive everything).
    // Returns 0 or -1 with errno.
    virtual int setFilters(const can_filter* filters, std::size_t count) = 0;

    // Makes a read() blocked in another thread return 0 at once.
    virtual void wake() = 0;

    // Frames lost by this endpoint because it did not read them in time.
    virtual std::uint64_t droppedFrames() const = 0;

    // "socketcan" or "emulated".
    virtual const char* backendName() const = 0;
};

enum class CanBackend { Emulated, SocketCan };
// The backend openCanTransport uses from now on in this process (the PC
// build; the instrument build always uses SocketCAN).
void setCanBackend(CanBackend backend);
CanBackend canBackend();

// Opens an endpoint on the named interface with the chosen backend.
// SocketCAN errors are printed with perror ("socket", "SIOCGIFINDEX",
// "bind"); there is no fall-back to the other backend.  A name that
// canInterfaceNameProblem refuses is refused with that message and gives an
// invalid endpoint.
std::unique_ptr<CanTransport> openCanTransport(const char* interfaceName);

// On the emulated bus, opens an endpoint into `held` for the program's run
// and tells whether the bus could be had (no room for its file: the reason
// is printed); a program that cannot have it ends.  Always true on SocketCAN.
bool holdEmulatedBus(const char* interfaceName, std::unique_ptr<CanTransport>& held);

// Maximum interface name length (IFNAMSIZ - 1).
constexpr std::size_t kMaxInterfaceName = 15;

// Why a name can name no CAN interface, as one line without its end: empty,
// longer than kMaxInterfaceName characters, or not a plain file name ("/",
// "." or ".."); "" when it can.  The programs refuse such a "-can" name
// before they start anything.
std::string canInterfaceNameProblem(const char* interfaceName);

// The frames a SocketCAN socket lost, from the kernel's drop counter that
// comes with a received frame (SO_RXQ_OVFL, as can-utils' candump reads it):
// a 32-bit count of the socket's drops so far, which may wrap.
class SocketCanDropCounter {
public:
    // Takes the counter from a received message's control data, if it has one.
    void update(const struct msghdr& message);
    std::uint64_t total() const { return dropped; }

private:
    std::uint32_t lastCount = 0;
    std::uint64_t dropped = 0;
};

namespace testhooks {
// The SocketCAN endpoint over a socket already bound (the tests, which have
// no CAN interface, give it a datagram socket); it takes the socket over.
std::unique_ptr<CanTransport> socketCanTransportOver(int boundSocket);
}  // namespace testhooks

}  // namespace platform
