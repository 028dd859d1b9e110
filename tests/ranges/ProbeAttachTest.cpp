// Probe::attach over a private emulated bus: the connections it makes, and
// the ones it drops.
#include "ranges/Probe.h"

#include "can/CANinterface.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

class ProbeAttach : public ::testing::Test {
protected:
    // Sends a sensitivity-multiplier item of 10.0 (the item that announces
    // itself) and waits until `seen` counts it.
    void sendMultiplierAndWait(std::atomic<int>& seen) {
        const int before = seen.load();
        const char item[4] = {0x41, 0x20, 0x00, 0x00};
        ASSERT_EQ(card.sendProbeDataBytes(1, 9, item, 4), 0);
        ASSERT_TRUE(testsupport::waitUntil([&] { return seen.load() > before; }));
    }

    testsupport::TempSandbox sandbox{false};
    std::string bus = testsupport::uniqueBusName("ra");
    CANinterface card{bus.c_str()};
};

TEST_F(ProbeAttach, AttachingAgainReplacesTheConnections) {
    CANinterface first(bus.c_str());
    CANinterface second(bus.c_str());
    Probe probe;
    std::atomic<int> announced{0};
    probe.signalChanged().connect([&](int e) { announced += (e == Probe::kProbeDataRead); });

    probe.attach(&first);
    probe.attach(&first);   // twice on one link: still one decode per frame
    std::atomic<int> seenFirst{0}, seenSecond{0};
    first.signalProbeData().connect([&](int, const char*) { ++seenFirst; });
    second.signalProbeData().connect([&](int, const char*) { ++seenSecond; });
    ASSERT_EQ(first.startReader(), 0);
    ASSERT_EQ(second.startReader(), 0);

    sendMultiplierAndWait(seenFirst);
    ASSERT_TRUE(testsupport::waitUntil([&] { return seenSecond.load() == 1; }));
    EXPECT_EQ(announced.load(), 1);
    EXPECT_EQ(probe.getSensitivityMultiplier(), 10.0f);

    // A new link, as after the channel processors are restarted: the old one
    // no longer feeds the probe.
    probe.attach(&second);
    sendMultiplierAndWait(seenSecond);
    // On the second link the probe's slot comes after the test's; on the
    // first one it would come before.
    ASSERT_TRUE(testsupport::waitUntil([&] { return seenFirst.load() == 2 && announced.load() >= 2; }));
    EXPECT_EQ(announced.load(), 2);
    first.stopReader();
    second.stopReader();
}

TEST_F(ProbeAttach, LinkOutlivesTheProbe) {
    CANinterface host(bus.c_str());
    std::atomic<int> seen{0};
    {
        Probe probe;
        probe.attach(&host);
        host.signalProbeData().connect([&](int, const char*) { ++seen; });
        ASSERT_EQ(host.startReader(), 0);
        sendMultiplierAndWait(seen);
        EXPECT_EQ(probe.getSensitivityMultiplier(), 10.0f);
        host.stopReader();
    }
    // The probe's connections went with it: frames still decode safely.
    std::atomic<int> presences{0};
    host.signalProbePresence().connect([&](int) { ++presences; });
    ASSERT_EQ(host.startReader(), 0);
    sendMultiplierAndWait(seen);
    ASSERT_EQ(card.sendProbePresence(1, 0), 0);
    EXPECT_TRUE(testsupport::waitUntil([&] { return presences.load() == 1; }));
    host.stopReader();
}

}  // namespace
