#include "ranges/DigitsDisplaySpec.h"

#include <cmath>

namespace {

// 10^i for i = 0..9, exact both as integers and as floats.
constexpr long kPow10[] = {1L, 10L, 100L, 1000L, 10000L, 100000L,
                           1000000L, 10000000L, 100000000L, 1000000000L};

}  // namespace

DigitsDisplaySpec::DigitsDisplaySpec(int digitCount) {
    if (digitCount > kMaxDigits) digitCount = kMaxDigits;
    if (digitCount > 0) digits.assign(static_cast<std::size_t>(digitCount), 0);
}

DigitsDisplaySpec::~DigitsDisplaySpec() = default;

void DigitsDisplaySpec::setSelectedDigit(int i) {
    if (i >= 0 && i < getDigitCount()) selectedDigit = i;
}

void DigitsDisplaySpec::setDecimals(int n) {
    if (n >= 0 && n <= getDigitCount()) decimals = n;
}

float DigitsDisplaySpec::getValue() const {
    long sum = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) sum += digits[i] * kPow10[i];
    const float signedSum = static_cast<float>(sum) * sign;
    return signedSum / static_cast<float>(kPow10[decimals]);
}

void DigitsDisplaySpec::setValue(float x) {
    sign = x < 0.0f ? -1.0f : 1.0f;   // 0, -0.0 and NaN give +1
    if (std::isnan(x)) {              // no number: load zero
        for (int& d : digits) d = 0;
        return;
    }

    const float m = std::fabs(x) * static_cast<float>(kPow10[decimals]);
    if (!(m < 2147483648.0f)) {   // infinity or beyond 31 bits: clamp
        for (int& d : digits) d = 9;
        return;
    }
    const long n = std::lround(m);
    for (std::size_t i = 0; i < digits.size(); ++i)
        digits[i] = static_cast<int>((n % (kPow10[i] * 10)) / kPow10[i]);
}

void DigitsDisplaySpec::incrementDigit() {
    if (digits.empty()) return;
    int& d = digits[static_cast<std::size_t>(selectedDigit)];
    d = d >= 9 ? 0 : d + 1;
}

void DigitsDisplaySpec::decrementDigit() {
    if (digits.empty()) return;
    int& d = digits[static_cast<std::size_t>(selectedDigit)];
    d = d <= 0 ? 9 : d - 1;
}

bool DigitsDisplaySpec::isBeyond(double limit) const {
    const double unit = std::pow(10.0, -decimals);
    return std::fabs(static_cast<double>(getValue())) > std::round(limit / unit) * unit + unit / 2;
}
