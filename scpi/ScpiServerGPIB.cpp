#include "scpi/ScpiServerGPIB.h"

#include "console/Console.h"
#include "meter/MeterModel.h"
#include "platform/Platform.h"
#include "runtime/Timer.h"
#include "status/ScpiRegisterManager.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kMaxReplyLine = 1023;
constexpr std::chrono::milliseconds kPoll{250};
constexpr std::chrono::seconds kSearchingPause{1};
constexpr std::chrono::milliseconds kStatusRetryPause{100};

void reportSystemError(const char* prefix, int error) {
    console::printError("%s: %s\n", prefix, std::strerror(error ? error : EIO));
}

void printLine(const std::string& text) {
    console::print("%s\n", text.c_str());
}

}  // namespace

ScpiServerGPIB::ScpiServerGPIB()
    : ScpiServerGPIB(Services::instrument(), platform::resolve(platform::path::kGpibPort)) {}

ScpiServerGPIB::ScpiServerGPIB(const Services& services, const std::string& path)
    : ScpiServer(services),
      retryTimer(std::make_unique<Timer>(kRetryPeriodMs, true)),
      devicePath(path),
      port(path) {
    retryTimer->signalTimeout().connect(sigc::mem_fun(*this, &ScpiServerGPIB::onRetryTimer));
    statusThread = std::thread(&ScpiServerGPIB::statusLoop, this);
    statusConnection = registers->signalStatusByteChanged().connect(
        sigc::mem_fun(*this, &ScpiServerGPIB::handleStatusByteChanged));
    addressConnection = meter->signalGpibAddressChanged().connect(sigc::mem_fun(*this, &ScpiServerGPIB::setAddress));
}

ScpiServerGPIB::~ScpiServerGPIB() {
    stopStreaming();
    // Only tests destroy servers.  The reader first (it may restart the
    // timer), then the timer (an attempt in progress ends), then the ports.
    {
        std::lock_guard<std::mutex> lock(waitLock);
        running = 0;
    }
    connectionChanged.notify_all();
    stopReader();
    retryTimer.reset();
    statusConnection.disconnect();
    addressConnection.disconnect();
    {
        std::lock_guard<std::mutex> lock(statusLock);
        statusStopping = true;
    }
    statusWake.notify_all();
    statusThread.join();
    closePorts();
}

bool ScpiServerGPIB::open() {
    retryTimer->start();
    return true;
}

void ScpiServerGPIB::onRetryTimer() {
    struct stat st;
    if (::stat(devicePath.c_str(), &st) != 0) return;
    connectController();
    // Decided under the lock the reader takes to mark the controller gone
    // and start the search again: a controller that fails right after its
    // set-up never leaves the timer stopped while nothing is connected.
    std::lock_guard<std::mutex> lock(waitLock);
    if (connected) retryTimer->stop();
}

void ScpiServerGPIB::applyLineSettings() {
    port.setSpeed(LibSerial::BaudRate::BAUD_9600);
    port.setCharacterSize(LibSerial::CharacterSize::CHAR_SIZE_8);
    port.setStopBits(LibSerial::StopBits::STOP_BITS_1);
    port.setParity(LibSerial::Parity::PARITY_NONE);
    port.setFlowControl(LibSerial::FlowControl::FLOW_CONTROL_NONE);
}

void ScpiServerGPIB::connectController() {
    // Taken before any port lock: the status model calls its slots with its
    // own lock held, and those slots take the port's.
    const int address = meter->getGpibAddress();
    const int statusByte = registers->getStatusByte();

    const std::string problem = platform::serialDeviceProblem(devicePath);
    if (!problem.empty()) {
        console::printError("ScpiServerGPIB: not opening %s: %s\n", devicePath.c_str(), problem.c_str());
        return;
    }
    errno = 0;
    if (!port.openInput()) {
        reportSystemError("ScpiServerGPIB opening input port", errno);
        closePorts();
        return;
    }
    errno = 0;
    if (!port.openOutput()) {
        reportSystemError("ScpiServerGPIB opening output port", errno);
        closePorts();
        return;
    }
    applyLineSettings();
    printLine("opened " + devicePath);

    port.writeLine("++ver");
    std::string reply;
    readReplyLine(reply);
    printLine("device responds: " + reply);
    const std::size_t idLength = std::strlen(kIdentification);
    if (reply.compare(0, idLength, kIdentification) != 0) {
        closePorts();
        return;
    }
    port.writeLine("++savecfg 0");
    port.writeLine("++mode 0");
    port.writeLine("++addr " + std::to_string(address));
    printLine("GPIB address set to " + std::to_string(address));
    port.writeLine("++status " + std::to_string(statusByte));
    setConnected(true);

    // A change made while the set-up ran found the transport not yet
    // connected and sent nothing: the controller gets the present values.
    const int addressNow = meter->getGpibAddress();
    if (addressNow != address) setAddress(addressNow);
    const int statusNow = registers->getStatusByte();
    if (statusNow != statusByte) queueStatus();
}

bool ScpiServerGPIB::readReplyLine(std::string& line) {
    line.clear();
    const auto deadline = std::chrono::steady_clock::now() + kIdentifyTimeout;
    while (line.size() < kMaxReplyLine) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        char c;
        const ScpiSerialPort::Read result = port.readChar(c, left);
        if (result == ScpiSerialPort::Read::Failed) return false;
        if (result == ScpiSerialPort::Read::Timeout) continue;
        if (c == '\n') break;
        line.push_back(c);
    }
    while (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void ScpiServerGPIB::setConnected(bool on) {
    {
        std::lock_guard<std::mutex> lock(waitLock);
        connected = on;
    }
    connectionChanged.notify_all();
}

void ScpiServerGPIB::closePorts() {
    setConnected(false);
    port.close();
}

int ScpiServerGPIB::read(char* buffer, int max) {
    if (max <= 0) return 0;
    while (running) {
        if (!connected) {
            std::unique_lock<std::mutex> lock(waitLock);
            connectionChanged.wait_for(lock, kSearchingPause, [this] { return connected || running == 0; });
            continue;
        }
        const int n = lines.next(buffer, max);
        if (n >= 0) return n;
        const ScpiSerialPort::Read result = port.feed(lines, kPoll);
        if (result == ScpiSerialPort::Read::Timeout) return 0;
        if (result == ScpiSerialPort::Read::Failed) {
            // The controller has gone: what was asked through it and not yet
            // answered is dropped (the next one may serve another bus), and
            // it is looked for again.
            closePorts();
            endClientSession();
            lines.reset();
            std::lock_guard<std::mutex> lock(waitLock);
            if (!connected) retryTimer->start();
            return 0;
        }
    }
    return 0;
}

void ScpiServerGPIB::write(const std::string& text) {
    if (connected) port.writeLine(text);
}

void ScpiServerGPIB::handleStatusByteChanged(int statusByte) {
    printLine("ScpiServerGPIB::handleStatusByteChanged(" + std::to_string(statusByte) + ")");
    queueStatus();
}

// The status thread sends the status byte as it is when it gets to it, so
// the controller's last value is always the present one.
void ScpiServerGPIB::queueStatus() {
    {
        std::lock_guard<std::mutex> lock(statusLock);
        statusPending = true;
    }
    statusWake.notify_one();
}

void ScpiServerGPIB::statusLoop() {
    std::unique_lock<std::mutex> lock(statusLock);
    while (true) {
        statusWake.wait(lock, [this] { return statusStopping || statusPending; });
        if (statusStopping) return;
        statusPending = false;
        lock.unlock();
        // Read without statusLock: the status model's slot holds its own lock
        // while it takes statusLock.
        const int statusByte = registers->getStatusByte();
        const bool sent = !connected || port.writeLine("++status " + std::to_string(statusByte));
        lock.lock();
        if (!sent && !statusPending) {
            // No room while the controller does not read: again a moment
            // later, or at once when the status byte changes meanwhile.
            statusPending = true;
            statusWake.wait_for(lock, kStatusRetryPause, [this] { return statusStopping; });
        }
    }
}

void ScpiServerGPIB::setAddress(int address) {
    if (!connected) return;
    port.writeLine("++addr " + std::to_string(address));
    printLine("GPIB address set to " + std::to_string(address));
}
