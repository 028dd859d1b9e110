#include "ranges/RangeSpecTable.h"

#include "ranges/RangeTableRows.h"

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
    constexpr int kGroups = kUnitLevelOfClass[kProbeClasses - 1] + 1;

    // Every (group, unit) starts with the default record on ranges 0-4.
    RangeLevel* levels[kGroups][kFluxUnits];
    for (int g = 0; g < kGroups; ++g) {
        auto units = std::make_unique<UnitLevel>();
        for (int u = 0; u < kFluxUnits; ++u) {
            auto ranges = std::make_unique<RangeLevel>();
            for (int r = 0; r <= kNoRange; ++r) (*ranges)[r] = &defaultRecord;
            levels[g][u] = ranges.get();
            (*units)[u] = ranges.get();
            rangeLevels.push_back(std::move(ranges));
        }
        unitLevels.push_back(std::move(units));
    }

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
        (*levels[row.group][row.fluxUnit])[row.range] = record.get();
        records.push_back(std::move(record));
    }

    for (int c = 0; c < kProbeClasses; ++c) classes[c] = unitLevels[kUnitLevelOfClass[c]].get();
}

RangeSpecTable::~RangeSpecTable() = default;

const RangeSpec* RangeSpecTable::lookup(int range, int fluxUnit, int probeClass) const {
    auto c = classes.find(probeClass);
    if (c == classes.end()) return &defaultRecord;
    auto u = c->second->find(fluxUnit);
    if (u == c->second->end()) return &defaultRecord;
    auto r = u->second->find(range);
    if (r == u->second->end()) return &defaultRecord;
    return r->second;
}

std::vector<std::string> RangeSpecTable::getRangeNames(int fluxUnit, int probeClass) const {
    std::vector<std::string> names;
    for (int r = 0; r < rangerows::kRanges; ++r) names.push_back(lookup(r, fluxUnit, probeClass)->getRangeName());
    return names;
}
