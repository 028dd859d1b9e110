// ScpiSerialPort: one serial device as the RS-232 and GPIB transports use it,
// two LibSerial streams on the same path, one for reading and one for
// writing, each with a lock of its own:
//
//   ScpiSerialPort port("/dev/ttyS0");      (the PC build: a sandbox path)
//   port.openInput(); port.openOutput();
//   port.setSpeed(LibSerial::BaudRate::BAUD_9600);   (both streams)
//   port.readChar(c, 250ms)   -> Char, Timeout or Failed  (one reader thread)
//   port.writeLine("1.2345")  -> "1.2345\r\n", whole      (any thread)
//   port.close();
//
// What the streams do not do by themselves:
//   - nothing here throws: LibSerial's exceptions (a device that is missing,
//     a setting the device refuses, a port that was pulled out) become
//     results (a line setting that failed gives the reason);
//   - closing a port whose device has gone (a USB adapter pulled out, the
//     far end of a pseudo-terminal closed) does not end the program: LibSerial
//     restores the device's settings when it closes and throws from a
//     destructor when it cannot, so the descriptor of such a port is first
//     pointed at a fresh pseudo-terminal that takes the settings;
//   - the second stream opens although the first made the device exclusive;
//   - a read waits at most the time given, so the reader can be stopped;
//   - a write waits at most kWriteTimeout for room in the device's buffer (a
//     far end that stopped reading, or sent XOFF): the line is then dropped,
//     and the threads that write replies are never held for good.
//
// Writes, opening and closing the output stream are serialised under the
// write lock, reads and opening and closing the input stream under the read
// lock; no thread holds both.
#pragma once

#include <libserial/SerialStream.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class ScpiLineReader;

class ScpiSerialPort {
public:
    static constexpr std::chrono::milliseconds kWriteTimeout{2000};

    explicit ScpiSerialPort(std::string devicePath);
    ~ScpiSerialPort();
    ScpiSerialPort(const ScpiSerialPort&) = delete;
    ScpiSerialPort& operator=(const ScpiSerialPort&) = delete;

    const std::string& path() const { return devicePath; }

    // Each opens one direction; false when the stream reports an error (the
    // stream is then closed again).
    bool openInput();
    bool openOutput();
    // Closes both (output first); never fails.
    void close();
    bool isOutputOpen() const;

    // Line settings, on the input stream and then on the output stream; a
    // stream that refuses a setting keeps its old one.  Each returns why a
    // stream refused it ("" when every open stream took it).
    std::string setSpeed(LibSerial::BaudRate speed);
    std::string setCharacterSize(LibSerial::CharacterSize size);
    std::string setStopBits(LibSerial::StopBits bits);
    std::string setParity(LibSerial::Parity parity);
    std::string setFlowControl(LibSerial::FlowControl flow);

    enum class Read { Char, Timeout, Failed };
    // One character, waiting at most timeout.  Failed: the port is not open,
    // it hung up or a read failed (the stream's state is cleared again).
    Read readChar(char& c, std::chrono::milliseconds timeout);
    // readChar, the character handed on to lines.
    Read feed(ScpiLineReader& lines, std::chrono::milliseconds timeout);

    // text, CR, LF; dropped when the output is not open or stays full.
    // Returns whether the whole line went out.
    bool writeLine(const std::string& text);

private:
    std::string applySetting(const std::function<void(LibSerial::SerialStream&)>& set);
    // A stream opened on the device in that direction, or null.
    std::unique_ptr<LibSerial::SerialStream> openStream(std::ios_base::openmode mode) const;
    static void closeStream(std::unique_ptr<LibSerial::SerialStream>& stream);

    const std::string devicePath;
    mutable std::mutex readLock;
    mutable std::mutex writeLock;
    std::unique_ptr<LibSerial::SerialStream> input;    // under readLock; null when closed
    unsigned inputGeneration = 0;                      // under readLock; counts opens and closes
    std::unique_ptr<LibSerial::SerialStream> output;   // under writeLock; null when closed
};
