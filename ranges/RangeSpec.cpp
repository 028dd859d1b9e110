#include "ranges/RangeSpec.h"

RangeSpec::RangeSpec()
    : overRangeLimit(0.0f), upRangeThreshold(0.0f), downRangeThreshold(0.0f),
      fullScale(0.0f), resolution(0.0f), valueFormat("%f"), reportFormat("%f"),
      perDivisionFormat(), unitLabel("invalid"), rangeLabel("invalid"),
      displayScale(1.0f), unitScale(1.0f), valid(false), decimals(0) {}

RangeSpec::RangeSpec(float overRangeLimit_, float upRangeThreshold_, float downRangeThreshold_,
                     float fullScale_, int decimals_, const std::string& reportFormat_,
                     const std::string& unitLabel_, const std::string& rangeLabel_,
                     float displayScale_, float unitScale_)
    : overRangeLimit(overRangeLimit_), upRangeThreshold(upRangeThreshold_),
      downRangeThreshold(downRangeThreshold_), fullScale(fullScale_),
      resolution(fullScale_ / 300000.0f), reportFormat(reportFormat_),
      unitLabel(unitLabel_), rangeLabel(rangeLabel_), displayScale(displayScale_),
      unitScale(unitScale_), valid(true), decimals(decimals_) {
    const std::string width = std::to_string(6 - decimals);
    valueFormat = "%" + width + "." + std::to_string(decimals) + "f";
    perDivisionFormat = "%" + width + ".2f" + unitLabel + "/div";
}

RangeSpec::~RangeSpec() = default;
