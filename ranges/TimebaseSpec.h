// TimebaseSpec: one waveform time base, that is the decimation the card
// applies to its samples, the points of a trace and the label of one tenth of
// the trace ("8 \xB5s", "6.4 ms"; ISO-8859-1, the micro sign is byte 0xB5).
#pragma once

class TimebaseSpec {
public:
    TimebaseSpec(int decimation, int points, const char* label);
    virtual ~TimebaseSpec();

    int getDecimation() const { return decimation; }
    int getPoints() const { return points; }
    // Static text; never null.
    const char* getLabel() const { return label; }

private:
    int decimation;
    int points;
    const char* label;   // not owned
};
