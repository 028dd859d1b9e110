#include "runtime/Timer.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono;
using testsupport::waitUntil;

namespace {

// Records every timeout: when, and on which thread.  Declared before the
// timer it records, so that the timer (whose destructor ends its thread)
// goes first: a repeating timer may be raising into it until then.
struct Recorder {
    std::mutex lock;
    std::vector<steady_clock::time_point> times;
    std::vector<std::thread::id> threads;
    std::atomic<int> count{0};

    void connect(Timer& t) {
        t.signalTimeout().connect([this] {
            std::lock_guard<std::mutex> g(lock);
            times.push_back(steady_clock::now());
            threads.push_back(std::this_thread::get_id());
            ++count;
        });
    }
    milliseconds elapsed(steady_clock::time_point from, int i) {
        std::lock_guard<std::mutex> g(lock);
        return duration_cast<milliseconds>(times.at(i) - from);
    }
};

}  // namespace

TEST(Timer, DefaultIsOneShotOf500MsAndInactive) {
    Timer t;
    EXPECT_EQ(500, t.getPeriod());
    EXPECT_FALSE(t.isRepeat());
    EXPECT_FALSE(t.isActive());
}

TEST(Timer, OneShotRaisesOnceOnItsOwnThread) {
    Recorder rec;
    Timer t(100, false);
    rec.connect(t);
    const auto begin = steady_clock::now();
    ASSERT_EQ(0, t.start());
    ASSERT_TRUE(waitUntil([&] { return rec.count == 1; }));
    EXPECT_GE(rec.elapsed(begin, 0), milliseconds(100));
    EXPECT_NE(std::this_thread::get_id(), rec.threads.at(0));
    EXPECT_FALSE(t.isActive());
    // One more period's worth of time: still only one timeout.
    std::this_thread::sleep_for(milliseconds(250));
    EXPECT_EQ(1, rec.count);
}

TEST(Timer, RepeatingRaisesEveryPeriodUntilStopped) {
    Recorder rec;
    Timer t(30, true);
    rec.connect(t);
    const auto begin = steady_clock::now();
    t.start();
    ASSERT_TRUE(waitUntil([&] { return rec.count >= 4; }));
    t.stop();
    EXPECT_GE(rec.elapsed(begin, 3), milliseconds(4 * 30));
    // A handler already past its check may still finish; after that the
    // period in progress ends without raising and the chain ends.
    std::this_thread::sleep_for(milliseconds(60));
    const int atStop = rec.count;
    std::this_thread::sleep_for(milliseconds(150));
    EXPECT_EQ(atStop, rec.count);
}

TEST(Timer, StopDuringTheSleepSilencesThePeriod) {
    Recorder rec;
    Timer t(300, false);
    rec.connect(t);
    t.start();
    std::this_thread::sleep_for(milliseconds(50));
    t.stop();
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_EQ(0, rec.count);
    // The timer can be started again afterwards.
    t.setPeriod(10);
    t.start();
    EXPECT_TRUE(waitUntil([&] { return rec.count == 1; }));
}

// A zero's one-shot time-out started again while its thread still slept the
// earlier zero's period must not raise at the earlier deadline: every start,
// stop and new period replaces the pending deadline.
TEST(Timer, AStartAStopOrANewPeriodReplacesThePendingDeadline) {
    struct Case {
        const char* what;
        int period;
        // Done 100 ms into the first period; returns the earliest moment the
        // timeout may come.
        std::function<steady_clock::time_point(Timer&, steady_clock::time_point begin)> change;
    } cases[] = {
        {"started again", 400,
         [](Timer& t, steady_clock::time_point) {
             const auto from = steady_clock::now();
             t.start();
             return from + milliseconds(400);
         }},
        {"stopped, started again later", 400,
         [](Timer& t, steady_clock::time_point) {
             t.stop();
             std::this_thread::sleep_for(milliseconds(100));
             const auto from = steady_clock::now();
             t.start();
             return from + milliseconds(400);
         }},
        {"a longer period", 300,
         [](Timer& t, steady_clock::time_point begin) {
             t.setPeriod(700);
             return begin + milliseconds(700);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder rec;
        Timer t(c.period, false);
        rec.connect(t);
        const auto begin = steady_clock::now();
        t.start();
        std::this_thread::sleep_for(milliseconds(100));
        const auto earliest = c.change(t, begin);
        ASSERT_TRUE(waitUntil([&] { return rec.count == 1; }));
        {
            std::lock_guard<std::mutex> g(rec.lock);
            EXPECT_GE(rec.times.at(0), earliest);
        }
        std::this_thread::sleep_for(milliseconds(500));
        EXPECT_EQ(1, rec.count) << "one timeout per one-shot period";
    }
}

TEST(Timer, AShorterPeriodEndsThePeriodInProgressEarly) {
    Recorder rec;
    Timer t(5000, true);
    rec.connect(t);
    const auto begin = steady_clock::now();
    t.start();
    std::this_thread::sleep_for(milliseconds(50));   // the 5 s period is being slept
    t.setPeriod(20);
    ASSERT_TRUE(waitUntil([&] { return rec.count >= 3; }));
    t.stop();
    EXPECT_EQ(20, t.getPeriod());
    EXPECT_LT(rec.elapsed(begin, 2), milliseconds(4000)) << "the 5 s period was still slept";
}

TEST(Timer, AHandlerMayStartItsOwnOneShotTimerAgain) {
    Recorder rec;
    Timer t(100, false);
    t.signalTimeout().connect([&] {
        if (rec.count == 0) t.start();
    });
    rec.connect(t);
    t.start();
    t.start();
    // The two starts make one period; the handler's start one more.
    ASSERT_TRUE(waitUntil([&] { return rec.count == 2; }));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(2, rec.count);
}

TEST(Timer, PeriodZeroRaisesAtOnceAndRepeatsContinuously) {
    Recorder once;
    Timer oneShot(0, false);
    once.connect(oneShot);
    oneShot.start();
    EXPECT_TRUE(waitUntil([&] { return once.count == 1; }, seconds(2)));

    Recorder many;
    Timer repeating(0, true);
    many.connect(repeating);
    repeating.start();
    EXPECT_TRUE(waitUntil([&] { return many.count >= 100; }, seconds(5)));
    repeating.stop();
}

TEST(Timer, LongPeriodsAreSleptInFull) {
    // ms x 1000 in 32 bits would wrap for these (2 200 000 ms is past 2^31 us).
    EXPECT_EQ(seconds(2200), Timer::sleepLength(2200000));
    EXPECT_EQ(seconds(3600), Timer::sleepLength(3600000));
    EXPECT_EQ(milliseconds(2147483647), Timer::sleepLength(2147483647));
    EXPECT_EQ(nanoseconds(0), Timer::sleepLength(0));
    EXPECT_EQ(nanoseconds(0), Timer::sleepLength(-5));

    // And such a timer really waits: nothing within a short look.
    Recorder rec;
    Timer t(2200000, false);
    rec.connect(t);
    t.start();
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(0, rec.count);
}   // destroyed mid-sleep: the destructor must not wait out the hour

TEST(Timer, ManyTimersCreatedAndDestroyedInAnyState) {
    // Counters that outlive the timers: once a destructor has returned, its
    // timer raises nothing more.
    auto idleRaised = std::make_shared<std::atomic<int>>(0);
    auto sleepingRaised = std::make_shared<std::atomic<int>>(0);
    std::vector<std::shared_ptr<std::atomic<int>>> busyRaised;
    std::vector<int> atDestruction;
    const auto begin = steady_clock::now();
    for (int i = 0; i < 200; ++i) {
        auto n = std::make_shared<std::atomic<int>>(0);
        {
            Timer idle(10, false);
            idle.signalTimeout().connect([idleRaised] { ++*idleRaised; });
            Timer sleeping(3600000, true);
            sleeping.signalTimeout().connect([sleepingRaised] { ++*sleepingRaised; });
            sleeping.start();
            Timer busy(0, true);
            busy.signalTimeout().connect([n] { ++*n; });
            busy.start();
            if (i % 20 == 0) {
                ASSERT_TRUE(waitUntil([&] { return *n > 0; }));
            }
        }
        busyRaised.push_back(n);
        atDestruction.push_back(*n);
    }
    // No destructor waited out an hour's sleep.
    EXPECT_LT(steady_clock::now() - begin, seconds(60));
    std::this_thread::sleep_for(milliseconds(50));  // time for a stray timeout to show
    for (std::size_t i = 0; i < busyRaised.size(); ++i) EXPECT_EQ(*busyRaised[i], atDestruction[i]) << "timer " << i;
    EXPECT_EQ(*idleRaised, 0);      // never started
    EXPECT_EQ(*sleepingRaised, 0);  // destroyed mid-sleep
}

TEST(Timer, MayBeDeletedByItsOwnHandler) {
    std::atomic<bool> done{false};
    auto* t = new Timer(5, false);
    t->signalTimeout().connect([&] {
        delete t;
        done = true;
    });
    t->start();
    EXPECT_TRUE(waitUntil([&] { return done.load(); }));
}
