// The rows of the range table, as data.  Used only by RangeSpecTable.
#pragma once

#include <cstddef>

namespace rangerows {

constexpr int kProbeClasses = 7;   // 0.001X ... 1000X
constexpr int kFluxUnits = 4;      // G, T, Oe, A/m
constexpr int kRanges = 4;         // 0-3; 4 is "no range"
constexpr int kNoRange = 4;

// Unit-level groups: classes 5 and 6 share one.
constexpr int kUnitLevelOfClass[kProbeClasses] = {0, 1, 2, 3, 4, 5, 5};

// Gauss fields of one (class, range); the same in every flux unit.  The
// class is the unit-level group (5 stands for classes 5 and 6).
struct GaussRow {
    int group;
    int range;
    float fullScale;
    float overRangeLimit;
    float upRangeThreshold;
    float downRangeThreshold;
};

// A unit label with its two factors.
struct UnitRow {
    const char* label;
    float displayScale;
    float unitScale;
};

// Display fields of one (group, flux unit, range).
struct FormatRow {
    int group;
    int fluxUnit;
    int range;
    int decimals;
    const char* reportFormat;
    const char* unitLabel;
    const char* rangeLabel;
};

extern const GaussRow kGaussRows[];
extern const std::size_t kGaussRowCount;
extern const UnitRow kUnitRows[];
extern const std::size_t kUnitRowCount;
extern const FormatRow kFormatRows[];
extern const std::size_t kFormatRowCount;

// The resolution of the class-0 rows, in place of full scale / 300 000.
extern const float kClass0Resolution;

}  // namespace rangerows
