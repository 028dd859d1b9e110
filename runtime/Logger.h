// Logger: the console log.  One line per message, on standard output:
//
//   2026-12-10 13:05:07  MainWindow          Meter Initialization Complete
//   |<- time, 21 wide ->||<- source, 20 wide ->|message
//
// Both fields are left-aligned and padded with blanks; a source name longer
// than 20 characters is written whole.  A message is printed when its level
// is at or below the logger's level (1 at creation; the main window sets 2).
// Levels in use: 1 start-up milestones, 2 traffic and state changes.
//
// The time is the instrument's clock (platform::now), in local time.  Safe to
// call from any thread; each line is written whole, through the console
// writer (console/Console.h): logging never waits for the output.
#pragma once

#include <atomic>
#include <ctime>
#include <iosfwd>
#include <mutex>
#include <string>

class Logger {
public:
    // The one logger, created (level 1) on first use; never null, never freed.
    static Logger* instance();

    void setLevel(int level);
    int getLevel() const;

    // A null source or message is written as an empty text.
    void log(int level, const char* source, const char* message);
    void log(int level, const std::string& source, const std::string& message);

    // Where lines go (null: standard output, through the console writer);
    // for tests.
    void setOutput(std::ostream* stream);

    // One complete line for the given time, newline included.
    static std::string formatLine(std::time_t when, const std::string& source,
                                  const std::string& message);

    Logger();
    virtual ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    std::atomic<int> level{1};
    std::mutex outputLock;
    std::ostream* output = nullptr;
};
