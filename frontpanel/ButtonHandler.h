// ButtonHandler: one-shot actions on one front-panel key (the main window
// makes one for key 32, Enter).  A prompt arms it with an action; the next
// press of the key runs that action once.  One action waits at a time: an
// action armed while another waits replaces it, and the replaced one is
// cancelled (never run).  So a press runs one action, the one the screen
// asked for last.  A cancel key (Back, for the confirmation prompts) belongs
// to the action armed with it and drops that action unrun.
//
// The armed signal tells the key backlights whether something waits: true
// after each arming, false on each press of the key and on each drop.
//
// Threads: the key link's reader runs onKey; prompts arm from that thread or
// from the GUI thread (posted messages).  The waiting action has a mutex of
// its own; the actions and the armed signal run outside it, on the calling
// thread.
#pragma once

#include "runtime/Signal.h"

#include <sigc++/sigc++.h>

#include <mutex>
#include <optional>

class CANinterface;

class ButtonHandler : public sigc::trackable {
public:
    using Action = sigc::slot<void>;
    static constexpr int kNoCancelKey = -1;

    // Watches keyCode on link's key signal (connect before the link's reader
    // starts; null: no link, tests call onKey themselves).
    ButtonHandler(CANinterface* link, int keyCode);
    virtual ~ButtonHandler() = default;
    ButtonHandler(const ButtonHandler&) = delete;
    ButtonHandler& operator=(const ButtonHandler&) = delete;

    // Arms action for the next press, in place of any action waiting; no
    // key cancels it.
    void connectOnce(const Action& action);
    // The same, and a press of cancelKey drops it unrun.
    void armWithCancelKey(const Action& action, int cancelKey);
    // Drops the waiting action unrun.
    void dropConnections();

    void onKey(int keyCode);

    tvl::Signal<bool>& signalArmed() { return armed; }
    bool isArmed() const;
    int getKeyCode() const { return keyCode; }

private:
    struct Armed {
        Action action;
        int cancelKey;
    };
    void arm(const Action& action, int cancelKey);

    const int keyCode;
    mutable std::mutex mutex;   // guards waiting
    std::optional<Armed> waiting;
    tvl::Signal<bool> armed;
};
