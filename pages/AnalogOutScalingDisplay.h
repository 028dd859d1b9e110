// The analog-output scaling pages: the full-scale voltage of a channel's
// corrected or uncorrected output, or of the vector-sum output.  Row 0:
// read-only field "Full Scale (V): " in volts with one decimal; then the
// status box.  Settings are tenths of a volt.  Each page follows every
// change of its setting, whoever makes it (the update runs on the GUI
// thread).
//
// GUI thread, or a thread holding the toolkit lock.
#pragma once

#include "pages/PageLifeline.h"
#include "widgets/Form.h"

class ChannelModel;

class AnalogOutScalingDisplay : public Form {
public:
    AnalogOutScalingDisplay(int x, int y, int w, int h, const char* label = nullptr);

    // The setting, in tenths of a volt.
    virtual int getScaling() = 0;
    virtual void setScaling(int tenths) = 0;

    // Writes the present full scale in volts ("%0.1f") and redraws.
    void showScaling();
    // Stores the field's value when it is 0-10 V (rounded to tenths, halves
    // away from zero); ignores anything else.
    void applySettings();

protected:
    PageLifeline lifeline;
};

class AnalogOutCorrScalingDisplay : public AnalogOutScalingDisplay {
public:
    AnalogOutCorrScalingDisplay(ChannelModel* channel, int x, int y, int w, int h, const char* label = nullptr);
    int getScaling() override;
    void setScaling(int tenths) override;

private:
    ChannelModel* channelModel;
};

class AnalogOutUncorrScalingDisplay : public AnalogOutScalingDisplay {
public:
    AnalogOutUncorrScalingDisplay(ChannelModel* channel, int x, int y, int w, int h, const char* label = nullptr);
    int getScaling() override;
    void setScaling(int tenths) override;

private:
    ChannelModel* channelModel;
};

class AnalogOutVsumScalingDisplay : public AnalogOutScalingDisplay {
public:
    AnalogOutVsumScalingDisplay(int x, int y, int w, int h, const char* label = nullptr);
    int getScaling() override;
    void setScaling(int tenths) override;
};
