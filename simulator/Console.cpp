#include "simulator/Console.h"

#include <cstdio>
#include <mutex>

namespace sim {

void printLine(const std::string& text) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace sim
