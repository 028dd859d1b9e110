// The emulated CAN bus between endpoints of this and of other processes.
#include "platform/CanTransport.h"
#include "platform/EmulatedBus.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

can_frame makeFrame(canid_t id, std::initializer_list<unsigned> bytes = {}) {
    can_frame f{};
    f.can_id = id;
    for (unsigned b : bytes) f.data[f.can_dlc++] = __u8(b);
    return f;
}

// A frame carrying a 32-bit counter and a source number.
can_frame counted(canid_t id, unsigned source, std::uint32_t n) {
    return makeFrame(id, {source, n >> 24, (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF});
}
std::uint32_t counterOf(const can_frame& f) {
    return std::uint32_t(f.data[1]) << 24 | std::uint32_t(f.data[2]) << 16 | std::uint32_t(f.data[3]) << 8 | f.data[4];
}

// Writes, retrying while the bus's bandwidth is used up.
void writeRetrying(platform::CanTransport& bus, const can_frame& f) {
    while (bus.write(f) != ssize_t(sizeof f)) {
        ASSERT_EQ(errno, ENOBUFS);
        std::this_thread::sleep_for(200us);
    }
}

// A forked child process running body(); its exit status is body's result.
// The child tells the parent it is ready through a pipe.
class Child {
public:
    explicit Child(const std::function<int(Child&)>& body) {
        if (pipe(ready) != 0 || pipe(go) != 0) return;
        pid = testsupport::forkTiedToTest();
        if (pid == 0) {
            close(ready[0]);
            close(go[1]);
            int rc = body(*this);
            _exit(rc);
        }
        close(ready[1]);
        close(go[0]);
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(ready[0]);
        close(go[1]);
    }
    // In the child.
    void signalReady() {
        char c = 1;
        ssize_t n = ::write(ready[1], &c, 1);
        (void)n;
    }
    void waitForGo() {
        char c;
        ssize_t n = ::read(go[0], &c, 1);
        (void)n;
    }
    // In the parent.
    bool waitReady() {
        char c;
        return ::read(ready[0], &c, 1) == 1;
    }
    void sendGo() {
        char c = 1;
        ssize_t n = ::write(go[1], &c, 1);
        (void)n;
    }
    int exitCode() {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }
    // The exit code, or -1 when the child has not ended within the deadline
    // (it is then killed).
    int exitCodeWithin(std::chrono::seconds deadline) {
        int status = 0;
        bool ended = testsupport::waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, deadline, 2ms);
        if (!ended) {
            killHard();
            return -1;
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }
    // Waits until the child has stopped (SIGSTOP).
    bool waitStopped() {
        int status = 0;
        return waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
    }
    void signal(int sig) { kill(pid, sig); }
    pid_t id() const { return pid; }
    void killHard() {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }

private:
    pid_t pid = -1;
    int ready[2] = {-1, -1};
    int go[2] = {-1, -1};
};

class EmulatedBus : public ::testing::Test {
protected:
    testsupport::TempSandbox box;
    std::string name = testsupport::uniqueBusName("eb");
    std::unique_ptr<platform::CanTransport> open() { return platform::openCanTransport(name.c_str()); }
};

TEST_F(EmulatedBus, FramesReachEveryOtherEndpointOfEveryProcessInOrder) {
    auto a = open();
    ASSERT_TRUE(a->valid());
    EXPECT_STREQ(a->backendName(), "emulated");
    constexpr std::uint32_t kCount = 300;
    Child child([&](Child& self) {
        auto b = open(), c = open();
        self.signalReady();
        for (auto* ep : {b.get(), c.get()}) {
            for (std::uint32_t i = 0; i < kCount; ++i) {
                can_frame f;
                if (ep->read(f, 5000) != ssize_t(sizeof f)) return 1;
                if (f.can_id != 0x123 || counterOf(f) != i) return 2;
            }
        }
        // b's frame reaches c (and the parent), never b itself.
        if (b->write(makeFrame(0x7FF, {0xAA})) != ssize_t(sizeof(can_frame))) return 3;
        can_frame f;
        if (c->read(f, 5000) != ssize_t(sizeof f) || f.can_id != 0x7FF) return 4;
        if (b->read(f, 100) != 0) return 5;
        return 0;
    });
    ASSERT_TRUE(child.waitReady());
    for (std::uint32_t i = 0; i < kCount; ++i) writeRetrying(*a, counted(0x123, 0, i));
    can_frame f;
    ASSERT_EQ(a->read(f, 5000), ssize_t(sizeof f));
    EXPECT_EQ(f.can_id, 0x7FFu);
    EXPECT_EQ(f.can_dlc, 1);
    EXPECT_EQ(f.data[0], 0xAA);
    EXPECT_EQ(a->read(f, 50), 0);  // none of its own 300
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_EQ(a->droppedFrames(), 0u);
}

TEST_F(EmulatedBus, FiltersFollowSocketCanSemantics) {
    auto tx = open(), rx = open();
    const canid_t sent[] = {0x320, 0x321, 0x123, 0x3FF, 0x020, 0x7FF, 0x320 | CAN_EFF_FLAG};
    struct Case {
        const char* what;
        std::vector<can_filter> filters;
        std::vector<canid_t> expected;
    } cases[] = {
        {"no filter: everything", {}, {0x320, 0x321, 0x123, 0x3FF, 0x020, 0x7FF, 0x320 | CAN_EFF_FLAG}},
        {"exact id", {{0x320, 0x7FF}}, {0x320, 0x320 | CAN_EFF_FLAG}},
        {"exact id, standard frames only", {{0x320, 0x7FF | CAN_EFF_FLAG}}, {0x320}},
        {"a block of ids (of either frame format)", {{0x300, 0x700}}, {0x320, 0x321, 0x3FF, 0x320 | CAN_EFF_FLAG}},
        {"any of two", {{0x123, 0x7FF}, {0x020, 0x7FF}}, {0x123, 0x020}},
        {"overlapping filters deliver once", {{0x320, 0x7FF}, {0x300, 0x700}}, {0x320, 0x321, 0x3FF, 0x320 | CAN_EFF_FLAG}},
        {"inverted", {{0x320 | CAN_INV_FILTER, 0x7FF}}, {0x321, 0x123, 0x3FF, 0x020, 0x7FF}},
        {"mask 0 passes all", {{0x555, 0}}, {0x320, 0x321, 0x123, 0x3FF, 0x020, 0x7FF, 0x320 | CAN_EFF_FLAG}},
        {"destination node 7 (bits 5-7)", {{7 << 5, 7 << 5}}, {0x3FF, 0x7FF}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(rx->setFilters(c.filters.data(), c.filters.size()), 0);
        for (canid_t id : sent) writeRetrying(*tx, makeFrame(id));
        std::vector<canid_t> got;
        can_frame f;
        while (rx->read(f, 50) > 0) got.push_back(f.can_id);
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

TEST_F(EmulatedBus, SetFiltersReplacesTheList) {
    auto tx = open(), rx = open();
    can_filter first = {0x100, 0x7FF}, second = {0x200, 0x7FF};
    rx->setFilters(&first, 1);
    rx->setFilters(&second, 1);
    for (canid_t id : {0x100, 0x200}) writeRetrying(*tx, makeFrame(id));
    can_frame f;
    ASSERT_EQ(rx->read(f, 1000), ssize_t(sizeof f));
    EXPECT_EQ(f.can_id, 0x200u);
    EXPECT_EQ(rx->read(f, 50), 0);
    rx->setFilters(nullptr, 0);  // empty list: everything again
    for (canid_t id : {0x100, 0x200}) writeRetrying(*tx, makeFrame(id));
    ASSERT_EQ(rx->read(f, 1000), ssize_t(sizeof f));
    EXPECT_EQ(f.can_id, 0x100u);
}

TEST_F(EmulatedBus, ConcurrentWritersKeepTheirOwnOrder) {
    ASSERT_TRUE(platform::setEmulatedBusBandwidth(name, 0, 1));
    auto rx = open();
    constexpr unsigned kWriters = 3;
    constexpr std::uint32_t kEach = 5000;
    Child other([&](Child& self) {  // one writer in another process
        auto tx = open();
        self.signalReady();
        self.waitForGo();
        for (std::uint32_t i = 0; i < kEach; ++i)
            if (tx->write(counted(0x100, 0, i)) != ssize_t(sizeof(can_frame))) return 1;
        return 0;
    });
    ASSERT_TRUE(other.waitReady());
    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<platform::CanTransport>> writers;
    for (unsigned w = 1; w < kWriters; ++w) writers.push_back(open());
    other.sendGo();
    for (unsigned w = 1; w < kWriters; ++w)
        threads.emplace_back([&, w] {
            for (std::uint32_t i = 0; i < kEach; ++i) writers[w - 1]->write(counted(0x100 + w, w, i));
        });
    std::uint32_t next[kWriters] = {};
    unsigned total = 0;
    can_frame f;
    while (total < kWriters * kEach && rx->read(f, 5000) > 0) {
        unsigned w = f.data[0];
        ASSERT_LT(w, kWriters);
        ASSERT_EQ(counterOf(f), next[w]) << "writer " << w;
        ++next[w];
        ++total;
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(total, kWriters * kEach);
    EXPECT_EQ(other.exitCode(), 0);
}

TEST_F(EmulatedBus, BusyReaderLosesNothingAtTheSimulatorsRate) {
    auto rx = open();
    constexpr std::uint32_t kFrames = 4000;  // one second at 4,000 frames/s
    Child sender([&](Child& self) {
        auto tx = open();
        self.signalReady();
        auto start = std::chrono::steady_clock::now();
        for (std::uint32_t i = 0; i < kFrames; ++i) {
            std::this_thread::sleep_until(start + i * 250us);
            while (tx->write(counted(0x360, 0, i)) != ssize_t(sizeof(can_frame))) {
                if (errno != ENOBUFS) return 1;
                std::this_thread::sleep_for(100us);
            }
        }
        return 0;
    });
    ASSERT_TRUE(sender.waitReady());
    std::uint32_t got = 0;
    can_frame f;
    while (got < kFrames && rx->read(f, 5000) > 0) {
        ASSERT_EQ(counterOf(f), got);
        ++got;
        if (got % 500 == 1) std::this_thread::sleep_for(100ms);  // the handler is busy
    }
    EXPECT_EQ(got, kFrames);
    EXPECT_EQ(rx->droppedFrames(), 0u);
    EXPECT_EQ(sender.exitCode(), 0);
}

TEST_F(EmulatedBus, StalledReaderNeverHoldsUpOthersAndCountsItsLosses) {
    ASSERT_TRUE(platform::setEmulatedBusBandwidth(name, 0, 1));
    auto tx = open(), stalled = open(), live = open();
    constexpr std::uint32_t kFrames = 200000;  // three times the ring
    std::uint32_t liveGot = 0;
    can_frame f;
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(tx->write(counted(0x200, 0, i)), ssize_t(sizeof f)) << i;
        if (i % 1000 == 999) {
            while (liveGot <= i && live->read(f, 1000) > 0) {
                ASSERT_EQ(counterOf(f), liveGot);
                ++liveGot;
            }
        }
    }
    EXPECT_EQ(liveGot, kFrames);
    EXPECT_EQ(live->droppedFrames(), 0u);
    // The stalled endpoint gets the newest frames, in order, and counts the rest.
    std::uint32_t received = 0, last = 0;
    while (stalled->read(f, 20) > 0) {
        if (received) {
            EXPECT_EQ(counterOf(f), last + 1);
        }
        last = counterOf(f);
        ++received;
    }
    EXPECT_EQ(last, kFrames - 1);
    EXPECT_GT(stalled->droppedFrames(), 0u);
    EXPECT_EQ(received + stalled->droppedFrames(), kFrames);
}

TEST_F(EmulatedBus, WritingFasterThanTheBandwidthFailsWithEnobufs) {
    auto tx = open(), rx = open();
    int firstFailure = -1;
    for (int i = 0; i < 5000 && firstFailure < 0; ++i) {
        if (tx->write(makeFrame(0x111)) != ssize_t(sizeof(can_frame))) {
            EXPECT_EQ(errno, ENOBUFS);
            firstFailure = i;
        }
    }
    ASSERT_GE(firstFailure, int(platform::kEmulatedBusBurstFrames) - 1);  // a burst goes through
    // The bucket refills with time.
    EXPECT_TRUE(testsupport::waitUntil([&] { return tx->write(makeFrame(0x111)) == ssize_t(sizeof(can_frame)); }));
    can_frame f;
    int got = 0;
    while (rx->read(f, 20) > 0) ++got;
    EXPECT_EQ(got, firstFailure + 1);  // refused frames never reach the bus
}

// A process that sends kFrames frames of its own, retrying while the bus is
// full; its exit code says whether every send went through.
int sendFromAnotherProcess(const std::string& name, unsigned source, std::uint32_t frames) {
    Child sender([&](Child&) {
        auto tx = platform::openCanTransport(name.c_str());
        for (std::uint32_t i = 0; i < frames; ++i) {
            while (tx->write(counted(0x200 + source, source, i)) != ssize_t(sizeof(can_frame))) {
                if (errno != ENOBUFS) return 1;
                std::this_thread::sleep_for(200us);
            }
        }
        return 0;
    });
    return sender.exitCodeWithin(30s);
}

// Reads frames of one source in order until `frames` of them came.
bool receiveInOrder(platform::CanTransport& rx, unsigned source, std::uint32_t frames) {
    can_frame f;
    std::uint32_t next = 0;
    while (next < frames && rx.read(f, 5000) > 0) {
        if (f.data[0] != source) continue;
        if (counterOf(f) != next) return false;
        ++next;
    }
    return next == frames;
}

TEST_F(EmulatedBus, SenderStoppedMidWriteHoldsUpNoOtherProcess) {
    auto rx = open(), rxStopped = open();
    const can_filter others = {0x202, 0x7FF}, stoppedOnes = {0x100, 0x7FF};
    rx->setFilters(&others, 1);
    rxStopped->setFilters(&stoppedOnes, 1);
    Child stopped([&](Child& self) {
        auto tx = open();
        // Stops itself after taking its slot and before publishing the frame.
        platform::testhooks::setEmulatedBusMidWriteHook([] { raise(SIGSTOP); });
        self.signalReady();
        for (std::uint32_t i = 0; i < 3; ++i) tx->write(counted(0x100, 1, i));
        return 0;
    });
    ASSERT_TRUE(stopped.waitReady());
    for (int write = 0; write < 3; ++write) {
        ASSERT_TRUE(stopped.waitStopped());
        // Others send and receive while it stands still mid-write.
        ASSERT_EQ(sendFromAnotherProcess(name, 2, 300), 0) << "write " << write;
        ASSERT_TRUE(receiveInOrder(*rx, 2, 300)) << "write " << write;
        stopped.signal(SIGCONT);
    }
    EXPECT_EQ(stopped.exitCodeWithin(30s), 0);
    // Its own frames went out whole and in order once it went on.
    EXPECT_TRUE(receiveInOrder(*rxStopped, 1, 3));
    EXPECT_EQ(rx->droppedFrames() + rxStopped->droppedFrames(), 0u);
}

TEST_F(EmulatedBus, SenderStoppedAnywhereHoldsUpNoOtherProcess) {
    Child busy([&](Child& self) {
        auto tx = open();
        self.signalReady();
        for (std::uint32_t i = 0;; ++i)
            if (tx->write(counted(0x100, 1, i)) != ssize_t(sizeof(can_frame))) std::this_thread::sleep_for(50us);
        return 0;
    });
    ASSERT_TRUE(busy.waitReady());
    auto rx = open();
    for (int trial = 0; trial < 40; ++trial) {
        std::this_thread::sleep_for(std::chrono::microseconds(97 * trial % 1000));
        busy.signal(SIGSTOP);
        ASSERT_TRUE(busy.waitStopped());
        ASSERT_EQ(sendFromAnotherProcess(name, 2, 1), 0) << "trial " << trial;
        ASSERT_TRUE(receiveInOrder(*rx, 2, 1)) << "trial " << trial;
        busy.signal(SIGCONT);
    }
}

TEST_F(EmulatedBus, SendersKilledMidWriteLeaveNothingHalfWrittenAndTheirPlaceFree) {
    auto rx = open();
    // More processes than the bus has sender places: each dies in the middle
    // of its first write, so each place must be taken over again.
    for (int round = 0; round < 40; ++round) {
        Child dying([&](Child& self) {
            auto tx = open();
            platform::testhooks::setEmulatedBusMidWriteHook([] { kill(getpid(), SIGKILL); });
            self.signalReady();
            tx->write(counted(0x100, 1, 0));
            return 0;
        });
        ASSERT_TRUE(dying.waitReady());
        ASSERT_EQ(dying.exitCodeWithin(30s), 100 + SIGKILL);
    }
    ASSERT_EQ(sendFromAnotherProcess(name, 2, 10), 0);
    // Only the whole frames of the living reach the reader.
    can_frame f;
    for (std::uint32_t i = 0; i < 10; ++i) {
        ASSERT_EQ(rx->read(f, 5000), ssize_t(sizeof f));
        EXPECT_EQ(f.data[0], 2);
        EXPECT_EQ(counterOf(f), i);
    }
    EXPECT_EQ(rx->read(f, 50), 0);
}

TEST_F(EmulatedBus, WriterKilledMidStreamDoesNotWedgeTheBus) {
    ASSERT_TRUE(platform::setEmulatedBusBandwidth(name, 0, 1));
    auto a = open(), b = open();
    for (int round = 0; round < 5; ++round) {
        Child writer([&](Child& self) {
            auto c = open();
            self.signalReady();
            for (std::uint32_t i = 0;; ++i) c->write(counted(0x300, 1, i));
            return 0;
        });
        ASSERT_TRUE(writer.waitReady());
        can_frame f;
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(b->read(f, 2000), ssize_t(sizeof f));
        writer.killHard();
        while (b->read(f, 10) > 0) {
        }
        ASSERT_EQ(a->write(makeFrame(0x042)), ssize_t(sizeof f));
        ASSERT_EQ(b->read(f, 2000), ssize_t(sizeof f));
        EXPECT_EQ(f.can_id, 0x042u);
    }
}

TEST_F(EmulatedBus, WakeEndsABlockedRead) {
    auto rx = open();
    std::atomic<ssize_t> result{-2};
    std::thread reader([&] {
        can_frame f;
        result = rx->read(f, 60000);
    });
    rx->wake();
    EXPECT_TRUE(testsupport::waitUntil([&] { return result.load() != -2; }));
    reader.join();
    EXPECT_EQ(result.load(), 0);
    // A read with a time-out on a silent bus returns 0 too.
    can_frame f;
    EXPECT_EQ(rx->read(f, 10), 0);
}

// A read that waits much longer than the test's deadline: returning within
// the deadline shows that a writer woke it.
std::thread sleepingReader(platform::CanTransport& rx, std::atomic<canid_t>& got) {
    return std::thread([&rx, &got] {
        can_frame f;
        got = rx.read(f, 60000) > 0 ? f.can_id : 0xFFFFFFFFu;
    });
}

TEST_F(EmulatedBus, WritersWakeSleepingReadersThatWantTheFrame) {
    auto tx = open(), rx = open();
    ASSERT_GE(platform::testhooks::emulatedWakeEntry(*rx), 0);
    can_filter only = {0x123, 0x7FF};
    rx->setFilters(&only, 1);
    std::atomic<canid_t> got{0};
    std::thread reader = sleepingReader(*rx, got);
    for (canid_t id : {0x100, 0x200, 0x123}) ASSERT_EQ(tx->write(makeFrame(id)), ssize_t(sizeof(can_frame)));
    EXPECT_TRUE(testsupport::waitUntil([&] { return got.load() != 0; }));
    reader.join();
    EXPECT_EQ(got.load(), 0x123u);

    // New filters reach a reader that already sleeps.
    got = 0;
    reader = sleepingReader(*rx, got);
    std::this_thread::sleep_for(20ms);  // let it fall asleep under the old filter (not needed for correctness)
    can_filter other = {0x456, 0x7FF};
    rx->setFilters(&other, 1);
    ASSERT_EQ(tx->write(makeFrame(0x456)), ssize_t(sizeof(can_frame)));
    EXPECT_TRUE(testsupport::waitUntil([&] { return got.load() != 0; }));
    reader.join();
    EXPECT_EQ(got.load(), 0x456u);
}

TEST_F(EmulatedBus, AWakeBatchWakesEachSleepingReaderOnceWhenItEnds) {
    auto a = open(), b = open(), rx = open(), other = open();
    const can_filter some = {0x100, 0x700}, none = {0x7FF, 0x7FF};
    rx->setFilters(&some, 1);
    other->setFilters(&none, 1);  // wants none of the frames below
    std::atomic<int> got{0};
    std::thread reader([&] {
        can_frame f;
        while (got < 6 && rx->read(f, 60000) > 0) ++got;
    });
    std::thread idle([&] {
        can_frame f;
        other->read(f, 60000);
    });
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return platform::testhooks::emulatedReaderAsleep(*rx) && platform::testhooks::emulatedReaderAsleep(*other);
    }));
    const unsigned long calls = platform::testhooks::emulatedBusWakeCalls();
    {
        platform::EmulatedBusWakeBatch batch;
        {
            platform::EmulatedBusWakeBatch nested;
            for (canid_t i = 0; i < 3; ++i) {
                ASSERT_EQ(a->write(makeFrame(0x100 + i)), ssize_t(sizeof(can_frame)));
                ASSERT_EQ(b->write(makeFrame(0x1F0 + i)), ssize_t(sizeof(can_frame)));
            }
        }
        // Published, but no reader woken yet.
        EXPECT_EQ(platform::testhooks::emulatedBusWakeCalls(), calls);
        EXPECT_TRUE(platform::testhooks::emulatedReaderAsleep(*rx));
        EXPECT_EQ(got.load(), 0);
    }
    // One wake-up, of the reader that wants the frames, for all six.
    EXPECT_EQ(platform::testhooks::emulatedBusWakeCalls() - calls, 1u);
    EXPECT_TRUE(testsupport::waitUntil([&] { return got.load() == 6; }));
    EXPECT_TRUE(platform::testhooks::emulatedReaderAsleep(*other));
    other->wake();
    reader.join();
    idle.join();
    // Outside a batch each send wakes at once.
    std::atomic<canid_t> woke{0};
    std::thread again = sleepingReader(*rx, woke);
    ASSERT_TRUE(testsupport::waitUntil([&] { return platform::testhooks::emulatedReaderAsleep(*rx); }));
    ASSERT_EQ(a->write(makeFrame(0x123)), ssize_t(sizeof(can_frame)));
    EXPECT_TRUE(testsupport::waitUntil([&] { return woke.load() != 0; }));
    again.join();
    EXPECT_EQ(woke.load(), 0x123u);
}

TEST_F(EmulatedBus, AWakeBatchWakesAtOnceWhenTheBusRefusesASend) {
    ASSERT_TRUE(platform::setEmulatedBusBandwidth(name, 1, 4));  // a burst of 4, then one a second
    auto tx = open(), rx = open();
    std::atomic<int> got{0};
    std::thread reader([&] {
        can_frame f;
        while (got < 4 && rx->read(f, 60000) > 0) ++got;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return platform::testhooks::emulatedReaderAsleep(*rx); }));
    {
        platform::EmulatedBusWakeBatch batch;
        for (canid_t i = 0; i < 4; ++i) EXPECT_EQ(tx->write(makeFrame(0x100 + i)), ssize_t(sizeof(can_frame)));
        EXPECT_EQ(got.load(), 0);
        EXPECT_EQ(tx->write(makeFrame(0x104)), -1);
        EXPECT_EQ(errno, ENOBUFS);
        // The sender would back off now: its frames reach the reader meanwhile.
        EXPECT_TRUE(testsupport::waitUntil([&] { return got.load() == 4; }));
    }
    reader.join();
}

TEST_F(EmulatedBus, EndpointsBeyondTheWakeTableStillReceive) {
    std::vector<std::unique_ptr<platform::CanTransport>> many;
    for (int i = 0; i < 70; ++i) many.push_back(open());
    auto& last = *many.back();
    EXPECT_EQ(platform::testhooks::emulatedWakeEntry(last), -1);
    can_filter only = {0x321, 0x7FF};
    last.setFilters(&only, 1);
    std::atomic<canid_t> got{0};
    std::thread reader = sleepingReader(last, got);
    ASSERT_EQ(many.front()->write(makeFrame(0x321)), ssize_t(sizeof(can_frame)));
    EXPECT_TRUE(testsupport::waitUntil([&] { return got.load() != 0; }));
    reader.join();
    EXPECT_EQ(got.load(), 0x321u);
    // A closed endpoint's entry is free again.
    many.erase(many.begin() + 5);
    auto again = open();
    EXPECT_EQ(platform::testhooks::emulatedWakeEntry(*again), 5);
}

TEST_F(EmulatedBus, WakeEntriesOfACrashedProcessAreTakenOver) {
    Child crowd([&](Child& self) {
        std::vector<std::unique_ptr<platform::CanTransport>> many;
        for (int i = 0; i < 64; ++i) many.push_back(open());
        self.signalReady();
        pause();
        return 0;
    });
    ASSERT_TRUE(crowd.waitReady());
    auto before = open();
    EXPECT_EQ(platform::testhooks::emulatedWakeEntry(*before), -1);  // the table is full
    crowd.killHard();
    auto after = open();
    EXPECT_EQ(platform::testhooks::emulatedWakeEntry(*after), 0);
    // ... and the endpoints of the living go on working.
    std::atomic<canid_t> got{0};
    std::thread reader = sleepingReader(*after, got);
    ASSERT_EQ(before->write(makeFrame(0x0AB)), ssize_t(sizeof(can_frame)));
    EXPECT_TRUE(testsupport::waitUntil([&] { return got.load() != 0; }));
    reader.join();
    EXPECT_EQ(got.load(), 0x0ABu);
}

TEST_F(EmulatedBus, BadInterfaceNamesGiveAnInvalidEndpoint) {
    for (const char* bad : {"abcdefghijklmnop", "", "a/b", ".."}) {
        auto ep = platform::openCanTransport(bad);
        EXPECT_FALSE(ep->valid()) << bad;
        can_frame f = makeFrame(1);
        EXPECT_EQ(ep->write(f), -1);
        EXPECT_EQ(errno, EBADF);
        EXPECT_EQ(ep->read(f, 0), -1);
    }
    EXPECT_TRUE(platform::openCanTransport("abcdefghijklmno")->valid());  // 15 characters
}

TEST_F(EmulatedBus, BusesAreSeparateByNameAndSandbox) {
    auto a = open(), other = platform::openCanTransport(testsupport::uniqueBusName("eb").c_str());
    auto b = open();
    testsupport::TempSandbox second;
    auto elsewhere = open();  // same name, another sandbox
    ASSERT_EQ(a->write(makeFrame(0x10)), ssize_t(sizeof(can_frame)));
    can_frame f;
    EXPECT_EQ(b->read(f, 1000), ssize_t(sizeof f));
    EXPECT_EQ(other->read(f, 20), 0);
    EXPECT_EQ(elsewhere->read(f, 20), 0);
}

TEST_F(EmulatedBus, BusNamesNeverCollideWithEachOthersFiles) {
    // Each opened after the names its files could collide with.
    const std::vector<std::string> names = {"k6.new", "k6", "X", "X.lock", "X.bus", "X.tmp", "k6.bus.bus"};
    std::vector<std::unique_ptr<platform::CanTransport>> tx, rx;
    for (const auto& n : names) {
        tx.push_back(platform::openCanTransport(n.c_str()));
        rx.push_back(platform::openCanTransport(n.c_str()));
        ASSERT_TRUE(tx.back()->valid()) << n;
    }
    // Opening the names again, in the other order, disturbs no live bus.
    for (auto n = names.rbegin(); n != names.rend(); ++n) ASSERT_TRUE(platform::openCanTransport(n->c_str())->valid());
    for (std::size_t i = 0; i < names.size(); ++i) ASSERT_EQ(tx[i]->write(makeFrame(canid_t(0x100 + i))), ssize_t(sizeof(can_frame)));
    for (std::size_t i = 0; i < names.size(); ++i) {
        can_frame f;
        ASSERT_EQ(rx[i]->read(f, 2000), ssize_t(sizeof f)) << names[i];
        EXPECT_EQ(f.can_id, canid_t(0x100 + i)) << names[i];
        EXPECT_EQ(rx[i]->read(f, 20), 0) << names[i];
    }
}

void overwrite(const std::string& file, off_t offset, const std::string& bytes) {
    int fd = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << file;
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), ssize_t(bytes.size()));
    close(fd);
}

off_t fileSize(const std::string& file) {
    struct stat st;
    return stat(file.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST_F(EmulatedBus, ADamagedBusFileIsMadeAnewOnceNoEndpointHasItOpen) {
    const std::string file = platform::emulatedBusFile(name);
    struct Case {
        const char* what;
        off_t offset;
        std::string bytes;
    } cases[] = {
        {"garbage over the header", 0, std::string(4096, '\x5A')},
        {"one byte of the layout changed", 9, std::string(1, '\x01')},
    };
    for (const auto& c : cases) {
        {
            auto a = open(), b = open();
            ASSERT_EQ(a->write(makeFrame(0x10)), ssize_t(sizeof(can_frame))) << c.what;
            const off_t size = fileSize(file);
            overwrite(file, c.offset, c.bytes);
            // In use: refused, and the live file is neither replaced nor cut short.
            EXPECT_FALSE(open()->valid()) << c.what;
            EXPECT_EQ(fileSize(file), size) << c.what;
            // The endpoints that have it open go on working (frames sent
            // while the damage was done may be lost).
            EXPECT_TRUE(testsupport::waitUntil([&] {
                can_frame f;
                return a->write(makeFrame(0x11)) == ssize_t(sizeof f) && b->read(f, 20) > 0 && f.can_id == 0x11;
            })) << c.what;
        }
        auto a = open(), b = open();
        ASSERT_TRUE(a->valid()) << c.what;
        ASSERT_EQ(a->write(makeFrame(0x20)), ssize_t(sizeof(can_frame))) << c.what;
        can_frame f;
        ASSERT_EQ(b->read(f, 1000), ssize_t(sizeof f)) << c.what;
        EXPECT_EQ(f.can_id, 0x20u) << c.what;
    }
    // A file of another size (another layout) is made anew as well.
    ASSERT_TRUE(platform::writeFileAtomic(file, std::string(4096, 'x')));
    auto a = open(), b = open();
    ASSERT_TRUE(a->valid());
    ASSERT_EQ(a->write(makeFrame(0x30)), ssize_t(sizeof(can_frame)));
    can_frame f;
    EXPECT_EQ(b->read(f, 1000), ssize_t(sizeof f));
}

// The names in the folder of the bus files.
std::vector<std::string> busFolderEntries(const std::string& busName) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(
             std::filesystem::path(platform::emulatedBusFile(busName)).parent_path(), ec))
        names.push_back(e.path().filename().string());
    return names;
}

TEST_F(EmulatedBus, ABusFileIsMadeWithAllItsSpaceOrNotAtAll) {
    const std::string file = platform::emulatedBusFile(name);
    platform::testhooks::failEmulatedBusReservation(ENOSPC);
    testing::internal::CaptureStderr();
    auto refused = open();
    const std::string err = testing::internal::GetCapturedStderr();
    platform::testhooks::failEmulatedBusReservation(0);
    EXPECT_FALSE(refused->valid());
    EXPECT_NE(err.find("Cannot reserve the "), std::string::npos) << err;
    EXPECT_NE(err.find(file + ": " + std::strerror(ENOSPC)), std::string::npos) << err;
    EXPECT_EQ(busFolderEntries(name), std::vector<std::string>{}) << "neither the bus file nor its temporary file";

    auto a = open(), b = open();
    ASSERT_TRUE(a->valid());
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(std::size_t(st.st_size), platform::testhooks::emulatedBusFileSize());
    EXPECT_GE(std::uint64_t(st.st_blocks) * 512, std::uint64_t(st.st_size)) << "every page reserved";
    ASSERT_EQ(a->write(makeFrame(0x10)), ssize_t(sizeof(can_frame)));
    can_frame f;
    EXPECT_EQ(b->read(f, 1000), ssize_t(sizeof f));
}

// A bus file lasts as long as some program has the bus open: the last one
// to close it removes it, whichever process that is; one killed with the bus
// open leaves it to the next program that closes the bus.
TEST_F(EmulatedBus, TheLastProgramToCloseABusRemovesItsFile) {
    const std::string file = platform::emulatedBusFile(name);
    const auto present = [&] { return testsupport::exists(file); };
    // Every endpoint of this process.
    auto a = open(), b = open();
    a.reset();
    EXPECT_TRUE(present()) << "one endpoint of this process still has it open";
    // Another program that opens and closes it while this one has it open.
    Child visitor([&](Child&) { return open()->valid() ? 0 : 1; });
    EXPECT_EQ(visitor.exitCodeWithin(30s), 0);
    EXPECT_TRUE(present()) << "this process still has it open";
    b.reset();
    EXPECT_FALSE(present()) << "closed by its last endpoint";

    // Another program has it open: this one's close leaves it; the other's
    // removes it.
    Child holder([&](Child& self) {
        auto held = open();
        self.signalReady();
        self.waitForGo();
        return held->valid() ? 0 : 1;
    });
    ASSERT_TRUE(holder.waitReady());
    open().reset();
    EXPECT_TRUE(present()) << "the other program still has it open";
    holder.sendGo();
    EXPECT_EQ(holder.exitCodeWithin(30s), 0);
    EXPECT_FALSE(present()) << "closed by the last program";

    // A program killed with the bus open: the next to close it removes it.
    Child killed([&](Child& self) {
        auto held = open();
        self.signalReady();
        self.waitForGo();
        return 0;
    });
    ASSERT_TRUE(killed.waitReady());
    killed.killHard();
    EXPECT_TRUE(present());
    auto c = open();
    ASSERT_TRUE(c->valid());
    c.reset();
    EXPECT_FALSE(present());

    // Setting the bandwidth with no endpoint open keeps the file (and the
    // setting) for the programs to come.
    ASSERT_TRUE(platform::setEmulatedBusBandwidth(name, 0, 1));
    EXPECT_TRUE(present());
    // A program ending without closing its endpoints (tvl4700's stop).
    auto d = open();
    platform::removeEmulatedBusFilesIfLast();
    EXPECT_FALSE(present());
}

// Programs opening and closing the bus at the same moment as others close
// it: while an endpoint is open the path names the file it uses, so frames
// sent through it reach an endpoint opened after it in another process.
TEST_F(EmulatedBus, OpenersAndLastClosersAtTheSameMomentStayOnOneBus) {
    const std::string file = platform::emulatedBusFile(name);
    constexpr int kRounds = 150;
    auto churn = [&](Child& self) {
        self.signalReady();
        self.waitForGo();
        for (int i = 0; i < kRounds; ++i) {
            auto e = open();
            if (!e->valid()) return 1;
            struct stat st;
            if (stat(file.c_str(), &st) != 0) return 2;  // open on a file the path no longer names
        }
        return 0;
    };
    Child first(churn), second(churn);
    ASSERT_TRUE(first.waitReady());
    ASSERT_TRUE(second.waitReady());
    first.sendGo();
    second.sendGo();
    for (int i = 0; i < kRounds; ++i) {
        auto tx = open();
        ASSERT_TRUE(tx->valid());
        Child rx([&](Child& self) {
            auto e = open();
            self.signalReady();
            can_frame f;
            return e->read(f, 5000) == ssize_t(sizeof f) && f.can_id == 0x123 ? 0 : 1;
        });
        ASSERT_TRUE(rx.waitReady());
        writeRetrying(*tx, makeFrame(0x123));
        ASSERT_EQ(rx.exitCodeWithin(30s), 0) << "round " << i;
    }
    EXPECT_EQ(first.exitCodeWithin(60s), 0);
    EXPECT_EQ(second.exitCodeWithin(60s), 0);
    EXPECT_FALSE(testsupport::exists(file)) << "left behind by the last program";
}

// The bus folder on a file system with less room than a bus file needs (a
// small tmpfs, in a mount namespace of the child's own): the open is refused
// with the reason, where a sparse file would have let the child map it and
// die of SIGBUS at the first page the file system could not back.
TEST_F(EmulatedBus, AFullFileSystemRefusesTheOpenInsteadOfKillingTheSenderLater) {
    const std::string folder = std::filesystem::path(platform::emulatedBusFile(name)).parent_path();
    ASSERT_TRUE(platform::makeDirs(folder));
    const std::string errFile = box.path() + "/child-stderr";
    enum { kRefused = 0, kOpened = 1, kNoNamespace = 10, kNoMount = 11 };
    Child child([&](Child&) {
        if (unshare(CLONE_NEWNS) != 0) return int(kNoNamespace);
        // Private, so that the tmpfs never shows outside this child.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return int(kNoMount);
        if (mount("tvl-test", folder.c_str(), "tmpfs", 0, "size=1m") != 0) return int(kNoMount);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(err, 2) < 0) return int(kNoMount);
        auto tx = open();
        if (!tx->valid()) return int(kRefused);
        // Opened: a ring's worth of frames (more than the file system holds).
        platform::setEmulatedBusBandwidth(name, 0, 1);
        for (std::uint32_t i = 0; i < 65536; ++i) tx->write(counted(0x100, 1, i));
        return int(kOpened);
    });
    const int code = child.exitCodeWithin(60s);
    if (code == kNoNamespace || code == kNoMount)
        GTEST_SKIP() << "a tmpfs in a mount namespace of its own needs root (CAP_SYS_ADMIN); "
                     << (code == kNoNamespace ? "unshare" : "mount") << " was refused here";
    ASSERT_NE(code, 100 + SIGBUS) << "the sender died of SIGBUS";
    ASSERT_EQ(code, int(kRefused)) << "the open was not refused (exit code " << code << ")";
    const std::string err = testsupport::readFile(errFile);
    EXPECT_NE(err.find("Cannot reserve the "), std::string::npos) << err;
    EXPECT_NE(err.find(std::strerror(ENOSPC)), std::string::npos) << err;
}

// A process that opens the bus and sends `frames` frames back to back, none
// retried; its exit code: 0 when the bus took them all, else the number of
// the first frame refused (1-based, at most 250).
int burstFromAnotherProcess(const std::string& name, std::uint32_t frames) {
    Child sender([&](Child&) {
        auto tx = platform::openCanTransport(name.c_str());
        for (std::uint32_t i = 0; i < frames; ++i)
            if (tx->write(counted(0x300, 3, i)) != ssize_t(sizeof(can_frame))) return int(std::min(i + 1, 250u));
        return 0;
    });
    return sender.exitCodeWithin(30s);
}

TEST_F(EmulatedBus, BandwidthWordsLeftImpossibleArePutRightNotObeyed) {
    constexpr std::int64_t kInterval = 125000, kTolerance = 511 * kInterval;  // the default bandwidth
    struct Case {
        const char* what;
        std::int64_t intervalNs, toleranceNs, aheadNs;
    } cases[] = {
        {"an interval of more than a second (once a frame a second)", 5000000000000, kTolerance, 0},
        {"a negative tolerance (once no burst)", kInterval, -1, 0},
        {"the bucket a minute ahead (once a minute without a send)", kInterval, kTolerance, 60000000000},
    };
    auto keep = open(), rx = open();  // so that only the next program, or a send, puts the words right
    for (const auto& c : cases) {
        // The next program that opens the bus.
        ASSERT_TRUE(platform::testhooks::setEmulatedBusBandwidthWords(name, c.intervalNs, c.toleranceNs, c.aheadNs));
        EXPECT_EQ(burstFromAnotherProcess(name, 100), 0) << c.what;
        // A program that has it open, at its next send.
        ASSERT_TRUE(platform::testhooks::setEmulatedBusBandwidthWords(name, c.intervalNs, c.toleranceNs, c.aheadNs));
        for (std::uint32_t i = 0; i < 100; ++i)
            ASSERT_EQ(keep->write(counted(0x100, 1, i)), ssize_t(sizeof(can_frame))) << c.what << ", frame " << i;
        can_frame f;
        int got = 0;
        while (rx->read(f, 50) > 0) ++got;
        EXPECT_EQ(got, 200) << c.what;
    }
    // A slow bandwidth that was set is no damage: it stays.
    ASSERT_TRUE(platform::setEmulatedBusBandwidth(name, 1, 1));
    EXPECT_EQ(burstFromAnotherProcess(name, 2), 2);
}

TEST_F(EmulatedBus, SenderPlacesNoOneHoldsAreFreedAndHeldOnesKept) {
    auto rx = open();  // this process has the bus open and holds no place
    const struct {
        const char* what;
        pid_t owner;
    } cases[] = {
        {"a live program that has not the bus open", 1},
        {"a live program that has the bus open but holds no place", getpid()},
    };
    for (const auto& c : cases) {
        Child holder([&](Child& self) {
            auto tx = open();
            if (tx->write(counted(0x100, 1, 0)) != ssize_t(sizeof(can_frame))) return 1;
            self.signalReady();
            self.waitForGo();
            for (std::uint32_t i = 1; i < 100; ++i) writeRetrying(*tx, counted(0x100, 1, i));
            return 0;
        });
        ASSERT_TRUE(holder.waitReady()) << c.what;
        // Every place names the owner: the one the holder holds as well.
        ASSERT_TRUE(platform::testhooks::setEmulatedBusPlaceOwners(name, c.owner));
        ASSERT_EQ(sendFromAnotherProcess(name, 2, 10), 0) << c.what;
        // The next program freed every place but the held one.
        std::vector<std::int32_t> owners = platform::testhooks::emulatedBusPlaceOwners(name);
        EXPECT_EQ(std::count(owners.begin(), owners.end(), 0), std::ptrdiff_t(owners.size()) - 1) << c.what;
        // The holder goes on in its own place, which nobody else wrote.
        holder.sendGo();
        EXPECT_EQ(holder.exitCodeWithin(30s), 0) << c.what;
        EXPECT_TRUE(receiveInOrder(*rx, 1, 100)) << c.what;
        EXPECT_EQ(rx->droppedFrames(), 0u) << c.what;
        can_frame f;
        while (rx->read(f, 20) > 0) {
        }
    }
}

// Openers put the places right while senders send, one of them a child of a
// fork sending through its parent's endpoint (which shares the parent's
// open file): no place that a live sender holds changes hands, so every
// sender's frames arrive whole and in order.
TEST_F(EmulatedBus, PuttingPlacesRightNeverDisturbsTheLiveSenders) {
    ASSERT_TRUE(platform::setEmulatedBusBandwidth(name, 0, 1));
    auto rx = open(), shared = open();
    constexpr std::uint32_t kEach = 3000;
    ASSERT_EQ(shared->write(counted(0x100, 0, 0)), ssize_t(sizeof(can_frame)));  // this process's place
    Child forked([&](Child& self) {
        self.signalReady();
        self.waitForGo();
        for (std::uint32_t i = 0; i < kEach; ++i) {
            writeRetrying(*shared, counted(0x101, 1, i));
            if (i % 100 == 0) std::this_thread::sleep_for(1ms);
        }
        return 0;
    });
    ASSERT_TRUE(forked.waitReady());
    std::atomic<bool> failed{false};
    std::uint32_t next[4] = {};
    std::thread reader([&] {
        can_frame f;
        while ((next[0] < kEach || next[1] < kEach || next[3] < 20) && rx->read(f, 10000) > 0) {
            const unsigned source = f.data[0];
            if (source > 3 || (source != 3 && counterOf(f) != next[source])) failed = true;
            ++next[source < 4 ? source : 3];
        }
    });
    forked.sendGo();
    std::thread sender([&] {
        for (std::uint32_t i = 1; i < kEach; ++i) {
            writeRetrying(*shared, counted(0x100, 0, i));
            if (i % 100 == 0) std::this_thread::sleep_for(1ms);
        }
    });
    for (int opener = 0; opener < 20; ++opener) ASSERT_EQ(sendFromAnotherProcess(name, 3, 1), 0) << opener;
    sender.join();
    EXPECT_EQ(forked.exitCodeWithin(30s), 0);
    reader.join();
    EXPECT_FALSE(failed.load());
    EXPECT_EQ(next[0], kEach);
    EXPECT_EQ(next[1], kEach);
    EXPECT_EQ(next[3], 20u);
    EXPECT_EQ(rx->droppedFrames(), 0u);
}

double threadCpuSeconds() {
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

TEST_F(EmulatedBus, CountersNearTheirWrapNeitherStopSendsNorSpinReaders) {
    ASSERT_TRUE(platform::testhooks::setEmulatedBusCountersNearWrap(name));
    auto a = open(), b = open(), c = open();
    // Across the wrap of every counter, in order, for old and new endpoints.
    for (std::uint32_t i = 0; i < 40; ++i) writeRetrying(*a, counted(0x100, 1, i));
    EXPECT_TRUE(receiveInOrder(*b, 1, 40));
    EXPECT_TRUE(receiveInOrder(*c, 1, 40));
    ASSERT_EQ(c->write(makeFrame(0x55)), ssize_t(sizeof(can_frame)));
    can_frame f;
    ASSERT_EQ(a->read(f, 1000), ssize_t(sizeof f));
    EXPECT_EQ(f.can_id, 0x55u);
    EXPECT_EQ(b->droppedFrames() + c->droppedFrames(), 0u);
    // A quiet bus: the reader sleeps instead of spinning.
    const double cpu0 = threadCpuSeconds();
    EXPECT_EQ(b->read(f, 500), ssize_t(sizeof f));  // c's frame
    EXPECT_EQ(b->read(f, 500), 0);
    EXPECT_LT(threadCpuSeconds() - cpu0, 0.25);
}

}  // namespace
