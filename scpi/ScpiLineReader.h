// ScpiLineReader: cuts the bytes a byte-stream transport receives (TCP,
// RS-232, GPIB) into command lines, with the rules every transport shares:
//
//   - a CR or an LF ends a line; CR LF, LF CR and empty lines give nothing;
//   - a line is at most max - 1 characters: when max characters arrive
//     without a line end they are dropped, and the next byte starts a new
//     line (so of a 300-character line the last 45 form a line of their own
//     with the server's max of 255).
//
//   feed("*IDN?\r\n:MEAS")   next() -> "*IDN?"; next() -> need more
//   feed("?\n")              next() -> ":MEAS?"
//
// Not thread-safe: one reader per stream.
#pragma once

#include <cstddef>
#include <string>

class ScpiLineReader {
public:
    // Appends received bytes.
    void feed(const char* bytes, std::size_t count);
    void feed(const std::string& bytes) { feed(bytes.data(), bytes.size()); }

    // Takes the next line into buffer (NUL-terminated, at most max - 1
    // characters, buffer holding at least max) and returns its length; 0 when
    // max characters without a line end were dropped; -1 when the bytes
    // received so far hold no complete line.  max must be positive.
    int next(char* buffer, int max);

    // Drops everything received and any partial line.
    void reset();

    bool hasPendingBytes() const { return position < pending.size(); }

private:
    std::string pending;       // received, not yet looked at from position on
    std::size_t position = 0;
    std::string line;          // the line being assembled
};
