// Key backlights: ButtonBacklight (one key) and ButtonView (all 32 keys,
// kept in step with the soft buttons in use, each channel's state and the
// Enter key's armed prompts).
//
// Keys: 1-6 soft buttons, 8c-1 .. 8c+6 the eight keys of channel c (range,
// mode, hold, reset holds, relative, zero, down, up), 31 Back, 32 Enter.
// Levels: 0 off, 1 lit, 2 the controller's attention look.
//
// Threads: channel signals (CAN readers, timers), menu display (the key
// link's reader, the GUI thread), arming (key reader, GUI thread) and
// the backplane's return (its link's reader) all reach the view; one mutex
// serialises every level change, so each backlight's last level and the
// frames it sends stay in step.  The mutex is a leaf: nothing else is taken
// under it.
#pragma once

#include <sigc++/sigc++.h>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class ButtonHandler;
class CANinterface;
class MeterModel;

class ButtonBacklight {
public:
    // 3 at construction: no caller asks for it, so the first request sends.
    static constexpr int kInitialLevel = 3;

    ButtonBacklight(int keyId, CANinterface* link);
    virtual ~ButtonBacklight() = default;

    // Sends the frame (then pauses 2 ms, which paces the controller) only
    // when level differs from the last one asked for.
    void setLevel(int level);
    int getLevel() const { return lastLevel; }
    // Sends the last level again (and pauses), if one was ever asked for.
    void resend();

private:
    int keyId;
    CANinterface* link;
    int lastLevel = kInitialLevel;
};

// What a channel's state asks of its eight keys.
struct ChannelKeyState {
    int channelStatus;      // 2: probe ready
    int zeroingState;       // 0 zeroed, 1 zeroing, 2 timed out, 3 needed, 4 no probe
    int manualZeroState;    // 0 none
    int relativeState;      // 0 off, 1-2 on, 3 offset being entered
    int classifierMode;     // 2, 3: a threshold being entered
    bool overRange;
    bool holdActive;
};

// The changes, in the order they are made: (key offset 0-7 in the channel's
// block, level).  Keys not listed keep their level.
std::vector<std::pair<int, int>> channelKeyLevels(const ChannelKeyState& state);

class ButtonView : public sigc::trackable {
public:
    static constexpr int kKeyCount = 32;
    static constexpr int kEnterKey = 32;

    // Follows the channels of meter and the armed signal of handler (either
    // may be null: no channels, no Enter key).
    ButtonView(CANinterface* link, ButtonHandler* handler, MeterModel* meter);
    virtual ~ButtonView() = default;
    ButtonView(const ButtonView&) = delete;
    ButtonView& operator=(const ButtonView&) = delete;

    // Lights soft keys 1..n, darkens the rest (ignored while disabled).
    void setSoftButtonCount(int n);
    // Every key but Enter off; channel and soft-button changes are ignored
    // until enable().
    void disable();
    // Soft buttons from the count last set, the three channels refreshed.
    void enable();
    bool isDisabled() const;
    // The channel's eight keys from its model (ignored for channels outside
    // 1-3, while disabled and without a meter model).
    void refreshChannel(unsigned channel);
    void refreshChannel(unsigned channel, const ChannelKeyState& state);
    void onEnterArmed(bool armed);
    // Every key's last level again, in key order: the front-panel controller
    // behind a backplane that came back has lost them.
    void resendLevels();

    int getLevel(int keyId) const;

private:
    void setLevel(int keyId, int level);   // mutex held

    MeterModel* meter;
    mutable std::mutex ledMutex;
    std::vector<std::unique_ptr<ButtonBacklight>> backlights;   // index key id - 1
    int softButtonCount = 0;
    bool disabled = false;
};
