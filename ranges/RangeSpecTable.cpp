#include "ranges/RangeSpecTable.h"

#include <cstring>

namespace {

const rangerows::GaussRow* findGaussRow(int group, int range) {
    for (std::size_t i = 0; i < rangerows::kGaussRowCount; ++i) {
        const rangerows::GaussRow& row = rangerows::kGaussRows[i];
        if (row.group == group && row.range == range) return &row;
    }
    return nullptr;
}

const rangerows::UnitRow* findUnitRow(const char* label) {
    for (std::size_t i = 0; i < rangerows::kUnitRowCount; ++i) {
        if (std::strcmp(rangerows::kUnitRows[i].label, label) == 0) return &rangerows::kUnitRows[i];
    }
    return nullptr;
}

}  // namespace

RangeSpecTable* RangeSpecTable::instance() {
    // Built on the first call; a failed build leaves nothing behind and the
    // next call tries again.  Never freed.
    static RangeSpecTable* const table = new RangeSpecTable();
    return table;
}

RangeSpecTable::RangeSpecTable() {
    using namespace rangerows;
    for (auto& units : index)
        for (auto& ranges : units)
            for (const RangeSpec*& spec : ranges) spec = &defaultRecord;

    for (std::size_t i = 0; i < kFormatRowCount; ++i) {
        const FormatRow& row = kFormatRows[i];
        const GaussRow* gauss = findGaussRow(row.group, row.range);
        const UnitRow* unit = findUnitRow(row.unitLabel);
        if (gauss == nullptr || unit == nullptr) continue;   // caught by the table tests
        auto record = std::make_unique<RangeSpec>(
            gauss->overRangeLimit, gauss->upRangeThreshold, gauss->downRangeThreshold,
            gauss->fullScale, row.decimals, row.reportFormat, row.unitLabel, row.rangeLabel,
            unit->displayScale, unit->unitScale);
        if (row.group == 0) record->setResolution(kClass0Resolution);
        for (int c = 0; c < kProbeClasses; ++c)
            if (kUnitLevelOfClass[c] == row.group) index[c][row.fluxUnit][row.range] = record.get();
        records.push_back(std::move(record));
    }
}

RangeSpecTable::~RangeSpecTable() = default;

const RangeSpec* RangeSpecTable::lookup(int range, int fluxUnit, int probeClass) const {
    using namespace rangerows;
    if (probeClass < 0 || probeClass >= kProbeClasses || fluxUnit < 0 || fluxUnit >= kFluxUnits ||
        range < 0 || range > kNoRange)
        return &defaultRecord;
    return index[probeClass][fluxUnit][range];
}

std::vector<std::string> RangeSpecTable::getRangeNames(int fluxUnit, int probeClass) const {
    std::vector<std::string> names;
    for (int r = 0; r < rangerows::kRanges; ++r) names.push_back(lookup(r, fluxUnit, probeClass)->getRangeName());
    return names;
}
