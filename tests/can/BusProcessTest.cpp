// Two CANinterface objects in two processes on one private emulated bus.
#include "can/CANinterface.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kChannel = 1;
constexpr int kHostFilterId = 0x020;     // frames addressed to the host (node 1)
constexpr int kCardFilterId = 0x060;     // frames addressed to card 1 (node 3)
constexpr int kNodeMask = 0x0E0;
constexpr int kLastEvent = 0xFFFF;

// The card side: answers each hello with a card event carrying
// hellos * 16 + frames it saw of its own, and before that sends a frame that
// its own filter passes (its reader must never see it) and the host's filter
// rejects.  A send-all request ends it with a last card event.
int runCard(const std::string& bus, int readyFd) {
    CANinterface card(bus.c_str());
    if (card.setFilter(kCardFilterId, kNodeMask) != 0) return 10;
    std::atomic<int> hellos{0}, ownSeen{0};
    std::atomic<bool> quit{false};
    card.signalSetRangeRequest().connect([&](int) { ++ownSeen; });
    card.signalHelloRequest().connect([&] {
        ++hellos;
        card.sendSetRange(kChannel, 9);   // to node 3: passes this card's own filter
        card.sendCardEvent(kChannel, hellos * 16 + ownSeen);
    });
    card.signalSendAllRequest().connect([&] {
        card.sendCardEvent(kChannel, kLastEvent);
        quit = true;
    });
    if (card.startReader() != 0) return 11;
    const char ready = 'r';
    if (write(readyFd, &ready, 1) != 1) return 12;
    if (!testsupport::waitUntil([&] { return quit.load(); }, std::chrono::seconds(20))) return 13;
    return 0;
}

TEST(BusProcesses, FiltersApplyAndNoEndpointHearsItself) {
    testsupport::TempSandbox sandbox(false);
    const std::string bus = testsupport::uniqueBusName("cb");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = testsupport::forkTiedToTest();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        _exit(runCard(bus, ready[1]));
    }
    close(ready[1]);

    CANinterface host(bus.c_str());
    ASSERT_EQ(host.setFilter(kHostFilterId, kNodeMask), 0);
    std::mutex m;
    std::vector<int> events;
    std::atomic<int> ownReplies{0}, strayRequests{0};
    host.signalCardEvent().connect([&](int code) {
        std::lock_guard<std::mutex> lock(m);
        events.push_back(code);
    });
    host.signalHelloReply().connect([&] { ++ownReplies; });
    host.signalSetRangeRequest().connect([&](int) { ++strayRequests; });
    ASSERT_EQ(host.startReader(), 0);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);

    auto eventCount = [&] {
        std::lock_guard<std::mutex> lock(m);
        return events.size();
    };
    // A frame to the host from the host itself: its filter passes it, but it is its own.
    EXPECT_EQ(host.sendHelloReply(kChannel), 0);
    // Channel 2's card is not listening here: the card's filter keeps it out.
    EXPECT_EQ(host.sendHello(2), 0);
    EXPECT_EQ(host.sendHello(kChannel), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return eventCount() == 1; }));
    // Round two: everything the card sent in round one is ahead of this on the bus.
    EXPECT_EQ(host.sendHello(kChannel), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return eventCount() == 2; }));
    EXPECT_EQ(host.sendSendAllRequest(kChannel), 0);
    // The last event comes after everything else the card sent.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        std::lock_guard<std::mutex> lock(m);
        return !events.empty() && events.back() == kLastEvent;
    }));

    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    host.stopReader();
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(events, (std::vector<int>{1 * 16 + 0, 2 * 16 + 0, kLastEvent}));
    EXPECT_EQ(ownReplies, 0);
    EXPECT_EQ(strayRequests, 0);
}

TEST(BusProcesses, WithoutAFilterEveryFrameOfTheOthersArrives) {
    testsupport::TempSandbox sandbox(false);
    const std::string bus = testsupport::uniqueBusName("cb");
    CANinterface listener(bus.c_str());
    CANinterface sender(bus.c_str());
    std::atomic<int> frames{0};
    listener.signalHelloRequest().connect([&] { ++frames; });
    listener.signalSetRangeRequest().connect([&](int) { ++frames; });
    listener.signalKeyPressed().connect([&](int) { ++frames; });
    ASSERT_EQ(listener.startReader(), 0);
    EXPECT_EQ(sender.sendHello(3), 0);
    EXPECT_EQ(sender.sendSetRange(2, 1), 0);
    EXPECT_EQ(sender.sendKeyPressed(4), 0);
    EXPECT_TRUE(testsupport::waitUntil([&] { return frames == 3; }));
}

TEST(BusProcesses, AnInterfaceNameLongerThanFifteenCharactersIsRefused) {
    testsupport::TempSandbox sandbox(false);
    testing::internal::CaptureStderr();
    CANinterface link("abcdefghijklmnop");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("longer than 15 characters"), std::string::npos) << err;
    testing::internal::CaptureStdout();
    EXPECT_NE(link.sendHello(1), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(link.setFilter(0x020, 0x0E0), -1);
    EXPECT_EQ(link.startReader(), 0);   // its reader ends at once; destruction joins it

    CANinterface fifteen("abcdefghijklmno");
    EXPECT_EQ(fifteen.sendHello(1), 0);
}

}  // namespace
