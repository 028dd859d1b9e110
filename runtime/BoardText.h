// The four board texts of a card or the backplane (model, revision, serial
// number, calibration date) arrive as two frames of up to 7 characters each:
// slot 2n carries characters 0-6 of text n, slot 2n + 1 characters 7-13.
// The first half is held back until its second half comes, so a reader never
// sees a text cut short or made of two versions.  The caller guards both the
// halves and the texts with its own lock.
#pragma once

#include <cstring>

class BoardTextHalves {
public:
    static constexpr int kTextSize = 15;   // 14 characters and the terminator

    // Takes one frame's characters (at most 7 are read) for slot 0-7 into
    // texts[slot / 2].  Returns true when a text was completed.
    bool accept(int slot, const char* chars, char (*texts[4])) {
        if (slot < 0 || slot > 7 || !chars) return false;
        const int n = slot / 2;
        if (slot % 2 == 0) {
            std::memset(first[n], 0, sizeof first[n]);
            std::memcpy(first[n], chars, strnlen(chars, 7));
            pending[n] = true;
            return false;
        }
        char whole[kTextSize] = {0};
        // A second half without its first keeps the first half shown now.
        std::memcpy(whole, pending[n] ? first[n] : texts[n], 7);
        std::memcpy(whole + 7, chars, strnlen(chars, 7));
        std::memcpy(texts[n], whole, kTextSize);
        pending[n] = false;
        return true;
    }

private:
    char first[4][8] = {};
    bool pending[4] = {};
};
