// Key backlights and the Enter key: which frames the backlights send, how
// the view follows the soft buttons, the channel states and the armed
// prompts, that it sends them all again to a backplane that came back, and
// which armed actions one Enter press runs.
#include "can/CANinterface.h"
#include "support/FakeTransport.h"
#include "frontpanel/ButtonHandler.h"
#include "frontpanel/ButtonView.h"
#include "meter/MeterModel.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// A link whose frames are recorded: (key, level) of each backlight frame.
struct RecordingLink {
    std::shared_ptr<testsupport::FakeBus> bus = std::make_shared<testsupport::FakeBus>();
    CANinterface link{std::make_unique<testsupport::FakeTransport>(bus)};

    std::vector<std::pair<int, int>> backlightFrames() {
        std::vector<std::pair<int, int>> out;
        for (const can_frame& f : bus->frames()) {
            EXPECT_EQ(f.can_id, 0x100u);
            EXPECT_EQ(f.can_dlc, 8);
            out.emplace_back(f.data[0], f.data[1]);
        }
        return out;
    }
    std::size_t count() { return bus->frames().size(); }
};

using Frames = std::vector<std::pair<int, int>>;

TEST(ButtonBacklight, SendsOnlyWhenTheLevelChanges) {
    RecordingLink rec;
    ButtonBacklight light(12, &rec.link);
    light.setLevel(0);   // differs from the initial 3: sent
    light.setLevel(0);
    light.setLevel(2);
    light.setLevel(2);
    EXPECT_EQ(rec.backlightFrames(), (Frames{{12, 0}, {12, 2}}));
    EXPECT_EQ(light.getLevel(), 2);
}

TEST(ButtonView, SoftButtonsFollowTheItemCount) {
    RecordingLink rec;
    ButtonView view(&rec.link, nullptr, nullptr);
    const struct {
        int count;
        int lit;
    } cases[] = {{4, 4}, {0, 0}, {-3, 0}, {6, 6}, {9, 6}, {2, 2}};
    for (const auto& c : cases) {
        view.setSoftButtonCount(c.count);
        for (int k = 1; k <= 6; ++k) EXPECT_EQ(view.getLevel(k), k <= c.lit ? 1 : 0) << c.count << " key " << k;
    }
    const std::size_t before = rec.count();
    view.setSoftButtonCount(2);
    EXPECT_EQ(rec.count(), before) << "nothing changed, nothing sent";
}

TEST(ButtonView, DisabledDarkensAllButEnterAndRestoresOnEnable) {
    RecordingLink rec;
    ButtonHandler enter(nullptr, 32);
    ButtonView view(&rec.link, &enter, nullptr);
    view.setSoftButtonCount(3);
    enter.connectOnce([] {});
    ASSERT_EQ(view.getLevel(32), 1) << "an armed prompt lights Enter";

    view.disable();
    for (int k = 1; k <= 31; ++k) EXPECT_EQ(view.getLevel(k), 0) << k;
    EXPECT_EQ(view.getLevel(32), 1);

    view.setSoftButtonCount(5);   // ignored, not remembered
    view.refreshChannel(1, {2, 2, 0, 1, 0, true, true});
    for (int k = 1; k <= 31; ++k) EXPECT_EQ(view.getLevel(k), 0) << k;

    view.enable();
    for (int k = 1; k <= 6; ++k) EXPECT_EQ(view.getLevel(k), k <= 3 ? 1 : 0) << k;

    enter.onKey(32);
    EXPECT_EQ(view.getLevel(32), 0);
}

TEST(ButtonView, ChannelKeysFollowTheChannelState) {
    // Levels of the eight keys (range, mode, hold, reset, relative, zero,
    // down, up); -1 keeps the level the key had (here 1, from an earlier
    // refresh that lit every key).
    struct Case {
        const char* name;
        ChannelKeyState state;   // status, zero, manual zero, relative, classifier, over range, hold
        std::vector<int> levels;
    };
    const Case cases[] = {
        {"no probe: all dark", {1, 2, 0, 3, 2, true, true}, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"ready, nothing on", {2, 0, 0, 0, 1, false, false}, {0, -1, 0, 0, 0, 0, 0, 0}},
        {"zeroing lights only zero", {2, 1, 0, 1, 1, true, true}, {0, 0, 0, 0, 0, 1, 0, 0}},
        {"zero timed out", {2, 2, 0, 0, 0, false, false}, {0, -1, 0, 0, 0, 2, 0, 0}},
        {"zero needed", {2, 3, 0, 0, 0, false, false}, {0, -1, 0, 0, 0, 2, 0, 0}},
        {"manual zero in force darkens zero", {2, 3, 1, 0, 0, false, false}, {0, -1, 0, 0, 0, 0, 0, 0}},
        {"unknown zero state keeps zero", {2, 9, 0, 0, 0, false, false}, {0, -1, 0, 0, 0, -1, 0, 0}},
        {"over range, holds", {2, 0, 0, 0, 0, true, true}, {2, -1, 1, 1, 0, 0, 0, 0}},
        {"relative under entry", {2, 0, 0, 3, 0, false, false}, {0, -1, 0, 0, 1, 0, 1, 1}},
        {"relative on", {2, 0, 0, 2, 0, false, false}, {0, -1, 0, 0, 1, 0, 0, 0}},
        {"unknown relative state keeps relative", {2, 0, 0, 7, 0, false, false}, {0, -1, 0, 0, -1, 0, 0, 0}},
        {"classifier threshold entry", {2, 0, 0, 0, 3, false, false}, {0, -1, 0, 0, 0, 0, 1, 1}},
        {"manual zero entry", {2, 0, 2, 0, 0, false, false}, {0, -1, 0, 0, 0, 0, 1, 1}},
    };
    for (const Case& c : cases) {
        RecordingLink rec;
        ButtonView view(&rec.link, nullptr, nullptr);
        // Every key lit but mode, which no refresh touches (it keeps the
        // backlight's initial 3).
        for (int channel = 1; channel <= 3; ++channel) view.refreshChannel(channel, {2, 3, 0, 3, 0, true, true});
        for (int channel = 1; channel <= 3; ++channel) {
            view.refreshChannel(channel, c.state);
            const int k0 = 8 * channel - 1;
            for (int k = 0; k < 8; ++k) {
                int want = c.levels[k];
                if (want == -1) want = k == 1 ? 3 : (k == 0 || k == 5 ? 2 : 1);
                EXPECT_EQ(view.getLevel(k0 + k), want) << c.name << ", channel " << channel << " key " << k;
            }
        }
    }
    RecordingLink rec;
    ButtonView view(&rec.link, nullptr, nullptr);
    view.refreshChannel(0, {1, 0, 0, 0, 0, false, false});
    view.refreshChannel(4, {1, 0, 0, 0, 0, false, false});
    EXPECT_EQ(rec.count(), 0u) << "channels outside 1-3 are ignored";
}

TEST(ButtonView, EveryKeyIsSentAgainWhenTheBackplaneComesBack) {
    testsupport::TempSandbox sandbox;
    struct Meter : MeterModel {
        Meter() : MeterModel(testsupport::uniqueBusName("bv").c_str()) {}
    } meter;
    RecordingLink rec;
    ButtonHandler enter(nullptr, 32);
    ButtonView view(&rec.link, &enter, &meter);
    view.setSoftButtonCount(2);
    view.refreshChannel(3, {2, 3, 0, 0, 0, true, false});
    enter.connectOnce([] {});
    const Frames before = rec.backlightFrames();

    // Every key that was ever set, in key order, with its last level; the
    // keys no one set (channel 1, 2 and the mode keys) have nothing to send.
    meter.signalBackplaneReturned().emit();
    Frames expected;
    for (int k = 1; k <= 32; ++k)
        if (view.getLevel(k) != ButtonBacklight::kInitialLevel) expected.emplace_back(k, view.getLevel(k));
    const Frames all = rec.backlightFrames();
    EXPECT_EQ(Frames(all.begin() + static_cast<long>(before.size()), all.end()), expected);
    EXPECT_EQ(expected.size(), before.size()) << "each key set once";
    EXPECT_EQ(view.getLevel(23), 2) << "channel 3 over range";
}

TEST(ButtonHandler, AnActionArmedWhileAnotherWaitsReplacesIt) {
    ButtonHandler enter(nullptr, 32);
    std::vector<std::string> ran;
    std::vector<bool> armed;
    enter.signalArmed().connect([&](bool on) { armed.push_back(on); });

    enter.connectOnce([&] { ran.push_back("first"); });
    enter.connectOnce([&] { ran.push_back("second"); });
    enter.onKey(32);
    EXPECT_EQ(ran, (std::vector<std::string>{"second"})) << "the replaced action is cancelled";
    EXPECT_FALSE(enter.isArmed());
    EXPECT_EQ(armed, (std::vector<bool>{true, true, false})) << "nothing waits: Enter goes dark";

    enter.onKey(32);   // nothing armed: no action, the key goes dark again
    EXPECT_EQ(ran, (std::vector<std::string>{"second"}));
    EXPECT_EQ(armed.back(), false);
}

TEST(ButtonHandler, APromptArmedTwiceRunsOnce) {
    ButtonHandler enter(nullptr, 32);
    int runs = 0;
    enter.armWithCancelKey([&] { ++runs; }, 31);
    enter.armWithCancelKey([&] { ++runs; }, 31);
    EXPECT_TRUE(enter.isArmed());
    enter.onKey(32);
    enter.onKey(32);
    EXPECT_EQ(runs, 1);
}

TEST(ButtonHandler, CancelKeyDropsTheWaitingActionUnrun) {
    ButtonHandler enter(nullptr, 32);
    int runs = 0;
    std::vector<bool> armed;
    enter.signalArmed().connect([&](bool on) { armed.push_back(on); });
    enter.connectOnce([&] { ++runs; });
    enter.armWithCancelKey([&] { ++runs; }, 31);
    enter.onKey(7);    // another key: nothing
    EXPECT_TRUE(enter.isArmed());
    enter.onKey(31);
    EXPECT_FALSE(enter.isArmed());
    enter.onKey(32);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(armed, (std::vector<bool>{true, true, false, false}));

    // The cancel key belongs to the action armed with it: an action without
    // one that replaces it stays armed through Back.
    enter.armWithCancelKey([&] { runs += 10; }, 31);
    enter.connectOnce([&] { ++runs; });
    enter.onKey(31);
    EXPECT_TRUE(enter.isArmed());
    enter.onKey(32);
    EXPECT_EQ(runs, 1);
    // And one armed with it after a press is dropped by it again.
    enter.armWithCancelKey([&] { ++runs; }, 31);
    enter.onKey(31);
    EXPECT_FALSE(enter.isArmed());
}

TEST(ButtonHandler, AnActionMayArmTheNextPrompt) {
    ButtonHandler enter(nullptr, 32);
    std::vector<int> ran;
    enter.connectOnce([&] {
        ran.push_back(1);
        enter.connectOnce([&] { ran.push_back(2); });
    });
    enter.onKey(32);
    EXPECT_TRUE(enter.isArmed());
    enter.onKey(32);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(ButtonHandler, ArmingFromAnotherThreadWhileKeysArrive) {
    ButtonHandler enter(nullptr, 32);
    constexpr int kArmings = 2000;
    std::vector<std::atomic<int>> runs(kArmings);
    std::atomic<bool> done{false};
    std::thread armer([&] {
        for (int i = 0; i < kArmings; ++i) enter.connectOnce([&runs, i] { ++runs[i]; });
        done = true;
    });
    int presses = 0;
    while (!done) {   // presses while the other thread arms
        enter.onKey(32);
        ++presses;
    }
    armer.join();
    enter.onKey(32);
    ++presses;
    int total = 0;
    for (int i = 0; i < kArmings; ++i) {
        EXPECT_LE(runs[i].load(), 1) << "arming " << i;
        total += runs[i].load();
    }
    EXPECT_LE(total, presses) << "one action per press at most";
    EXPECT_EQ(runs[kArmings - 1].load(), 1) << "the last arming runs";
    EXPECT_FALSE(enter.isArmed());
}

}  // namespace
