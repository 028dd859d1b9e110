// The card watch: a card that falls silent while it should stream is given
// up; one given up, or one that restarted, is greeted and synced again when
// it speaks, and gets the channel's settings again.  A pause of the stream
// (a zero, a capture, commands) is allowed its longest course and no more.
#include "ChannelFixture.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

using namespace channeltest;
using namespace std::chrono_literals;

namespace {

// Short enough for a quick test.  The watch is switched on only where a test
// lets the card fall silent (a scripted card streams only when fed), and off
// again before a card gets ready: on a loaded machine the next feed may come
// later than that.
constexpr auto kFloor = 400ms;
// The watch looks ten times a second here.
constexpr auto kTick = 100ms;

class CardWatch : public ChannelFixture {
protected:
    CardWatch() {
        model.watchTimer().setPeriod(static_cast<int>(kTick.count()));
        // Counted after the model's own tick; shared, since the timer may
        // tick into it until the model is gone.
        model.watchTimer().signalTimeout().connect([ticks = ticks] { ++*ticks; });
        model.signalChannelStatusChanged().connect([lost = lostAt](int, int status) {
            if (status == 0) lost->store(std::chrono::steady_clock::now().time_since_epoch().count());
        });
    }
    ~CardWatch() override { unwatch(); }
    static void watch() { ChannelModel::setCardWatchFloor(kFloor); }
    static void unwatch() { ChannelModel::setCardWatchFloor(0ms); }

    // n more ticks of the watch have run.
    bool ticksPass(int n) {
        const int from = *ticks;
        return testsupport::waitUntil([this, from, n] { return *ticks >= from + n; });
    }
    // When the channel last lost its card or probe.
    std::chrono::steady_clock::time_point lostTime() const {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lostAt->load()));
    }

    std::shared_ptr<std::atomic<int>> ticks = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<std::chrono::steady_clock::rep>> lostAt =
        std::make_shared<std::atomic<std::chrono::steady_clock::rep>>(0);

    bool givenUp() {
        return testsupport::waitUntil([this] {
            return model.getLinkState() == ChannelModel::kLinkSilent && model.getChannelStatus() == 0 &&
                   !model.isCardPresent();
        });
    }

    // The card answers the greeting, reports ready and its probe: synced and
    // ready again, its readings handled.
    void syncAgain() {
        card.answerHello = true;
        ASSERT_TRUE(card.waitForCount(kSendAll, 1)) << "no greeting";
        card.out().sendCardReady(kChannel);
        ASSERT_TRUE(testsupport::waitUntil([this] { return model.getLinkState() == ChannelModel::kLinkSynced; }));
        unwatch();
        card.insertProbe(3);
        ASSERT_TRUE(testsupport::waitUntil([this] { return model.getChannelStatus() == 2; }));
        model.rate().stop();
    }
};

}  // namespace

TEST_F(CardWatch, ASilentCardIsGivenUpAndSyncedAgainWithTheChannelsSettings) {
    makeReady();
    model.setTriggerMode(0);   // a repeating capture chosen, as the meter's settings have it; none asked for
    model.setRange(1);   // a fixed range: the card must get it again
    ASSERT_TRUE(waitForRange(1));
    model.setSamplesPerAverage(1);
    feed(1.0f, 3, 3);

    card.answerHello = false;
    card.clear();
    watch();
    ASSERT_TRUE(givenUp());
    EXPECT_EQ(copyOf(channelStatuses).back(), 0);
    // A card given up is greeted every tick until it answers.
    ASSERT_TRUE(card.waitForCount(kHello, 2));
    EXPECT_EQ(card.count(kSendAll), 0u);

    card.clear();
    card.answerHello = true;
    ASSERT_TRUE(card.waitForCount(kSendAll, 1)) << "the answered greeting asks for everything";
    EXPECT_EQ(model.getLinkState(), ChannelModel::kLinkResyncing);
    card.out().sendCardReady(kChannel);
    ASSERT_TRUE(card.waitForCount(kSetMode, 1)) << "the settings go to the card again";
    ASSERT_TRUE(card.waitForCount(kSetRange, 1));
    EXPECT_EQ(card.frames(kSetRange).back().data[0], 1);
    EXPECT_FALSE(model.isAutorange());
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getLinkState() == ChannelModel::kLinkSynced; }));
    EXPECT_TRUE(model.isCardPresent());

    unwatch();
    card.insertProbe(3);
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getChannelStatus() == 2; }));
    model.rate().stop();
    model.setSamplesPerAverage(1);
    feed(2.0f, 3, 3);
    EXPECT_EQ(model.getLinkState(), ChannelModel::kLinkSynced);
}

TEST_F(CardWatch, PausesOfAHealthyCardNeverGiveItUp) {
    struct Pause {
        const char* what;
        std::function<void()> begin;
        std::function<void()> end;
    } pauses[] = {
        {"zeroing",
         [this] {
             model.zeroTimeout().setPeriod(60000);
             model.startZero();
         },
         [this] { card.out().sendZeroDone(kChannel, 0); }},
        {"no probe", [this] { card.removeProbe(); }, [this] { card.insertProbe(3); }},
    };
    makeReady();
    for (const Pause& p : pauses) {
        SCOPED_TRACE(p.what);
        card.answerHello = false;
        p.begin();
        watch();
        // Well past the floor, far within the pause's course.
        ASSERT_TRUE(ticksPass(static_cast<int>(3 * kFloor / kTick)));
        EXPECT_EQ(model.getLinkState(), ChannelModel::kLinkSynced);
        EXPECT_TRUE(model.isCardPresent());

        // Once the pause ends the card must stream again.
        card.clear();
        p.end();
        ASSERT_TRUE(givenUp());
        syncAgain();
    }
}

// A card that goes silent during a pause is given up once the pause's
// longest course and the floor have passed: not before, and not never.
TEST_F(CardWatch, EveryPauseEndsAfterItsLongestCourse) {
    std::atomic<bool> commanding{false};
    struct Pause {
        const char* what;
        std::chrono::milliseconds notBefore;
        std::function<void()> begin;
        std::function<void()> check;
    } pauses[] = {
        {"a zero", 1500ms,
         [this] {
             model.zeroTimeout().setPeriod(1500);
             model.startZero();
         },
         [this] {
             EXPECT_EQ(model.getZeroingState(), 2) << "the zero timed out";
             EXPECT_TRUE(model.saveTimer().isActive());
         }},
        // 500 points of every 200th sample at 12.8 us: a record of 1.28 s.
        {"a capture whose record never comes", kFloor + 1280ms,
         [this] {
             card.out().sendModeReply(kChannel, 0, 3, 610.0f);
             ASSERT_TRUE(testsupport::waitUntil([this] { return model.getFreqRange() == 3; }));
             model.setTimebase(5);
             model.setTriggerMode(3);
             model.armCapture();
         },
         [] {}},
        {"commands sent again and again", kFloor,
         [this, &commanding] {
             card.echoRange = false;
             commanding = true;
         },
         [this] { card.echoRange = true; }},
    };
    makeReady();
    // Range commands ten times a second, for the row that asks for them.
    std::atomic<bool> done{false};
    std::thread commander([&] {
        int r = 0;
        while (!done) {
            if (commanding) model.setRange(r++ % 3);
            std::this_thread::sleep_for(kTick);
        }
    });
    for (const Pause& p : pauses) {
        SCOPED_TRACE(p.what);
        card.answerHello = false;
        watch();
        const auto lastFrame = std::chrono::steady_clock::now();
        card.sendSamples(1.0f, 1);
        p.begin();
        ASSERT_TRUE(givenUp());
        commanding = false;
        EXPECT_GE(lostTime() - lastFrame, p.notBefore);
        p.check();
        syncAgain();
    }
    done = true;
    commander.join();
}

// The main window gives up every card while the channel processors are
// loaded again: a zero running there ends.
TEST_F(CardWatch, AZeroWhoseCardIsGivenUpEnds) {
    makeReady();
    model.startZero();
    ASSERT_TRUE(card.waitForCount(kZero, 1));
    ASSERT_FALSE(model.saveTimer().isActive());
    model.markNoCard();
    EXPECT_EQ(model.getZeroingState(), 4);
    EXPECT_FALSE(model.zeroTimeout().isActive());
    EXPECT_TRUE(model.saveTimer().isActive());
    EXPECT_EQ(copyOf(zeroStates).back(), 4);
}

TEST_F(CardWatch, ACardThatRestartedIsSyncedAgain) {
    makeReady();
    watch();
    card.clear();
    // A probe found while the host holds a ready one: the card started afresh.
    card.out().sendProbePresence(kChannel, 1);
    ASSERT_TRUE(card.waitForCount(kSendAll, 1));
    EXPECT_EQ(card.count(kHello), 1u);
    EXPECT_EQ(model.getChannelStatus(), 1);
    card.out().sendCardReady(kChannel);
    ASSERT_TRUE(card.waitForCount(kSetRange, 1)) << "the settings go to the card again";
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getLinkState() == ChannelModel::kLinkSynced; }));
}

TEST_F(CardWatch, ACardTheStartUpWatchdogGaveUpOnIsSyncedWhenItSpeaks) {
    card.answerHello = false;
    model.startup().setPeriod(200);
    testing::internal::CaptureStdout();
    model.startCan();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getLinkState() == ChannelModel::kLinkGivenUp; }));
    EXPECT_EQ(model.getChannelStatus(), 0);

    card.clear();
    card.answerHello = true;
    watch();
    card.out().sendProbePresence(kChannel, 1);
    ASSERT_TRUE(card.waitForCount(kSendAll, 1));
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.isCardPresent(); }));
    card.out().sendCardReady(kChannel);
    // As at start-up: the settings file is read and, since the replies before
    // the card-ready went unhandled, everything is asked for once more.
    ASSERT_TRUE(card.waitForCount(kSendAll, 2));
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.saveTimer().isActive(); }));
    unwatch();
    card.insertProbe(3);
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getChannelStatus() == 2; }));
    model.setSamplesPerAverage(1);
    feed(1.5f, 2, 2);
}

TEST_F(CardWatch, ANewLinkSyncsTheCardWithTheSettingsOfTheOldOne) {
    makeReady();
    ASSERT_TRUE(model.isAutorange());
    testing::internal::CaptureStdout();
    model.stopCan();
    model.startCan();
    testing::internal::GetCapturedStdout();
    // What the main window sends after a load of the channel processors.
    model.setMode(0);
    model.setRange(1);
    EXPECT_FALSE(model.isAutorange());

    card.clear();
    card.out().sendCardReady(kChannel);
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.isAutorange(); }))
        << "the settings of the old link go to the card";
    ASSERT_TRUE(card.waitForCount(kSendAll, 1)) << "the first card-ready of a link asks for everything again";
    EXPECT_TRUE(testsupport::waitUntil([this] { return model.getLinkState() == ChannelModel::kLinkSynced; }));
}

TEST(ChannelCardWatchLimit, FollowsTheSamplePeriodAboveTheFloor) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(1, "unused");
    struct Case {
        std::chrono::milliseconds floor;
        float rate;
        std::chrono::milliseconds limit;
    } cases[] = {
        {5000ms, 610.5f, 5000ms},   // fifty periods are 82 ms
        {5000ms, 12.8f, 5000ms},    // 3906 ms
        {1000ms, 12.8f, 3906ms},
        {1000ms, 0.01f, 3600000ms}, // an hour at most
    };
    for (const Case& c : cases) {
        ChannelModel::setCardWatchFloor(c.floor);
        m.onModeReply(1, 2, c.rate);
        EXPECT_EQ(m.silenceLimit().count(), c.limit.count()) << c.rate;
    }
    ChannelModel::setCardWatchFloor(5000ms);
}
