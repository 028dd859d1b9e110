#include "runtime/Logger.h"

#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cctype>
#include <sstream>
#include <string>

namespace {

// Captures the logger's lines and restores its level and stream afterwards.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedLevel = log->getLevel();
        log->setOutput(&out);
    }
    void TearDown() override {
        log->setOutput(nullptr);
        log->setLevel(savedLevel);
    }
    Logger* log = Logger::instance();
    std::ostringstream out;
    int savedLevel = 1;
};

}  // namespace

TEST_F(LoggerTest, LineHasTimeSourceAndMessageInFixedFields) {
    log->setLevel(2);
    log->log(1, "MainWindow", "Meter Initialization Complete");
    const std::string line = out.str();
    const std::string shape = "dddd-dd-dd dd:dd:dd";   // d: any digit
    ASSERT_GT(line.size(), shape.size());
    for (std::size_t i = 0; i < shape.size(); ++i)
        EXPECT_TRUE(shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                    : line[i] == shape[i])
            << line;
    EXPECT_EQ("  MainWindow          Meter Initialization Complete\n", line.substr(19));
}

TEST_F(LoggerTest, SourceNamesOfTwentyAndMoreAreWrittenWhole) {
    log->setLevel(1);
    log->log(1, "ABCDEFGHIJKLMNOPQRST", "msg");          // exactly 20: no blank before the message
    log->log(1, "ABCDEFGHIJKLMNOPQRSTUVWXY", "msg");     // 25: written whole
    log->log(1, "", "");
    std::istringstream lines(out.str());
    std::string a, b, c;
    std::getline(lines, a);
    std::getline(lines, b);
    std::getline(lines, c);
    EXPECT_EQ("ABCDEFGHIJKLMNOPQRSTmsg", a.substr(21));
    EXPECT_EQ("ABCDEFGHIJKLMNOPQRSTUVWXYmsg", b.substr(21));
    ASSERT_EQ(41u, c.size());                         // 19-character time, 2 + 20 blanks
    EXPECT_EQ(std::string(22, ' '), c.substr(19));
}

TEST_F(LoggerTest, TimeIsTheInstrumentClock) {
    testsupport::TempSandbox sandbox;
    const std::time_t hostNow = std::time(nullptr);
    struct tm wanted = {};
    wanted.tm_year = 2001 - 1900;
    wanted.tm_mon = 1;
    wanted.tm_mday = 3;
    wanted.tm_hour = 4;
    wanted.tm_min = 5;
    wanted.tm_sec = 6;
    wanted.tm_isdst = -1;
    ASSERT_EQ(0, platform::setSystemTime(mktime(&wanted)));
    log->log(1, "Src", "text");
    platform::setSystemTime(hostNow);   // back to (about) the host's time
    EXPECT_EQ(0u, out.str().rfind("2001-02-03 04:0", 0)) << out.str();
}

TEST_F(LoggerTest, LevelsFilterMessages) {
    struct Case {
        int loggerLevel;
        int messageLevel;
        bool printed;
    } cases[] = {
        {1, 1, true}, {1, 2, false},   // default level: only start-up milestones
        {2, 1, true}, {2, 2, true}, {2, 3, false},
        {1, 0, true}, {1, -4, true},   // zero or negative always prints
    };
    for (const Case& c : cases) {
        out.str("");
        log->setLevel(c.loggerLevel);
        log->log(c.messageLevel, "Src", "text");
        EXPECT_EQ(c.printed, !out.str().empty())
            << "logger level " << c.loggerLevel << ", message level " << c.messageLevel;
    }
}

TEST_F(LoggerTest, StartsAtLevelOne) {
    Logger fresh;
    EXPECT_EQ(1, fresh.getLevel());
}

TEST_F(LoggerTest, MessagesAreNeverFormatStrings) {
    log->setLevel(1);
    log->log(1, "%s%n", "%d %s %n 100%");
    EXPECT_NE(std::string::npos, out.str().find("%s%n                %d %s %n 100%\n"));
}

// Sets the process's time zone for a test's span.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        hadZone = old != nullptr;
        if (old) previous = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (hadZone) setenv("TZ", previous.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
private:
    bool hadZone = false;
    std::string previous;
};

TEST(LoggerFormat, UsesLocalTimeOfTheGivenInstant) {
    // 2026-12-10 23:05:07 UTC, in zones east and west of it: the date moves too.
    const std::time_t when = 1796943907;
    const struct {
        const char* zone;
        const char* line;
    } cases[] = {
        {"UTC0", "2026-12-10 23:05:07  Src                 hello\n"},
        {"ABC-2", "2026-12-11 01:05:07  Src                 hello\n"},
        {"XYZ+5", "2026-12-10 18:05:07  Src                 hello\n"},
    };
    for (const auto& c : cases) {
        TimeZone zone(c.zone);
        EXPECT_EQ(Logger::formatLine(when, "Src", "hello"), c.line) << c.zone;
    }
}
