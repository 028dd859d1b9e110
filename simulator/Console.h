// Console output of the simulator: whole lines on standard output, flushed at
// once, never interleaved between the nodes' threads.
#pragma once

#include <sstream>
#include <string>
#include <utility>

namespace sim {

void printLine(const std::string& text);

// Writes every argument in the stream's default format and prints the line.
template <class... Args>
void say(Args&&... args) {
    std::ostringstream line;
    (line << ... << std::forward<Args>(args));
    printLine(line.str());
}

}  // namespace sim
