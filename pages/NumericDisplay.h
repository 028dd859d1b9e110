// NumericDisplay: one channel's live readout.  A large reading with its
// unit; the channel's status and indicators (range, AUTO, DC/AC, CLIP,
// signal frequency, input filter, probe temperature and axis, zeroing,
// manual zero, relative offset, classifier); the holds in a framed box; a
// zeroing progress bar; and, while the channel has an error, the error's
// code and three lines of text in place of everything else.
//
// It keeps no measurement state: every draw reads the channel's model.
// What is shown is chosen in this order: error > zeroing > card absent,
// starting, no probe, probe being configured > over range > reading.
//
// Threads: the model slots run on the emitting threads (the channel's CAN
// reader, timers, servers, GUI).  They only mark the panel, through the GUI
// thread's queue: a full repaint (FL_DAMAGE_ALL) for a change of settings,
// state or error, a reading repaint (FL_DAMAGE_USER1) for a new reading or
// an over-range change.  A reading repaint redraws only the reading, unit,
// CLIP, signal, probe temperature and axis cells.  Drawing happens on the
// GUI thread in draw(); the texts come from the model as copies.
#pragma once

#include "pages/HoldDisplay.h"
#include "pages/ReadoutSupport.h"
#include "widgets/LightweightProgressBar.h"
#include "widgets/TextBlock.h"

#include <FL/Fl_Widget.H>

#include <vector>

class ChannelModel;
class ClassifierController;
class ErrorHandler;

class NumericDisplay : public Fl_Widget {
public:
    // The cells, in the order of the member table.
    enum Block {
        kReading, kUnit, kRange, kClip, kAuto, kSignal, kFilter, kDcAc, kZeroingText,
        kRelativeLabel, kRelativeValue, kRelativeUnit,
        kManualZeroLabel, kManualZeroValue, kManualZeroUnit,
        kProbeTemperature, kError1, kError2, kError3, kError4, kProbeAxis,
        kClassifierLabel, kClassifierState, kClassifierThreshold,
        kBlockCount
    };

    NumericDisplay(int x, int y, int w, int h, unsigned textColor, unsigned backgroundColor, int channel,
                   bool titleFlag, const char* label = nullptr);
    ~NumericDisplay() override;

    void draw() override;
    void resize(int x, int y, int w, int h) override;

    void drawPanel();
    void drawReading();

    // Model slots (arguments dropped).
    void onFullChange();
    void onNewReading();
    void onOverRangeChanged();

    int getChannel() const { return channel; }
    const TextBlock& block(Block b) const { return blocks[b]; }
    const HoldDisplay& holdBox() const { return holdDisplay; }
    const LightweightProgressBar& progressBar() const { return zeroingBar; }
    // What the last full repaint drew: the title ("" for none), and the
    // progress bar's percentage (negative when no bar was drawn).
    const char* shownTitle() const { return title; }
    float shownProgress() const { return progressShown; }
    bool shownHolds() const { return holdsShown; }
    // Layout chosen by the last resize: 0 for h >= 241, 1 for 161-240,
    // 2 for 121-160, 3 for h <= 120.
    int layoutIndex() const { return layout; }

private:
    void layOut();
    void drawStatusOrReading();
    void drawIndicators();
    void drawOffsetRow(Block label, Block value, Block unit, const char* name, bool negative, float magnitude,
                       bool editing);
    void clear(Block b) { blocks[b].drawBackground(); }
    void text(Block b, const char* t, int alignment = 0) { blocks[b].drawText(alignment, t); }
    bool errorShown() const;

    int channel;
    unsigned textColor;
    unsigned backgroundColor;
    readout::Panel panel{FL_COURIER_BOLD};
    int smallFont;
    int boldFont;
    int readingSize = 0, unitSize = 0, dcAcSize = 0, smallSize = 0, statusSize = 0, overRangeSize = 0,
        errorSize = 0, holdTitleSize = 0, holdRowSize = 0;
    int holdX = 0, holdY = 0, holdWidth = 0, holdHeight = 0;
    std::vector<TextBlock> blocks;
    LightweightProgressBar zeroingBar;
    HoldDisplay holdDisplay;
    ChannelModel* model;
    ClassifierController* classifier;
    ErrorHandler* errorHandler;
    bool titleFlag;

    int layout = 0;
    char title[128] = {};
    float progressShown = -1.0f;
    bool holdsShown = false;
    readout::SlotGate<NumericDisplay> gate{this};
};
