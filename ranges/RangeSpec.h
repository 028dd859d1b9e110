// RangeSpec: the fixed description of one measurement range for one probe
// class and flux unit.
//
// Limits are in gauss.  A reading is shown as gauss x display scale, printed
// with the value format and followed by the unit label; it is reported (remote
// replies, streamed samples, data-log rows) as gauss x unit scale, printed with
// the report format.  Texts are ISO-8859-1 byte strings: the micro sign is the
// single byte 0xB5.
#pragma once

#include <string>

class RangeSpec {
public:
    // The default record: every limit 0, formats "%f", no per-division
    // format, labels "invalid", scales 1.0, not valid, 0 decimals.
    RangeSpec();
    // A table row.  The resolution becomes fullScale / 300 000; the value
    // format is "%<6-d>.<d>f" and the per-division format
    // "%<6-d>.2f<unitLabel>/div", with d the decimals.
    RangeSpec(float overRangeLimit, float upRangeThreshold, float downRangeThreshold,
              float fullScale, int decimals, const std::string& reportFormat,
              const std::string& unitLabel, const std::string& rangeLabel,
              float displayScale, float unitScale);
    virtual ~RangeSpec();

    float getOverRangeLimit() const { return overRangeLimit; }
    float getUpRangeThreshold() const { return upRangeThreshold; }
    float getDownRangeThreshold() const { return downRangeThreshold; }
    float getFullScale() const { return fullScale; }
    float getResolution() const { return resolution; }
    float getDisplayScale() const { return displayScale; }
    float getUnitScale() const { return unitScale; }
    int getDecimals() const { return decimals; }
    bool isValid() const { return valid; }

    std::string getValueFormat() const { return valueFormat; }
    std::string getReportFormat() const { return reportFormat; }
    std::string getPerDivisionFormat() const { return perDivisionFormat; }
    std::string getUnitName() const { return unitLabel; }
    std::string getRangeName() const { return rangeLabel; }

    // Only while the table is being built.
    void setResolution(float value) { resolution = value; }

private:
    float overRangeLimit;        // G: |reading| above it is over range
    float upRangeThreshold;      // G: autorange steps up above it
    float downRangeThreshold;    // G: autorange steps down below it
    float fullScale;             // G
    float resolution;            // G
    std::string valueFormat;     // printf, panel readout
    std::string reportFormat;    // printf, remote replies and logs
    std::string perDivisionFormat;  // printf, waveform scale label
    std::string unitLabel;       // "G", "kG", "mT", "\xB5T", "kA/m" ...
    std::string rangeLabel;      // "30G", "3mT", "2.4kA/m" ...
    float displayScale;          // gauss -> unit of the unit label
    float unitScale;             // gauss -> base unit of the flux unit
    bool valid;
    int decimals;                // digits after the point of the shown value
};
