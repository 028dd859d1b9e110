// The kernel's SocketCAN backend: one raw socket bound to the interface.
#include "console/Console.h"
#include "platform/CanTransport.h"
#include "platform/EmulatedBus.h"

#include <fcntl.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace platform {

namespace {

class SocketCanTransport : public CanTransport {
public:
    // Takes a socket already bound to the interface.
    explicit SocketCanTransport(int boundSocket) : fd(boundSocket) {
        wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        // The kernel then hands its count of the socket's lost frames over
        // with each frame received.
        const int on = 1;
        if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) < 0) console::perror("SO_RXQ_OVFL");
    }
    ~SocketCanTransport() override {
        if (fd >= 0) close(fd);
        if (wakeFd >= 0) close(wakeFd);
    }

    bool valid() const override { return fd >= 0; }

    ssize_t write(const can_frame& frame) override {
        if (fd < 0) {
            errno = EBADF;
            return -1;
        }
        return ::write(fd, &frame, sizeof frame);
    }

    ssize_t read(can_frame& frame, int timeoutMs) override {
        if (fd < 0) {
            errno = EBADF;
            return -1;
        }
        struct pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int n = poll(p, wakeFd >= 0 ? 2 : 1, timeoutMs);
        if (n < 0) return errno == EINTR ? 0 : -1;
        if (wakeFd >= 0 && (p[1].revents & POLLIN)) {
            std::uint64_t count;
            ssize_t ignored = ::read(wakeFd, &count, sizeof count);
            (void)ignored;
            return 0;
        }
        if (n == 0 || !(p[0].revents & (POLLIN | POLLERR))) return 0;
        // A short frame comes back as its short count; the reader reports it.
        struct iovec data = {&frame, sizeof frame};
        alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
        struct msghdr message;
        std::memset(&message, 0, sizeof message);
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(fd, &message, 0);
        if (got >= 0) {
            std::lock_guard<std::mutex> lock(dropMutex);
            drops.update(message);
            dropped.store(drops.total());
        }
        return got;
    }

    int setFilters(const can_filter* filters, std::size_t count) override {
        if (fd < 0) {
            errno = EBADF;
            return -1;
        }
        // The kernel takes an empty list as "receive nothing"; ours means
        // "receive everything", which is the kernel's default filter.
        static const can_filter all = {0, 0};
        if (count == 0) return setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, &all, sizeof all);
        return setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, filters, socklen_t(count * sizeof(can_filter)));
    }

    void wake() override {
        if (wakeFd < 0) return;
        std::uint64_t one = 1;
        ssize_t ignored = ::write(wakeFd, &one, sizeof one);
        (void)ignored;
    }

    std::uint64_t droppedFrames() const override { return dropped.load(); }

    const char* backendName() const override { return "socketcan"; }

private:
    int fd;
    int wakeFd;
    std::mutex dropMutex;
    SocketCanDropCounter drops;
    std::atomic<std::uint64_t> dropped{0};
};

#ifdef TVL_INSTRUMENT_BUILD
constexpr CanBackend kDefaultBackend = CanBackend::SocketCan;
#else
constexpr CanBackend kDefaultBackend = CanBackend::Emulated;
#endif
std::atomic<CanBackend> chosenBackend{kDefaultBackend};

}  // namespace

void SocketCanDropCounter::update(const struct msghdr& message) {
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(const_cast<struct msghdr*>(&message), c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SO_RXQ_OVFL || c->cmsg_len < CMSG_LEN(sizeof(std::uint32_t)))
            continue;
        std::uint32_t count;
        std::memcpy(&count, CMSG_DATA(c), sizeof count);
        dropped += std::uint32_t(count - lastCount);
        lastCount = count;
    }
}

void setCanBackend(CanBackend backend) {
#ifdef TVL_INSTRUMENT_BUILD
    (void)backend;
#else
    chosenBackend.store(backend);
#endif
}

CanBackend canBackend() { return chosenBackend.load(); }

std::string canInterfaceNameProblem(const char* name) {
    if (!name || !*name) return "CAN interface name is empty";
    const std::string text(name);
    if (text.size() > kMaxInterfaceName)
        return "CAN interface name longer than " + std::to_string(kMaxInterfaceName) + " characters: " + text;
    if (text.find('/') != std::string::npos || text == "." || text == "..") return "Invalid CAN interface name: " + text;
    return "";
}

bool holdEmulatedBus(const char* interfaceName, std::unique_ptr<CanTransport>& held) {
    if (canBackend() != CanBackend::Emulated) return true;
    held = openCanTransport(interfaceName);
    return held->valid();
}

std::unique_ptr<CanTransport> openCanTransport(const char* interfaceName) {
    if (canBackend() == CanBackend::Emulated || !canInterfaceNameProblem(interfaceName).empty())
        return openEmulatedCanTransport(interfaceName);  // which refuses a bad name with a message
    int s = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (s < 0) {
        console::perror("socket");
        return std::unique_ptr<CanTransport>(new SocketCanTransport(-1));
    }
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, interfaceName, IFNAMSIZ - 1);
    if (ioctl(s, SIOCGIFINDEX, &ifr) < 0) {
        console::perror("SIOCGIFINDEX");
        close(s);
        return std::unique_ptr<CanTransport>(new SocketCanTransport(-1));
    }
    struct sockaddr_can addr;
    std::memset(&addr, 0, sizeof addr);
    addr.can_family = AF_CAN;
    addr.can_ifindex = ifr.ifr_ifindex;
    if (bind(s, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) < 0) {
        console::perror("bind");
        close(s);
        return std::unique_ptr<CanTransport>(new SocketCanTransport(-1));
    }
    return std::unique_ptr<CanTransport>(new SocketCanTransport(s));
}

namespace testhooks {
std::unique_ptr<CanTransport> socketCanTransportOver(int boundSocket) {
    return std::unique_ptr<CanTransport>(new SocketCanTransport(boundSocket));
}
}  // namespace testhooks

}  // namespace platform
