// The send back-off, filters, the reader thread and destruction of a CANinterface.
#include "support/FakeTransport.h"
#include "support/TestSupport.h"
#include "can/CANinterface.h"
#include "can/FrameCodec.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

namespace {

using testsupport::FakeBus;
using testsupport::FakeTransport;
using testsupport::makeFrame;
using testsupport::ReadItem;

std::vector<long> sleeps;
void recordSleep(long ns) { sleeps.push_back(ns); }

struct BackoffCase {
    const char* name;
    std::vector<std::pair<ssize_t, int>> script;   // failing writes, then success
    int expected;                                  // result; 99: any non-zero
    std::size_t sleeps;
    const char* output;
};

TEST(SendBackoff, RetriesAFullQueueAndReportsEveryOtherFailure) {
    const std::pair<ssize_t, int> full{-1, ENOBUFS};
    const std::vector<std::pair<ssize_t, int>> eighteenFull(18, full);
    const std::vector<BackoffCase> cases = {
        {"written at once", {}, 0, 0, ""},
        {"written after three full queues", {full, full, full}, 0, 3, ""},
        {"written on the 18th try", std::vector<std::pair<ssize_t, int>>(17, full), 0, 17, ""},
        {"18 full queues", eighteenFull, 17, 18, ""},
        {"first write fails otherwise", {{-1, EIO}}, -1, 0, "bytesSent = -1, errno = 5\n"},
        {"full queue, then another error", {full, {-1, EIO}}, 99, 1, "bytesSent = -1, errno = 5\n"},
        {"short write", {{8, 0}}, 99, 0, "bytesSent = 8, errno = 0\n"},
        {"full queue, then a short write", {full, {0, 0}}, 99, 1, "bytesSent = 0, errno = 0\n"},
    };
    for (const BackoffCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto bus = std::make_shared<FakeBus>();
        bus->writeScript.assign(c.script.begin(), c.script.end());
        FakeTransport endpoint(bus);
        sleeps.clear();
        testing::internal::CaptureStdout();
        const int result = can::writeWithBackoff(endpoint, makeFrame(0x16A, {}), recordSleep);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        if (c.expected == 99)
            EXPECT_NE(result, 0);
        else
            EXPECT_EQ(result, c.expected);
        EXPECT_EQ(sleeps.size(), c.sleeps);
        const bool written = c.expected == 0;
        EXPECT_EQ(bus->written.size(), written ? 1u : 0u);
        EXPECT_EQ(bus->writes, static_cast<int>(c.script.size() + (written ? 1 : 0)));
    }
}

TEST(SendBackoff, SleepsDoubleFromOneMicrosecond) {
    auto bus = std::make_shared<FakeBus>();
    bus->writeScript.assign(18, {-1, ENOBUFS});
    FakeTransport endpoint(bus);
    sleeps.clear();
    EXPECT_EQ(can::writeWithBackoff(endpoint, makeFrame(0x16A, {}), recordSleep), 17);
    ASSERT_EQ(sleeps.size(), 18u);
    for (std::size_t i = 0; i < sleeps.size(); ++i) EXPECT_EQ(sleeps[i], 1000L << i);
    EXPECT_EQ(sleeps.back(), 131072000L);
}

TEST(SendBackoff, SendFrameGivesUpAfterAboutAQuarterSecond) {
    auto bus = std::make_shared<FakeBus>();
    bus->writeScript.assign(18, {-1, ENOBUFS});
    CANinterface link(std::make_unique<FakeTransport>(bus));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.sendHello(1), 17);
    // 1 us + 2 us + ... + 131.072 ms; a sleep is never shorter than asked.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(262143));
    EXPECT_EQ(bus->writes, 18);
    EXPECT_EQ(link.sendHello(1), 0);
}

class Link : public ::testing::Test {
protected:
    std::shared_ptr<FakeBus> bus = std::make_shared<FakeBus>();
    CANinterface* link = new CANinterface(std::make_unique<FakeTransport>(bus));
    void TearDown() override { delete link; }
};

TEST_F(Link, FiltersAccumulateAndSetFilterLeavesExactlyOne) {
    EXPECT_EQ(link->addFilter(0x060, 0x0E0), 0);
    EXPECT_EQ(link->addFilter(0x020, 0x7FF), 0);
    ASSERT_EQ(bus->filters.size(), 2u);
    EXPECT_EQ(bus->filters[0].can_id, 0x060u);
    EXPECT_EQ(bus->filters[0].can_mask, 0x0E0u);
    EXPECT_EQ(bus->filters[1].can_id, 0x020u);
    EXPECT_EQ(bus->filters[1].can_mask, 0x7FFu);
    EXPECT_EQ(link->setFilter(0x080, 0x0E0), 0);
    ASSERT_EQ(bus->filters.size(), 1u);
    EXPECT_EQ(bus->filters[0].can_id, 0x080u);
    EXPECT_EQ(bus->filters[0].can_mask, 0x0E0u);
}

TEST_F(Link, DroppedFramesAreTheEndpointsAndLoggedOncePerBurst) {
    bus->dropped = 42;
    EXPECT_EQ(link->droppedFrames(), 42u);
    auto readWithDrops = [&](std::uint64_t dropped) {
        bus->dropped = dropped;
        bus->pushRead(makeFrame(0x328, {1}));
        testing::internal::CaptureStdout();
        link->readMessage();
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(readWithDrops(42), "CANinterface: receive overrun, 42 CAN frames lost (42 in all)\n");
    EXPECT_EQ(readWithDrops(50), "");  // the same burst
    EXPECT_EQ(readWithDrops(50), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a quiet second ends the burst
    EXPECT_EQ(readWithDrops(50), "");
    EXPECT_EQ(readWithDrops(53), "CANinterface: receive overrun, 3 CAN frames lost (53 in all)\n");
}

TEST_F(Link, ReadMessageDecodesOneFrame) {
    int range = -1;
    link->signalRangeReply().connect([&](int r) { range = r; });
    bus->pushRead(makeFrame(0x328, {3}));
    link->readMessage();
    EXPECT_EQ(range, 3);
}

TEST_F(Link, ShortFrameIsReportedWithoutLineEndAndDropped) {
    bool raised = false;
    link->signalHelloReply().connect([&] { raised = true; });
    bus->push(ReadItem{8, 0, makeFrame(0x32A, {})});
    testing::internal::CaptureStdout();
    link->readMessage();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Incomplete CAN frame");
    EXPECT_FALSE(raised);
}

TEST_F(Link, ReceiveErrorIsPrintedAndTheReaderGoesOn) {
    std::atomic<int> hellos{0};   // counted on the reader thread
    link->signalHelloReply().connect([&] { ++hellos; });
    bus->push(ReadItem{-1, EIO, {}});
    bus->pushRead(makeFrame(0x32A, {}));
    testing::internal::CaptureStderr();
    ASSERT_EQ(link->startReader(), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return hellos == 1; }));
    link->stopReader();
    delete link;
    link = nullptr;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("CANinterface::readMessage: "), std::string::npos) << err;
}

TEST_F(Link, SignalsRunOnTheReaderThreadInOrder) {
    std::mutex m;
    std::vector<int> ranges;
    std::thread::id readerId;
    link->signalRangeReply().connect([&](int r) {
        std::lock_guard<std::mutex> lock(m);
        ranges.push_back(r);
        readerId = std::this_thread::get_id();
    });
    ASSERT_EQ(link->startReader(), 0);
    for (int r = 0; r < 4; ++r) bus->pushRead(makeFrame(0x328, {r}));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        std::lock_guard<std::mutex> lock(m);
        return ranges.size() == 4;
    }));
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(ranges, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_NE(readerId, std::this_thread::get_id());
}

TEST_F(Link, StopReaderWakesTheReaderAndItReadsNoMore) {
    std::atomic<int> hellos{0};   // counted on the reader thread
    link->signalHelloReply().connect([&] { ++hellos; });
    ASSERT_EQ(link->startReader(), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        std::lock_guard<std::mutex> lock(bus->m);
        return bus->readCalls > 0;
    }));
    link->stopReader();
    EXPECT_GE(bus->wakes, 1);
    // A stopped reader can be started again.
    ASSERT_EQ(link->startReader(), 0);
    bus->pushRead(makeFrame(0x32A, {}));
    EXPECT_TRUE(testsupport::waitUntil([&] { return hellos == 1; }));
    EXPECT_NE(link->startReader(), 0);   // one reader at a time
}

TEST_F(Link, DestructionStopsAndJoinsARunningReader) {
    ASSERT_EQ(link->startReader(), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        std::lock_guard<std::mutex> lock(bus->m);
        return bus->readCalls > 0;
    }));
    delete link;
    link = nullptr;
    EXPECT_GE(bus->wakes, 1);           // woken, not left to its 1 s time-out
    EXPECT_EQ(bus.use_count(), 1);      // the endpoint went with the object
}

TEST_F(Link, DestructionWaitsForAHandlerThatIsRunning) {
    std::mutex m;
    std::condition_variable cv;
    bool inHandler = false, release = false, handlerDone = false;
    link->signalHelloReply().connect([&] {
        std::unique_lock<std::mutex> lock(m);
        inHandler = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        handlerDone = true;
    });
    ASSERT_EQ(link->startReader(), 0);
    bus->pushRead(makeFrame(0x32A, {}));
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return inHandler; }));
    }
    std::atomic<bool> destroyed{false};
    std::thread killer([&] {
        delete link;
        link = nullptr;
        destroyed = true;
    });
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
        cv.notify_all();
    }
    killer.join();
    EXPECT_TRUE(destroyed);
    std::lock_guard<std::mutex> lock(m);
    EXPECT_TRUE(handlerDone);   // joined: the handler had finished
}

TEST_F(Link, AHandlerMayDeleteItsOwnLink) {
    std::atomic<bool> deleted{false};
    CANinterface* self = link;
    link = nullptr;
    self->signalHelloReply().connect([&] {
        delete self;   // the reader thread destroys the object it serves
        deleted = true;
    });
    // A second handler on the same frame must not run on the destroyed object.
    std::atomic<int> laterHandlers{0};
    self->signalHelloReply().connect([&] { ++laterHandlers; });
    ASSERT_EQ(self->startReader(), 0);
    bus->pushRead(makeFrame(0x32A, {}));
    ASSERT_TRUE(testsupport::waitUntil([&] { return deleted.load(); }));
    EXPECT_TRUE(testsupport::waitUntil([&] { return bus.use_count() == 1; }));
    EXPECT_EQ(laterHandlers, 0);
}

TEST(ClosedLink, AnEndpointThatNeverOpenedFailsSendsAndItsReaderEnds) {
    auto bus = std::make_shared<FakeBus>();
    bus->valid = false;
    {
        CANinterface link(std::make_unique<FakeTransport>(bus));
        ASSERT_EQ(link.startReader(), 0);
    }   // joins a reader that ended by itself
    EXPECT_EQ(bus->readCalls, 0);

    CANinterface none{std::unique_ptr<platform::CanTransport>()};   // no endpoint at all
    testing::internal::CaptureStdout();
    EXPECT_EQ(none.sendHello(1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "bytesSent = -1, errno = 9\n");
    EXPECT_EQ(none.addFilter(0x020, 0x7FF), -1);
    EXPECT_EQ(none.droppedFrames(), 0u);
    EXPECT_EQ(none.startReader(), 0);
}

}  // namespace
