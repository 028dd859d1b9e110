// canbus-send and canbus-dump: frame text forms and the programs themselves.
#include "platform/CanTransport.h"
#include "platform/EmulatedBus.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "tools/canbus/FrameText.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <sstream>

#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(FrameText, ParsesCansendSyntax) {
    struct Case {
        const char* text;
        bool ok;
        canid_t id;
        std::vector<unsigned> data;
    } cases[] = {
        {"16A#", true, 0x16A, {}},
        {"320#3F80000000", true, 0x320, {0x3F, 0x80, 0, 0, 0}},
        {"123#11.22.33", true, 0x123, {0x11, 0x22, 0x33}},
        {"7ff#0102030405060708", true, 0x7FF, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"1F334455#AB", true, 0x1F334455 | CAN_EFF_FLAG, {0xAB}},
        {"123#R", true, 0x123 | CAN_RTR_FLAG, {}},
        {"123", false, 0, {}},
        {"12#00", false, 0, {}},         // neither 3 nor 8 digits
        {"800#", false, 0, {}},          // beyond 11 bits
        {"123#0", false, 0, {}},         // half a byte
        {"123#XY", false, 0, {}},
        {"123#010203040506070809", false, 0, {}},  // nine bytes
    };
    for (const auto& c : cases) {
        can_frame f;
        ASSERT_EQ(canbus::parseFrame(c.text, f), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(f.can_id, c.id) << c.text;
        ASSERT_EQ(f.can_dlc, c.data.size()) << c.text;
        for (std::size_t i = 0; i < c.data.size(); ++i) EXPECT_EQ(f.data[i], c.data[i]) << c.text;
    }
}

TEST(FrameText, FormatsLikeCandump) {
    can_frame f{};
    f.can_id = 0x32A;
    EXPECT_EQ(canbus::formatFrame("vcan0", f), "  vcan0  32A   [0] ");
    canbus::parseFrame("320#3F80000000", f);
    EXPECT_EQ(canbus::formatFrame("vcan0", f), "  vcan0  320   [5]  3F 80 00 00 00");
    canbus::parseFrame("005#1122", f);
    EXPECT_EQ(canbus::formatFrame("can0", f), "  can0  005   [2]  11 22");
    canbus::parseFrame("1F334455#AB", f);
    EXPECT_EQ(canbus::formatFrame("can0", f), "  can0  1F334455   [1]  AB");
}

TEST(FrameText, ParsesInterfaceAndFilters) {
    std::string name;
    std::vector<can_filter> filters;
    ASSERT_TRUE(canbus::parseInterfaceArgument("vcan0", name, filters));
    EXPECT_EQ(name, "vcan0");
    EXPECT_TRUE(filters.empty());
    ASSERT_TRUE(canbus::parseInterfaceArgument("vcan0,320:7FF,400~7F0", name, filters));
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].can_id, 0x320u);
    EXPECT_EQ(filters[0].can_mask, 0x7FFu);
    EXPECT_EQ(filters[1].can_id, 0x400u | CAN_INV_FILTER);
    EXPECT_EQ(filters[1].can_mask, 0x7F0u);
    for (const char* bad : {"vcan0,320", "vcan0,320:", "vcan0,:7FF", ",320:7FF", "vcan0,zz:7FF"})
        EXPECT_FALSE(canbus::parseInterfaceArgument(bad, name, filters)) << bad;
}

class CanbusTools : public ::testing::Test {
protected:
    testsupport::TempSandbox box;
    std::string name = testsupport::uniqueBusName("tl");

    int send(const std::string& frame) {
        testsupport::ChildProcess p;
        if (!p.start(testsupport::binPath("canbus-send"), {"-sandbox", box.path(), name, frame})) return -1;
        int status = p.wait(10s);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Sends marker frames until the dump shows one, so that it is surely reading.
    bool syncWith(testsupport::ChildProcess& dump, platform::CanTransport& bus, const std::string& markerLine) {
        can_frame f;
        canbus::parseFrame("16A#", f);
        return testsupport::waitUntil([&] {
            bus.write(f);
            return dump.output().find(markerLine) != std::string::npos;
        }, 10s, 20ms);
    }
};

TEST_F(CanbusTools, SendPutsTheFrameOnTheBus) {
    auto bus = platform::openCanTransport(name.c_str());
    ASSERT_EQ(send("16A#"), 0);
    ASSERT_EQ(send("320#3F80000000"), 0);
    can_frame f;
    ASSERT_EQ(bus->read(f, 2000), ssize_t(sizeof f));
    EXPECT_EQ(f.can_id, 0x16Au);
    EXPECT_EQ(f.can_dlc, 0);
    ASSERT_EQ(bus->read(f, 2000), ssize_t(sizeof f));
    EXPECT_EQ(f.can_id, 0x320u);
    ASSERT_EQ(f.can_dlc, 5);
    EXPECT_EQ(f.data[0], 0x3F);
    EXPECT_EQ(f.data[1], 0x80);
    EXPECT_NE(send("12#"), 0);
    EXPECT_NE(send("nonsense"), 0);
}

TEST_F(CanbusTools, DumpPrintsFramesThatPassItsFilters) {
    auto bus = platform::openCanTransport(name.c_str());
    testsupport::ChildProcess dump;
    ASSERT_TRUE(dump.start(testsupport::binPath("canbus-dump"), {"-sandbox", box.path(), name + ",320:7FF,16A:7FF"}));
    ASSERT_TRUE(syncWith(dump, *bus, "  " + name + "  16A   [0] \n"));
    can_frame f;
    for (const char* text : {"123#01", "320#3F80000000", "16A#FF"}) {
        canbus::parseFrame(text, f);
        ASSERT_EQ(bus->write(f), ssize_t(sizeof f));
    }
    ASSERT_TRUE(dump.waitForOutput("  " + name + "  16A   [1]  FF\n"));
    std::string out = dump.output();
    EXPECT_NE(out.find("\n  " + name + "  320   [5]  3F 80 00 00 00\n  " + name + "  16A   [1]  FF\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find(" 123 "), std::string::npos) << out;
}

TEST_F(CanbusTools, DumpEndsAfterCountFrames) {
    auto bus = platform::openCanTransport(name.c_str());
    testsupport::ChildProcess dump;
    ASSERT_TRUE(dump.start(testsupport::binPath("canbus-dump"), {"-n", "2", name, "-sandbox", box.path()}));
    can_frame f;
    canbus::parseFrame("001#0102", f);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        bus->write(f);
        return !dump.running();
    }, 10s, 20ms));
    EXPECT_EQ(dump.output(), "  " + name + "  001   [2]  01 02\n  " + name + "  001   [2]  01 02\n");
}

TEST_F(CanbusTools, DumpReportsTheFramesItLost) {
    ASSERT_TRUE(platform::setEmulatedBusBandwidth(name, 0, 1));
    auto bus = platform::openCanTransport(name.c_str());
    testsupport::ChildProcess dump;
    ASSERT_TRUE(dump.start(testsupport::binPath("canbus-dump"), {"-sandbox", box.path(), name}));
    // Numbered markers until the dump prints the one just sent: then it has
    // read every frame it will see before the test's own.
    can_frame marker{};
    marker.can_id = 0x16A;
    marker.can_dlc = 1;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        ++marker.data[0];
        bus->write(marker);
        char line[64];
        std::snprintf(line, sizeof line, "  16A   [1]  %02X\n", marker.data[0]);
        return dump.waitForOutput(line, 200ms);
    }, 10s, 0ms));
    kill(dump.pid(), SIGSTOP);  // Ctrl-Z
    constexpr std::uint32_t kFrames = 150000;
    can_frame f{};
    f.can_id = 0x123;
    f.can_dlc = 4;
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        f.data[0] = std::uint8_t(i >> 24);
        f.data[1] = std::uint8_t(i >> 16);
        f.data[2] = std::uint8_t(i >> 8);
        f.data[3] = std::uint8_t(i);
        ASSERT_EQ(bus->write(f), ssize_t(sizeof f));
    }
    kill(dump.pid(), SIGCONT);
    ASSERT_TRUE(dump.waitForOutput("  " + name + "  123   [4]  00 02 49 EF\n", 30s));  // the last one
    std::istringstream out(dump.output());
    std::string line;
    unsigned long long printed = 0, dropped = 0, lastTotal = 0;
    while (std::getline(out, line)) {
        if (line.find("  123   [4] ") != std::string::npos) ++printed;
        unsigned long long n, total;
        char plural[2], iface[32];
        if (std::sscanf(line.c_str(), "DROPCOUNT: dropped %llu CAN frame%1[s ] on '%31[^']' socket (total drops %llu)", &n,
                        plural, iface, &total) == 4) {
            EXPECT_EQ(iface, name);
            dropped += n;
            lastTotal = total;
        }
    }
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(lastTotal, dropped);
    EXPECT_EQ(printed + dropped, kFrames) << "every frame printed or counted";
}

TEST_F(CanbusTools, SendOnACongestedBusSaysWhyItGaveUp) {
    // One frame a second, no burst, and a sender here that takes each one.
    ASSERT_TRUE(platform::setEmulatedBusBandwidth(name, 1, 1));
    auto bus = platform::openCanTransport(name.c_str());
    std::atomic<bool> done{false};
    std::thread hog([&] {
        can_frame f;
        canbus::parseFrame("7FF#", f);
        while (!done) {
            bus->write(f);
            std::this_thread::sleep_for(100us);
        }
    });
    // canbus-send tries for about a quarter of a second: should a frame's
    // room still fall to it, it has sent, and it runs again.
    int status = -1;
    std::string out;
    for (int run = 0; run < 3 && status != 1; ++run) {
        testsupport::ChildProcess send;
        ASSERT_TRUE(send.start(testsupport::binPath("canbus-send"), {"-sandbox", box.path(), name, "123#01"}));
        status = send.wait(20s);
        out = send.output();
        status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    done = true;
    hog.join();
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("write: No buffer space available\n"), std::string::npos) << out;
}

TEST_F(CanbusTools, BadArgumentsPrintUsage) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"-n", "x", "vcan0"}, {"vcan0,12"}, {"a", "b"}}) {
        testsupport::ChildProcess dump;
        ASSERT_TRUE(dump.start(testsupport::binPath("canbus-dump"), args));
        int status = dump.wait(10s);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
        EXPECT_NE(dump.output().find("Usage: canbus-dump"), std::string::npos);
    }
}

}  // namespace
