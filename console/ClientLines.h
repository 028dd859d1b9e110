// Console lines that a client's input causes (a request that does not parse,
// an unknown SCPI command, a connection refused ...).  Whatever a client
// sends, the operator's terminal gets a few such lines a second from it and
// nothing it could not show:
//
//   console::Limiter lines("JSON client on fd 7");      // one per source
//   lines.write(console::Stream::out, "parse failed: ...\n");
//   if (lines.admit()) Logger::instance()->log(2, "Scpi", "Received: " + console::escaped(command));
//
// A source (one connection, one accept loop, one serial port) passes at most
// linesPerSecond texts in each second; the texts beyond that are left out
// and counted, and the count is written, as "(N lines from SOURCE left out)",
// before the next text that passes, or by flush() (the source's end).
//
// Code deep down that a client's input reaches (the SCPI command tree) writes
// with clientPrint(): through the limiter of the client whose input this
// thread handles now (a ClientScope), or straight when there is none.
//
// escaped() shows a client's bytes as printable ASCII: a byte outside 0x20-
// 0x7E becomes \xHH and a backslash \\, so that no escape sequence, bell or
// line break a client sends reaches the terminal as it is.
#pragma once

#include "console/Console.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace console {

std::string escaped(const std::string& bytes);

class Limiter {
public:
    using Clock = std::chrono::steady_clock;
    // Where the texts and the counts go (the program's console by default).
    using Sink = std::function<void(Stream, std::string)>;
    static constexpr unsigned kLinesPerSecond = 10;

    explicit Limiter(std::string source, unsigned linesPerSecond = kLinesPerSecond, Sink sink = nullptr);
    // Writes the count still pending.
    ~Limiter();
    Limiter(const Limiter&) = delete;
    Limiter& operator=(const Limiter&) = delete;

    // Whether one more text of the source may be written now (the count of
    // what was left out before is then written first); false counts it as
    // left out.
    bool admit(Clock::time_point now = Clock::now());
    // admit(), then the text to the sink.
    void write(Stream stream, std::string text, Clock::time_point now = Clock::now());
    // Writes the count of texts left out and not yet written, if any.
    void flush();
    // Texts left out since the start.
    std::uint64_t leftOut() const;

private:
    void writeCount();   // the lock held

    const std::string source;
    const unsigned perSecond;
    const Sink sink;
    mutable std::mutex mutex;
    bool started = false;
    Clock::time_point windowStart;
    unsigned inWindow = 0;
    std::uint64_t pending = 0;   // left out since the last count written
    std::uint64_t total = 0;
};

// Makes limiter the one of clientPrint() on this thread while it lives.
class ClientScope {
public:
    explicit ClientScope(Limiter& limiter);
    ~ClientScope();
    ClientScope(const ClientScope&) = delete;
    ClientScope& operator=(const ClientScope&) = delete;

private:
    Limiter* const outer;
};

// printf's format, on standard output, through this thread's client limiter.
void clientPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace console
