// TimebaseSpecTable: the 36 waveform time bases, six groups (the channel's
// frequency range 0-5) of six (the time-base choice 0-5).
//
// Fixed once built; lookups never change the table, so it may be read from
// any number of threads at once.
#pragma once

#include "ranges/TimebaseSpec.h"

#include <vector>

class TimebaseSpecTable {
public:
    TimebaseSpecTable();
    virtual ~TimebaseSpecTable();

    // The time base of (group, index), or null when the table has none (a
    // group or index outside 0-5).  The table keeps ownership.
    const TimebaseSpec* lookup(int group, int index) const;

    // The card's waveform sample period in a group, in microseconds: 1.6 in
    // groups 0, 4 and 5, 3.2 in group 1, 12.8 in groups 2 and 3 (0 outside
    // 0-5).  Every label is points / 10 x decimation x this period.
    static double samplePeriodUs(int group);

private:
    std::vector<TimebaseSpec> timebases;   // 6 x 6, group by group
};
