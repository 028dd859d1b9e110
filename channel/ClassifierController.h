// ClassifierController: sorts one channel's readings into pass / high / low
// against two thresholds (gauss), drives the channel's two classifier output
// lines on the backplane (frame 0x149 [channel, line, level]; line 0 "low",
// line 1 "high") and mirrors the class in the SCPI measurement register.
//
// Calls come from the CAN reader (classify, range and mode reports, settings
// load), the GUI and the SCPI threads; one mutex per controller makes each
// operation whole.  It is released before any signal is raised.
#pragma once

#include "runtime/Signal.h"
#include "ranges/DigitsDisplaySpec.h"

#include <sigc++/sigc++.h>

#include <memory>
#include <mutex>

class CANinterface;
class ChannelModel;

// 0 pass, 1 high, 2 low.
enum ClassifierState { kClassPass = 0, kClassHigh = 1, kClassLow = 2 };
// 0 off, 1 on, 2 editing the lower threshold, 3 editing the upper threshold.
enum ClassifierMode { kClassifierOff = 0, kClassifierOn = 1, kClassifierEditLower = 2, kClassifierEditUpper = 3 };

class ClassifierController : public sigc::trackable {
public:
    ClassifierController(int channel, ChannelModel* model);
    virtual ~ClassifierController();

    ClassifierController(const ClassifierController&) = delete;
    ClassifierController& operator=(const ClassifierController&) = delete;

    // The link the output frames go through; null withdraws it.
    void setCanInterface(std::shared_ptr<CANinterface> link);

    int getMode() const;
    int getState() const;
    float getUpperThreshold() const;
    float getLowerThreshold() const;
    float getDisplayUpperThreshold() const;
    float getDisplayLowerThreshold() const;
    bool isEditValueNegative() const;
    int getEditSelectedDigit() const;

    void classify(float reading);
    void setState(int state);
    void setMode(int mode);
    // Ignored when not finite, beyond 1.1 x full scale or across the other threshold.
    void setUpperThreshold(float gauss);
    void setLowerThreshold(float gauss);
    void editUpperThreshold();
    void editLowerThreshold();
    void endEdit();
    void editDigitLeft();
    void editDigitRight();
    void selectEditDigit(int index);
    void editIncrementDigit();
    void editDecrementDigit();
    void editToggleSign();
    void editReset();
    void setLine0(int level);
    void setLine1(int level);
    // Drives both lines again as the present class has them (a backplane
    // that came back has lost them).
    void resendLines();
    void onRangeReport();
    void onModeReport();

    tvl::Signal<int, int, int>& signalChanged() { return changed; }
    tvl::Signal<int>& signalSettingsChanged() { return settingsChanged; }
    tvl::Signal<int>& signalError() { return error; }

private:
    struct Limits { float fullScale; float displayScale; int decimals; };
    Limits currentLimits() const;
    // Drives lines and bits for a new state; caller holds the mutex.  Returns
    // whether the state changed.
    bool applyState(int newState);
    void sendLine(int line, int level);
    void sendLines(int forState);   // caller holds the mutex
    void setBits(bool high, bool low);
    void emitChanged();
    void editStep(bool increment);
    void reloadEditor(const Limits& limits, bool resetDigit);

    const int channel;
    ChannelModel* const model;
    std::shared_ptr<CANinterface> link;
    int mode = kClassifierOff;
    int savedMode = kClassifierOff;
    DigitsDisplaySpec editor{6};
    int state = kClassPass;
    float upperThreshold = 0.0f;
    float lowerThreshold = 0.0f;
    tvl::Signal<int, int, int> changed;
    tvl::Signal<int> settingsChanged;
    tvl::Signal<int> error;
    mutable std::mutex mutex;
};
