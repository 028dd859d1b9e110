// The channel-processor bootloader on a private emulated bus: the notices,
// the bit-rate switch there and back, the ifconfig calls the sandbox's
// stand-in records, every data frame on 0x001 and the timing log.
#include "meter/DelfinoBootloader.h"

#include "BusRecorder.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::writeFile;
using metertest::BusRecorder;
using metertest::Frame;

class BootloaderTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    std::string bus = testsupport::uniqueBusName("b");

    void SetUp() override {
        ASSERT_NE(bus[0], 'v');
        writeFile(platform::canBitrateFile(bus), "500000\n");
    }
    std::string standinLog() { return readFile(sandbox.file("/var/log/standin.log")); }
    std::string bitrate() { return readFile(platform::canBitrateFile(bus)); }

    // One run on this thread; returns what it printed.
    std::string run(DelfinoBootloader& loader, int* finishedCount = nullptr) {
        int count = 0;
        loader.signalFinished().connect([&count] { ++count; });
        testing::internal::CaptureStdout();
        loader.bootload();
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(count, 1) << "the finished signal ends every run";
        if (finishedCount) *finishedCount = count;
        return out;
    }
};

TEST_F(BootloaderTest, SendsNoticesSwitchesBitRateAndEveryDataFrame) {
    // Two-character tokens pair up across lines and across ignored tokens;
    // the unpaired last one is never sent.
    writeFile(platform::dataFile("chanproc.a00"), "12 ABC 34 5\n-1\tzz\r\n0A ff\v7e 80\f56\n");
    BusRecorder recorder(bus);
    DelfinoBootloader loader(bus.c_str());
    std::string out = run(loader);

    std::vector<Frame> expected = {
        {0x104, {0x00, 0x78}}, {0x1C4, {0x00, 0x78}}, {0x001, {0x12, 0x34}},
        {0x001, {0xFF, 0x00}}, {0x001, {0x0A, 0xFF}}, {0x001, {0x7E, 0x80}},
    };
    EXPECT_EQ(recorder.take(0), expected);

    std::string program = platform::dataFile("chanproc.a00");
    EXPECT_NE(out.find("Opened " + program + "\n"), std::string::npos) << out;
    std::string sequence = "current bitrate = 500000\nbootload bitrate = 250000\nBitrate set to 250000\n";
    EXPECT_NE(out.find(sequence), std::string::npos) << out;
    EXPECT_NE(out.find("bootload took "), std::string::npos);
    EXPECT_NE(out.find("Bitrate set to 500000\nBootload Completed\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("system returns"), std::string::npos);

    EXPECT_EQ(bitrate(), "500000\n");
    std::string calls = "ifconfig " + bus + " down\nifconfig " + bus + " up\n";
    EXPECT_EQ(standinLog(), calls + calls);
    EXPECT_EQ(DelfinoBootloader::parseLog(readFile(platform::dataFile("bootload.log"))).size(), 1u);
}

TEST_F(BootloaderTest, EmptyProgramStillSwitchesThereAndBack) {
    writeFile(platform::canBitrateFile(bus), "odd-token\n");
    writeFile(platform::dataFile("chanproc.a00"), "");
    BusRecorder recorder(bus);
    DelfinoBootloader loader(bus.c_str());
    std::string out = run(loader);
    EXPECT_EQ(recorder.take(0).size(), 2u) << "the two notices only";
    EXPECT_NE(out.find("Bootload Completed"), std::string::npos);
    EXPECT_EQ(bitrate(), "odd-token\n") << "the saved bit rate goes back unchanged";
}

TEST_F(BootloaderTest, TimingLogKeepsTheLastTenDurations) {
    writeFile(platform::dataFile("chanproc.a00"), "01 02");
    struct Case {
        std::string log;
        std::deque<long> keptBefore;
    } cases[] = {
        {"1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n", {2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"7\n-3\nnot-a-number\n9\n", {7, -3}},
        {"", {}},
    };
    for (const Case& c : cases) {
        writeFile(platform::dataFile("bootload.log"), c.log);
        DelfinoBootloader loader(bus.c_str());
        run(loader);
        std::deque<long> log = DelfinoBootloader::parseLog(readFile(platform::dataFile("bootload.log")));
        ASSERT_EQ(log.size(), c.keptBefore.size() + 1) << c.log;
        EXPECT_TRUE(std::equal(c.keptBefore.begin(), c.keptBefore.end(), log.begin())) << c.log;
        EXPECT_GE(log.back(), 1500) << "the duration counts the 1.5 s notice pause";
    }
}

TEST_F(BootloaderTest, VirtualBusSkipsTheLoad) {
    writeFile(platform::dataFile("chanproc.a00"), "01 02");
    std::string vbus = "v" + bus.substr(1);
    BusRecorder recorder(vbus);
    DelfinoBootloader loader(vbus.c_str());
    std::string out = run(loader);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(recorder.take(0).empty());
    EXPECT_EQ(standinLog(), "");
    std::ifstream log(platform::dataFile("bootload.log"));
    EXPECT_FALSE(log.good());
}

TEST_F(BootloaderTest, EarlyEndsStillFinishAndLeaveTheBusUp) {
    // No program file: nothing touches the bus.
    {
        DelfinoBootloader loader(bus.c_str());
        std::string out = run(loader);
        EXPECT_NE(out.find("Cannot open " + platform::dataFile("chanproc.a00") + "\n"), std::string::npos);
        EXPECT_NE(out.find("Bootload Failed"), std::string::npos);
        EXPECT_EQ(standinLog(), "");
    }
    writeFile(platform::dataFile("chanproc.a00"), "01 02");
    // No bit-timing file: the notices go out, the bus keeps its bit rate.
    {
        std::string other = testsupport::uniqueBusName("b");
        BusRecorder recorder(other);
        DelfinoBootloader loader(other.c_str());
        std::string out = run(loader);
        EXPECT_NE(out.find("Cannot open " + platform::canBitrateFile(other) + " for reading"), std::string::npos);
        EXPECT_NE(out.find("Bootload Failed"), std::string::npos);
        EXPECT_EQ(recorder.take(0).size(), 2u);
        EXPECT_EQ(standinLog(), "");
    }
}

TEST_F(BootloaderTest, FailingIfconfigIsReportedAndTheRunGoesOn) {
    writeFile(platform::dataFile("chanproc.a00"), "01 02");
    std::string ifconfig = sandbox.file("/sbin/ifconfig");
    std::remove(ifconfig.c_str());
    writeFile(ifconfig, "#!/bin/sh\nexit 3\n");
    chmod(ifconfig.c_str(), 0755);
    BusRecorder recorder(bus);
    DelfinoBootloader loader(bus.c_str());
    std::string out = run(loader);
    std::size_t failures = 0;
    for (std::size_t at = out.find("system returns 3\n"); at != std::string::npos;
         at = out.find("system returns 3\n", at + 1))
        ++failures;
    EXPECT_EQ(failures, 4u) << out;
    EXPECT_NE(out.find("Bootload Completed"), std::string::npos) << out;
    EXPECT_EQ(recorder.take(0).size(), 3u) << "the notices and the data frame";
    EXPECT_EQ(bitrate(), "500000\n");
}

TEST_F(BootloaderTest, BitRateThatCannotBeWrittenBringsTheBusBackUp) {
    writeFile(platform::dataFile("chanproc.a00"), "01 02");
    // A folder in place of the bit-timing file: it opens for reading (and
    // reads nothing) but not for writing.
    std::string path = platform::canBitrateFile(bus);
    std::remove(path.c_str());
    ASSERT_TRUE(platform::makeDirs(path));
    BusRecorder recorder(bus);
    DelfinoBootloader loader(bus.c_str());
    std::string out = run(loader);
    EXPECT_NE(out.find("Cannot open " + path + " for writing\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Bootload Failed"), std::string::npos) << out;
    EXPECT_EQ(standinLog(), "ifconfig " + bus + " down\nifconfig " + bus + " up\n");
    EXPECT_EQ(recorder.take(0).size(), 2u) << "the notices only";
}

TEST_F(BootloaderTest, UnsafeInterfaceNamesAreRefused) {
    const char* names[] = {"a/../../x", "can0; reboot", "..", "", "abcdefghijklmnop", "can 0"};
    for (const char* name : names) {
        EXPECT_FALSE(DelfinoBootloader::isValidInterfaceName(name)) << name;
        DelfinoBootloader loader(name);
        std::string out = run(loader);
        EXPECT_NE(out.find("Bootload Failed"), std::string::npos) << name;
    }
    EXPECT_EQ(standinLog(), "");
    for (const char* name : {"can0", "my_bus-1.2", "t12345x0"}) EXPECT_TRUE(DelfinoBootloader::isValidInterfaceName(name));
}

TEST_F(BootloaderTest, SecondRunIsRefusedWhileOneIsGoing) {
    writeFile(platform::dataFile("chanproc.a00"), "01 02");
    DelfinoBootloader loader(bus.c_str());
    std::atomic<int> finished{0};
    loader.signalFinished().connect([&finished] { ++finished; });
    testing::internal::CaptureStdout();
    ASSERT_EQ(loader.start(), 0);
    EXPECT_EQ(loader.start(), EBUSY);
    EXPECT_FALSE(loader.bootload());
    loader.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(finished.load(), 1);
    EXPECT_FALSE(loader.isRunning());
    // Once it has ended, the next run starts.
    testing::internal::CaptureStdout();
    ASSERT_EQ(loader.start(), 0);
    loader.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(finished.load(), 2);
}

TEST(BootloaderTokens, ConvertLikeStrtolKeepingTheLowByte) {
    struct { const char* token; int value; } cases[] = {
        {"00", 0x00}, {"7f", 0x7F}, {"FF", 0xFF}, {"-1", 0xFF}, {"zz", 0x00}, {"1g", 0x01}, {"+a", 0x0A},
    };
    for (auto& c : cases) EXPECT_EQ(DelfinoBootloader::tokenValue(c.token), c.value) << c.token;
}

}  // namespace
