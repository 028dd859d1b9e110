// The four board-information texts of a simulated board (model, revision,
// serial number, calibration date), 15 bytes each, not necessarily
// zero-terminated.  On the bus each text travels as two 7-byte halves: slot
// 2k carries the first half of text k, slot 2k + 1 the second.
#pragma once

#include <cstring>
#include <string>

namespace sim {

struct BoardInfo {
    static constexpr int kTextSize = 15;
    static constexpr int kHalf = 7;

    char texts[4][kTextSize] = {};

    // Text k := the first 15 bytes of text, the rest zero.
    void set(int k, const char* text) {
        std::memset(texts[k], 0, kTextSize);
        std::memcpy(texts[k], text, strnlen(text, kTextSize));
    }

    // Text k up to its first zero byte.
    std::string text(int k) const { return std::string(texts[k], strnlen(texts[k], kTextSize)); }

    // The 7 bytes sent in a slot 0-7.
    const char* half(int slot) const { return texts[slot / 2] + kHalf * (slot % 2); }

    // Stores the 7 bytes of a slot 0-7; a first half clears its text first.
    // True when the slot was a second half, so the text is complete.
    bool store(int slot, const char* bytes) {
        char* t = texts[slot / 2];
        if (slot % 2 == 0) {
            std::memset(t, 0, kTextSize);
            std::memcpy(t, bytes, kHalf);
            return false;
        }
        std::memcpy(t + kHalf, bytes, kHalf);
        return true;
    }
};

}  // namespace sim
