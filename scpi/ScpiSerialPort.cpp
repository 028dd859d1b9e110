#include "scpi/ScpiSerialPort.h"

#include "platform/Platform.h"
#include "scpi/ScpiLineReader.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// The slave of a fresh pseudo-terminal pair, opened; its master in master.
int openSparePty(int& master) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -1;
    const char* name = (grantpt(master) == 0 && unlockpt(master) == 0) ? ptsname(master) : nullptr;
    const int slave = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave < 0) {
        ::close(master);
        master = -1;
    }
    return slave;
}

}  // namespace

ScpiSerialPort::ScpiSerialPort(std::string path) : devicePath(std::move(path)) {}

ScpiSerialPort::~ScpiSerialPort() { close(); }

std::unique_ptr<LibSerial::SerialStream> ScpiSerialPort::openStream(std::ios_base::openmode mode) const {
    auto stream = std::make_unique<LibSerial::SerialStream>();
    try {
        stream->Open(devicePath, mode);
    } catch (...) {
        stream->setstate(std::ios_base::failbit);
    }
    if (!stream->IsOpen()) return nullptr;
    if (!stream->good()) {
        closeStream(stream);
        return nullptr;
    }
    return stream;
}

bool ScpiSerialPort::openInput() {
    std::lock_guard<std::mutex> lock(readLock);
    if (input) return true;
    auto stream = openStream(std::ios_base::in);
    if (!stream) return false;
    // LibSerial makes the device exclusive, which would keep the output
    // stream (another open of the same device) out.
    platform::shareSerialDevice(stream->GetFileDescriptor());
    input = std::move(stream);
    ++inputGeneration;
    return true;
}

bool ScpiSerialPort::openOutput() {
    std::lock_guard<std::mutex> lock(writeLock);
    if (output) return true;
    output = openStream(std::ios_base::out);
    return output != nullptr;
}

void ScpiSerialPort::close() {
    {
        std::lock_guard<std::mutex> lock(writeLock);
        closeStream(output);
    }
    std::lock_guard<std::mutex> lock(readLock);
    if (input) ++inputGeneration;
    closeStream(input);
}

bool ScpiSerialPort::isOutputOpen() const {
    std::lock_guard<std::mutex> lock(writeLock);
    return output != nullptr;
}

// LibSerial restores the device's settings as it closes and throws from a
// destructor (ending the program) when that fails, which it does for a
// device that has gone.  So the stream's descriptor is first made a spare
// pseudo-terminal's (dup2 closes the device's own), which takes the
// settings; the spare goes with the stream.
void ScpiSerialPort::closeStream(std::unique_ptr<LibSerial::SerialStream>& stream) {
    if (!stream) return;
    if (stream->IsOpen()) {
        const int fd = stream->GetFileDescriptor();
        int master = -1;
        const int spare = openSparePty(master);
        if (spare < 0) {
            // No spare: let the device go and keep the stream object, which
            // could not be destroyed without ending the program.
            const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (null >= 0) {
                ::dup2(null, fd);
                ::close(null);
            }
            stream.release();
            return;
        }
        ::dup2(spare, fd);
        ::close(spare);
        try {
            stream->Close();
        } catch (...) {
        }
        ::close(master);
    }
    stream.reset();
}

// LibSerial throws when the device refuses a setting (tcsetattr fails: a
// port that was pulled out answers EIO); the first reason is kept.
std::string ScpiSerialPort::applySetting(const std::function<void(LibSerial::SerialStream&)>& set) {
    std::string problem;
    auto apply = [&](std::unique_ptr<LibSerial::SerialStream>& stream) {
        if (!stream) return;
        std::string why;
        try {
            set(*stream);
            if (stream->fail()) why = "the stream failed";
        } catch (const std::exception& e) {
            why = e.what();
            if (why.empty()) why = "refused";
        } catch (...) {
            why = "refused";
        }
        if (problem.empty()) problem = why;
        stream->clear();
    };
    {
        std::lock_guard<std::mutex> lock(readLock);
        apply(input);
    }
    std::lock_guard<std::mutex> lock(writeLock);
    apply(output);
    return problem;
}

std::string ScpiSerialPort::setSpeed(LibSerial::BaudRate speed) {
    return applySetting([speed](LibSerial::SerialStream& s) { s.SetBaudRate(speed); });
}

std::string ScpiSerialPort::setCharacterSize(LibSerial::CharacterSize size) {
    return applySetting([size](LibSerial::SerialStream& s) { s.SetCharacterSize(size); });
}

std::string ScpiSerialPort::setStopBits(LibSerial::StopBits bits) {
    return applySetting([bits](LibSerial::SerialStream& s) { s.SetStopBits(bits); });
}

// LibSerial turns parity off without clearing the odd-parity flag, so a port
// that was odd still said odd (a pseudo-terminal keeps no parity bit, only
// that flag, and the far end judges the framing by it): the flag is cleared
// for every parity but odd.
std::string ScpiSerialPort::setParity(LibSerial::Parity parity) {
    return applySetting([parity](LibSerial::SerialStream& s) {
        s.SetParity(parity);
        if (parity == LibSerial::Parity::PARITY_ODD) return;
        const int fd = s.GetFileDescriptor();
        termios t;
        if (::tcgetattr(fd, &t) == 0 && (t.c_cflag & PARODD)) {
            t.c_cflag &= ~static_cast<tcflag_t>(PARODD);
            ::tcsetattr(fd, TCSANOW, &t);
        }
    });
}

std::string ScpiSerialPort::setFlowControl(LibSerial::FlowControl flow) {
    return applySetting([flow](LibSerial::SerialStream& s) { s.SetFlowControl(flow); });
}

ScpiSerialPort::Read ScpiSerialPort::feed(ScpiLineReader& lines, std::chrono::milliseconds timeout) {
    char c;
    const Read result = readChar(c, timeout);
    if (result == Read::Char) lines.feed(&c, 1);
    return result;
}

ScpiSerialPort::Read ScpiSerialPort::readChar(char& c, std::chrono::milliseconds timeout) {
    int fd;
    unsigned generation;
    {
        std::lock_guard<std::mutex> lock(readLock);
        if (!input) return Read::Failed;
        fd = input->GetFileDescriptor();
        generation = inputGeneration;
    }
    // The wait is outside the lock, so that settings and writes never wait
    // for a reader; a port closed meanwhile is seen by its generation.
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (ready == 0 || (ready < 0 && errno == EINTR)) return Read::Timeout;
    std::lock_guard<std::mutex> lock(readLock);
    if (ready < 0 || !input || generation != inputGeneration || !(p.revents & POLLIN)) return Read::Failed;
    if (input->get(c)) return Read::Char;
    input->clear();
    return Read::Failed;
}

bool ScpiSerialPort::writeLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(writeLock);
    if (!output) return false;
    pollfd p{output->GetFileDescriptor(), POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(kWriteTimeout.count())) != 1 || !(p.revents & POLLOUT)) return false;
    try {
        *output << text << "\r\n";
        output->flush();
    } catch (...) {
        output->setstate(std::ios_base::badbit);
    }
    const bool sent = output->good();
    output->clear();
    return sent;
}
