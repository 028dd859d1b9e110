// ScpiServerSerial: SCPI over the instrument's RS-232 port ("/dev/ttyS0";
// the PC build opens the sandbox's dev/ttyS0, which a test or a user links
// to one end of a pseudo-terminal pair, see tools/serial-link).
//
// The port is opened once, by open(): first for reading, then for writing,
// then the meter's RS-232 settings are applied, and every later change of
// them (front-panel page, settings file, profile) reaches the open port
// through the meter's signal.  Settings by code:
//
//   speed        0-6: 2400, 4800, 9600, 19200, 38400, 57600, 115200 baud
//                ("RS232 Speed set to 9600" on standard output)
//   data bits    0-1: 7, 8           stop bits 0-1: 1, 2
//   parity       0-2: none, even, odd
//   flow control 0-2: none, XON/XOFF, RTS/CTS
//
// A code outside its table leaves that setting as it was.  A setting the
// port refuses (a port that was pulled out) is reported on standard error
// ("ScpiServerSerial: RS-232 speed not set on PATH: REASON") and in the error
// queue (-200, "RS-232 speed not set: REASON"); the port keeps its old one.  Lines follow
// ScpiLineReader's rules (CR or LF ends a line; at most 254 characters);
// replies are the text and CR LF, whole.  A port that fails (its device
// gone) is not reopened: the reader looks at it again once a second.  A line
// has no client that could change (nothing tells who is at the far end), so
// late replies (*OPC?, streams) go out on the port whoever listens.
#pragma once

#include "scpi/ScpiLineReader.h"
#include "scpi/ScpiSerialPort.h"
#include "scpi/ScpiServer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

class RS232Configuration;

class ScpiServerSerial : public ScpiServer {
public:
    explicit ScpiServerSerial(const std::string& devicePath);
    ScpiServerSerial(const Services& services, const std::string& devicePath);
    ~ScpiServerSerial() override;

    // The five settings on both streams, in the order speed, data bits, stop
    // bits, parity, flow control.
    void applyConfiguration(RS232Configuration configuration);

    // Reads that found the port failed (for tests: a failed port is looked
    // at once a second, never in a busy loop).
    unsigned long failedReads() const { return failures.load(); }

protected:
    bool open() override;
    int read(char* buffer, int max) override;
    void write(const std::string& text) override;

private:
    bool taken(const char* setting, const std::string& problem);

    static constexpr std::size_t kPathSize = 80;
    char devicePath[kPathSize] = {};
    ScpiSerialPort port;
    ScpiLineReader lines;                 // the reader thread's
    sigc::connection configurationConnection;
    std::atomic<unsigned long> failures{0};
    std::mutex waitLock;
    std::condition_variable stopWait;
};
