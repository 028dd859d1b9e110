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

private:
    std::vector<TimebaseSpec> timebases;   // 6 x 6, group by group
};
