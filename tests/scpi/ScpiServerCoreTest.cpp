// The line core shared by every transport: splitting, normalising, the
// unrecognised-command report, line lengths, operation complete, and the
// routines the handlers share.
#include "scpi/ScpiLineReader.h"

#include "ScpiTestSupport.h"
#include "runtime/Logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using scpitest::ServerTest;
using Replies = std::vector<std::string>;

TEST_F(ServerTest, SplitsALineIntoCommandsInOrder) {
    EXPECT_EQ(ask("*ESE 36;*ESE?;*SRE 5;*SRE?"), (Replies{"36", "5"}));
    EXPECT_EQ(ask("*ese?"), Replies{"36"}) << "lower case matches the same leaves";
    EXPECT_EQ(ask(":SYST:VERS?;"), Replies{"1999.0"}) << "a trailing ';' adds no command";
    EXPECT_EQ(nextError(), "0,\"No error\"");

    testing::internal::CaptureStdout();
    EXPECT_EQ(ask("*ESE?;;*ESE?; *ESE?"), (Replies{"36", "36"}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ROOT: colon is last character in cmd\nunrecognized SCPI cmd: \n"
              "unrecognized SCPI cmd:  *ESE?\n");
    EXPECT_EQ(nextError(), "-100,\"Command error\"") << "the empty command, as received";
    EXPECT_EQ(nextError(), "-100,\"Command error;  *ESE?\"") << "a blank before the command";
    EXPECT_EQ(nextError(), "0,\"No error\"");
}

TEST_F(ServerTest, UnrecognisedCommandQueuesItAsReceivedAndSetsTheCommandErrorBit) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ask("meas:bogus? 1,2").empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "unrecognized SCPI cmd: meas:bogus? 1,2\n");
    EXPECT_EQ(reply(":SYST:ERR:NEW?"), "-100,\"Command error; meas:bogus? 1,2\"");
    EXPECT_EQ(reply("*ESR?"), "160") << "command error (32) and power on (128)";
    EXPECT_EQ(reply("*ESR?"), "0");
    EXPECT_EQ(reply("*STB?"), "4") << "the error queue holds entries";
}

TEST_F(ServerTest, LogsEachCommandAsRewrittenWithTheBackplaneBranchOfChannelFour) {
    std::ostringstream log;
    Logger::instance()->setOutput(&log);
    Logger::instance()->setLevel(2);
    testing::internal::CaptureStdout();
    ask("diag4:mux 1;:DIAG4:VDAC:MODE 1;:DIAG2:MUX 1;*idn?");
    testing::internal::GetCapturedStdout();
    Logger::instance()->setLevel(1);
    Logger::instance()->setOutput(nullptr);
    const std::string text = log.str();
    for (const char* expected : {"Received: :DIAG:BACK:MUX 1\n", "Received: :DIAG:VDAC:MODE 1\n",
                                 "Received: :DIAG2:MUX 1\n", "Received: :*IDN?\n"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
}

// What a client sends reaches the console escaped: no escape sequence or
// bell of its own gets to the operator's terminal.  The error queue keeps
// the command as received.
TEST_F(ServerTest, ConsoleLinesShowTheClientsBytesEscaped) {
    std::ostringstream log;
    Logger::instance()->setOutput(&log);
    Logger::instance()->setLevel(2);
    testing::internal::CaptureStdout();
    ask("\x1b]0;title\x07");   // sets the title of an xterm
    const std::string out = testing::internal::GetCapturedStdout();
    Logger::instance()->setLevel(1);
    Logger::instance()->setOutput(nullptr);
    EXPECT_EQ(out, "unrecognized SCPI cmd: \\x1b]0\nunrecognized SCPI cmd: title\\x07\n");
    EXPECT_NE(log.str().find("Received: :\\x1b]0\n"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("Received: :TITLE\\x07\n"), std::string::npos) << log.str();
    EXPECT_EQ(log.str().find('\x1b'), std::string::npos);
    EXPECT_EQ(nextError(), "-100,\"Command error; ?]0\"") << "replies show such a byte as '?'";
}

// A client that sends nothing but bad commands gets a few console lines a
// second, however many it sends; each still counts in the error queue.
TEST_F(ServerTest, ConsoleLinesOfAClientAreAFewASecond) {
    testing::internal::CaptureStdout();
    std::string line;
    for (int i = 0; i < 200; ++i) line += i % 2 ? "x;" : "1;;";   // the tree's line for an empty command counts too
    for (int i = 0; i < 5; ++i) ask(line);
    const std::string out = testing::internal::GetCapturedStdout();
    std::size_t lines = 0;
    for (char c : out) lines += c == '\n';
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, console::Limiter::kLinesPerSecond * 2 + 1) << out;   // two windows at most
    EXPECT_EQ(nextError(), "-100,\"Command error; 1\"");
}

TEST_F(ServerTest, OperationCompleteWaitsForTheEndOfTheBusyStateAndAnswersOnce) {
    EXPECT_EQ(ask("*OPC?"), Replies{"1"});
    server->onMeterBusyChanged(true);
    EXPECT_TRUE(ask("*OPC?;*OPC?;*OPC").empty());
    EXPECT_EQ(reply("*ESR?"), "128") << "power on only: operation complete is pending";
    server->onMeterBusyChanged(true);   // a repeated state changes nothing
    EXPECT_TRUE(server->takeReplies().empty());
    server->onMeterBusyChanged(false);
    EXPECT_EQ(server->takeReplies(), Replies{"1"});
    EXPECT_EQ(reply("*ESR?"), "1");
    server->onMeterBusyChanged(true);
    server->onMeterBusyChanged(false);
    EXPECT_TRUE(server->takeReplies().empty()) << "nothing was pending";
}

// A request that arrives just as the busy state ends on another thread is
// answered exactly once, and never left pending once the meter is idle.
TEST_F(ServerTest, OperationCompleteRacingTheEndOfBusyIsAnsweredExactlyOnce) {
    constexpr int kRounds = 3000;
    std::atomic<int> round{-1};
    std::atomic<int> idle{0};
    std::thread busyThread([&] {
        for (int r = 0; r < kRounds; ++r) {
            while (round.load() != r) std::this_thread::yield();
            server->onMeterBusyChanged(false);
            idle = r + 1;
        }
    });
    int wrong = 0;
    for (int r = 0; r < kRounds; ++r) {
        server->onMeterBusyChanged(true);
        round = r;
        server->processLine("*OPC?");
        while (idle.load() != r + 1) std::this_thread::yield();
        if (server->takeReplies() != Replies{"1"}) ++wrong;
    }
    busyThread.join();
    EXPECT_EQ(wrong, 0) << "rounds with the request lost or answered twice";
}

// Three servers (as the three transports) read the error queue while errors
// arrive and go: each reply is a whole entry, read from a copy.
TEST_F(ServerTest, ErrorQueueReadFromThreeServersAtOnce) {
    std::vector<std::unique_ptr<ScpiServerMemory>> servers;
    for (int i = 0; i < 3; ++i)
        servers.push_back(std::make_unique<ScpiServerMemory>(services.forServer(meter)));
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int i = 0; i < 4000; ++i) {
            auto record = services.catalogue.lookup(-200);
            record->setDetail(":MEAS:FLUX? with no probe " + std::to_string(i));
            services.errors->push(std::move(record));
        }
        done = true;
    });
    std::vector<std::thread> readers;
    std::atomic<int> malformed{0};
    std::atomic<int> entries{0};
    for (auto& s : servers) {
        readers.emplace_back([&, server = s.get()] {
            while (!done || services.errors->size() > 0) {   // until produced and read
                for (const std::string& r : server->command(":SYST:ERR:NEW?;:SYST:ERR:NEXT?")) {
                    if (r[0] == '-') ++entries;
                    if (r != "0,\"No error\"" && r != "-350,\"Queue overflow\"" &&
                        r.rfind("-200,\"Execution error; :MEAS:FLUX? with no probe ", 0) != 0)
                        ++malformed;
                }
            }
        });
    }
    producer.join();
    for (auto& t : readers) t.join();
    EXPECT_EQ(malformed, 0);
    EXPECT_GT(entries, 0) << "some entries were read";
}

TEST(ScpiLineReaderTest, CutsLinesAtCrOrLfAndDropsOverlongOnes) {
    ScpiLineReader lines;
    char buffer[ScpiServer::kLineBufferSize];
    auto next = [&](int max = ScpiServer::kLineBufferSize - 1) {
        const int n = lines.next(buffer, max);
        return n < 0 ? std::string("<more>") : n == 0 ? std::string("<dropped>") : std::string(buffer, n);
    };
    lines.feed("*IDN?\r\n\r\n\n\r:MEAS:FLUX?\r*OPC?\n:SYST:ERR");
    EXPECT_EQ(next(), "*IDN?");
    EXPECT_EQ(next(), ":MEAS:FLUX?");
    EXPECT_EQ(next(), "*OPC?");
    EXPECT_EQ(next(), "<more>");
    lines.feed("?\n");
    EXPECT_EQ(next(), ":SYST:ERR?");

    lines.feed(std::string(254, 'a') + "\n");
    EXPECT_EQ(next(), std::string(254, 'a'));
    lines.feed(std::string(255, 'b') + "\n");
    EXPECT_EQ(next(), "<dropped>");
    EXPECT_EQ(next(), "<more>") << "the line end after a dropped part ends nothing";
    lines.feed(std::string(255, 'c') + std::string(45, 'd') + "\r\n");
    EXPECT_EQ(next(), "<dropped>");
    EXPECT_EQ(next(), std::string(45, 'd'));
    EXPECT_EQ(std::strlen(buffer), 45u);
}

// The reader thread through the line reader: the longest line is taken
// whole, a longer one is dropped, and of a 300-character line the last 45
// characters form a command of their own.
TEST_F(ServerTest, ReaderLoopTakesLinesOfAtMost254Characters) {
    server->start();
    const std::string longest = "*ESE" + std::string(249, ' ') + "7";
    const std::string tooLong = "*ESE" + std::string(250, ' ') + "9";
    const std::string split = std::string(255, 'x') + "*ESE" + std::string(40, ' ') + "5";
    ASSERT_EQ(longest.size(), 254u);
    ASSERT_EQ(split.size(), 300u);
    server->feed(longest + "\r\n*ESE?\r\n" + tooLong + "\n*ESE?\n" + split + "\n*ESE?\n");
    ASSERT_TRUE(server->waitForReplies(3));
    EXPECT_EQ(server->takeReplies(), (Replies{"7", "7", "5"}));
    EXPECT_EQ(reply(":SYST:ERR:NEXT?"), "0,\"No error\"") << "dropped text is never a command";
}

TEST_F(ServerTest, SharedRoutines) {
    EXPECT_EQ(ScpiServer::probeOffsetIndex(4, 3), 44);
    EXPECT_EQ(ScpiServer::probeOffsetIndex(0, 0), 45);
    EXPECT_EQ(ScpiServer::probeOffsetIndex(3, 3), 60);
    EXPECT_EQ(ScpiServer::probeOffsetIndex(5, 0), 93);
    EXPECT_EQ(ScpiServer::probeOffsetIndex(0, 4), 93);
    EXPECT_EQ(ScpiServer::probeOffsetIndex(-1, 0), 93);
    EXPECT_EQ(ScpiServer::probeRmsOffsetIndex(4, 0), 61);
    EXPECT_EQ(ScpiServer::probeRmsOffsetIndex(3, 3), 80);
    EXPECT_EQ(ScpiServer::shortFormLength("MEASure#"), 4);
    EXPECT_EQ(ScpiServer::shortFormLength("measure"), 0);

    server->sendFixed(1.5f);
    server->sendFixed(-2.25f, 1);
    EXPECT_EQ(server->takeReplies(), (Replies{"1.500000", "-2.2"}));

    meter.frames(1);
    server->setChannelParameter(1, 5, "GAIN");
    server->setChannelParameter(1, 6, "GAIN 2.5 X");
    EXPECT_EQ(meter.frames(1), (Replies{"167#010500000000", "167#010640200000"}));

    meter.setThreeChannel(false);
    EXPECT_TRUE(server->isValidChannel(1));
    EXPECT_FALSE(server->isValidChannel(2));
    EXPECT_EQ(server->getChannelModel(1), meter.getChannel(2)) << "the single card sits in slot 2";
    EXPECT_EQ(server->getChannelModel(2), meter.getChannel(1));
    meter.setThreeChannel(true);
    EXPECT_TRUE(server->isValidChannel(3));
    EXPECT_FALSE(server->isValidChannel(0));
    EXPECT_FALSE(server->isValidChannel(4));
    EXPECT_EQ(server->getChannelModel(1), meter.getChannel(1));
}

}  // namespace
