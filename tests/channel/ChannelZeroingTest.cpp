// Probe presence and settling, zeroing, manual zero and the card's events.
#include "ChannelFixture.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

using namespace channeltest;

namespace {
constexpr int kProbeFaultBit = 9;   // questionable register, channel 2
}  // namespace

TEST_F(ChannelFixture, ProbeDataSettleTheChannelToReady) {
    startAndCardReady();
    card.clear();
    card.insertProbe(3);
    ASSERT_TRUE(waitForStatus(2));
    EXPECT_EQ(copyOf(channelStatuses), (std::vector<int>{1, 2}));
    EXPECT_EQ(model.getZeroingState(), 3) << "a settled probe needs a zero";
    EXPECT_EQ(model.getLastZeroMode(), 4);
    ASSERT_TRUE(card.waitForCount(kResetPeaks, 1));
    EXPECT_EQ(card.frames(kResetPeaks)[0].data[0], 2);
    EXPECT_TRUE(card.count(kSetGain) >= 2u);
    EXPECT_TRUE(model.rate().isActive());
    EXPECT_FALSE(questionableBit(kProbeFaultBit));

    card.removeProbe();
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getChannelStatus() == 0; }));
    EXPECT_EQ(model.getZeroingState(), 4);
    EXPECT_FALSE(model.rate().isActive());
}

TEST_F(ChannelFixture, ASettlingClassZeroProbeSelectsItsOnlyRange) {
    startAndCardReady();
    card.insertProbe(0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getChannelStatus() == 2; }));
    ASSERT_TRUE(waitForRange(3));
    EXPECT_EQ(model.getRangeSpec()->getRangeName(), "1G");
    // The range is the model's at once; its gain frames reach the card a little later.
    EXPECT_TRUE(testsupport::waitUntil([&] {
        const auto gains = card.frames(kSetGain);
        return !gains.empty() && gainOf(gains.back()) == 3.0f;
    })) << "class 0 probes get the gain 3";
}

TEST_F(ChannelFixture, AProbeRemovedWhileSettlingNeverLeavesTheChannelReady) {
    startAndCardReady();
    card.insertProbe(3);
    card.removeProbe();
    ASSERT_TRUE(testsupport::waitUntil([&] {
        const auto s = copyOf(channelStatuses);
        return !s.empty() && s.back() == 0;
    }));
    // Nothing left to settle: no settling pending, and a settle time-out
    // that came all the same (its handler already on its way) changes nothing.
    EXPECT_FALSE(model.settle().isActive());
    model.onProbeSettled();
    EXPECT_EQ(model.getChannelStatus(), 0);
    EXPECT_EQ(copyOf(channelStatuses), (std::vector<int>{1, 0}));
    EXPECT_EQ(model.getZeroingState(), 4);
}

TEST_F(ChannelFixture, ZeroRunsToDone) {
    makeReady();
    model.setBackplaneTemperature(30.0f);
    model.startZero();
    model.startZero();
    ASSERT_TRUE(card.waitForCount(kZero, 1));
    // Frames reach the card in the order sent: once a later one has come, a
    // zero request of the second start would have come before it.
    model.requestAllData();
    ASSERT_TRUE(card.waitForCount(kSendAll, 1));
    ASSERT_EQ(card.count(kZero), 1u) << "a second start while zeroing sends nothing";
    EXPECT_EQ(card.frames(kZero)[0].data[0], 0);
    EXPECT_EQ(card.frames(kZero)[0].data[1], 4);
    EXPECT_EQ(model.getZeroingState(), 1);
    EXPECT_FALSE(model.saveTimer().isActive()) << "settings saves pause while zeroing";

    card.out().sendZeroingProgress(kChannel, 50.0f);
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getZeroingProgress() == 50.0f; }));
    card.out().sendZeroDone(kChannel, 0);
    // The save timer is started last, after the state, temperature and mode.
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.saveTimer().isActive(); }));
    EXPECT_EQ(model.getZeroingState(), 0);
    EXPECT_FLOAT_EQ(model.getZeroTemperature(), 30.0f);
    EXPECT_EQ(model.getLastZeroMode(), 4);

    // Drift only counts once a zero became due.
    model.setBackplaneTemperature(40.0f);
    EXPECT_EQ(model.getZeroingState(), 0);
    model.setBackplaneTemperature(30.0f);
    model.onZeroDue();
    EXPECT_EQ(model.getZeroingState(), 3);
}

TEST_F(ChannelFixture, ZeroTimesOutWithoutAnAnswer) {
    makeReady();
    model.zeroTimeout().setPeriod(300);
    model.startZero();
    // The state's signal comes right after the state.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        const auto states = copyOf(zeroStates);
        return !states.empty() && states.back() == 2;
    }));
    EXPECT_EQ(model.getZeroingState(), 2);
    // A later zero can start again.
    model.startZero();
    ASSERT_TRUE(card.waitForCount(kZero, 2));
}

// The time-out of an earlier zero, still pending when a later zero starts,
// must not end the later one: each zero gets its whole time-out.
TEST_F(ChannelFixture, EachZeroGetsItsWholeTimeOut) {
    makeReady();
    model.zeroTimeout().setPeriod(800);
    model.startZero();
    card.out().sendZeroDone(kChannel, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getZeroingState() == 0; }));
    // The second zero starts while the first one's time-out would still be
    // pending, 300 ms into it: a gap the scenario needs, not a wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto secondStart = std::chrono::steady_clock::now();
    model.startZero();
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getZeroingState() == 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - secondStart, std::chrono::milliseconds(800));
}

// A zero stops the periodic settings save; every way it ends starts it again,
// so that later changes reach the disk without waiting for a stop.
TEST_F(ChannelFixture, EveryEndOfAZeroRestartsTheSettingsSave) {
    struct End {
        const char* what;
        int state;
        std::function<void()> end;
    } ends[] = {
        {"done", 0, [this] { card.out().sendZeroDone(kChannel, 0); }},
        {"timed out", 2, [this] { model.onZeroTimeout(); }},
        {"card lost", 4, [this] { model.markNoCard(); }},
        {"probe removed", 4, [this] { card.removeProbe(); }},
    };
    makeReady();
    for (const End& e : ends) {
        SCOPED_TRACE(e.what);
        if (model.getChannelStatus() != 2) {
            card.insertProbe(3);
            ASSERT_TRUE(testsupport::waitUntil([&] { return model.getChannelStatus() == 2; }));
        }
        model.zeroTimeout().setPeriod(60000);
        model.startZero();
        ASSERT_EQ(model.getZeroingState(), 1);
        ASSERT_FALSE(model.saveTimer().isActive());
        e.end();
        ASSERT_TRUE(testsupport::waitUntil([&] { return model.getZeroingState() == e.state; }));
        EXPECT_TRUE(testsupport::waitUntil([&] { return model.saveTimer().isActive(); }));
    }
}

// A zero is started on the thread of a key, a menu entry or a remote
// command, and timed out on the time-out's timer thread: the zero state's
// slots must never run on both threads at once.
TEST_F(ChannelFixture, ZeroStatesFromStartAndTimeOutReachTheSlotOneAtATime) {
    makeReady();
    model.zeroTimeout().setPeriod(1);
    // Shared with the slot, which outlives this test's body.
    struct Seen {
        std::atomic<int> inSlot{0};
        std::atomic<bool> overlapped{false};
        std::atomic<int> timeouts{0};
    };
    auto seen = std::make_shared<Seen>();
    model.signalZeroingStateChanged().connect([seen](int, int state) {
        if (seen->inSlot.fetch_add(1) != 0) seen->overlapped = true;
        std::this_thread::yield();
        if (state == 2) ++seen->timeouts;
        seen->inSlot.fetch_sub(1);
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (seen->timeouts.load() < 100 && std::chrono::steady_clock::now() < end) model.startZero();
    // The last zero times out too; then no thread raises the state any more.
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getZeroingState() == 2; }));
    EXPECT_GE(seen->timeouts.load(), 100);
    EXPECT_FALSE(seen->overlapped);
}

TEST(ChannelZeroRules, TemperatureDriftAndDcOnlyZero) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(1, "unused");
    m.onZeroDue();                 // the hour after power-on has passed
    m.setBackplaneTemperature(30.0f);
    m.setZeroMode(1);
    m.onZeroDone(0);               // a DC-only zero at 30 degrees
    ASSERT_EQ(m.getZeroingState(), 0);
    m.setBackplaneTemperature(34.9f);
    EXPECT_EQ(m.getZeroingState(), 0);
    m.setBackplaneTemperature(35.0f);
    EXPECT_EQ(m.getZeroingState(), 3);

    m.setBackplaneTemperature(30.0f);
    m.onZeroDone(0);
    m.onModeReply(1, 0, 610.0f);   // AC with no AC offsets: the DC-only zero does not serve
    EXPECT_EQ(m.getZeroingState(), 3);
    m.onModeReply(0, 0, 610.0f);
    EXPECT_EQ(m.getZeroingState(), 0);
}

TEST_F(ChannelFixture, ManualZeroIsSubtractedAndClearedByAZero) {
    makeReady();
    model.setSamplesPerAverage(1);
    model.setAutorange(false);
    model.editManualZero();
    ASSERT_EQ(model.getManualZeroState(), 2);
    model.getDigitEditor().toggleSign();
    model.applyManualZero();
    EXPECT_EQ(model.getManualZeroState(), 1) << "a negative zero offset stays on";
    model.clearManualZero();
    EXPECT_EQ(model.getManualZeroState(), 0);

    // An offset entered with the keys is subtracted from every reading,
    // while editing and once applied.
    model.editManualZero();
    model.editIncrementDigit();
    const float offset = model.getManualZeroOffset();
    ASSERT_GT(offset, 0.0f);
    feed(1000.0f, 1, 1);
    EXPECT_FLOAT_EQ(model.getValue(), 1000.0f - offset);
    model.applyManualZero();
    ASSERT_EQ(model.getManualZeroState(), 1);
    feed(2000.0f, 1, 1);
    EXPECT_FLOAT_EQ(model.getValue(), 2000.0f - offset);

    // A zero starts without it.
    model.startZero();
    EXPECT_EQ(model.getManualZeroState(), 0);
    EXPECT_FLOAT_EQ(model.getManualZeroOffset(), 0.0f);
    feed(3000.0f, 1, 1);
    EXPECT_FLOAT_EQ(model.getValue(), 3000.0f);
}

TEST_F(ChannelFixture, CardEventsMarkTheProbeAndTheQuestionableBit) {
    makeReady();
    card.out().sendCardEvent(kChannel, 5);
    ASSERT_TRUE(testsupport::waitUntil([&] { return copyOf(errors).size() == 1; }));
    EXPECT_FALSE(questionableBit(kProbeFaultBit));

    card.out().sendCardEvent(kChannel, 4);
    ASSERT_TRUE(testsupport::waitUntil([&] { return copyOf(errors).size() == 2; }));
    EXPECT_TRUE(questionableBit(kProbeFaultBit));
    EXPECT_FALSE(model.getProbe().isDataValid());
    card.removeProbe();   // removal clears the bit again
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getChannelStatus() == 0; }));
    EXPECT_FALSE(questionableBit(kProbeFaultBit));

    card.out().sendCardEvent(kChannel, 2);   // a fault that stays for the run
    ASSERT_TRUE(testsupport::waitUntil([&] { return copyOf(errors).size() == 3; }));
    EXPECT_TRUE(questionableBit(kProbeFaultBit));
    card.insertProbe(3);
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getChannelStatus() == 2; }));
    card.removeProbe();
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getChannelStatus() == 0; }));
    EXPECT_TRUE(questionableBit(kProbeFaultBit));
    EXPECT_EQ(copyOf(errors), (std::vector<int>{5, 4, 2}));
}
