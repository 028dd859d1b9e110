// DigitsDisplaySpec: a signed value edited digit by digit with the channel
// keys, held as a fixed number of decimal digits with an implied point.
//
//   value = sign x (sum of digits[i] x 10^i) / 10^decimals
//
// Digit 0 is the least significant.  Stepping a digit wraps 9 -> 0 and
// 0 -> 9 without carry or borrow and leaves the sign alone.  The editor knows
// nothing of ranges or limits: its users check the value after each key.
// No lock; a user that edits from several threads serialises the calls.
#pragma once

#include <vector>

class DigitsDisplaySpec {
public:
    // At most kMaxDigits digits are kept (so the digit sum stays exact in
    // 32 bits); a count of 0 or less makes an editor with no digits.
    static constexpr int kMaxDigits = 9;

    explicit DigitsDisplaySpec(int digitCount);
    virtual ~DigitsDisplaySpec();

    int getDigitCount() const { return static_cast<int>(digits.size()); }

    int getSelectedDigit() const { return selectedDigit; }
    // Taken only when 0 <= i < digit count; the selection stops at both ends.
    void setSelectedDigit(int i);

    int getDecimals() const { return decimals; }
    // Taken only when 0 <= n <= digit count.
    void setDecimals(int n);

    void toggleSign() { sign = -sign; }
    bool isNegative() const { return sign < 0.0f; }

    float getValue() const;
    // Loads sign and digits from x: the digits of lround(|x| x 10^decimals),
    // keeping the digit count's low digits.  The sign is -1 only when x < 0,
    // so 0, -0.0 and NaN give +1; NaN loads zero.  Infinity, and a magnitude
    // whose digit sum would not fit in 31 bits, load the largest magnitude
    // (all nines) with the sign of x.
    void setValue(float x);

    void incrementDigit();
    void decrementDigit();

    // Whether the value lies beyond +-limit (limit in the same display units).
    // Compared in the editor's own digits: the limit is rounded to the last
    // digit, so a limit that falls on a digit (1.1 x full scale in any unit,
    // although a product like 330 x 0.1 is not exact in single precision) is
    // itself within.
    bool isBeyond(double limit) const;

private:
    int selectedDigit = 0;
    int decimals = 0;
    std::vector<int> digits;   // index 0 least significant, each 0-9
    float sign = 1.0f;
};
