#include "scpi/ScpiLineReader.h"

#include <cstring>

void ScpiLineReader::feed(const char* bytes, std::size_t count) {
    if (position == pending.size()) {
        pending.clear();
        position = 0;
    }
    pending.append(bytes, count);
}

int ScpiLineReader::next(char* buffer, int max) {
    while (position < pending.size()) {
        const char c = pending[position++];
        if (c == '\r' || c == '\n') {
            if (line.empty()) continue;
            const int length = static_cast<int>(line.size());
            std::memcpy(buffer, line.data(), line.size());
            buffer[length] = '\0';
            line.clear();
            return length;
        }
        line.push_back(c);
        if (static_cast<int>(line.size()) >= max) {
            line.clear();
            buffer[0] = '\0';
            return 0;
        }
    }
    return -1;
}

void ScpiLineReader::reset() {
    pending.clear();
    position = 0;
    line.clear();
}
