// End-to-end tests of frontpanel-sim, the front-panel and power-supply
// stand-in: key frames, version replies, power-on mode and what it prints.
#include "BusPeer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using simtest::BusPeer;
using simtest::Frame;

namespace {

class FrontPanelSim : public ::testing::Test {
protected:
    void SetUp() override {
        peer = std::make_unique<BusPeer>(bus);
        peer->can.signalKeyPressed().connect([this](int key) {
            std::lock_guard<std::mutex> lock(mutex);
            keys.push_back(key);
        });
        peer->can.signalFrontPanelVersion().connect([this](int major, int minor) {
            std::lock_guard<std::mutex> lock(mutex);
            frontPanel.emplace_back(major, minor);
        });
        peer->can.signalPsuVersion().connect([this](int major, int minor) {
            std::lock_guard<std::mutex> lock(mutex);
            powerSupply.emplace_back(major, minor);
        });
        peer->can.signalPowerOnMode().connect([this](int mode) {
            std::lock_guard<std::mutex> lock(mutex);
            modes.push_back(mode);
        });
        peer->start();
    }

    // Polls pred under the lock.
    template <class Pred>
    bool locked(Pred pred) {
        return testsupport::waitUntil([&] {
            std::lock_guard<std::mutex> lock(mutex);
            return pred();
        });
    }

    bool start(std::vector<std::string> args) {
        args.insert(args.begin(), {"-sandbox", sandbox.path(), "-can", bus});
        return panel.start(testsupport::binPath("frontpanel-sim"), args);
    }

    std::mutex mutex;
    std::vector<int> keys;
    std::vector<std::pair<int, int>> frontPanel, powerSupply;
    std::vector<int> modes;
    testsupport::TempSandbox sandbox;
    std::string bus = testsupport::uniqueBusName("fp");
    std::unique_ptr<BusPeer> peer;
    testsupport::ChildProcess panel;
};

TEST_F(FrontPanelSim, PressesTheKeysOfItsCommandLineInOrder) {
    ASSERT_TRUE(start({"-pause", "10", "1", "6", "7", "14", "30", "31", "32"}));
    const int status = panel.wait(10s);
    ASSERT_NE(status, -1) << "with keys given and no terminal it ends by itself";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << panel.output();
    ASSERT_TRUE(locked([&] { return keys.size() >= 7; }));
    EXPECT_EQ(keys, (std::vector<int>{1, 6, 7, 14, 30, 31, 32}));
    for (const Frame& f : peer->log.withId({0x020})) EXPECT_EQ(f.length, 8);
}

TEST_F(FrontPanelSim, AnswersVersionsAndReportsItsPowerOnMode) {
    ASSERT_TRUE(start({"-fpVersion", "2.11", "-psuVersion", "1.5", "-powerOnMode", "1"}));
    ASSERT_TRUE(locked([&] { return modes.size() == 1; })) << "power-on mode reported at start";
    EXPECT_EQ(modes[0], 1);

    peer->can.sendFrontPanelVersionRequest();
    peer->can.sendPsuVersionRequest();
    ASSERT_TRUE(locked([&] { return !frontPanel.empty() && !powerSupply.empty(); }));
    EXPECT_EQ(frontPanel, (std::vector<std::pair<int, int>>{{2, 11}}));
    EXPECT_EQ(powerSupply, (std::vector<std::pair<int, int>>{{1, 5}}));
    const auto replies = peer->log.withId({0x029, 0x629});
    ASSERT_EQ(replies.size(), 2u);
    for (const Frame& f : replies) EXPECT_EQ(f.length, 3);
    EXPECT_EQ(replies[0].data[1], 0);

    // The host sets the mode; the node confirms it, and reports it again at host ready.
    peer->can.sendSetPowerOnMode(0);
    ASSERT_TRUE(locked([&] { return modes.size() == 2; }));
    peer->can.sendHostReady();
    ASSERT_TRUE(locked([&] { return modes.size() == 3; }));
    EXPECT_EQ(modes, (std::vector<int>{1, 0, 0}));

    peer->can.sendButtonBacklight(12, 2);
    peer->can.sendButtonBacklightLevel(3);
    peer->can.sendLcdBacklightLevel(6);
    peer->can.sendBootloadNotice(0, 120);
    peer->can.sendBootloadNotice(6, 120);
    for (const char* line : {"Key backlight: Channel 1 Zero (key 12) level 2\n", "Key brightness: 3\n",
                             "LCD brightness: 6\n", "Bootload notice to the front panel: 120\n",
                             "Bootload notice to the power supply: 120\n",
                             "Front-panel version request: answered 2.11\n",
                             "Power-supply version request: answered 1.5\n"})
        EXPECT_TRUE(panel.waitForOutput(line, 5s)) << line << "\n" << panel.output();

    const int status = panel.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The key map of the front panel: soft keys 1-6, per channel c the key k at
// 7 + 8 (c - 1) + k, Back 31 and Enter 32; each key's backlight frame is
// printed with its name.
TEST_F(FrontPanelSim, NamesEveryKeyOfTheFrontPanel) {
    ASSERT_TRUE(start({}));
    // Up once it answers a version request.
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            if (peer->log.count(0x029) > 0) return true;
            peer->can.sendFrontPanelVersionRequest();
            return false;
        },
        10s, 50ms));
    const char* const channelKeys[8] = {"Range", "Mode", "Hold", "Reset holds", "Relative", "Zero", "Down", "Up"};
    std::vector<std::pair<int, std::string>> names;
    for (int k = 1; k <= 6; ++k) names.emplace_back(k, "Soft key " + std::to_string(k));
    for (int c = 1; c <= 3; ++c)
        for (int k = 0; k < 8; ++k)
            names.emplace_back(7 + 8 * (c - 1) + k, "Channel " + std::to_string(c) + " " + channelKeys[k]);
    names.emplace_back(31, "Back");
    names.emplace_back(32, "Enter");
    ASSERT_EQ(names.size(), 32u);
    for (const auto& [code, name] : names) {
        peer->can.sendButtonBacklight(code, 1);
        const std::string line = "Key backlight: " + name + " (key " + std::to_string(code) + ") level 1\n";
        EXPECT_TRUE(panel.waitForOutput(line, 5s)) << line << panel.output();
    }
}

TEST_F(FrontPanelSim, RefusesBadArguments) {
    for (std::vector<std::string> args : {std::vector<std::string>{"-fpVersion", "2"},
                                          {"-psuVersion", "1.256"}, {"-powerOnMode", "2"}, {"0"}, {"33"}, {"x"}}) {
        testsupport::ChildProcess bad;
        args.insert(args.begin(), {"-sandbox", sandbox.path(), "-can", bus});
        ASSERT_TRUE(bad.start(testsupport::binPath("frontpanel-sim"), args));
        const int status = bad.wait(5s);
        ASSERT_NE(status, -1) << args.back();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args.back();
    }
    EXPECT_EQ(peer->log.count(0x020), 0u);
}

}  // namespace
