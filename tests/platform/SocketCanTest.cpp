// The SocketCAN endpoint's count of lost frames.  No CAN interface exists
// where the tests run: the endpoint is put over a datagram socket on the
// loopback interface, whose kernel counts and reports drops the same way.
#include "platform/CanTransport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A message whose control data holds the kernel's drop counter (when count
// is given) after a message of another kind.
struct ControlMessage {
    explicit ControlMessage(const std::uint32_t* count) {
        std::memset(&message, 0, sizeof message);
        std::memset(buffer, 0, sizeof buffer);
        message.msg_control = buffer;
        message.msg_controllen = sizeof buffer;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SO_TIMESTAMP;
        c->cmsg_len = CMSG_LEN(sizeof(timeval));
        std::size_t used = CMSG_SPACE(sizeof(timeval));
        if (count) {
            c = CMSG_NXTHDR(&message, c);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SO_RXQ_OVFL;
            c->cmsg_len = CMSG_LEN(sizeof *count);
            std::memcpy(CMSG_DATA(c), count, sizeof *count);
            used += CMSG_SPACE(sizeof *count);
        }
        message.msg_controllen = used;
    }
    msghdr message;
    alignas(cmsghdr) char buffer[CMSG_SPACE(sizeof(timeval)) + CMSG_SPACE(sizeof(std::uint32_t))];
};

TEST(SocketCanDrops, TheKernelsCounterIsSummedAcrossItsWrap) {
    const struct {
        bool given;
        std::uint32_t count;
        std::uint64_t total;
    } steps[] = {
        {false, 0, 0},                       // no drops: the kernel adds nothing
        {true, 5, 5},
        {true, 5, 5},                        // the same count again: nothing new
        {false, 0, 5},
        {true, 0xFFFFFFFEu, 0xFFFFFFFEull},
        {true, 3, 0xFFFFFFFEull + 5},        // wrapped
    };
    platform::SocketCanDropCounter counter;
    for (const auto& s : steps) {
        ControlMessage m(s.given ? &s.count : nullptr);
        counter.update(m.message);
        EXPECT_EQ(counter.total(), s.total) << s.count;
    }
}

TEST(SocketCanDrops, AReaderThatFellBehindCountsWhatTheKernelDropped) {
    int rx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int tx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(rx, 0);
    ASSERT_GE(tx, 0);
    const int small = 4096;   // room for a few frames only
    ASSERT_EQ(setsockopt(rx, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(rx, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ASSERT_EQ(connect(tx, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    auto endpoint = platform::testhooks::socketCanTransportOver(rx);
    ASSERT_TRUE(endpoint->valid());

    // Sent while the reader reads nothing: most are lost.
    constexpr std::uint32_t kFrames = 500;
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        can_frame f{};
        f.can_id = 0x123;
        f.can_dlc = 4;
        std::memcpy(f.data, &i, sizeof i);
        ASSERT_EQ(send(tx, &f, sizeof f, 0), ssize_t(sizeof f));
    }
    std::vector<std::uint32_t> received;
    can_frame f;
    while (endpoint->read(f, 200) == ssize_t(sizeof f)) {
        std::uint32_t i;
        std::memcpy(&i, f.data, sizeof i);
        received.push_back(i);
    }
    ASSERT_FALSE(received.empty());
    // The kernel tells of the drops with the next frame that arrives.
    can_frame next{};
    next.can_id = 0x124;
    ASSERT_EQ(send(tx, &next, sizeof next, 0), ssize_t(sizeof next));
    ASSERT_EQ(endpoint->read(f, 5000), ssize_t(sizeof f));
    EXPECT_EQ(f.can_id, 0x124u);
    EXPECT_GT(endpoint->droppedFrames(), 0u);
    EXPECT_EQ(received.size() + endpoint->droppedFrames(), kFrames) << "every frame received or counted";
    close(tx);
}

}  // namespace
