// The card link: construction defaults, hello, card-ready, the watchdog and
// the stop of the link.
#include "ChannelFixture.h"

#include "platform/Platform.h"

#include <cmath>
#include <thread>

using namespace channeltest;

TEST(ChannelModelConstruction, StartsWithTheDocumentedState) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(3, "unused");
    EXPECT_EQ(m.getChannelStatus(), 3);
    EXPECT_EQ(m.getZeroingState(), 4);
    EXPECT_EQ(m.getRange(), 3);
    EXPECT_EQ(m.getFluxUnits(), 0);
    EXPECT_EQ(m.getTemperatureUnits(), 1);
    EXPECT_EQ(m.getTemperatureUnitText(), "C");
    EXPECT_EQ(m.getWaveformScale(), 5);
    EXPECT_FLOAT_EQ(m.getDisplayRate(), 1.0f);
    EXPECT_EQ(m.getSamplesPerAverage(), 61);
    EXPECT_EQ(m.getBoardModel(), "unknown");
    EXPECT_EQ(m.getBoardRev(), "0");
    EXPECT_EQ(m.getBoardSerial(), "0000");
    EXPECT_EQ(m.getBoardCalDate(), "01-01-1970");
    EXPECT_EQ(m.getSettingsPath(), platform::dataFile("ch3"));
    EXPECT_FLOAT_EQ(m.getCalParameter(0), 4000.038f);
    EXPECT_FLOAT_EQ(m.getCalParameter(7), 2.6566668f);
    EXPECT_FLOAT_EQ(m.getCalParameter(8), 0.0f);
    EXPECT_FALSE(m.isCardPresent());
    ASSERT_NE(m.getRangeSpec(), nullptr);
    EXPECT_EQ(m.getRangeSpec()->getRangeName(), "30kG");
}

TEST(ChannelModelConstruction, DerivedValues) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(1, "unused");
    m.onCalParameter(79, 7.0f);
    m.onCalParameter(61, 6.0f);
    m.onModeReply(1, 3, 610.0f);
    EXPECT_FLOAT_EQ(m.getRmsOffset(2), 7.0f);
    m.onModeReply(0, 3, 610.0f);
    EXPECT_FLOAT_EQ(m.getRmsOffset(0), 6.0f);
    EXPECT_FLOAT_EQ(m.getRmsOffset(9), 6.0f);   // outside 0-3 counts as 0

    EXPECT_FLOAT_EQ(m.waveformScaleValue(5), 20000.0f);   // two thirds of 30 kG
    EXPECT_FLOAT_EQ(m.waveformScaleValue(6), 5.0f);
}

TEST_F(ChannelFixture, StartCanGreetsTheCardOnceAndStopCanEndsTheLink) {
    testing::internal::CaptureStdout();
    model.startCan();
    model.startCan();
    const std::string started = testing::internal::GetCapturedStdout();
    EXPECT_EQ(started, "Channel 2 CAN running\n");
    ASSERT_TRUE(card.waitForCount(kHello, 3));
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.isCardPresent(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(card.count(kHello), 3u);

    testing::internal::CaptureStdout();
    model.stopCan();
    model.stopCan();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Channel 2 CAN shuts off\n");
    EXPECT_EQ(model.link(), nullptr);

    // Commands without a link send nothing.
    card.clear();
    model.requestAllData();
    model.setRange(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(card.count(kSendAll), 0u);
    EXPECT_EQ(card.count(kSetRange), 0u);
}

TEST_F(ChannelFixture, WatchdogReportsNoProbeOnceWhenTheCardStaysSilent) {
    card.answerHello = false;
    model.startup().setPeriod(200);
    testing::internal::CaptureStdout();
    model.startCan();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getChannelStatus() == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(copyOf(channelStatuses), std::vector<int>{0});
    EXPECT_FALSE(model.isCardPresent());
}

TEST_F(ChannelFixture, AProbeReportStopsTheWatchdog) {
    model.startup().setPeriod(400);
    testing::internal::CaptureStdout();
    model.startCan();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(model.startup().isActive());
    card.out().sendProbePresence(kChannel, 1);
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getChannelStatus() == 1; }));
    // The watchdog is stopped: no time-out can come after the report.
    EXPECT_TRUE(testsupport::waitUntil([this] { return !model.startup().isActive(); }));
    EXPECT_EQ(model.getChannelStatus(), 1);
    EXPECT_EQ(copyOf(channelStatuses), std::vector<int>{1});
}

TEST_F(ChannelFixture, RepliesBeforeCardReadyAreNotHandled) {
    testing::internal::CaptureStdout();
    model.startCan();
    testing::internal::GetCapturedStdout();
    card.out().sendBoardInfo(kChannel, 0, "EARLY", 5);
    card.out().sendProbePresence(kChannel, 1);   // the probe record listens from the start
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getChannelStatus() == 1; }));
    EXPECT_EQ(model.getBoardModel(), "unknown");

    // So the first card-ready asks the card to send everything again, once:
    // what came before it is not lost.
    card.clear();
    card.out().sendCardReady(kChannel);
    ASSERT_TRUE(card.waitForCount(kSendAll, 1));
    card.out().sendBoardInfo(kChannel, 0, "AGAIN", 5);
    card.out().sendBoardInfo(kChannel, 1, "", 0);
    EXPECT_TRUE(testsupport::waitUntil([this] { return model.getBoardModel() == "AGAIN"; }));
    card.out().sendCardReady(kChannel);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(card.count(kSendAll), 1u) << "the answer's own card-ready asks nothing";
}

TEST_F(ChannelFixture, ASecondCardReadyDoesNotConnectTheHandlersAgain) {
    makeReady();
    model.setSamplesPerAverage(1);
    feed(1.0f, 3, 3);

    model.setFluxUnits(1);                // changed after the settings were read
    card.out().sendCardReady(kChannel);   // a second send-all answer on the same link
    model.setSamplesPerAverage(1);
    const std::size_t before = readingCount();
    feed(2.0f, 5, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(readingCount() - before, 5u) << "every sample must be handled once";
    EXPECT_EQ(model.getFluxUnits(), 1) << "a later card-ready must not read the settings again";
}

TEST_F(ChannelFixture, BoardInformationAndDiagnosticReplies) {
    startAndCardReady();
    card.out().sendBoardInfo(kChannel, 0, "ABCDEFG", 7);
    card.out().sendBoardInfo(kChannel, 1, "HIJKLMN", 7);
    card.out().sendBoardInfo(kChannel, 4, "12", 2);
    card.out().sendBoardInfo(kChannel, 5, "", 0);
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getBoardSerial() == "12"; }));
    EXPECT_EQ(model.getBoardModel(), "ABCDEFGHIJKLMN");
    // A text is shown only whole: the first half waits for its second, so a
    // reader never sees "XY" cut from the old text or mixed with it.
    card.out().sendBoardInfo(kChannel, 0, "XY", 2);
    card.out().sendBoardInfo(kChannel, 4, "34", 2);
    card.out().sendBoardInfo(kChannel, 5, "", 0);
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getBoardSerial() == "34"; }));
    EXPECT_EQ(model.getBoardModel(), "ABCDEFGHIJKLMN");
    card.out().sendBoardInfo(kChannel, 1, "", 0);
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getBoardModel() == "XY"; }));

    card.clear();
    model.setBoardSerial("AB");
    ASSERT_TRUE(card.waitForCount(0x03, 2));
    const auto frames = card.frames(0x03);
    EXPECT_EQ(frames[0].data[0], 4);
    EXPECT_EQ(frames[0].data[1], 'A');
    EXPECT_EQ(frames[0].data[2], 'B');
    EXPECT_EQ(frames[0].data[3], 0);
    EXPECT_EQ(frames[1].data[0], 5);
    EXPECT_EQ(frames[1].data[1], 0);
    EXPECT_EQ(model.getBoardSerial(), "34") << "the card reports the new text";

    card.out().sendDiagModeReply(kChannel, 3, "mV");
    ASSERT_TRUE(testsupport::waitUntil([this] { return model.getDiagUnitText() == "mV"; }));
    EXPECT_EQ(model.getDiagDecimals(), 3);
}
