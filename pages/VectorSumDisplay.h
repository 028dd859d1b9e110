// VectorSumDisplay: the vector sum of the three-axis measurement: its
// magnitude with unit, the angles of the vector to the X, Y and Z axes, the
// relative offset and, while the vector-sum hold is on, the held maximum and
// minimum.  While a channel has no reading, in place of all that what that
// channel's readout says ("No Card Present" ...).  Everything is read from
// the meter model when drawn.
//
// Threads: the four meter-model slots and the channels' status slots run on
// the emitting threads (a channel's CAN reader for each new sum and reading
// made valid; its timers for the probe and card watch; GUI, SCPI, JSON for
// settings) and only ask the GUI thread for a repaint; draw() runs on the
// GUI thread.
#pragma once

#include "pages/HoldDisplay.h"
#include "pages/ReadoutSupport.h"
#include "widgets/TextBlock.h"

#include <FL/Fl_Widget.H>

#include <vector>

class MeterModel;

class VectorSumDisplay : public Fl_Widget {
public:
    enum Block {
        kMagnitude, kUnit, kLabelX, kLabelY, kLabelZ, kAngleX, kAngleY, kAngleZ,
        kRelativeLabel, kRelativeValue, kRelativeUnit,
        kBlockCount
    };

    VectorSumDisplay(int x, int y, int w, int h, unsigned textColor, unsigned backgroundColor,
                     const char* label = nullptr);
    ~VectorSumDisplay() override;

    void draw() override;
    // Lays the widget out; the owner redraws it.
    void resize(int x, int y, int w, int h) override;

    // Model slots (arguments dropped): a full repaint.
    void onVectorSumUpdated() { onChange(); }
    void onHoldsChanged() { onChange(); }
    void onAngleUnitsChanged() { onChange(); }
    void onRelativeChanged() { onChange(); }

    const TextBlock& block(Block b) const { return blocks[b]; }
    const HoldDisplay& holdBox() const { return holdDisplay; }
    const char* shownTitle() const { return title; }
    bool shownHolds() const { return holdsShown; }
    // 0 for h >= 241, 1 for 121-240, 2 for h <= 120.
    int layoutIndex() const { return layout; }

private:
    void onChange();
    void layOut();
    void drawPanel();

    unsigned textColor;
    unsigned backgroundColor;
    readout::Panel panel{FL_COURIER_BOLD};
    int smallFont;
    int boldFont;
    std::vector<TextBlock> blocks;
    VectorSumHoldDisplay holdDisplay;
    MeterModel* meter;

    int layout = 0;
    char title[64] = {};
    bool holdsShown = false;
    readout::SlotGate<VectorSumDisplay> gate{this};
};
