#include "ranges/TimebaseSpecTable.h"

namespace {

#define US " \xB5" "s"

struct TimebaseRow {
    int decimation;
    int points;
    const char* label;
};

constexpr int kGroups = 6;     // frequency ranges 0-5
constexpr int kPerGroup = 6;   // time-base choices 0-5

// The card's sample period in each group, in microseconds.
constexpr double kSamplePeriodUs[kGroups] = {1.6, 3.2, 12.8, 12.8, 1.6, 1.6};

// One line per group (frequency range), indices 0-5.  Each label is one
// tenth of the trace: points / 10 x decimation x the group's sample period.
const TimebaseRow kTimebases[kGroups][kPerGroup] = {
    {{1, 50, "8" US}, {1, 150, "24" US}, {1, 400, "64" US},
     {5, 500, "400" US}, {20, 500, "1.6 ms"}, {80, 500, "6.4 ms"}},
    {{1, 50, "16" US}, {1, 150, "48" US}, {1, 400, "128" US},
     {2, 500, "320" US}, {10, 500, "1.6 ms"}, {40, 500, "6.4 ms"}},
    {{1, 250, "320" US}, {1, 500, "640" US}, {2, 500, "1.28 ms"},
     {3, 500, "1.92 ms"}, {5, 500, "3.2 ms"}, {10, 500, "6.4 ms"}},
    {{1, 250, "320" US}, {1, 500, "640" US}, {2, 500, "1.28 ms"},
     {5, 500, "3.2 ms"}, {10, 500, "6.4 ms"}, {200, 500, "128 ms"}},
    {{1, 50, "8" US}, {1, 150, "24" US}, {1, 400, "64" US},
     {5, 500, "400" US}, {25, 500, "2 ms"}, {200, 500, "16 ms"}},
    {{1, 50, "8" US}, {1, 150, "24" US}, {1, 400, "64" US},
     {5, 500, "400" US}, {25, 500, "2 ms"}, {200, 500, "16 ms"}},
};

#undef US

}  // namespace

TimebaseSpecTable::TimebaseSpecTable() {
    for (const auto& group : kTimebases)
        for (const TimebaseRow& row : group) timebases.emplace_back(row.decimation, row.points, row.label);
}

TimebaseSpecTable::~TimebaseSpecTable() = default;

const TimebaseSpec* TimebaseSpecTable::lookup(int group, int index) const {
    if (group < 0 || group >= kGroups || index < 0 || index >= kPerGroup) return nullptr;
    return &timebases[static_cast<std::size_t>(group * kPerGroup + index)];
}

double TimebaseSpecTable::samplePeriodUs(int group) {
    return group >= 0 && group < kGroups ? kSamplePeriodUs[group] : 0.0;
}
