#include "meter/DelfinoBootloader.h"

#include "can/CANinterface.h"
#include "console/Console.h"
#include "platform/CanTransport.h"
#include "platform/Platform.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace {

const char* const kProgramFile = "chanproc.a00";
const char* const kLogFile = "bootload.log";
constexpr std::chrono::microseconds kNoticePause{1500000};
constexpr std::chrono::microseconds kFramePause{150};
constexpr std::chrono::microseconds kDrainPause{50000};

// The whole file, or false when it cannot be read.  The string is its own
// terminated buffer, so the token reader never runs past the data.
bool readWholeFile(const std::string& path, std::string& contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream data;
    data << in.rdbuf();
    contents = data.str();
    return true;
}

}  // namespace

DelfinoBootloader::DelfinoBootloader(const char* name) {
    if (name) std::snprintf(interfaceName, sizeof interfaceName, "%s", name);
    platform::removeStaleTempFiles(platform::dataFile(kLogFile));   // left by a program killed mid-write
}

DelfinoBootloader::~DelfinoBootloader() {
    if (!threadStarted) return;
    if (pthread_equal(thread, pthread_self())) {
        pthread_detach(thread);
    } else {
        pthread_join(thread, nullptr);
    }
}

int DelfinoBootloader::start() {
    bool expected = false;
    if (!running.compare_exchange_strong(expected, true)) return EBUSY;
    // The previous run has ended (running was clear): collect its thread.
    if (threadStarted) {
        pthread_join(thread, nullptr);
        threadStarted = false;
    }
    int result = pthread_create(&thread, nullptr, &DelfinoBootloader::threadEntry, this);
    if (result != 0) {
        running = false;
        return result;
    }
    threadStarted = true;
    return 0;
}

void DelfinoBootloader::join() {
    if (threadStarted && !pthread_equal(thread, pthread_self())) {
        pthread_join(thread, nullptr);
        threadStarted = false;
    }
}

void* DelfinoBootloader::threadEntry(void* self) {
    auto* loader = static_cast<DelfinoBootloader*>(self);
    loader->runLoad();
    loader->finished.emit();
    loader->running = false;
    return nullptr;
}

bool DelfinoBootloader::bootload() {
    bool expected = false;
    if (!running.compare_exchange_strong(expected, true)) return false;
    bool ok = runLoad();
    finished.emit();
    running = false;
    return ok;
}

bool DelfinoBootloader::isValidInterfaceName(const char* name) {
    if (!name || !*name) return false;
    std::size_t length = std::strlen(name);
    if (length > platform::kMaxInterfaceName) return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    for (const char* p = name; *p; ++p) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                  c == '.' || c == '-';
        if (!ok) return false;
    }
    return true;
}

unsigned char DelfinoBootloader::tokenValue(const std::string& token) {
    return static_cast<unsigned char>(std::strtol(token.c_str(), nullptr, 16) & 0xFF);
}

std::vector<std::array<unsigned char, 2>> DelfinoBootloader::programFrames(const std::string& text) {
    std::vector<std::array<unsigned char, 2>> frames;
    std::istringstream tokens(text);
    std::string token;
    std::string first;
    bool haveFirst = false;
    while (tokens >> token) {
        if (token.size() != 2) continue;
        if (!haveFirst) {
            first = token;
            haveFirst = true;
            continue;
        }
        frames.push_back({tokenValue(first), tokenValue(token)});
        haveFirst = false;
    }
    return frames;
}

std::deque<long> DelfinoBootloader::parseLog(const std::string& text) {
    std::deque<long> durations;
    std::istringstream in(text);
    long value = 0;
    while (in >> value) durations.push_back(value);
    return durations;
}

bool DelfinoBootloader::ifconfig(const char* action) {
    int status = platform::runCommand({platform::path::kIfconfig, interfaceName, action});
    if (status != 0) console::print("system returns %d\n", status);
    return status == 0;
}

bool DelfinoBootloader::writeBitrate(const std::string& path, const std::string& bitrate) {
    // A kernel attribute: written in place (it cannot be replaced by rename).
    std::ofstream out(path, std::ios::trunc);
    if (!out) {
        console::say("Cannot open ", path, " for writing");
        return false;
    }
    console::say("Bitrate set to ", bitrate);
    out << bitrate << '\n';
    out.close();
    return true;
}

void DelfinoBootloader::updateLog(long durationMs) {
    std::string path = platform::dataFile(kLogFile);
    std::string text;
    std::deque<long> durations;
    if (readWholeFile(path, text)) durations = parseLog(text);
    durations.push_back(durationMs);
    while (durations.size() > kLogEntries) durations.pop_front();
    std::ostringstream out;
    for (long d : durations) out << d << '\n';
    platform::writeFileAtomic(path, out.str());
}

bool DelfinoBootloader::runLoad() {
    if (interfaceName[0] == 'v') return true;

    auto fail = [] {
        console::say("Bootload Failed");
        return false;
    };

    // The name goes into a file path and a command line.
    if (!isValidInterfaceName(interfaceName)) {
        console::say("Invalid CAN interface name ", interfaceName);
        return fail();
    }

    std::string programPath = platform::dataFile(kProgramFile);
    std::string program;
    if (!readWholeFile(programPath, program)) {
        console::say("Cannot open ", programPath);
        return fail();
    }
    console::say("Opened ", programPath);
    const std::vector<std::array<unsigned char, 2>> frames = programFrames(program);

    {
        auto start = std::make_unique<CANinterface>(interfaceName);
        start->sendBootloadNotice(0, kNoticeValue);
        start->sendBootloadNotice(6, kNoticeValue);
    }
    auto startTime = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kNoticePause);

    std::string bitratePath = platform::canBitrateFile(interfaceName);
    std::string savedBitrate;
    {
        std::ifstream in(bitratePath);
        if (!in) {
            console::say("Cannot open ", bitratePath, " for reading");
            return fail();
        }
        in >> savedBitrate;
    }
    console::say("current bitrate = ", savedBitrate);
    console::say("bootload bitrate = ", kBootloadBitrate);

    ifconfig("down");
    if (!writeBitrate(bitratePath, kBootloadBitrate)) {
        // The bit rate is unchanged: bring the interface back up as it was.
        ifconfig("up");
        return fail();
    }
    ifconfig("up");

    bool failed = false;
    {
        auto data = std::make_unique<CANinterface>(interfaceName);
        for (const auto& frame : frames) {
            const char bytes[2] = {static_cast<char>(frame[0]), static_cast<char>(frame[1])};
            if (data->sendRawFrame(kDataIdentifier, 2, bytes) != 0) {
                failed = true;
                break;
            }
            std::this_thread::sleep_for(kFramePause);
        }

        auto elapsed = std::chrono::steady_clock::now() - startTime;
        long durationMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
        console::say("bootload took ", durationMs, " ms");
        updateLog(durationMs);

        std::this_thread::sleep_for(kDrainPause);
    }

    ifconfig("down");
    bool restored = writeBitrate(bitratePath, savedBitrate);
    ifconfig("up");
    if (failed || !restored) return fail();
    console::say("Bootload Completed");
    return true;
}
