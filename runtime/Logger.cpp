#include "runtime/Logger.h"

#include "console/Console.h"
#include "platform/Platform.h"

#include <ctime>
#include <iomanip>
#include <sstream>

Logger::Logger() = default;
Logger::~Logger() = default;

Logger* Logger::instance() {
    static Logger* const logger = new Logger;   // thread-safe first use; never freed
    return logger;
}

void Logger::setLevel(int newLevel) { level = newLevel; }
int Logger::getLevel() const { return level; }

void Logger::setOutput(std::ostream* stream) {
    std::lock_guard<std::mutex> lock(outputLock);
    output = stream;
}

std::string Logger::formatLine(std::time_t when, const std::string& source,
                               const std::string& message) {
    tzset();
    struct tm local = {};
    char stamp[20] = "";
    if (localtime_r(&when, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::ostringstream line;
    line << std::left << std::setw(21) << stamp << std::setw(20) << source << message << '\n';
    return line.str();
}

void Logger::log(int msgLevel, const char* source, const char* message) {
    if (msgLevel > level) return;
    const std::string line = formatLine(platform::now(), source ? source : "", message ? message : "");
    std::lock_guard<std::mutex> lock(outputLock);
    if (output)
        *output << line << std::flush;
    else
        console::write(console::Stream::out, line);
}

void Logger::log(int msgLevel, const std::string& source, const std::string& message) {
    log(msgLevel, source.c_str(), message.c_str());
}
