// DiagDisplay: a channel's panel while the channel is in a diagnostic
// measurement mode.  Inside a rounded frame titled "Channel <n> Diag", two
// columns of six rows: the range, the diagnostic reading with the card's
// unit, the backplane temperature, the received and displayed sample rates
// and the signal frequency; the probe's model, serial number, calibration
// date, series, Hall current level and temperature.
//
// Everything is read from the channel model when drawn.  The values are
// repainted on each new reading of the channel and every 2 s (temperatures,
// rates and probe data change without a reading): the slots run on the CAN
// reader and on the panel's timer thread and only ask the GUI thread to
// repaint the values (FL_DAMAGE_USER1); the frame and title are repainted
// only with a full repaint.
#pragma once

#include "pages/ReadoutSupport.h"
#include "runtime/Timer.h"

#include <FL/Fl_Widget.H>

#include <string>

class ChannelModel;

class DiagDisplay : public Fl_Widget {
public:
    static constexpr int kRows = 6;

    DiagDisplay(int x, int y, int w, int h, unsigned textColor, unsigned backgroundColor, int channel,
                const char* label = nullptr);
    ~DiagDisplay() override;

    void draw() override;
    // New geometry; the owner shows and redraws the panel.
    void resize(int x, int y, int w, int h) override;

    void drawAll();
    void drawValues();
    void drawRow(int column, int row, const char* label, const char* value);
    void drawRowWithUnit(int column, int row, const char* label, const char* value, const char* unit);

    // Slots (arguments dropped): repaint the values.
    void onNewReading();
    void onTimer();

    int getChannel() const { return channel; }
    // What the last repaint drew in a row: the value and its unit ("" when
    // the row has none).
    const std::string& shownValue(int column, int row) const { return shown[column][row].value; }
    const std::string& shownUnit(int column, int row) const { return shown[column][row].unit; }
    const char* shownTitle() const { return title; }

private:

    int channel;
    ChannelModel* model;
    unsigned textColor;
    unsigned backgroundColor;
    readout::Panel frame{FL_HELVETICA_BOLD};
    int valueInset = 6;
    Timer refreshTimer{2000, true};

    struct Shown {
        std::string value, unit;
    };
    Shown shown[2][kRows];
    char title[64] = {};
    readout::SlotGate<DiagDisplay> gate{this};
};
