// ScpiServerGPIB: SCPI over GPIB through a GPIB-USB controller that the
// system reaches as the serial device "/dev/gpib" (the PC build: the
// sandbox's dev/gpib, which tools/gpib-sim links to its pseudo-terminal).
//
// The controller is driven with "++" commands, each a line ending in CR LF.
// A connection attempt (9600 baud, 8 data bits, 1 stop bit, no parity, no
// flow control on both streams):
//
//   "++ver"           its reply line must begin with kIdentification
//   "++savecfg 0"
//   "++mode 0"        the controller acts as a device on the bus
//   "++addr N"        the meter's GPIB address
//   "++status S"      the SCPI status byte
//
// Everything else the controller sends is SCPI command lines
// (ScpiLineReader's rules); replies go back as the text and CR LF.  While
// connected, every change of the status byte and of the GPIB address is sent
// at once ("++status S", "++addr N"); the status byte by a thread of its own
// (the value it has when sent, so never an older one after it), so that a
// controller that does not read holds up no thread that changes the status
// byte.
//
//   searching --(retry timer, once a second: the device exists, it answers
//                "++ver" within kIdentifyTimeout with the right text)--> connected
//   connected --(a read fails: the controller was pulled out)--> searching
//
// While searching, replies are dropped, address changes wait for the next
// connection, status-byte changes are only printed, and the reader thread
// waits.  A controller that goes ends the client's session: its streams stop
// and a pending *OPC? is never answered to the next controller.  Console lines (standard output): "opened PATH", "device responds:
// LINE", "GPIB address set to N", "ScpiServerGPIB::handleStatusByteChanged(S)";
// on standard error "ScpiServerGPIB opening input port: ..." and
// "ScpiServerGPIB opening output port: ...".
//
// Threads: the reader thread (reads, replies), the retry timer's thread (the
// connection attempts), the status thread (sends the status byte), the threads
// that change the status byte (their slot runs with the status model's lock
// held: it only wakes the status thread, and the set-up reads the address
// and status byte before any port lock is taken) or the address, and the
// threads of delayed replies.  Every line written to the controller goes out
// whole under the port's write lock (ScpiSerialPort).
#pragma once

#include "scpi/ScpiLineReader.h"
#include "scpi/ScpiSerialPort.h"
#include "scpi/ScpiServer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class Timer;

class ScpiServerGPIB : public ScpiServer {
public:
    static constexpr const char* kIdentification = "Prologix GPIB-USB Controller";
    static constexpr std::chrono::milliseconds kIdentifyTimeout{2000};
    static constexpr int kRetryPeriodMs = 1000;

    ScpiServerGPIB();
    ScpiServerGPIB(const Services& services, const std::string& devicePath);
    ~ScpiServerGPIB() override;

    // The retry timer's slot: one attempt when the device exists; the timer
    // stops once connected.
    void onRetryTimer();
    // One attempt to find and set up the controller.
    void connectController();
    // connected := false; closes the output and then the input stream.
    void closePorts();

    void handleStatusByteChanged(int statusByte);
    void setAddress(int address);

    bool isConnected() const { return connected.load(); }

protected:
    // Starts the retry timer; always true.
    bool open() override;
    int read(char* buffer, int max) override;
    void write(const std::string& text) override;

private:
    void applyLineSettings();
    // One line from the controller (up to LF, at most 1023 characters, CR
    // dropped), waiting at most kIdentifyTimeout; false when none came.
    bool readReplyLine(std::string& line);
    void setConnected(bool on);
    // The status thread: sends the status byte, while connected, each time
    // queueStatus() asks for it.
    void statusLoop();
    void queueStatus();

    std::atomic<bool> connected{false};
    std::unique_ptr<Timer> retryTimer;
    const std::string devicePath;
    ScpiSerialPort port;
    ScpiLineReader lines;   // the reader thread's
    std::mutex waitLock;
    std::condition_variable connectionChanged;
    std::mutex statusLock;                 // guards the two below
    std::condition_variable statusWake;
    bool statusPending = false;            // the status byte is to be sent
    bool statusStopping = false;
    std::thread statusThread;
    sigc::connection statusConnection;
    sigc::connection addressConnection;
};
