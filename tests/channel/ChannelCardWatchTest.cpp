// The card watch: a card that falls silent while it should stream is given
// up; one given up, or one that restarted, is greeted and synced again when
// it speaks, and gets the channel's settings again.  The pauses of a healthy
// card never give it up.
#include "ChannelFixture.h"

#include <chrono>
#include <functional>
#include <thread>

using namespace channeltest;
using namespace std::chrono_literals;

namespace {

// Short enough for a quick test.  The watch is switched on only where a test
// lets the card fall silent (a scripted card streams only when fed), and off
// again before a card gets ready: on a loaded machine the next feed may come
// later than that.
constexpr auto kFloor = 400ms;
// Silence that gives up a card the watch looks at: the floor and two ticks.
constexpr auto kWellPastTheLimit = 2500ms;

class CardWatch : public ChannelFixture {
protected:
    ~CardWatch() override { unwatch(); }
    static void watch() { ChannelModel::setCardWatchFloor(kFloor); }
    static void unwatch() { ChannelModel::setCardWatchFloor(0ms); }

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
        {"zeroing", [this] { model.startZero(); }, [this] { card.out().sendZeroDone(kChannel, 0); }},
        {"a capture asked for",
         [this] {
             model.setTriggerMode(3);
             model.armCapture();
         },
         [this] { card.out().sendWaveformEnd(kChannel); }},
        {"no probe", [this] { card.removeProbe(); }, [this] { card.insertProbe(3); }},
    };
    makeReady();
    for (const Pause& p : pauses) {
        SCOPED_TRACE(p.what);
        card.answerHello = false;
        p.begin();
        watch();
        std::this_thread::sleep_for(kWellPastTheLimit);
        EXPECT_EQ(model.getLinkState(), ChannelModel::kLinkSynced);
        EXPECT_TRUE(model.isCardPresent());

        // Once the pause ends the card must stream again.
        card.clear();
        p.end();
        ASSERT_TRUE(givenUp());
        syncAgain();
    }
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
