// RangeSpecTable: every RangeSpec of the process, by probe class (0-6, that
// is 0.001X ... 1000X), flux unit (0 G, 1 T, 2 Oe, 3 A/m) and range index
// (0-3 from the smallest full scale up; 4 stands for no range).
//
// Built once on first use and only read afterwards: lookups never add
// entries, so any number of threads may look up at the same time.  Keys with
// no row (range 4, the missing ranges of classes 0 and 1, and any key outside
// the table) give the table's default record, whose isValid() is false.
#pragma once

#include "ranges/RangeSpec.h"
#include "ranges/RangeTableRows.h"

#include <memory>
#include <string>
#include <vector>

class RangeSpecTable {
public:
    // The table of the process; the first call builds it (thread-safe).  The
    // table is never freed.
    static RangeSpecTable* instance();

    virtual ~RangeSpecTable();

    // Never null.  The table keeps ownership; the record lives as long as
    // the process.
    const RangeSpec* lookup(int range, int fluxUnit, int probeClass) const;

    // Range labels of ranges 0-3, "invalid" where a range has no row.
    std::vector<std::string> getRangeNames(int fluxUnit, int probeClass) const;

    const RangeSpec* getDefault() const { return &defaultRecord; }

    RangeSpecTable(const RangeSpecTable&) = delete;
    RangeSpecTable& operator=(const RangeSpecTable&) = delete;

private:
    RangeSpecTable();

    RangeSpec defaultRecord;
    std::vector<std::unique_ptr<RangeSpec>> records;
    // By class, unit and range (4 included); classes 5 and 6 share records.
    const RangeSpec* index[rangerows::kProbeClasses][rangerows::kFluxUnits][rangerows::kNoRange + 1];
};
