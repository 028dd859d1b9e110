#include "scpi/ScpiServerSerial.h"

#include "console/Console.h"
#include "meter/MeterModel.h"
#include "platform/Platform.h"
#include "runtime/RS232Configuration.h"
#include "status/ScpiErrorQueue.h"

#include <chrono>
#include <cstring>

namespace {

using LibSerial::BaudRate;
using LibSerial::CharacterSize;
using LibSerial::FlowControl;
using LibSerial::Parity;
using LibSerial::StopBits;

struct Speed {
    BaudRate rate;
    const char* line;
};
const Speed kSpeeds[] = {
    {BaudRate::BAUD_2400, "RS232 Speed set to 2400"},     {BaudRate::BAUD_4800, "RS232 Speed set to 4800"},
    {BaudRate::BAUD_9600, "RS232 Speed set to 9600"},     {BaudRate::BAUD_19200, "RS232 Speed set to 19200"},
    {BaudRate::BAUD_38400, "RS232 Speed set to 38400"},   {BaudRate::BAUD_57600, "RS232 Speed set to 57600"},
    {BaudRate::BAUD_115200, "RS232 Speed set to 115200"},
};
const CharacterSize kDataBits[] = {CharacterSize::CHAR_SIZE_7, CharacterSize::CHAR_SIZE_8};
const StopBits kStopBits[] = {StopBits::STOP_BITS_1, StopBits::STOP_BITS_2};
const Parity kParities[] = {Parity::PARITY_NONE, Parity::PARITY_EVEN, Parity::PARITY_ODD};
const FlowControl kFlowControls[] = {FlowControl::FLOW_CONTROL_NONE, FlowControl::FLOW_CONTROL_SOFTWARE,
                                     FlowControl::FLOW_CONTROL_HARDWARE};

// The table's entry for a code; null outside the table.
template <typename T, std::size_t N>
const T* entry(const T (&table)[N], int code) {
    return code >= 0 && static_cast<std::size_t>(code) < N ? &table[code] : nullptr;
}

constexpr int kExecutionError = -200;
constexpr std::chrono::milliseconds kPoll{250};
constexpr std::chrono::seconds kFailedPortPause{1};

}  // namespace

ScpiServerSerial::ScpiServerSerial(const std::string& path) : ScpiServerSerial(Services::instrument(), path) {}

ScpiServerSerial::ScpiServerSerial(const Services& services, const std::string& path)
    : ScpiServer(services), port(path) {
    std::strncpy(devicePath, path.c_str(), kPathSize - 1);
}

ScpiServerSerial::~ScpiServerSerial() {
    stopStreaming();
    // Only tests destroy servers, once nothing changes the settings any more.
    configurationConnection.disconnect();
    {
        std::lock_guard<std::mutex> lock(waitLock);
        running = 0;
    }
    stopWait.notify_all();
    stopReader();
    port.close();
}

bool ScpiServerSerial::open() {
    const std::string problem = platform::serialDeviceProblem(devicePath);
    if (!problem.empty()) {
        console::printError("ScpiServerSerial: not opening %s: %s\n", devicePath, problem.c_str());
        return false;
    }
    if (!port.openInput()) return false;
    if (!port.openOutput()) {
        console::print("output serial port not open\n");
        port.close();
        return false;
    }
    applyConfiguration(meter->getRS232Configuration());
    configurationConnection = meter->signalRS232ConfigurationChanged().connect(
        sigc::mem_fun(*this, &ScpiServerSerial::applyConfiguration));
    return true;
}

// A setting the port refused is reported (console, error queue); the port
// keeps the one it had.  True when it was taken.
bool ScpiServerSerial::taken(const char* setting, const std::string& problem) {
    if (problem.empty()) return true;
    console::printError("ScpiServerSerial: RS-232 %s not set on %s: %s\n", setting, devicePath, problem.c_str());
    errors->pushError(kExecutionError, std::string("RS-232 ") + setting + " not set: " + problem);
    return false;
}

void ScpiServerSerial::applyConfiguration(RS232Configuration configuration) {
    if (const Speed* speed = entry(kSpeeds, configuration.getSpeed()))
        if (taken("speed", port.setSpeed(speed->rate))) console::print("%s\n", speed->line);
    if (const CharacterSize* size = entry(kDataBits, configuration.getDataBits()))
        taken("data bits", port.setCharacterSize(*size));
    if (const StopBits* bits = entry(kStopBits, configuration.getStopBits()))
        taken("stop bits", port.setStopBits(*bits));
    if (const Parity* parity = entry(kParities, configuration.getParity())) taken("parity", port.setParity(*parity));
    if (const FlowControl* flow = entry(kFlowControls, configuration.getFlowControl()))
        taken("flow control", port.setFlowControl(*flow));
}

int ScpiServerSerial::read(char* buffer, int max) {
    if (max <= 0) return 0;
    while (running) {
        const int n = lines.next(buffer, max);
        if (n >= 0) return n;
        const ScpiSerialPort::Read result = port.feed(lines, kPoll);
        if (result == ScpiSerialPort::Read::Timeout) return 0;
        if (result == ScpiSerialPort::Read::Failed) {
            // A port that fails (its far end gone) fails again at once:
            // looked at once a second, not in a loop.
            ++failures;
            std::unique_lock<std::mutex> lock(waitLock);
            stopWait.wait_for(lock, kFailedPortPause, [this] { return running == 0; });
            return 0;
        }
    }
    return 0;
}

void ScpiServerSerial::write(const std::string& text) { port.writeLine(text); }
