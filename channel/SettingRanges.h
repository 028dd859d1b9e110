// The values the channel and meter settings take, for everything that sets
// them: the SCPI handlers, the JSON server, the front-panel menus and pages.
// Which values a setting allows is written here once; each interface still
// answers a value outside them in its own way (SCPI with its reply text or
// silence, JSON with {"success":false}).
//
// Integer checks take a wide type, so that SCPI can check a number before it
// narrows it.
#pragma once

#include <cmath>

namespace settingrange {

// ---- Measurement mode: 0 DC, 1 AC
constexpr int kModeDc = 0;
constexpr int kModeAc = 1;
constexpr bool isMode(long long mode) { return mode == kModeDc || mode == kModeAc; }

// ---- Fixed ranges 0-3 (30 G, 300 G, 3 kG, 30 kG on the gauss scale)
constexpr int kRangeCount = 4;
constexpr bool isRange(long long range) { return range >= 0 && range < kRangeCount; }

// ---- AC frequency ranges (input filters) 0-5
constexpr int kFreqRangeCount = 6;
constexpr bool isFreqRange(long long freqRange) { return freqRange >= 0 && freqRange < kFreqRangeCount; }

// ---- Zero modes, as the channel model holds them
constexpr int kZeroDcOnly = 1;       // DC only
constexpr int kZeroBasicAc = 4;      // DC and basic AC
constexpr int kZeroAdvancedAc = 0;   // DC and advanced AC
// The three in the order the interfaces offer them: SCPI's codes 0, 1, 2
// and the menu's entries.
constexpr int kZeroModeCount = 3;
constexpr int kZeroModes[kZeroModeCount] = {kZeroDcOnly, kZeroBasicAc, kZeroAdvancedAc};
constexpr bool isZeroMode(long long mode) {
    return mode == kZeroDcOnly || mode == kZeroBasicAc || mode == kZeroAdvancedAc;
}

// ---- Units (set on every channel; the angle unit is the meter's)
constexpr int kFluxUnitCount = 4;          // 0 gauss, 1 tesla, 2 oersted, 3 ampere per metre
constexpr int kTemperatureUnitCount = 3;   // 0 Fahrenheit, 1 Celsius, 2 Kelvin
constexpr int kTimeUnitCount = 2;          // 0 frequency (Hz), 1 period (s)
constexpr int kAngleUnitCount = 2;         // 0 degrees, 1 radians
constexpr bool isFluxUnit(long long unit) { return unit >= 0 && unit < kFluxUnitCount; }
constexpr bool isTemperatureUnit(long long unit) { return unit >= 0 && unit < kTemperatureUnitCount; }
constexpr bool isTimeUnit(long long unit) { return unit >= 0 && unit < kTimeUnitCount; }
constexpr bool isAngleUnit(long long unit) { return unit >= 0 && unit < kAngleUnitCount; }

// ---- Display rate, readings per second
// The meter takes a rate above 0.25 and below 6 (NaN refused).
constexpr bool isDisplayRate(float rate) { return rate > 0.25f && rate < 6.0f; }
// The rates offered by number: SCPI's codes 0-3, the menu's entries.
constexpr int kDisplayRateCount = 4;
constexpr float kDisplayRates[kDisplayRateCount] = {0.5f, 1.0f, 2.0f, 5.0f};
// The offered rate that stands for `rate` (an index into kDisplayRates): the
// one whose row the Update Rate menu marks, the code :DISP:RATE? answers and
// the rate a JSON client's request is taken as.  The cuts lie halfway
// between neighbours, except 4.0 between 2 and 5.
constexpr int displayRateIndex(float rate) { return rate < 0.75f ? 0 : rate < 1.5f ? 1 : rate < 4.0f ? 2 : 3; }

// ---- Analog outputs
// A card's output modes: 0 off, 1 waveform, 2 RMS.
constexpr int kOutputModeCount = 3;
constexpr bool isOutputMode(long long mode) { return mode >= 0 && mode < kOutputModeCount; }
// Full scales, of a card's outputs and of the vector sum's: 0-10 V, held in
// tenths of a volt.
constexpr float kMaxFullScaleVolts = 10.0f;
// The full scale of `volts` in tenths (halves away from zero); -1 when out of
// range (NaN and the infinities included).
inline int fullScaleTenths(float volts) {
    if (!(volts >= 0.0f && volts <= kMaxFullScaleVolts)) return -1;
    return static_cast<int>(std::lround(volts * 10.0f));
}
// The vector-sum output's modes, as the meter holds them.
constexpr int kVectorSumOutputOff = 0;
constexpr int kVectorSumOutputOn = 4;

}  // namespace settingrange
