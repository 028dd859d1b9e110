// The channel error handler: beeps and persistence by kind, the queue and
// its rotation, the SCPI copies and the channel status.
#include "ChannelTestSupport.h"
#include "channel/ErrorHandler.h"
#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "runtime/TvlError.h"
#include "status/ScpiErrorQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using chtest::TestChannel;

namespace {

// Tone requests per pattern.
constexpr unsigned long kBeep = 2, kLongTone = 1, kTripleBeep = 3;

enum Code {
    kBeepOnly = 9001,      // kind 1
    kRotating = 9002,      // kind 2
    kRotatingB = 9012,     // kind 2
    kLatched = 9003,       // kind 3
    kHeld = 9004,          // kind 4
    kRemoteOnly = 9005,    // kind 2, not displayed, SCPI reported
    kShownAndRemote = 9006 // kind 2, displayed, SCPI reported
};

class ChannelErrorHandler : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    TestChannel ch{2};
    ErrorHandler handler{&ch};
    std::mutex shownMutex;    // the rotation timer's thread emits too
    std::vector<int> shown;   // codes carried by the error-changed signal

    void SetUp() override {
        ErrorList* list = ErrorList::instance();
        list->add(kBeepOnly, 1, "B", "", "", "beep only", true, false);
        list->add(kRotating, 2, "R", "", "", "rotating", true, false);
        list->add(kRotatingB, 2, "RB", "", "", "rotating b", true, false);
        list->add(kLatched, 3, "L", "", "", "latched", true, false);
        list->add(kHeld, 4, "H", "", "", "held", true, false);
        list->add(kRemoteOnly, 2, "X", "", "", "remote only", false, true);
        list->add(kShownAndRemote, 2, "S", "", "", "shown and remote", true, true);
        ScpiErrorQueue::instance()->clear();
        // Rotation is driven by hand (onRotateTimer) unless a test shortens it.
        handler.setRotationPeriod(600000);
        handler.signalErrorChanged().connect(
            [this](ErrorHandler::ErrorPtr e) {
                std::lock_guard<std::mutex> lock(shownMutex);
                shown.push_back(e->getCode());
            });
    }

    // Raises code on the channel; returns the tone requests it made.
    unsigned long raise(int code, int channel = 2) {
        const unsigned long before = platform::toneCount();
        ch.signalError().emit(channel, code);
        return platform::toneCount() - before;
    }
    unsigned long rotate() {
        const unsigned long before = platform::toneCount();
        handler.onRotateTimer();
        return platform::toneCount() - before;
    }
    void status(int s) { ch.signalChannelStatusChanged().emit(2, s); }
    int current() const { return handler.getCurrentError()->getCode(); }
    std::vector<int> shownCodes() {
        std::lock_guard<std::mutex> lock(shownMutex);
        return shown;
    }
};

TEST_F(ChannelErrorHandler, RotatingErrorsAreShownInTurn) {
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(raise(kRotating), kTripleBeep);
    EXPECT_EQ(current(), kRotating);
    EXPECT_EQ(raise(kRotatingB), 0u);   // queued silently
    EXPECT_EQ(current(), kRotating);
    EXPECT_EQ(handler.queuedCount(), 1u);
    EXPECT_EQ(rotate(), kTripleBeep);
    EXPECT_EQ(current(), kRotatingB);
    EXPECT_EQ(rotate(), 0u);            // after the last: back to no error, no beep
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(shownCodes(), (std::vector<int>{kRotating, kRotatingB, 0}));
}

TEST_F(ChannelErrorHandler, KindOneOnlyBeeps) {
    raise(kRotating);
    raise(kRotatingB);
    shown.clear();
    EXPECT_EQ(raise(kBeepOnly), kBeep);
    EXPECT_EQ(current(), kRotating);
    EXPECT_EQ(handler.queuedCount(), 1u);
    EXPECT_TRUE(shownCodes().empty());
}

TEST_F(ChannelErrorHandler, RemoteCopiesCarryTheChannel) {
    EXPECT_EQ(raise(kRemoteOnly, 3), 0u);
    EXPECT_EQ(current(), 0);             // the readout is untouched
    EXPECT_TRUE(shownCodes().empty());
    raise(kShownAndRemote, 2);
    const std::vector<TvlError> queued = ScpiErrorQueue::instance()->getErrors();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0].getCode(), kRemoteOnly);
    EXPECT_EQ(queued[0].getDetail(), "Channel 3");
    EXPECT_EQ(queued[1].getDetail(), "Channel 2");
    EXPECT_EQ(current(), kShownAndRemote);
    EXPECT_EQ(handler.getCurrentError()->getDetail(), "");   // the shown record keeps no detail
}

TEST_F(ChannelErrorHandler, LatchedErrorIgnoresEverythingUntilTheProbeGoes) {
    EXPECT_EQ(raise(kLatched), kLongTone);
    EXPECT_EQ(current(), kLatched);
    for (int code : {kRotating, kHeld, kBeepOnly, kShownAndRemote, kRemoteOnly})
        EXPECT_EQ(raise(code), 0u) << code;
    EXPECT_EQ(current(), kLatched);
    EXPECT_EQ(handler.queuedCount(), 0u);
    EXPECT_EQ(ScpiErrorQueue::instance()->size(), 0u);   // not even a remote copy
    EXPECT_EQ(rotate(), 0u);    // a stray expiry leaves it
    EXPECT_EQ(current(), kLatched);
    status(1);
    status(2);
    EXPECT_EQ(current(), kLatched);
    status(0);
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(shownCodes(), (std::vector<int>{kLatched, 0}));
}

TEST_F(ChannelErrorHandler, HeldErrorSurvivesTheProbeGoing) {
    EXPECT_EQ(raise(kHeld), kLongTone);
    status(0);
    EXPECT_EQ(current(), kHeld);
    EXPECT_EQ(raise(kRotating), 0u);
    EXPECT_EQ(current(), kHeld);
    EXPECT_EQ(handler.queuedCount(), 1u);
    EXPECT_EQ(raise(kLatched), kLongTone);
    EXPECT_EQ(current(), kLatched);
    EXPECT_EQ(handler.queuedCount(), 1u);
}

TEST_F(ChannelErrorHandler, QueuedErrorsWaitBehindALatchedOne) {
    raise(kRotating);
    raise(kRotatingB);
    raise(kRotatingB);
    raise(kLatched);
    EXPECT_EQ(handler.queuedCount(), 2u);
    status(0);
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(handler.queuedCount(), 2u);
    EXPECT_EQ(raise(kShownAndRemote), kTripleBeep);   // shown at once, starts the rotation
    EXPECT_EQ(rotate(), kTripleBeep);
    EXPECT_EQ(current(), kRotatingB);
    EXPECT_EQ(rotate(), kTripleBeep);
    EXPECT_EQ(current(), kRotatingB);   // repeats are not merged
    EXPECT_EQ(rotate(), 0u);
    EXPECT_EQ(current(), 0);
}

TEST_F(ChannelErrorHandler, UndefinedCodeIsShownAsUnknown) {
    EXPECT_EQ(raise(123), kTripleBeep);
    EXPECT_EQ(current(), 123);
    EXPECT_EQ(handler.getCurrentError()->getDisplayLine1(), "Unknown Error");
    EXPECT_EQ(ScpiErrorQueue::instance()->size(), 0u);
}

// One real rotation through the handler's own timer, with a short period.
TEST_F(ChannelErrorHandler, TimerRotatesTheQueue) {
    handler.setRotationPeriod(50);
    raise(kRotating);
    raise(kRotatingB);
    EXPECT_TRUE(testsupport::waitUntil([&] { return current() == kRotatingB; }));
    // The change is announced after the record was replaced.
    EXPECT_TRUE(testsupport::waitUntil([&] { return current() == 0 && shownCodes().size() >= 3; }));
    EXPECT_EQ(shownCodes(), (std::vector<int>{kRotating, kRotatingB, 0}));
}

// The readout keeps reading the record it was given while other threads
// replace it.
TEST_F(ChannelErrorHandler, ShownRecordOutlivesItsReplacement) {
    raise(kRotating);
    ErrorHandler::ErrorPtr held = handler.getCurrentError();
    status(0);
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(held->getDisplayLine1(), "R");

    handler.setRotationPeriod(0);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            ErrorHandler::ErrorPtr e = handler.getCurrentError();
            (void)e->getDisplayLine1().size();
        }
    });
    for (int i = 0; i < 3; ++i) {
        raise(i % 2 ? kRotating : kHeld);
        status(0);
    }
    stop = true;
    reader.join();
}

// The readout's slot takes the toolkit's lock; the thread that holds it (the
// GUI thread, in a menu action) may raise an error on the same channel at
// that moment.  Neither may wait for the other.
TEST_F(ChannelErrorHandler, ErrorsRaisedOnTwoThreadsReachTheSlotOneAtATime) {
    // The card's reader and the zero time-out's timer raise errors at once;
    // the handler's signal must never run its slots on both threads together.
    std::atomic<int> inSlot{0};
    std::atomic<bool> overlapped{false};
    std::atomic<int> calls{0};
    handler.signalErrorChanged().connect([&](ErrorHandler::ErrorPtr) {
        if (inSlot.fetch_add(1) != 0) overlapped = true;
        std::this_thread::yield();
        ++calls;
        inSlot.fetch_sub(1);
    });
    std::thread other([&] {
        for (int i = 0; i < 200; ++i) raise(i % 2 ? kRotating : kRotatingB);
    });
    for (int i = 0; i < 200; ++i) raise(i % 2 ? kRotatingB : kRotating);
    other.join();
    EXPECT_FALSE(overlapped);
    EXPECT_GT(calls.load(), 0);
}

}  // namespace
