// WaveFormDisplay: the oscilloscope page.  On a grid of 10 x 8 divisions it
// draws the last completed capture of every channel whose probe is ready and
// whose card measures AC, one trace per channel in the channel's colour;
// above the grid one header line per channel (range, reading, unit, signal
// frequency, scale per division); below it the time base, the input filter,
// the trigger settings, the acquisition state and, over the plot, the
// trigger rate.
//
// It keeps no waveform data and no settings: every draw reads the channel
// and meter models.  The model slots (CAN readers, timers, GUI) only record
// the trigger channel and ask the GUI thread for repaints by damage bits:
//   0x01, 0x02, 0x04  the header line of slot 1, 2, 3 (reading, mode, status)
//   0x10              the plot with the headers and the rate (a capture)
//   0x20              the acquisition state
//   FL_DAMAGE_ALL     everything (a setting changed)
//
// A trace is clipped to the plot in floating point before it reaches the
// toolkit, so samples far outside the screen, a scale of zero or not a
// number, and captures of fewer than two samples draw nothing wrong.
#pragma once

#include "pages/ReadoutSupport.h"
#include "widgets/TextBlock.h"

#include <FL/Fl_Widget.H>

#include <atomic>
#include <memory>
#include <vector>

class ChannelModel;
class MeterModel;
struct WaveformBuffer;

class WaveFormDisplay : public Fl_Widget {
public:
    // The cells: three header lines of six cells (slot 1, 2, 3), the time
    // base and filter, the eight cells of the trigger row, the rate pair.
    enum Cell {
        kLabel, kRange, kReading, kUnit, kFrequency, kScale,   // + 6 x (slot - 1)
        kTimeBase = 18, kFilter,
        kTriggerLabel, kTriggerChannel, kTriggerMode, kSlope, kLevelSign, kLevel, kLevelUnit, kAcquisitionState,
        kRateValue, kRateLabel,
        kCellCount
    };
    static constexpr int kHeaderCells = 6;
    static Cell headerCell(int slot, Cell cell) { return static_cast<Cell>((slot - 1) * kHeaderCells + cell); }

    struct Plot {
        float left, top, width, height;
        float right() const { return left + width; }
        float bottom() const { return top + height; }
        float centreY() const { return top + height * 0.5f; }
        float centreX() const { return left + width * 0.5f; }
    };
    struct Point {
        float x, y;
    };
    using Polylines = std::vector<std::vector<Point>>;

    WaveFormDisplay(int x, int y, int w, int h, const char* label = nullptr);
    ~WaveFormDisplay() override;

    void draw() override;

    void drawAll();
    void drawPlot();
    void drawChannelHeader(int slot);
    void drawTrace(int slot, unsigned color, float l, float t, float w, float h);
    void drawHorizontalGridLine(unsigned color, float l, float t, float w, float h, float y);
    void drawVerticalGridLine(unsigned color, float l, float t, float w, float h, float x);
    void drawTriggerMarker(int slot);
    void drawTriggerLevel();
    void drawTriggerSlope();
    void drawAcquisitionState();
    void drawTriggerRate();

    // The plot rectangle of the widget's present geometry.
    Plot plot() const;

    // The polylines of a capture on the plot: sample i at x = left + i x
    // width / (count - 1), y = centre - 0.5 x height x sample / (4 x
    // division), each segment cut to the plot.  Nothing for fewer than two
    // samples or a division that is not a positive number; a count beyond
    // the buffer is cut to it; a sample that is not a number breaks the line.
    static Polylines tracePolylines(const WaveformBuffer& capture, float division, const Plot& plot);
    // The trigger marker's triangle for a level: pointing left at its height
    // when within +-4 divisions, else up at the top or down at the bottom
    // edge.  False (no marker) for a level or division that is not a number
    // or a division that is not positive.
    static bool triggerMarker(float level, float division, const Plot& plot, int points[6]);

    const TextBlock& cell(Cell c) const { return cells[c]; }
    // What the last repaint of the plot drew for a slot's trace.
    const Polylines& shownTrace(int slot) const { return traces[slot - 1]; }
    // Whether the last repaint of the plot drew a trigger marker, and where.
    bool shownMarker(int points[6]) const;
    int triggerSlot() const { return triggerChannel; }

private:
    void onTriggerChannelChanged(int slot);
    void onTriggerLevelChanged(int channel);
    void applyTriggerColour();
    ChannelModel* triggerModel() const;

    ChannelModel* channels[3];
    std::atomic<int> triggerChannel{2};
    unsigned centreLineColor = FL_YELLOW;
    unsigned backgroundColor = FL_BLACK;
    float headerTopMargin = 2.0f;
    float textLeftMargin = 4.0f;
    float textRightMargin = 0.0f;
    float plotLeftMargin = 4.0f;
    float plotRightMargin = 0.0f;
    float plotTopMargin = 60.0f;
    float plotBottomMargin = 40.0f;
    std::vector<TextBlock> cells;
    MeterModel* meter;

    int colouredFor = 0;   // the slot whose colour footer row 2 has (GUI thread)
    Polylines traces[3];
    std::unique_ptr<WaveformBuffer> capture;   // the copy a trace is drawn from
    bool markerShown = false;
    int markerPoints[6] = {};
    readout::SlotGate<WaveFormDisplay> gate{this};
};
