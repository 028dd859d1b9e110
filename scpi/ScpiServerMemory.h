// ScpiServerMemory: a transport held in memory, for tests and benchmarks.
// The same line core and handlers as every transport, with no device:
//
//   ScpiServerMemory server(services);
//   server.command(":MEAS:FLUX?")       -> {"12.3456"}   (processed at once,
//                                                          on this thread)
//   server.start(); server.feed("*IDN?\r\n");             (bytes for the reader
//   server.waitForReplies(1)                               thread, cut into lines
//                                                          as TCP does)
//
// Every reply, from whatever thread (the reader, the operation-complete
// slot), is collected whole and in order.
#pragma once

#include "scpi/ScpiLineReader.h"
#include "scpi/ScpiServer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class ScpiServerMemory : public ScpiServer {
public:
    explicit ScpiServerMemory(const Services& services);
    ~ScpiServerMemory() override;

    // Processes one line on the calling thread; returns the replies that
    // arrived meanwhile (and any collected before).
    std::vector<std::string> command(const std::string& line);
    // Bytes for the reader thread (after start()).
    void feed(const std::string& bytes);
    // Waits until at least count replies are held; false on time-out.
    bool waitForReplies(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Takes every reply held so far.
    std::vector<std::string> takeReplies();
    // Lines the reader thread has taken from the input (empty ones excluded).
    std::size_t linesRead() const;

protected:
    bool open() override { return true; }
    int read(char* buffer, int max) override;
    void write(const std::string& text) override;

private:
    mutable std::mutex lock;
    std::condition_variable changed;
    ScpiLineReader input;
    std::vector<std::string> replies;
    std::size_t lineCount = 0;
};
