#include "runtime/Speaker.h"

#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>

namespace {

struct Case {
    const char* name;
    void (Speaker::*pattern)();
    unsigned long tones;
    unsigned long argument;   // (duration in ms << 16) | count, as the console device takes it
    int blocksMs;   // sum of the pauses
};

const Case kPatterns[] = {
    {"beep", &Speaker::beep, 2, 3277993, 200},            // 50 ms, count 1193
    {"longTone", &Speaker::longTone, 1, 65538651, 500},   // 1000 ms, count 2651
    {"tripleBeep", &Speaker::tripleBeep, 3, 6555003, 600},
    {"shortBeep", &Speaker::shortBeep, 1, 6555003, 200},  // 100 ms, count 1403
};

}  // namespace

TEST(Speaker, EachPatternIssuesItsTonesOnTheConsoleDevice) {
    testsupport::TempSandbox sandbox;
    std::ofstream(sandbox.file(platform::path::kConsoleTty)).put('\0');
    for (const Case& c : kPatterns) {
        const unsigned long before = platform::toneCount();
        const auto start = std::chrono::steady_clock::now();
        (Speaker::instance()->*c.pattern)();
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.blocksMs)) << c.name;
        EXPECT_EQ(c.tones, platform::toneCount() - before) << c.name;
        EXPECT_EQ(c.argument, platform::lastToneArgument()) << c.name;
    }
}

TEST(Speaker, SilentWithoutTheConsoleDevice) {
    testsupport::TempSandbox sandbox;
    std::remove(sandbox.file(platform::path::kConsoleTty).c_str());
    const unsigned long before = platform::toneCount();
    for (const Case& c : kPatterns) (Speaker::instance()->*c.pattern)();
    EXPECT_EQ(before, platform::toneCount());
}
