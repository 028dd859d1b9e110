// The synchronous diagnostic queries.
#include "ChannelFixture.h"

#include <thread>

using namespace channeltest;

TEST_F(ChannelFixture, QueryReturnsTheCardsAnswer) {
    startAndCardReady();
    card.queryValue = 2.5f;
    EXPECT_FLOAT_EQ(model.getDadcReadingVolts(), 2.5f);
    const auto frames = card.frames(kDadc);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data[0], 2);
    EXPECT_EQ(frames[0].data[1], 1);
    card.queryValue = 812.0f;
    EXPECT_FLOAT_EQ(model.getDadcReadingCounts(), 812.0f);
    EXPECT_EQ(card.frames(kDadc)[1].data[1], 0);
}

TEST_F(ChannelFixture, QueryWithoutAnswerGivesUpAfterOneSecond) {
    startAndCardReady();
    card.answerQueries = false;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FLOAT_EQ(model.getDadcReadingVolts(), 99999.0f);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(950));
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
}

TEST_F(ChannelFixture, ALateReplyIsNeverTheNextQuerysAnswer) {
    startAndCardReady();
    card.queryDelayMs = 1200;
    card.queryValue = 1.0f;
    EXPECT_FLOAT_EQ(model.getDadcReadingVolts(), 99999.0f);
    // The late answer arrives while no query waits: once the card sent it,
    // a marker frame behind it shows that the host has read it.
    ASSERT_TRUE(testsupport::waitUntil([&] { return card.answeredQueries == 1; }));
    card.out().sendBoardInfo(kChannel, 6, "SYNC", 4);
    card.out().sendBoardInfo(kChannel, 7, "", 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return model.getBoardCalDate() == "SYNC"; }));
    card.queryDelayMs = 0;
    card.queryValue = 2.0f;
    EXPECT_FLOAT_EQ(model.getDadcReadingVolts(), 2.0f);
}

TEST_F(ChannelFixture, QueriesOnOneChannelAreSerialised) {
    startAndCardReady();
    card.queryDelayMs = 200;
    float results[2] = {0, 0};
    std::thread other([&] { results[0] = model.getDadcReadingVolts(); });
    results[1] = model.getDadcReadingCounts();
    other.join();
    EXPECT_FLOAT_EQ(results[0], 1.25f);
    EXPECT_FLOAT_EQ(results[1], 1.25f);
    EXPECT_EQ(card.count(kDadc), 2u);
}

TEST(ChannelQueryNoLink, ReturnsTheTimeoutValueAtOnce) {
    testsupport::TempSandbox sandbox;
    ChannelModel m(1, "unused");
    EXPECT_FLOAT_EQ(m.getDadcReadingVolts(), 99999.0f);
}
