// Numbers typed into the forms' read-only fields with the keypad.
#pragma once

#include <climits>
#include <cstdlib>

namespace formtext {

// The leading base-10 integer of text (after blanks, with a sign); 0 for a
// null, empty or non-numeric text.  Kept within the range of an int.
inline int toInt(const char* text) {
    if (!text) return 0;
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// The leading decimal number of text; 0 for a null, empty or non-numeric text.
inline float toFloat(const char* text) { return text ? std::strtof(text, nullptr) : 0.0f; }

}  // namespace formtext
