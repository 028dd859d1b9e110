// tvl::Signal under several threads: emissions and connections never race.
#include "runtime/Signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Counter : sigc::trackable {
    int count = 0;   // guarded by the signal's own lock
    void add(int n) { count += n; }
};

TEST(SignalTest, EmissionsFromManyThreadsAreSerialised) {
    tvl::Signal<int> signal;
    Counter counter;
    signal.connect(sigc::mem_fun(counter, &Counter::add));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) signal.emit(1);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter.count, 80000);   // a lost update shows as a smaller count
}

TEST(SignalTest, ConnectingWhileAnotherThreadEmitsIsSafe) {
    tvl::Signal<> signal;
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::thread emitter([&] {
        while (!stop) signal();
    });
    for (int i = 0; i < 2000; ++i) signal.connect([&] { ++calls; });
    stop = true;
    emitter.join();
    EXPECT_EQ(signal.size(), 2000u);
    const long before = calls;
    signal.emit();
    EXPECT_EQ(calls - before, 2000);
}

TEST(SignalTest, ASlotMayRaiseTheSameSignalAgain) {
    tvl::Signal<int> signal;
    std::vector<int> seen;
    signal.connect([&](int n) {
        seen.push_back(n);
        if (n > 0) signal.emit(n - 1);
    });
    signal.emit(3);
    EXPECT_EQ(seen, (std::vector<int>{3, 2, 1, 0}));
}

}  // namespace
